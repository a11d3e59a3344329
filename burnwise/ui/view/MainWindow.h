#pragma once

#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/ProductionRunner.h"
#include "burnwise/ui/view/WindowHost.h"
#include "common/qt/BusyInputGuard.h"

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QToolButton;

namespace burnwise::view {

class ResultsWindow;

// Burnwise's main window: one widget per control of the form, named after it, and the
// menus and toolbar over the form's actions. User input goes to the form through
// signals only the user raises (textEdited, clicked, activated); every change the form
// announces is copied back into its widget with the widget's signals blocked. No rule
// lives here.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The client area below the menu bar, as the form's bounds expect it.
    static constexpr int ClientWidth = 650;
    static constexpr int ClientHeight = 494;
    static constexpr int ToolBarHeight = 31;
    // File > Recent Templates holds this many.
    static constexpr int MaxRecentTemplates = 8;

    // `simulatedBench` is the bench file when the driver library is the simulator.
    MainWindow(ui::TMainForm& form, WindowHost& host,
               std::optional<std::string> simulatedBench = std::nullopt, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The first showing: centred on the screen, the form's start state, then shown.
    void ShowFirstTime();

    // The widget of a control, or the action of a command, by the form's name.
    QWidget* ControlWidget(std::string_view name) const;
    QAction* ActionOf(std::string_view name) const;

    // While a device operation runs the window is busy: every action and field disabled,
    // the busy cursor, input thrown away; only Stop (its button and Esc) works.
    bool IsBusy() const { return busy_; }
    QAction* StopAction() const { return stopAction_; }
    // The session's results, one row per device per operation.
    ResultsWindow* Results() const { return results_; }
    // Makes the runner of each production line window; without one the window cannot start.
    std::function<std::unique_ptr<ui::ProductionRunner>()> MakeProductionRunner;
    // The file the window keeps its settings in (Program All Devices At Once), read at once;
    // burnwise.conf in the program's configuration folder until this is called.
    void KeepSettingsIn(const QString& file);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls(QWidget* panel);
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void AddActions(QWidget& place, std::initializer_list<const char*> names);
    QAction* MakeProductionAction();
    QAction* MakeStopAction();
    void BuildStatusBar(const std::optional<std::string>& simulatedBench);
    void ConnectInput(const ui::Control& control, QWidget* widget);

    void OnStateChanged(std::string_view name);
    void SyncControl(const ui::Control& control);
    void SyncAction(const ui::Action& action);
    void SyncMessages();
    void SyncAll();
    void ShowDeviceProgress(int position, int count);

    // Runs a piece of user input; an error raised inside it ends it in one error box.
    void Guarded(const std::function<void()>& work);
    // Runs an action as the user's command: a device operation in busy mode.
    void RunAction(const std::string& name);
    void EnterBusy(const std::string& operation);
    void LeaveBusy();
    // Whether the busy window swallows this input: all of it but a box the run raised and
    // Stop; Esc asks to stop.
    bool DiscardsInput(QObject* watched, QEvent* event);
    void RequestStop();
    void AddResult(const device::DeviceOutcome& outcome);
    void ShowResultsWindow();
    QRect ResultsPlace();
    // The main window as large as the screen it is on allows: the fixed layout scrolls where
    // the screen is smaller.
    void FitScreen();
    void LoadSettings();
    void SaveSettings();
    void KeepWindowPlaces();
    QStringList RecentTemplates() const;
    void NoteRecentTemplate();
    void ShowRecentTemplates();
    QString TitleText() const;

    ui::TMainForm& form_;
    WindowHost& host_;
    std::unordered_map<std::string, QWidget*> widgets_;
    std::unordered_map<std::string, QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    QPlainTextEdit* memo_ = nullptr;
    std::size_t shownLines_ = 0;
    QLabel* benchLabel_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    int running_ = 0; // depth of user input being handled
    bool shown_ = false;
    QWidget* panel_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* productionAction_ = nullptr; // off while a run is busy, as every command
    QToolButton* stopButton_ = nullptr;
    ResultsWindow* results_ = nullptr;
    bool busy_ = false;
    common::qt::BusyInputGuard inputGuard_{
        [this](QObject* watched, QEvent* event) { return DiscardsInput(watched, event); }};
    bool stopRequested_ = false;
    QString phaseVerb_;    // "Programming": what the operation does with each device
    int phase_ = 0;        // 0 while the operation's scan runs, then 1
    int lastPosition_ = 0; // the device position last shown
    QPointer<QWidget> focusBeforeBusy_;
    QString settingsFile_;
    QAction* allAtOnce_ = nullptr;    // Device > Program All Devices At Once
    QMenu* recentMenu_ = nullptr;     // File > Recent Templates
    bool resultsPlaced_ = false;      // the results window has had its place this session
    QRect resultsGeometry_;           // where the user left it last time, if anywhere
    std::optional<QPoint> mainPlace_; // where the user left the main window last time
};

} // namespace burnwise::view
