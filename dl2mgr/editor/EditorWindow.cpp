#include "dl2mgr/editor/EditorWindow.h"

#include "common/qt/Latin1.h"
#include "dl2mgr/editor/AboutDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace dl2mgr::editor {

namespace {

using common::qt::FromLatin1;
using common::qt::ToLatin1;

// A message box's text as 8-bit characters. A character beyond Latin-1 (pasted) becomes
// code 127, which has no Morse form, so storing refuses it as it refuses any other such
// character instead of sending "?" in its place.
std::string MessageBytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text)
        bytes.push_back(static_cast<char>(c.unicode() > 0xFF ? 0x7F : c.unicode()));
    return bytes;
}

bool IsKeyerCommand(int commandId) {
    return commandId == id::ReadDL || commandId == id::WriteDL || commandId == id::TestDL ||
           (commandId >= id::TestMessage1 && commandId < id::TestMessage1 + 6);
}

// A message box: several lines, upper case, and only what the keyer can send goes in by
// typing. Pasted text is turned upper case too; what it holds beyond that is checked when
// the dialog is stored.
class MessageEdit final : public QPlainTextEdit {
public:
    MessageEdit(const EditorDialog& dialog, std::function<void(unsigned char)> refused,
                QWidget* parent)
        : QPlainTextEdit(parent), dialog_(dialog), refused_(std::move(refused)) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setTabChangesFocus(true);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        if (event->key() == Qt::Key_Backspace) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (dialog_.MessageEditFilter('\r'))
                QPlainTextEdit::keyPressEvent(event);
            else
                refused_('\r');
            return;
        }
        if (text.size() == 1 && text[0].isPrint()) {
            const char16_t code = text[0].unicode();
            const unsigned char typed = code > 0xFF ? 0xFF : static_cast<unsigned char>(code);
            if (dialog_.MessageEditFilter(typed))
                insertPlainText(text.toUpper());
            else
                refused_(typed);
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }
    void insertFromMimeData(const QMimeData* source) override {
        if (source->hasText()) insertPlainText(source->text().toUpper());
    }

private:
    const EditorDialog& dialog_;
    std::function<void(unsigned char)> refused_;
};

} // namespace

QSize MainWindowSize(int dpi) {
    if (dpi == 96 || dpi <= 0) return {556, 455};
    if (dpi == 120) return {738, 568};
    return {dpi * 738 / 120, dpi * 568 / 120};
}

QFont DialogFont() {
    // The dialogs were laid out for "Helv" 8 point, a Helvetica face: take Helvetica or one
    // of its metric-compatible stand-ins where the desktop has one, else the desktop's
    // sans font. A wider face would push the controls out of the window.
    QFont font;
    font.setFamilies({"Helvetica", "Liberation Sans", "Nimbus Sans", "Arial"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded, as dialog templates measure it.
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (letters / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const {
    return units * baseX_ / 4;
}
int DialogUnits::Y(int units) const {
    return units * baseY_ / 8;
}
QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return {X(x), Y(y), X(width), Y(height)};
}

EditorWindow::EditorWindow(link::SerialPort& port, link::Sleeper& sleeper, EditorPaths paths,
                           QWidget* parent)
    : QMainWindow(parent),
      windowSettings_(QString::fromLocal8Bit(paths.ConfigFile.parent_path().c_str()) +
                      "/dl2mgr-window.ini"),
      editor_(std::make_unique<KeyerEditor>(port, sleeper, *this, std::move(paths))) {
    setObjectName("Dahlo");
    setWindowTitle("Dahlo2 Standalone Editor");
    setWindowIcon(ProgramIcon());
    editor_->Dialog.Changed = [this](int controlId) { Mirror(controlId); };
    BuildMenu();
    BuildDialog();
    // The lists were filled when the editor was made, before there were widgets.
    for (auto it = widgets_.cbegin(); it != widgets_.cend(); ++it)
        Mirror(it.key());

    const QScreen* screen = QGuiApplication::primaryScreen();
    // The sizes are screen pixels at the screen's resolution. Qt scales a screen above
    // 96 dpi (120 dpi is a ratio of 1.25) and reports 96 to the program, so the resolution
    // is worked back from both and the size taken back into Qt's scaled pixels.
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const int dpi = screen ? qRound(screen->logicalDotsPerInchX() * ratio) : 0;
    const QSize pixels = MainWindowSize(dpi);
    const QSize size(qRound(pixels.width() / ratio), qRound(pixels.height() / ratio));
    resize(size);
    setMaximumSize(size);
    if (screen) move(screen->geometry().topLeft());

    timer_ = new QTimer(this);
    timer_->setObjectName("Timer1");
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, [this] { editor_->TimerTick(); });
    timer_->start();
}

EditorWindow::~EditorWindow() {
    editor_->Dialog.Changed = nullptr;
}

void EditorWindow::StartUp() {
    editor_->StartUp();
    RefreshCommChecks();
    // Where the user left the window and the files, if that place is still on a screen.
    const QSettings settings(windowSettings_, QSettings::IniFormat);
    lastFolder_ = settings.value("LastFolder").toString();
    const QPoint position = settings.value("Position", QPoint(-100000, -100000)).toPoint();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(position)) {
            move(position);
            break;
        }
    }
}

