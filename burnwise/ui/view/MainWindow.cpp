#include "burnwise/ui/view/MainWindow.h"

#include "burnwise/ui/RunSummary.h"
#include "burnwise/ui/view/HelpWindow.h"
#include "burnwise/ui/view/Icons.h"
#include "burnwise/ui/view/LabelSettingsBox.h"
#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/ResultsWindow.h"
#include "burnwise/ui/view/Texts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariant>
#include <algorithm>
#include <exception>

namespace burnwise::view {
namespace {

// A drop-down list that, with no entry chosen, still shows a text of its own in the
// ordinary colour (the pin lists start that way).
class ListBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    void SetShownText(const QString& text) {
        if (shownText_ == text) return;
        shownText_ = text;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        if (currentIndex() < 0) option.currentText = shownText_;
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }

private:
    QString shownText_;
};

QRect PlaceOf(const ui::Control& control) {
    return {control.Place.Left, control.Place.Top, control.Place.Width, control.Place.Height};
}

// Keys that could never make a valid value are not taken at all (no box to swallow the
// keys that follow).
void LimitInput(QLineEdit& edit, const app::Field& field) {
    const app::FieldInput input = app::InputOf(field);
    QString characters;
    switch (input.Characters) {
    case app::FieldCharacters::Any:
        return;
    case app::FieldCharacters::Decimal:
        characters = QStringLiteral("0-9");
        break;
    case app::FieldCharacters::Hexadecimal:
        characters = QStringLiteral("0-9A-Fa-f");
        break;
    }
    const QString count =
        input.MaxLength > 0 ? QStringLiteral("{0,%1}").arg(input.MaxLength) : QStringLiteral("*");
    edit.setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[%1]%2").arg(characters, count)), &edit));
}

// The window's action for a Ctrl key, if it has one.
QAction* WindowShortcut(const QKeyEvent& key,
                        const std::unordered_map<std::string, QAction*>& all) {
    if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) !=
        Qt::ControlModifier)
        return nullptr;
    const QKeySequence pressed(
        QKeyCombination(key.modifiers() & ~Qt::KeypadModifier, static_cast<Qt::Key>(key.key())));
    for (const auto& [name, action] : all)
        if (!action->shortcut().isEmpty() &&
            action->shortcut().matches(pressed) == QKeySequence::ExactMatch)
            return action;
    return nullptr;
}

// The commands that work on the attached devices, and what each does with one device as
// the status bar says it.
struct DeviceCommand {
    std::string_view Action;
    const char* Verb;
};
constexpr DeviceCommand DeviceCommands[] = {
    {"BWScan", "Scanning"}, {"BWErase", "Erasing"},       {"BWProgram", "Programming"},
    {"Read1", "Reading"},   {"ReadandParse1", "Reading"}, {"ToolButton11", "Cycling"},
};

const DeviceCommand* DeviceCommandOf(std::string_view action) {
    for (const DeviceCommand& command : DeviceCommands)
        if (command.Action == action) return &command;
    return nullptr;
}

// The keys a text field keeps for its own editing, whatever the window's shortcuts say.
bool IsEditingKey(const QKeyEvent& key) {
    if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier |
                            Qt::ShiftModifier)) != Qt::ControlModifier)
        return false;
    switch (key.key()) {
    case Qt::Key_X:
    case Qt::Key_C:
    case Qt::Key_V:
    case Qt::Key_A:
    case Qt::Key_Z:
        return true;
    default:
        return false;
    }
}

// "Scan for Available Devices (Ctrl+C)": a tooltip names the key that does the same.
QString WithShortcut(const QString& tip, const QKeySequence& key) {
    if (key.isEmpty()) return tip;
    return QStringLiteral("%1 (%2)").arg(tip, key.toString(QKeySequence::NativeText));
}

} // namespace

MainWindow::MainWindow(ui::TMainForm& form, WindowHost& host,
                       std::optional<std::string> simulatedBench, QWidget* parent)
    : QMainWindow(parent), form_(form), host_(host) {
    setObjectName("TMainForm");
    // A single fixed border with the close box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setContextMenuPolicy(Qt::NoContextMenu); // the toolbar cannot be hidden
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);

    auto* panel = new QWidget(this);
    panel->setObjectName("Panel");
    panel->setFixedSize(ClientWidth, ClientHeight - ToolBarHeight);
    setCentralWidget(panel);
    panel_ = panel;

    BuildControls(panel);
    BuildActions();
    BuildStatusBar(simulatedBench);
    KeepSettingsIn(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
                   QStringLiteral("/burnwise.conf"));

    form_.StateChanged = [this](std::string_view name) { OnStateChanged(name); };
    form_.DeviceProgressChanged = [this](int position, int count) {
        ShowDeviceProgress(position, count);
    };
    host_.Attach(this, nullptr);
    form_.NameDeviceInBoxes = true;
    host_.OnDeviceFinished = [this](const device::DeviceOutcome& outcome) { AddResult(outcome); };
    host_.OnStopRequested = [this] {
        // A click on Stop made since the last line still counts for this device.
        if (busy_) host_.ProcessPendingEvents();
        return stopRequested_;
    };
    // A window of its own, not a child window: the main window's Ctrl shortcuts stay out
    // of it (Ctrl+C there copies rows and never starts a scan).
    results_ = new ResultsWindow;
    results_->AskFileName = [this] {
        ui::FileDialogOptions options;
        options.Filter = "CSV Files|*.csv";
        options.DefaultExtension = "csv";
        options.PromptOverwrite = true;
        options.FileName = "results.csv";
        return host_.RunSaveDialog(options);
    };
    results_->ReportError = [this](const QString& text) { host_.ShowErrorBox(ToLatin1(text)); };
    SyncAll();

    setFixedSize(ClientWidth,
                 menuBar()->sizeHint().height() + ClientHeight + statusBar()->height());
}

