#include "burnwise/ui/view/WindowHost.h"

#include "burnwise/ui/view/HelpWindow.h"
#include "burnwise/ui/view/Texts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrl>
#include <QWidget>
#include <utility>

namespace burnwise::view {

namespace fs = std::filesystem;

WindowHost::WindowHost() = default;
WindowHost::~WindowHost() = default;

void WindowHost::Attach(QWidget* window, QWidget* about) {
    window_ = window;
    about_ = about;
}

QString QtNameFilter(std::string_view filter) {
    const auto bar = filter.find('|');
    if (bar == std::string_view::npos) return FromLatin1(filter);
    return FromLatin1(filter.substr(0, bar)) + " (" + FromLatin1(filter.substr(bar + 1)) + ")";
}

namespace {

std::optional<fs::path> RunDialog(QWidget* parent, const ui::FileDialogOptions& options, bool save,
                                  const QString& lastFolder) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QtNameFilter(options.Filter));
    dialog.setDefaultSuffix(FromLatin1(options.DefaultExtension));
    dialog.setSizeGripEnabled(true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.PromptOverwrite);
    std::error_code ignored;
    if (!options.InitialFolder.empty() && fs::is_directory(options.InitialFolder, ignored))
        dialog.setDirectory(QString::fromStdString(options.InitialFolder.string()));
    // The folder the user last chose a file of this kind in wins over the default one.
    if (!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir()) dialog.setDirectory(lastFolder);
    if (!options.FileName.empty()) {
        if (options.FileName.has_parent_path())
            dialog.setDirectory(QString::fromStdString(options.FileName.parent_path().string()));
        dialog.selectFile(QString::fromStdString(options.FileName.filename().string()));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const fs::path chosen = dialog.selectedFiles().front().toStdString();
    if (options.FileMustExist && !fs::is_regular_file(chosen, ignored)) return std::nullopt;
    return chosen;
}

// A box raised during a device operation shows the ordinary pointer while it waits for
// its OK; the busy one comes back with the run.
class BoxCursor {
public:
    explicit BoxCursor(bool busy) : busy_(busy) {
        if (busy_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~BoxCursor() {
        if (busy_) QGuiApplication::restoreOverrideCursor();
    }
    BoxCursor(const BoxCursor&) = delete;
    BoxCursor& operator=(const BoxCursor&) = delete;

private:
    bool busy_;
};

} // namespace

void WindowHost::KeepFoldersIn(const QString& settingsFile) {
    settingsFile_ = settingsFile;
}

std::optional<fs::path> WindowHost::RunFileDialog(const ui::FileDialogOptions& options, bool save) {
    // One remembered folder per kind of file, by the dialog's filter.
    const QString key = QStringLiteral("Folders/") +
                        QString::fromLatin1(QByteArray::fromStdString(options.Filter).toHex());
    QString last;
    if (!settingsFile_.isEmpty())
        last = QSettings(settingsFile_, QSettings::IniFormat).value(key).toString();
    std::optional<fs::path> chosen = RunDialog(window_, options, save, last);
    if (chosen && !settingsFile_.isEmpty()) {
        QSettings store(settingsFile_, QSettings::IniFormat);
        store.setValue(key, QString::fromStdString(chosen->parent_path().string()));
    }
    return chosen;
}

std::optional<fs::path> WindowHost::RunOpenDialog(const ui::FileDialogOptions& options) {
    if (NextOpenAnswer) return std::exchange(NextOpenAnswer, std::nullopt);
    return RunFileDialog(options, false);
}

std::optional<fs::path> WindowHost::RunSaveDialog(const ui::FileDialogOptions& options) {
    return RunFileDialog(options, true);
}

void WindowHost::ShowErrorBox(std::string_view text) {
    const BoxCursor cursor(busy_);
    QMessageBox::critical(window_, QStringLiteral("Error"), FromLatin1(text), QMessageBox::Ok);
}

void WindowHost::ShowInformationBox(std::string_view text) {
    const BoxCursor cursor(busy_);
    QMessageBox::information(window_, FromLatin1(ApplicationTitle), FromLatin1(text),
                             QMessageBox::Ok);
}

bool WindowHost::AskGoOnOrCancel(std::string_view question, std::string_view goOn) {
    const BoxCursor cursor(busy_);
    QMessageBox box(QMessageBox::Warning, FromLatin1(ApplicationTitle), FromLatin1(question),
                    QMessageBox::NoButton, window_);
    QPushButton* go = box.addButton(FromLatin1(goOn), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == go;
}

bool WindowHost::AskYesOrNo(std::string_view question) {
    const BoxCursor cursor(busy_);
    return QMessageBox::question(window_, FromLatin1(ApplicationTitle), FromLatin1(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void WindowHost::ShowExceptionBox(std::string_view text) {
    QMessageBox::critical(window_, FromLatin1(ApplicationTitle), FromLatin1(text), QMessageBox::Ok);
}

void WindowHost::ProcessPendingEvents() {
    // During a device operation the window discards what is typed or clicked, so input is
    // taken now and thrown away rather than kept for after the run. Outside one (the short
    // waits of New and Open) a click made meanwhile waits for the action to end.
    QCoreApplication::processEvents(busy_ ? QEventLoop::AllEvents
                                          : QEventLoop::ExcludeUserInputEvents);
}

void WindowHost::DeviceFinished(const device::DeviceOutcome& outcome) {
    if (OnDeviceFinished) OnDeviceFinished(outcome);
}

bool WindowHost::StopRequested() {
    return OnStopRequested && OnStopRequested();
}

CloseAnswer WindowHost::AskSaveChanges() {
    const auto answer = QMessageBox::question(
        window_, FromLatin1(ApplicationTitle),
        QStringLiteral("The template has unsaved changes. Save them before closing?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save) return CloseAnswer::Save;
    if (answer == QMessageBox::Discard) return CloseAnswer::Discard;
    return CloseAnswer::Cancel;
}

fs::path WindowHost::HelpFileToOpen(const fs::path& file) {
    std::error_code ignored;
    const fs::path compiled = file.parent_path() / "Burnwise.chm";
    if (fs::is_regular_file(compiled, ignored)) return compiled;
    return file;
}

bool WindowHost::OpenWithDesktop(const fs::path& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}

void WindowHost::OpenHelpFile(const fs::path& file) {
    const fs::path chosen = HelpFileToOpen(file);
    std::error_code ignored;
    // A missing help file is not reported.
    if (chosen.empty() || !fs::is_regular_file(chosen, ignored)) return;
    if (OpenWithDesktop(chosen)) return;
    // No browser: the guide itself in a window of our own.
    if (fs::is_regular_file(file, ignored)) ShowOwnHelp(file);
}

void WindowHost::ShowOwnHelp(const fs::path& file) {
    if (!helpWindow_) helpWindow_ = std::make_unique<HelpWindow>();
    helpWindow_->ShowFile(file);
}

void WindowHost::ShowAboutBox() {
    if (auto* dialog = qobject_cast<QDialog*>(about_)) dialog->exec();
}

void WindowHost::CloseWindow() {
    if (window_ != nullptr) window_->close();
}

} // namespace burnwise::view