void EditorWindow::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MAINMENU");
    auto add = [this](QMenu* menu, const char* text, int commandId, bool checkable = false) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        action->setObjectName(QString("menu%1").arg(commandId));
        action->setCheckable(checkable);
        actions_.insert(commandId, action);
        connect(action, &QAction::triggered, this, [this, commandId] { RunCommand(commandId); });
    };
    QMenu* file = bar->addMenu("&File");
    add(file, "&Open", id::MenuOpen);
    add(file, "&Save", id::MenuSave);
    add(file, "&Exit", id::MenuExit);
    QMenu* comm = bar->addMenu("&Comm");
    for (std::size_t n = 0; n < id::MenuComm.size(); ++n) {
        const std::string text = "Com" + std::to_string(n + 1);
        add(comm, text.c_str(), id::MenuComm[n], true);
    }
    comm->addSeparator();
    // The system's serial ports go here, listed afresh each time the menu opens, so an
    // adapter plugged in meanwhile is there.
    systemPortsEnd_ = comm->addSeparator();
    comm->setObjectName("CommMenu");
    connect(comm, &QMenu::aboutToShow, this, [this] { ListSystemPorts(); });
    comm_ = comm;
    add(comm, "Verify After Write", id::MenuVerifyAfterWrite, true);
    QMenu* help = bar->addMenu("&Help");
    add(help, "&About", id::MenuAbout);
    add(help, "&Help", id::MenuHelp);
}