MainWindow::~MainWindow() {
    if (busy_) LeaveBusy();
    form_.StateChanged = nullptr;
    form_.DeviceProgressChanged = nullptr;
    host_.OnDeviceFinished = nullptr;
    host_.OnStopRequested = nullptr;
    delete results_;
}

void MainWindow::BuildControls(QWidget* panel) {
    for (const ui::Control* control : form_.Controls()) {
        QWidget* parent = panel;
        if (!control->Parent.empty()) {
            const auto found = widgets_.find(control->Parent);
            if (found == widgets_.end()) continue; // a control is listed after its group
            parent = found->second;
        }
        QWidget* widget = nullptr;
        switch (control->Kind) {
        case ui::ControlKind::Group:
            if (control->Parent == form_.Pages().Name) {
                widget = new QWidget;
                auto* tabs = static_cast<QTabWidget*>(parent);
                tabs->addTab(widget, FromLatin1(control->Caption));
            } else {
                widget = new QGroupBox(parent);
            }
            break;
        case ui::ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            widget = label;
            break;
        }
        case ui::ControlKind::Text: {
            auto* edit = new QLineEdit(parent);
            if (control->Field != nullptr) LimitInput(*edit, *control->Field);
            widget = edit;
            break;
        }
        case ui::ControlKind::Check:
            widget = new QCheckBox(parent);
            break;
        case ui::ControlKind::Radio: {
            auto* radio = new QRadioButton(parent);
            // The form decides which button of a group is checked.
            radio->setAutoExclusive(false);
            widget = radio;
            break;
        }
        case ui::ControlKind::List: {
            auto* list = new ListBox(parent);
            list->setMaxVisibleItems(16);
            widget = list;
            break;
        }
        case ui::ControlKind::Tabs:
            widget = new QTabWidget(parent);
            break;
        case ui::ControlKind::Messages: {
            auto* memo = new QPlainTextEdit(parent);
            memo->setReadOnly(true);
            // Read-only text the keyboard can select and copy, as any other.
            memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            memo_ = memo;
            widget = memo;
            break;
        }
        }
        widget->setObjectName(QString::fromStdString(control->Name));
        if (control->Parent != form_.Pages().Name) widget->setGeometry(PlaceOf(*control));
        widgets_.emplace(control->Name, widget);
        ConnectInput(*control, widget);
    }
}

void MainWindow::ConnectInput(const ui::Control& control, QWidget* widget) {
    const std::string name = control.Name;
    switch (control.Kind) {
    case ui::ControlKind::Text:
        connect(static_cast<QLineEdit*>(widget), &QLineEdit::textEdited, this,
                [this, name](const QString& text) {
                    if (!common::qt::IsLatin1(text)) {
                        host_.ShowErrorBox("The device's strings hold only Latin-1 "
                                           "characters - the text was not changed");
                    } else {
                        Guarded([&] { form_.UserTypeText(name, ToLatin1(text)); });
                    }
                    // Refused input, or a rule that put another text back: show the form's.
                    if (const ui::Control* c = form_.FindControl(name)) SyncControl(*c);
                });
        break;
    case ui::ControlKind::Check:
    case ui::ControlKind::Radio:
        connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
                [this, name] {
                    Guarded([&] { form_.UserClick(name); });
                    if (const ui::Control* c = form_.FindControl(name)) SyncControl(*c);
                });
        break;
    case ui::ControlKind::List:
        connect(static_cast<QComboBox*>(widget), &QComboBox::activated, this,
                [this, name](int index) {
                    Guarded([&] { form_.UserChooseEntry(name, index); });
                    if (const ui::Control* c = form_.FindControl(name)) SyncControl(*c);
                });
        break;
    case ui::ControlKind::Tabs:
        connect(static_cast<QTabWidget*>(widget), &QTabWidget::currentChanged, this,
                [this](int page) {
                    Guarded([&] { form_.UserSelectPage(page); });
                    SyncControl(form_.Pages());
                });
        break;
    default:
        break;
    }
}

