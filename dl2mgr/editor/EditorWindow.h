#pragma once

#include "common/qt/BusyInputGuard.h"
#include "dl2mgr/editor/EditorUi.h"
#include "dl2mgr/editor/KeyerEditor.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <memory>

class QAction;
class QTextBrowser;
class QMenu;
class QTimer;
class QWidget;

namespace dl2mgr::editor {

// The main window's size for a screen of `dpi` dots per inch: 556 by 455 at 96.
QSize MainWindowSize(int dpi);

// Dialog units to pixels for a dialog font: x in quarters of its average character
// width, y in eighths of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect Rect(int x, int y, int width, int height) const;
    int X(int units) const;
    int Y(int units) const;

private:
    int baseX_ = 1, baseY_ = 1;
};

// The dialogs' font: a Helvetica-like sans at 8 points.
QFont DialogFont();

// The main window: the menu, the editor dialog filling the client area, and the timer.
// It shows what the KeyerEditor holds and hands every user input to it.
class EditorWindow : public QMainWindow, public EditorUi {
    Q_OBJECT
public:
    EditorWindow(link::SerialPort& port, link::Sleeper& sleeper, EditorPaths paths,
                 QWidget* parent = nullptr);
    ~EditorWindow() override;

    KeyerEditor& Editor() { return *editor_; }
    // Loads the config file and fills the lists; call once the window exists.
    void StartUp();

    // The widget of a dialog control, by its id.
    QWidget* ControlWidget(int controlId) const { return widgets_.value(controlId); }
    QAction* MenuAction(int commandId) const { return actions_.value(commandId); }
    // The Comm menu's items for the system's serial ports, as last listed.
    const QList<QAction*>& SystemPortActions() const { return systemPortActions_; }

    // EditorUi
    void ShowBox(const MessageBox& box) override;
    Answer Ask(const Question& question) override;
    std::optional<std::string> ChooseOpenFile() override;
    std::optional<std::string> ChooseSaveFile() override;
    void LetWindowRepaint() override;
    bool OpenHelp(const std::string& path) override;
    void ShowAbout() override;
    void Quit(int exitCode) override;

    // True while a keyer command holds the window.
    bool Busy() const { return busy_; }
    // The help in a window of our own, for a desktop without a browser.
    void ShowHelpWindow(const QString& file);
    QTextBrowser* HelpWindow() const { return help_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    // While a keyer command runs the window repaints but takes no input: clicks and keys
    // made meanwhile are thrown away, not kept for later.
    void BeginBusy();
    void EndBusy();
    QList<QObject*> CommandsBlockedWhileBusy() const;
    void BuildDialog();
    void Mirror(int controlId);
    void RefreshCommChecks();
    void ListSystemPorts();
    void RunCommand(int commandId);
    // The last folder of the file dialogs and the window's place, kept for the next start.
    void SaveWindowSettings();

    QString windowSettings_;
    QString lastFolder_;
    QList<QPointer<QWidget>> greyed_;
    QTextBrowser* help_ = nullptr;
    std::unique_ptr<KeyerEditor> editor_;
    QWidget* dialog_ = nullptr;
    QTimer* timer_ = nullptr;
    QMap<int, QWidget*> widgets_;
    QMap<int, QAction*> actions_;
    QMap<int, QRect> labelPlaces_;
    QRect dialogPlace_; // the panel at its dialog-unit place, before it was fitted // labels that
                        // grow with their text, at their own size
    QMenu* comm_ = nullptr;
    QAction* systemPortsEnd_ = nullptr;
    QList<QAction*> systemPortActions_;
    bool busy_ = false;
    common::qt::BusyInputGuard inputGuard_;
};

} // namespace dl2mgr::editor