void EditorWindow::BuildDialog() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    // The panel fills the client area, keeping its margin; the controls keep their places.
    client->installEventFilter(this);
    const QFont font = DialogFont();
    const DialogUnits du(font);

    auto* dialog = new QFrame(client);
    dialog_ = dialog;
    dialog->setObjectName("EditorDialog");
    dialog->setFrameShape(QFrame::Panel);
    dialog->setFrameShadow(QFrame::Raised);
    dialog->setFont(font);
    dialog->setGeometry(du.Rect(DialogX, DialogY, DialogWidth, DialogHeight));

    EditorDialog& model = editor_->Dialog;
    for (const ControlPlace& place : EditorControls) {
        QRect rect = du.Rect(place.X, place.Y, place.Width, place.Height);
        const QString caption = QString::fromLatin1(place.Caption);
        const int controlId = place.Id;
        QWidget* widget = nullptr;
        switch (place.Kind) {
        case ControlKind::GroupBox:
            widget = new QGroupBox(caption, dialog);
            break;
        case ControlKind::Label:
            widget = new QLabel(caption, dialog);
            break;
        case ControlKind::Text:
        case ControlKind::CentredText: {
            auto* label = new QLabel(caption, dialog);
            if (place.Kind == ControlKind::CentredText) label->setAlignment(Qt::AlignCenter);
            widget = label;
            break;
        }
        case ControlKind::MessageEdit: {
            auto* edit = new MessageEdit(
                model, [this](unsigned char typed) { editor_->NoteRefusedCharacter(typed); },
                dialog);
            connect(edit, &QPlainTextEdit::textChanged, this, [this, edit, controlId] {
                editor_->Dialog.UserEditedText(controlId, MessageBytes(edit->toPlainText()));
            });
            widget = edit;
            break;
        }
        case ControlKind::NumberEdit: {
            auto* edit = new QLineEdit(dialog);
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            connect(edit, &QLineEdit::textEdited, this, [this, controlId](const QString& text) {
                editor_->Dialog.UserEditedText(controlId, ToLatin1(text));
            });
            widget = edit;
            break;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(caption, dialog);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this,
                    [this, controlId] { RunCommand(controlId); });
            widget = button;
            break;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(caption, dialog);
            connect(box, &QCheckBox::clicked, this,
                    [this, controlId] { editor_->Dialog.UserClickedCheckBox(controlId); });
            widget = box;
            break;
        }
        case ControlKind::ComboEdit:
        case ControlKind::ComboList: {
            auto* combo = new QComboBox(dialog);
            if (place.Kind == ControlKind::ComboEdit) {
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
            }
            connect(combo, &QComboBox::activated, this, [this, controlId](int index) {
                editor_->Dialog.UserSelectedItem(controlId, index);
            });
            // The template's height is the open drop-down; the closed box is one line.
            rect.setHeight(du.Y(12) + 2);
            widget = combo;
            break;
        }
        }
        widget->setGeometry(rect);
        if (controlId != id::Static) {
            widget->setObjectName(QString::number(controlId));
            widgets_.insert(controlId, widget);
        }
    }
}

void EditorWindow::Mirror(int controlId) {
    QWidget* widget = widgets_.value(controlId);
    if (!widget) return;
    const Control& c = editor_->Dialog.At(controlId);
    const QSignalBlocker blocker(widget);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        edit->setPlainText(FromLatin1(c.Text));
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(FromLatin1(c.Text));
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        box->setChecked(c.Checked);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->count() != static_cast<int>(c.Items.size())) {
            combo->clear();
            for (const auto& item : c.Items)
                combo->addItem(FromLatin1(item));
        }
        combo->setCurrentIndex(c.Selection);
        if (combo->isEditable()) combo->setEditText(FromLatin1(c.Text));
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(FromLatin1(c.Text));
        // The operation status had room for "Done" and "Reading"; a longer text ("Sent - not
        // verified", a note) reaches over the file name's place rather than being cut.
        if (controlId == id::OperationStatus) {
            const QRect place = labelPlaces_.value(controlId, label->geometry());
            labelPlaces_.insert(controlId, place);
            const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 4;
            const int room = dialog_->width() - place.x() - 4;
            label->resize(std::clamp(needed, place.width(), std::max(place.width(), room)),
                          place.height());
            label->raise();
        }
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(FromLatin1(c.Text));
    }
}

void EditorWindow::ListSystemPorts() {
    for (QAction* action : systemPortActions_) {
        comm_->removeAction(action);
        action->deleteLater();
    }
    systemPortActions_.clear();
    const std::string& chosen = editor_->DevicePath;
    bool chosenListed = chosen.empty();
    auto add = [this](const QString& text, const std::string& path) {
        auto* action = new QAction(text, comm_);
        action->setCheckable(true);
        action->setData(QString::fromLocal8Bit(path.c_str()));
        connect(action, &QAction::triggered, this, [this, path] {
            if (busy_) return;
            editor_->ChooseDevice(path);
            RefreshCommChecks();
        });
        comm_->insertAction(systemPortsEnd_, action);
        systemPortActions_.append(action);
    };
    for (const link::SystemPort& port : editor_->SystemPorts()) {
        const std::string& path = link::ChoicePath(port);
        chosenListed = chosenListed || path == chosen || port.Device == chosen;
        add(QString::fromLocal8Bit(link::PortLabel(port).c_str()), path);
    }
    // A chosen adapter that is unplugged stays in the menu, ticked, so the user sees why
    // the keyer does not answer.
    if (!chosenListed)
        add(QString::fromLocal8Bit(chosen.c_str()) + QStringLiteral(" (not present)"), chosen);
    RefreshCommChecks();
}