void MainWindow::BuildActions() {
    for (const ui::Action* action : form_.Actions()) {
        auto* qa = new QAction(FromLatin1(action->Caption), this);
        qa->setObjectName(QString::fromStdString(action->Name));
        if (!action->Shortcut.empty()) {
            qa->setShortcut(QKeySequence(FromLatin1(action->Shortcut)));
            qa->setShortcutContext(Qt::WindowShortcut);
        }
        if (!action->Hint.empty()) {
            qa->setToolTip(WithShortcut(FromLatin1(action->Hint), qa->shortcut()));
            qa->setStatusTip({});
        }
        if (!action->MenuCaption.empty()) qa->setText(FromLatin1(action->MenuCaption));
        qa->setIcon(ActionIcon(action->Name));
        qa->setIconVisibleInMenu(true);
        const std::string name = action->Name;
        connect(qa, &QAction::triggered, this, [this, name] { RunAction(name); });
        actions_.emplace(name, qa);
        addAction(qa); // the shortcuts work wherever the focus is in the window
    }
    BuildMenus();
    BuildToolBar();
    // Every widget that takes keys lets the window's Ctrl shortcuts through.
    for (QWidget* widget : findChildren<QWidget*>())
        widget->installEventFilter(this);
}

void MainWindow::AddActions(QWidget& place, std::initializer_list<const char*> names) {
    for (const char* name : names)
        place.addAction(actions_.at(name));
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    AddActions(*file, {"BWNew", "BWOpen", "BWEdit", "BWSave", "BWSaveAs"});
    // The last templates opened or saved, newest first; one that is gone is greyed.
    recentMenu_ = file->addMenu(QStringLiteral("&Recent Templates"));
    recentMenu_->setObjectName("RecentTemplates");
    connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::ShowRecentTemplates);
    file->addSeparator();
    file->addAction(actions_.at("BWExit"));
    QMenu* device = menuBar()->addMenu(QStringLiteral("&Device"));
    AddActions(*device, {"BWScan", "BWErase", "BWProgram"});
    // How Program takes the devices, kept across runs of the program.
    allAtOnce_ = device->addAction(QStringLiteral("Program &All Devices At Once"));
    allAtOnce_->setObjectName("ProgramAllAtOnce");
    allAtOnce_->setCheckable(true);
    allAtOnce_->setToolTip(QStringLiteral("Program every device found at the same time"));
    allAtOnce_->setStatusTip(
        QStringLiteral("Program opens and programs every device it selects at the same time, "
                       "each on its own; serial numbers from the clock still go one by one"));
    connect(allAtOnce_, &QAction::toggled, this, [this](bool on) {
        form_.ProgramAllAtOnce = on;
        SaveSettings();
    });
    productionAction_ = MakeProductionAction();
    device->addAction(actions_.at("ToolButton11"));
    device->addSeparator();
    device->addAction(productionAction_);
    AddPrintLabelsAction(
        *device, *this, host_, [this] { return form_.TemplateFileName(); },
        [this] { return busy_; });
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    AddActions(*tools, {"Read1", "ReadandParse1"});
    // The session's results, also after their window was closed.
    tools->addSeparator();
    QAction* showResults = tools->addAction(QStringLiteral("Results &Table"));
    showResults->setObjectName("ShowResults");
    connect(showResults, &QAction::triggered, this, [this] {
        ShowResultsWindow();
        results_->raise();
        results_->activateWindow();
    });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(actions_.at("BWHelp"));
    help->addSeparator();
    help->addAction(actions_.at("BWAbout"));
    // The two Tools items have no icon of their own.
    actions_.at("Read1")->setIcon({});
    actions_.at("ReadandParse1")->setIcon({});
}