void EditorWindow::RefreshCommChecks() {
    const int checked = editor_->CheckedCommItem();
    for (const int commandId : id::MenuComm)
        actions_.value(commandId)->setChecked(commandId == checked);
    const QString chosen = QString::fromLocal8Bit(editor_->DevicePath.c_str());
    for (QAction* action : systemPortActions_) {
        const QString path = action->data().toString();
        action->setChecked(!chosen.isEmpty() &&
                           (path == chosen || QFileInfo(path).canonicalFilePath() ==
                                                  QFileInfo(chosen).canonicalFilePath()));
    }
    actions_.value(id::MenuVerifyAfterWrite)->setChecked(editor_->VerifyAfterWrite);
}

void EditorWindow::RunCommand(int commandId) {
    // Nothing reaches here while busy, as input is discarded; a command started from
    // inside another (a signal emitted by code) still does nothing.
    if (busy_) return;
    const bool keyer = IsKeyerCommand(commandId);
    if (keyer) BeginBusy();
    editor_->Command(commandId);
    if (keyer) EndBusy();
    RefreshCommChecks();
}

QList<QObject*> EditorWindow::CommandsBlockedWhileBusy() const {
    QList<QObject*> blocked;
    for (const int controlId : {id::ReadDL, id::WriteDL, id::TestDL})
        blocked.append(widgets_.value(controlId));
    for (int n = 0; n < 6; ++n)
        blocked.append(widgets_.value(id::TestMessage1 + n));
    for (const int commandId : {id::MenuOpen, id::MenuSave, id::MenuExit})
        blocked.append(actions_.value(commandId));
    return blocked;
}

void EditorWindow::BeginBusy() {
    busy_ = true;
    // Every control and the menu visibly off; each gets back the state it had. A box shown
    // meanwhile is made after this and stays usable.
    greyed_.clear();
    for (QWidget* widget : dialog_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!widget->isEnabled()) continue;
        widget->setEnabled(false);
        greyed_.append(widget);
    }
    menuBar()->setEnabled(false);
    for (QObject* object : CommandsBlockedWhileBusy()) {
        if (auto* widget = qobject_cast<QWidget*>(object)) widget->setEnabled(false);
        if (auto* action = qobject_cast<QAction*>(object)) action->setEnabled(false);
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    inputGuard_.Engage();
}

void EditorWindow::EndBusy() {
    // Input that came while the line was being waited on may still be queued: take it in
    // and drop it before the window listens again.
    inputGuard_.Release();
    QGuiApplication::restoreOverrideCursor();
    for (QObject* object : CommandsBlockedWhileBusy()) {
        if (auto* widget = qobject_cast<QWidget*>(object)) widget->setEnabled(true);
        if (auto* action = qobject_cast<QAction*>(object)) action->setEnabled(true);
    }
    for (const QPointer<QWidget>& widget : greyed_) {
        if (widget) widget->setEnabled(true);
    }
    greyed_.clear();
    menuBar()->setEnabled(true);
    busy_ = false;
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize && dialog_) {
        const QWidget* client = centralWidget();
        const QRect place = dialogPlace_.isValid() ? dialogPlace_ : dialog_->geometry();
        dialogPlace_ = place;
        const int margin = place.x();
        dialog_->setGeometry(place.x(), place.y(),
                             std::max(place.width(), client->width() - 2 * margin),
                             std::max(place.height(), client->height() - place.y() - margin));
    }
    return QMainWindow::eventFilter(watched, event);
}

void EditorWindow::ShowBox(const MessageBox& box) {
    QWidget* owner = box.Owner == BoxOwner::Dialog       ? dialog_
                     : box.Owner == BoxOwner::MainWindow ? static_cast<QWidget*>(this)
                                                         : nullptr;
    const QMessageBox::Icon icon = box.Icon == BoxIcon::Warning       ? QMessageBox::Warning
                                   : box.Icon == BoxIcon::Information ? QMessageBox::Information
                                                                      : QMessageBox::NoIcon;
    QMessageBox message(icon, FromLatin1(box.Caption), FromLatin1(box.Text), QMessageBox::Ok,
                        owner);
    // A box shown by a running command needs the user's OK: let input through while it is
    // up, but not what was clicked or typed before it appeared.
    const bool wasBusy = inputGuard_.Engaged();
    if (wasBusy) inputGuard_.Release();
    message.exec();
    if (wasBusy) inputGuard_.Engage();
}