// Production mode: a window of its own that takes each device plugged in.
QAction* MainWindow::MakeProductionAction() {
    auto* production = new QAction(QStringLiteral("Production &Line..."), this);
    production->setObjectName("BWProduction");
    production->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    production->setShortcutContext(Qt::WindowShortcut);
    production->setToolTip(
        WithShortcut(QStringLiteral("Production Line: program every device plugged in"),
                     production->shortcut()));
    production->setIcon(ActionIcon("BWProduction"));
    production->setIconVisibleInMenu(true);
    connect(production, &QAction::triggered, this, [this] {
        if (busy_) return;
        auto* window = new ProductionWindow(MakeProductionRunner ? MakeProductionRunner() : nullptr,
                                            host_, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        // The line's devices join the session's results (Tools > Results Table), without
        // the table coming up over the line.
        window->OnOutcome = [this, window](const device::DeviceOutcome& outcome) {
            device::DeviceOutcome shown = outcome;
            shown.Model = ui::ShownModel(outcome, window->TemplateModel());
            results_->AddOutcome(shown, QDateTime::currentDateTime().toString(
                                            QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        };
        window->show();
    });
    addAction(production);
    return production;
}

// Stop: the one command that works while a device operation runs.
QAction* MainWindow::MakeStopAction() {
    auto* stop = new QAction(QStringLiteral("&Stop"), this);
    stop->setObjectName("BWStop");
    stop->setShortcut(QKeySequence(Qt::Key_Escape));
    stop->setShortcutContext(Qt::WindowShortcut);
    stop->setToolTip(
        WithShortcut(QStringLiteral("Stop after the device in hand"), stop->shortcut()));
    stop->setIcon(ActionIcon("BWStop"));
    stop->setEnabled(false);
    connect(stop, &QAction::triggered, this, [this] { RequestStop(); });
    addAction(stop);
    return stop;
}

void MainWindow::BuildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("ToolBar2"));
    toolBar_->setObjectName("ToolBar2");
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setFixedHeight(ToolBarHeight);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    AddActions(*toolBar_, {"BWNew", "BWOpen", "BWEdit", "BWSave", "BWSaveAs"});
    toolBar_->addSeparator();
    AddActions(*toolBar_, {"BWScan", "BWErase", "BWProgram"});
    toolBar_->addAction(productionAction_);
    auto* gap = new QWidget(toolBar_);
    gap->setFixedSize(4, 25);
    toolBar_->addWidget(gap);
    AddActions(*toolBar_, {"BWAbout", "BWHelp"});
    toolBar_->addSeparator();
    toolBar_->addAction(actions_.at("ToolButton11"));
    toolBar_->addSeparator();
    stopAction_ = MakeStopAction();
    toolBar_->addAction(stopAction_);
    for (QAction* action : toolBar_->actions()) {
        if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(action))) {
            button->setFixedSize(30, 25);
            if (action->objectName() == "ToolButton11") button->setObjectName("ToolButton11");
            if (action == stopAction_) {
                button->setObjectName("StopButton");
                stopButton_ = button;
            }
        }
    }
}

void MainWindow::BuildStatusBar(const std::optional<std::string>& simulatedBench) {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar");
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(20);
    bar->setContentsMargins(4, 0, 4, 0);
    benchLabel_ = new QLabel(bar);
    benchLabel_->setObjectName("BenchLabel");
    if (simulatedBench) {
        benchLabel_->setText(QStringLiteral("Simulated devices"));
        benchLabel_->setToolTip(QString::fromStdString(*simulatedBench));
    }
    bar->addWidget(benchLabel_, 1);
    progressLabel_ = new QLabel(bar);
    progressLabel_->setObjectName("ProgressLabel");
    progressBar_ = new QProgressBar(bar);
    progressBar_->setObjectName("ProgressBar");
    progressBar_->setFixedSize(140, 12);
    progressBar_->setTextVisible(false);
    bar->addPermanentWidget(progressLabel_);
    bar->addPermanentWidget(progressBar_);
    progressLabel_->hide();
    progressBar_->hide();
}

QWidget* MainWindow::ControlWidget(std::string_view name) const {
    const auto found = widgets_.find(std::string(name));
    return found == widgets_.end() ? nullptr : found->second;
}

QAction* MainWindow::ActionOf(std::string_view name) const {
    const auto found = actions_.find(std::string(name));
    return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::ShowFirstTime() {
    if (shown_) return;
    shown_ = true;
    FitScreen();
    // Where the user left it, while that is on a screen; else centred.
    bool placed = false;
    for (const QScreen* s : QGuiApplication::screens())
        if (mainPlace_ && s->availableGeometry().contains(QRect(*mainPlace_, size()).center())) {
            move(*mainPlace_);
            placed = true;
        }
    if (!placed)
        if (const QScreen* s = screen()) {
            const QRect desktop = s->availableGeometry();
            const QPoint corner = desktop.center() - QPoint(width() / 2, height() / 2);
            move(std::max(corner.x(), desktop.left()), std::max(corner.y(), desktop.top()));
        }
    form_.FormShow();
    show();
}

void MainWindow::FitScreen() {
    const QScreen* s = screen();
    if (s == nullptr) return;
    const QRect desktop = s->availableGeometry();
    const QSize full(ClientWidth,
                     menuBar()->sizeHint().height() + ClientHeight + statusBar()->height());
    // The title bar a window manager adds, once it is known.
    const int title = isVisible() ? frameGeometry().height() - height() : 0;
    if (full.width() <= desktop.width() && full.height() + title <= desktop.height()) return;
    if (qobject_cast<QScrollArea*>(centralWidget()) == nullptr) {
        auto* scroll = new QScrollArea;
        scroll->setObjectName("PanelScroll");
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(takeCentralWidget());
        setCentralWidget(scroll);
    }
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    setFixedSize(std::min(full.width() + bar, desktop.width()),
                 std::min(full.height(), desktop.height() - title));
}

void MainWindow::Guarded(const std::function<void()>& work) {
    // A rule that disables the focused field for a moment (the device-type list while the
    // field rules run) makes Qt hand the focus on: it comes back when the field is usable.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    struct KeepFocus {
        const QPointer<QWidget>& Focus;
        MainWindow& Window;
        ~KeepFocus() {
            if (Focus && Focus->window() == &Window && !Window.busy_ && Focus->isEnabled() &&
                Focus->isVisible() && QApplication::focusWidget() != Focus)
                Focus->setFocus(Qt::OtherFocusReason);
        }
    } keep{focus, *this};
    ++running_;
    // Whatever the input changed, the title shows whether the template has unsaved changes.
    struct Title {
        MainWindow& Window;
        ~Title() { Window.setWindowTitle(Window.TitleText()); }
    } title{*this};
    try {
        work();
    } catch (const std::exception& error) {
        host_.ShowExceptionBox(error.what());
    } catch (...) {
        host_.ShowExceptionBox("The command ended with an unexpected error.");
    }
    --running_;
}