Answer EditorWindow::Ask(const Question& question) {
    QMessageBox box(QMessageBox::Question, FromLatin1(question.Caption), FromLatin1(question.Text),
                    QMessageBox::NoButton, this);
    if (question.Kind == QuestionKind::UnsavedChanges) {
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    switch (box.exec()) {
    case QMessageBox::Save:
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::Discard:
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

namespace {

std::optional<std::string> RunFileDialog(QWidget* owner, QFileDialog::AcceptMode mode,
                                         QString& folder) {
    QFileDialog dialog(owner);
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    dialog.setAcceptMode(mode);
    // Any name may be typed, also for opening: a missing file is then "File Not Found".
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({"EEPROM Files (*.eep)", "All Documents (*.*)"});
    dialog.selectNameFilter("EEPROM Files (*.eep)");
    dialog.setDefaultSuffix("eep");
    // The editor asks before it replaces a file, once, in its own words.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    folder = dialog.directory().absolutePath();
    return dialog.selectedFiles().front().toLocal8Bit().toStdString();
}

} // namespace

std::optional<std::string> EditorWindow::ChooseOpenFile() {
    auto chosen = RunFileDialog(this, QFileDialog::AcceptOpen, lastFolder_);
    if (chosen) SaveWindowSettings();
    return chosen;
}

std::optional<std::string> EditorWindow::ChooseSaveFile() {
    auto chosen = RunFileDialog(this, QFileDialog::AcceptSave, lastFolder_);
    if (chosen) SaveWindowSettings();
    return chosen;
}

void EditorWindow::SaveWindowSettings() {
    QSettings settings(windowSettings_, QSettings::IniFormat);
    settings.setValue("LastFolder", lastFolder_);
    settings.setValue("Position", pos());
}

void EditorWindow::LetWindowRepaint() {
    // The keyer command holds the window; show what it has written so far. Clicks and keys
    // are taken in too, and dropped by the filter: held back, they would run once the
    // command is over.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (dialog_) dialog_->repaint();
}

bool EditorWindow::OpenHelp(const std::string& path) {
    const QString file = QString::fromLocal8Bit(path.c_str());
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(file))) return true;
    // No browser: the help is plain HTML with its pictures beside it, which a text
    // browser of our own shows well enough.
    ShowHelpWindow(file);
    return true;
}

void EditorWindow::ShowHelpWindow(const QString& file) {
    if (!help_) {
        help_ = new QTextBrowser(this);
        help_->setObjectName("HelpWindow");
        help_->setWindowFlag(Qt::Window);
        help_->setOpenExternalLinks(true);
        help_->resize(640, 560);
    }
    help_->setSource(QUrl::fromLocalFile(file));
    help_->setWindowTitle(help_->documentTitle().isEmpty() ? QStringLiteral("dl2mgr Help")
                                                           : help_->documentTitle());
    help_->show();
    help_->raise();
}

void EditorWindow::ShowAbout() {
    AboutDialog about(QString::fromLatin1(editor_->VersionLine().c_str()),
                      QString::fromLocal8Bit(editor_->OsLine().c_str()), this);
    about.exec();
}

void EditorWindow::Quit(int exitCode) {
    SaveWindowSettings();
    QCoreApplication::exit(exitCode);
}

void EditorWindow::closeEvent(QCloseEvent* event) {
    if (editor_->OperationBusy || !editor_->MayDropChanges()) {
        event->ignore();
        return;
    }
    SaveWindowSettings();
    if (help_) help_->close();
    event->accept();
}

void EditorWindow::focusInEvent(QFocusEvent* event) {
    QMainWindow::focusInEvent(event);
    if (dialog_) dialog_->setFocus();
}

} // namespace dl2mgr::editor