void MainWindow::RunAction(const std::string& name) {
    const DeviceCommand* command = DeviceCommandOf(name);
    if (command == nullptr || busy_) {
        Guarded([&] { form_.UserExecute(name); });
        if (name == "BWOpen" || name == "BWSave" || name == "BWSaveAs") NoteRecentTemplate();
        return;
    }
    Guarded([&] {
        // Busy mode ends however the command ends: done, stopped, a box, an error.
        struct Busy {
            MainWindow& Window;
            ~Busy() { Window.LeaveBusy(); }
        } busy{*this};
        EnterBusy(command->Verb);
        form_.UserExecute(name);
    });
}

void MainWindow::KeepSettingsIn(const QString& file) {
    settingsFile_ = file;
    host_.KeepFoldersIn(file);
    LoadSettings();
}

QStringList MainWindow::RecentTemplates() const {
    return QSettings(settingsFile_, QSettings::IniFormat)
        .value(QStringLiteral("Recent/Templates"))
        .toStringList();
}

void MainWindow::NoteRecentTemplate() {
    const std::filesystem::path& file = form_.TemplateFileName();
    if (file.empty()) return;
    std::error_code ignored;
    const QString path = QString::fromStdString(std::filesystem::absolute(file, ignored).string());
    QStringList recent = RecentTemplates();
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > MaxRecentTemplates)
        recent.removeLast();
    QSettings store(settingsFile_, QSettings::IniFormat);
    store.setValue(QStringLiteral("Recent/Templates"), recent);
}

void MainWindow::ShowRecentTemplates() {
    recentMenu_->clear();
    const QStringList recent = RecentTemplates();
    for (int i = 0; i < recent.size(); ++i) {
        const QString& path = recent[i];
        QAction* item = recentMenu_->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        item->setToolTip(path);
        item->setStatusTip(path);
        item->setEnabled(!busy_ && QFileInfo(path).isFile());
        connect(item, &QAction::triggered, this, [this, path] {
            QAction* open = ActionOf("BWOpen");
            if (open == nullptr || !open->isEnabled()) return;
            host_.NextOpenAnswer = std::filesystem::path(path.toStdString());
            open->trigger();
            host_.NextOpenAnswer.reset(); // a host that answers its own dialogs left it
        });
    }
    if (recent.isEmpty()) recentMenu_->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

QString MainWindow::TitleText() const {
    // "cable.ept* - Burnwise - ... ( Edit Mode )": the template, and whether it has changes
    // that are not saved, before the window's caption.
    const QString caption = FromLatin1(form_.Caption);
    const std::filesystem::path& file = form_.TemplateFileName();
    if (file.empty()) return caption;
    return QString::fromStdString(file.filename().string()) +
           (form_.HasUnsavedChanges() ? QStringLiteral("*") : QString()) + QStringLiteral(" - ") +
           caption;
}

void MainWindow::LoadSettings() {
    QSettings store(settingsFile_, QSettings::IniFormat);
    resultsGeometry_ = store.value(QStringLiteral("Windows/Results")).toRect();
    const QVariant main = store.value(QStringLiteral("Windows/Main"));
    mainPlace_ = main.isValid() ? std::optional<QPoint>(main.toPoint()) : std::nullopt;
    const bool on = store.value(QStringLiteral("Device/ProgramAllAtOnce"), false).toBool();
    const QSignalBlocker blocker(allAtOnce_);
    allAtOnce_->setChecked(on);
    form_.ProgramAllAtOnce = on;
}

void MainWindow::KeepWindowPlaces() {
    QSettings store(settingsFile_, QSettings::IniFormat);
    store.setValue(QStringLiteral("Windows/Main"), pos());
    if (resultsPlaced_) store.setValue(QStringLiteral("Windows/Results"), results_->geometry());
    store.sync();
}

void MainWindow::SaveSettings() {
    QSettings store(settingsFile_, QSettings::IniFormat);
    store.setValue(QStringLiteral("Device/ProgramAllAtOnce"), allAtOnce_->isChecked());
    store.sync();
    if (store.status() != QSettings::NoError)
        statusBar()->showMessage(
            QStringLiteral("The settings could not be kept in %1.").arg(settingsFile_));
}

void MainWindow::EnterBusy(const std::string& verb) {
    busy_ = true;
    stopRequested_ = false;
    phaseVerb_ = QString::fromStdString(verb);
    phase_ = 0;
    lastPosition_ = 0;
    QWidget* focus = QApplication::focusWidget();
    focusBeforeBusy_ = focus != nullptr && focus->window() == this ? focus : nullptr;
    host_.SetBusy(true);
    // Every field and command visibly off; each keeps its own state for afterwards.
    panel_->setEnabled(false);
    menuBar()->setEnabled(false);
    for (const auto& [name, action] : actions_)
        action->setEnabled(false);
    productionAction_->setEnabled(false);
    stopAction_->setEnabled(true);
    results_->SetBusy(true);
    ShowResultsWindow();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Input is taken as it comes and thrown away, for the whole application while busy.
    inputGuard_.Engage();
    if (isVisible()) repaint();
}

void MainWindow::LeaveBusy() {
    if (!busy_) return;
    // Input still queued from the run is taken now, while it is still thrown away.
    inputGuard_.Release();
    busy_ = false;
    stopRequested_ = false; // a request ends with its run
    host_.SetBusy(false);
    QApplication::restoreOverrideCursor();
    stopAction_->setEnabled(false);
    results_->SetBusy(false);
    menuBar()->setEnabled(true);
    panel_->setEnabled(true);
    for (const ui::Action* action : form_.Actions())
        SyncAction(*action);
    productionAction_->setEnabled(true);
    if (focusBeforeBusy_ && focusBeforeBusy_->isEnabled()) focusBeforeBusy_->setFocus();
    ShowDeviceProgress(0, 0);
}

void MainWindow::RequestStop() {
    if (!busy_) return;
    stopRequested_ = true;
    stopAction_->setEnabled(false); // taken: the run stops after the device in hand
    // Said at once, naming the device in hand by its number in the run's lines: it may take
    // a while yet.
    std::optional<std::int32_t> inHand;
    if (const app::Station* station = form_.DeviceStation(); station && phase_ == 1) {
        // Read and Read and Parse go through the devices the scan counted, the others
        // through those it selected.
        const device::ScanResults& scan = station->LastScan();
        const bool counted = phaseVerb_ == QLatin1String("Reading");
        const auto& list = counted ? scan.CountedDevices : scan.SelectedDevices;
        const int count = counted ? scan.BlankCount + scan.ProgrammedCount : scan.SelectedCount;
        if (lastPosition_ > 0 && lastPosition_ <= count &&
            lastPosition_ <= static_cast<int>(list.size()))
            inHand = list[static_cast<std::size_t>(lastPosition_ - 1)];
    }
    progressLabel_->setText(inHand ? QStringLiteral("Stopping after device %1 ...").arg(*inHand)
                                   : QStringLiteral("Stopping ..."));
    progressLabel_->show();
    if (isVisible()) progressLabel_->repaint();
}

bool MainWindow::DiscardsInput(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    // A box or dialog the run raised takes its input as usual.
    if (widget->window() != this && widget->window() != results_) return false;
    if (widget == stopButton_) return false;
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        RequestStop();
    return true;
}

QRect MainWindow::ResultsPlace() {
    // Beside the window where the screen has room (right, then left), else below it, else
    // above it, shortened to the room there; never over the status bar with the progress.
    const QRect frame = frameGeometry();
    QRect screen(0, 0, 1024, 768);
    if (const QScreen* s = this->screen()) screen = s->availableGeometry();
    const QSize size = results_->size();
    const QSize decoration = results_->frameGeometry().size() - results_->size();
    constexpr int Gap = 8;
    constexpr int MinHeight = 140;
    const int top = std::clamp(frame.top(), screen.top(),
                               std::max(screen.top(), screen.bottom() - size.height()));
    if (frame.right() + Gap + size.width() + decoration.width() <= screen.right())
        return {QPoint(frame.right() + Gap, top), size};
    if (frame.left() - Gap - size.width() - decoration.width() >= screen.left())
        return {QPoint(frame.left() - Gap - size.width() - decoration.width(), top), size};
    const int left = std::clamp(frame.left(), screen.left(),
                                std::max(screen.left(), screen.right() - size.width()));
    const int below = screen.bottom() - frame.bottom() - Gap - decoration.height();
    if (below >= MinHeight)
        return {QPoint(left, frame.bottom() + Gap),
                QSize(size.width(), std::min(size.height(), below))};
    const int above = frame.top() - screen.top() - Gap - decoration.height();
    if (above >= MinHeight) {
        const int height = std::min(size.height(), above);
        return {QPoint(left, frame.top() - Gap - height - decoration.height()),
                QSize(size.width(), height)};
    }
    // A window the program centred (the user put it nowhere yet) moves to the top of the
    // screen to make room below it.
    if (!mainPlace_ && frame.top() > screen.top() &&
        screen.bottom() - (frame.bottom() - frame.top() + screen.top()) - Gap -
                decoration.height() >=
            MinHeight) {
        move(x(), screen.top());
        return ResultsPlace();
    }
    // A screen that holds neither: over the window's upper part, ending above the message
    // list, so the run's lines and its progress stay in sight.
    const int memoTop = memo_->mapTo(this, QPoint(0, 0)).y() + (frame.height() - height());
    const int height = std::max(MinHeight, frame.top() + memoTop - screen.top() - Gap);
    return {QPoint(screen.right() - size.width(), screen.top()),
            QSize(size.width(), std::min(size.height(), height))};
}

void MainWindow::ShowResultsWindow() {
    if (results_->isVisible()) return;
    // Where the user put it last, while that is on a screen; else a place of its own.
    if (!resultsPlaced_) {
        resultsPlaced_ = true;
        const QRect kept = resultsGeometry_;
        bool onScreen = false;
        for (const QScreen* s : QGuiApplication::screens())
            onScreen =
                onScreen || (kept.isValid() && s->availableGeometry().contains(kept.center()));
        if (onScreen) {
            results_->setGeometry(kept);
        } else {
            const QRect place = ResultsPlace();
            results_->resize(place.size());
            results_->move(place.topLeft());
        }
    }
    // The main window keeps the keyboard (its shortcuts need it active).
    const bool active = isActiveWindow();
    results_->show();
    if (active) activateWindow();
}

void MainWindow::AddResult(const device::DeviceOutcome& outcome) {
    device::DeviceOutcome shown = outcome;
    shown.Model = ui::ShownModel(outcome, form_.CurrentTemplate().Model);
    results_->AddOutcome(
        shown, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!results_->isVisible() && shown_) ShowResultsWindow();
}

// ---- Form to widgets ----------------------------------------------------------------------

void MainWindow::OnStateChanged(std::string_view name) {
    setWindowTitle(TitleText());
    if (name == "Caption") return;
    if (const ui::Control* control = form_.FindControl(name)) {
        SyncControl(*control);
        return;
    }
    if (const ui::Action* action = form_.FindAction(name)) SyncAction(*action);
}

void MainWindow::SyncControl(const ui::Control& control) {
    QWidget* widget = ControlWidget(control.Name);
    if (widget == nullptr) return;
    const QSignalBlocker blocker(widget);
    switch (control.Kind) {
    case ui::ControlKind::Group:
        if (control.Parent == form_.Pages().Name) {
            auto* tabs = static_cast<QTabWidget*>(ControlWidget(form_.Pages().Name));
            const QSignalBlocker tabsBlocker(tabs);
            const int page = tabs->indexOf(widget);
            tabs->setTabText(page, FromLatin1(control.Caption));
            tabs->setTabEnabled(page, control.Enabled);
            tabs->setTabVisible(page, control.Visible);
            return;
        }
        static_cast<QGroupBox*>(widget)->setTitle(FromLatin1(control.Caption));
        break;
    case ui::ControlKind::Label:
        static_cast<QLabel*>(widget)->setText(FromLatin1(control.Caption));
        break;
    case ui::ControlKind::Text: {
        auto* edit = static_cast<QLineEdit*>(widget);
        const QString text = FromLatin1(static_cast<const ui::TextField&>(control).Text);
        // Leaves the cursor where the user is typing when nothing changed.
        if (edit->text() != text) edit->setText(text);
        break;
    }
    case ui::ControlKind::Check:
    case ui::ControlKind::Radio: {
        auto* button = static_cast<QAbstractButton*>(widget);
        button->setText(FromLatin1(control.Caption));
        button->setChecked(static_cast<const ui::CheckControl&>(control).Checked);
        break;
    }
    case ui::ControlKind::List: {
        auto* list = static_cast<QComboBox*>(widget);
        const auto& state = static_cast<const ui::ListControl&>(control);
        bool same = list->count() == static_cast<int>(state.Items.size());
        for (int i = 0; same && i < list->count(); ++i)
            same = list->itemText(i) == FromLatin1(state.Items[static_cast<std::size_t>(i)]);
        if (!same) {
            list->clear();
            for (const std::string& item : state.Items)
                list->addItem(FromLatin1(item));
        }
        // With no entry chosen the list still shows its own text.
        static_cast<ListBox*>(list)->SetShownText(state.ItemIndex < 0 ? FromLatin1(state.Text)
                                                                      : QString());
        list->setCurrentIndex(state.ItemIndex);
        break;
    }
    case ui::ControlKind::Tabs:
        static_cast<QTabWidget*>(widget)->setCurrentIndex(form_.Pages().ActivePage);
        break;
    case ui::ControlKind::Messages:
        SyncMessages();
        break;
    }
    widget->setEnabled(control.Enabled);
    widget->setHidden(!control.Visible);
}

void MainWindow::SyncMessages() {
    const auto& lines = form_.Messages().Lines;
    const QSignalBlocker blocker(memo_);
    if (lines.size() == shownLines_ + 1 && shownLines_ + 1 > 0) {
        memo_->appendPlainText(FromLatin1(lines.back()));
    } else {
        memo_->clear();
        for (const std::string& line : lines)
            memo_->appendPlainText(FromLatin1(line));
    }
    shownLines_ = lines.size();
    // Follow the newest line.
    memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
    // A device operation blocks the window; let each line show as it comes.
    if (running_ > 0 && isVisible()) host_.ProcessPendingEvents();
}

void MainWindow::SyncAction(const ui::Action& action) {
    QAction* qa = ActionOf(action.Name);
    if (qa == nullptr) return;
    qa->setEnabled(action.Enabled && !busy_);
    if (running_ > 0 && isVisible()) toolBar_->repaint();
}

void MainWindow::SyncAll() {
    setWindowTitle(TitleText());
    for (const ui::Control* control : form_.Controls())
        SyncControl(*control);
    for (const ui::Action* action : form_.Actions())
        SyncAction(*action);
}

void MainWindow::ShowDeviceProgress(int position, int count) {
    if (count <= 0) {
        progressLabel_->hide();
        progressBar_->hide();
        return;
    }
    QString text = QStringLiteral("Device %1 of %2");
    if (busy_ && stopRequested_) {
        // The stop stays said until the run ends.
        lastPosition_ = position;
        progressBar_->setValue(position);
        return;
    }
    if (busy_) {
        // Every operation first surveys the devices, then takes them one by one: the count
        // starting over is the second phase.
        if (position <= lastPosition_) phase_ = 1;
        lastPosition_ = position;
        text = (phase_ == 0 ? QStringLiteral("Scanning") : phaseVerb_) + " device %1 of %2";
    }
    progressLabel_->setText(text.arg(position).arg(count));
    progressBar_->setRange(0, count);
    progressBar_->setValue(position);
    progressLabel_->show();
    progressBar_->show();
    if (running_ > 0 && isVisible()) host_.ProcessPendingEvents();
}

// ---- Window events ------------------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // In a text field the editing keys edit the text (cut, copy, paste, select all, undo);
    // in the message list they copy and select as in any read-only text.
    const bool textField = qobject_cast<QLineEdit*>(watched) != nullptr || watched == memo_;
    if (textField && event->type() == QEvent::ShortcutOverride && watched == memo_ &&
        IsEditingKey(*static_cast<QKeyEvent*>(event))) {
        event->accept(); // the key goes to the list, not to the window's command
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == memo_ &&
        IsEditingKey(*static_cast<QKeyEvent*>(event))) {
        // Read-only: copy and select all; cut, paste and undo change nothing, and the key
        // does not go on to the window as a command.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) memo_->copy();
        if (key->matches(QKeySequence::SelectAll)) memo_->selectAll();
        return true;
    }
    if (event->type() == QEvent::KeyPress && textField &&
        IsEditingKey(*static_cast<QKeyEvent*>(event)))
        return QMainWindow::eventFilter(watched, event);
    // A text field claims Ctrl+C, Ctrl+V, Ctrl+X, Ctrl+A and others for itself, so the
    // window's shortcut does not fire and the key reaches the field: run the action here.
    if (event->type() == QEvent::KeyPress) {
        if (QAction* action = WindowShortcut(*static_cast<QKeyEvent*>(event), actions_)) {
            if (action->isEnabled()) action->trigger();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A run ends by itself or by Stop, never by closing the window under it.
    if (busy_) {
        event->ignore();
        statusBar()->showMessage(QStringLiteral("The window closes when the device operation "
                                                "has ended: press Stop (Esc) to end it sooner."));
        return;
    }
    if (form_.HasUnsavedChanges()) {
        switch (host_.AskSaveChanges()) {
        case CloseAnswer::Cancel:
            event->ignore();
            return;
        case CloseAnswer::Save:
            Guarded([&] {
                if (form_.TemplateFileName().empty())
                    form_.BWSaveAsExecute();
                else
                    form_.BWSaveExecute();
            });
            // Refused by the checks, cancelled or not written: the window stays.
            if (form_.HasUnsavedChanges()) {
                event->ignore();
                return;
            }
            break;
        case CloseAnswer::Discard:
            break;
        }
    }
    // Whatever closes the window: a device left open is closed first.
    Guarded([&] { form_.FormClose(); });
    KeepWindowPlaces();
    results_->close();
    if (QWidget* help = host_.OwnHelpWindow()) help->close();
    event->accept();
}

} // namespace burnwise::view
