// The window's binding to the form: widgets by name at their places, user input reaching
// the form, the form's changes reaching the widgets, the shortcuts, boxes and status bar.
// The rules themselves are tested on the form.

#include "ProjectVersion.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/AboutBox.h"
#include "burnwise/ui/view/HelpWindow.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/ResultsWindow.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace burnwise;
using view::MainWindow;

// The real window services except those that would block on a modal loop: dialogs
// answer with set files, boxes and the desktop handler are recorded.
class RecordingHost : public view::WindowHost {
public:
    std::vector<std::string> Calls;
    std::optional<fs::path> SaveAnswer;
    bool SaveThrows = false;
    bool HaveBrowser = true;
    view::CloseAnswer CloseAnswer = view::CloseAnswer::Cancel;

    std::optional<fs::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        Calls.push_back("open");
        return std::nullopt;
    }
    std::optional<fs::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        Calls.push_back("save");
        if (SaveThrows) throw std::runtime_error("disk on fire");
        return SaveAnswer;
    }
    void ShowErrorBox(std::string_view text) override {
        Calls.push_back("error: " + std::string(text));
    }
    void ShowInformationBox(std::string_view text) override {
        Calls.push_back("info: " + std::string(text));
    }
    void ShowExceptionBox(std::string_view text) override {
        Calls.push_back("exception: " + std::string(text));
    }
    void ShowAboutBox() override { Calls.push_back("about"); }
    bool OpenWithDesktop(const fs::path& file) override {
        Calls.push_back("desktop " + file.filename().string());
        return HaveBrowser;
    }
    view::CloseAnswer AskSaveChanges() override {
        Calls.push_back("save changes?");
        return CloseAnswer;
    }
};

class TempFolder {
public:
    TempFolder() {
        Path = fs::temp_directory_path() /
               ("burnwise-view-test-" + std::to_string(std::random_device()()));
        fs::create_directories(Path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    fs::path Path;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Window.ShowFirstTime();
        Window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
    }

    template <typename T = QWidget>
    T* Find(const char* name) {
        T* found = Window.findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) throw std::runtime_error(std::string("no widget ") + name);
        return found;
    }

    // New, then a model chosen from the list as the user does.
    void NewWithModel(const char* model) {
        QTest::keyClick(&Window, Qt::Key_N, Qt::ControlModifier);
        auto* list = Find<QComboBox>("CB1");
        const int index = list->findText(model);
        ASSERT_GE(index, 0) << model;
        emit list->activated(index); // what a click on the entry raises
    }

    TempFolder Folder;
    RecordingHost Host;
    ui::TMainForm Form{Host, {Folder.Path / "Templates", Folder.Path / "Help" / "Burnwise.html"}};
    MainWindow Window{Form, Host, std::string("/tmp/bench.txt")};
};

const char* ClassFor(ui::ControlKind kind) {
    switch (kind) {
    case ui::ControlKind::Group:
        return "QGroupBox";
    case ui::ControlKind::Label:
        return "QLabel";
    case ui::ControlKind::Text:
        return "QLineEdit";
    case ui::ControlKind::Check:
        return "QCheckBox";
    case ui::ControlKind::Radio:
        return "QRadioButton";
    case ui::ControlKind::List:
        return "QComboBox";
    case ui::ControlKind::Tabs:
        return "QTabWidget";
    case ui::ControlKind::Messages:
        return "QPlainTextEdit";
    }
    return "";
}

QString CaptionOf(QWidget* widget) {
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    return {};
}

TEST_F(ViewTest, EveryControlHasItsWidgetInItsGroupAtItsBounds) {
    auto* tabs = Find<QTabWidget>("PageControl1");
    for (const ui::Control* control : Form.Controls()) {
        SCOPED_TRACE(control->Name);
        QWidget* widget = Window.ControlWidget(control->Name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName().toStdString(), control->Name);
        const bool tabSheet = control->Parent == "PageControl1";
        if (tabSheet) {
            EXPECT_GE(tabs->indexOf(widget), 0);
            EXPECT_EQ(tabs->tabText(tabs->indexOf(widget)).toStdString(), control->Caption);
            continue;
        }
        EXPECT_TRUE(widget->inherits(ClassFor(control->Kind))) << widget->metaObject()->className();
        if (!control->Caption.empty()) {
            EXPECT_EQ(CaptionOf(widget).toLatin1().toStdString(), control->Caption);
        }
        const std::string parent = control->Parent.empty() ? "Panel" : control->Parent;
        EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), parent);
        if (control->Place.Width > 0) {
            EXPECT_EQ(widget->geometry(), QRect(control->Place.Left, control->Place.Top,
                                                control->Place.Width, control->Place.Height));
        }
        // Inside its parent, and not overlapping a sibling that is a control of the form
        // (the controls that are never shown aside).
        const auto neverShown = [](const ui::Control* c) {
            return c->Name == "CB15" || c->Name == "CBX6" || c->Name == "Label17";
        };
        if (neverShown(control)) continue;
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry()))
            << "outside its group";
        for (const ui::Control* other : Form.Controls()) {
            if (other == control || other->Parent != control->Parent || neverShown(other)) continue;
            QWidget* otherWidget = Window.ControlWidget(other->Name);
            EXPECT_FALSE(widget->geometry().intersects(otherWidget->geometry()))
                << "overlaps " << other->Name;
        }
    }
    // The window: client area below the menu bar, toolbar and panel, status bar below it.
    auto* toolBar = Find<QToolBar>("ToolBar2");
    auto* panel = Find("Panel");
    const int menuHeight = Window.menuBar()->height();
    EXPECT_EQ(toolBar->geometry(), QRect(0, menuHeight, 650, 31));
    EXPECT_EQ(panel->geometry(), QRect(0, menuHeight + 31, 650, 463));
    EXPECT_EQ(Window.statusBar()->geometry().top(), menuHeight + 494);
    EXPECT_EQ(Window.minimumSize(), Window.maximumSize()); // not resizable
    for (QAction* action : toolBar->actions())
        if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(action))) {
            EXPECT_EQ(button->size(), QSize(30, 25)) << action->objectName().toStdString();
        }
    auto* memo = Find<QPlainTextEdit>("Memo1");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Find<QLineEdit>("Edit10")->contextMenuPolicy(), Qt::DefaultContextMenu);
    EXPECT_EQ(QFontInfo(Find("Edit1")->font()).pixelSize(), 11);
}

TEST_F(ViewTest, ModelRulesShowAndHideTheOptionGroups) {
    const struct {
        const char* Model;
        bool Kr3, Kr4, Inverts, CpuFifo;
        int Page;
    } rows[] = {
        {"KR2S", false, false, false, false, 0}, {"KR3D", true, false, false, false, 0},
        {"KR3E", true, false, false, true, 0},   {"KR4S", false, true, true, false, 1},
        {"KR4F", false, true, false, false, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Model);
        NewWithModel(row.Model);
        EXPECT_EQ(Find("GB10")->isVisibleTo(&Window), row.Kr3);
        EXPECT_EQ(Find("RB5")->isVisibleTo(&Window), row.CpuFifo);
        EXPECT_EQ(Find("GB11")->isVisibleTo(&Window), row.Kr4);
        EXPECT_EQ(Find("GB12")->isVisibleTo(&Window), row.Inverts);
        EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), row.Page);
        for (const char* never : {"CB15", "CBX6", "Label17"})
            EXPECT_FALSE(Find(never)->isVisibleTo(&Window)) << never;
        EXPECT_EQ(Window.windowTitle().toStdString(), ui::EditModeCaption);
    }
    EXPECT_EQ(Find<QTabWidget>("PageControl1")->tabText(1), "KR4F");
    // The pin lists show their texts with no entry chosen; a choice reaches the form.
    auto* pin = Find<QComboBox>("CBX2");
    EXPECT_EQ(pin->currentIndex(), -1);
    NewWithModel("KR4S");
    emit pin->activated(3);
    EXPECT_EQ(Form.List("CBX2").ItemIndex, 3);
    EXPECT_EQ(pin->currentText().toStdString(), Form.List("CBX2").Items[3]);
}

TEST_F(ViewTest, TypingRunsTheFieldRulesAndTheirBoxes) {
    const struct {
        const char* Field;
        const char* Typed;
        const char* Shown;
        const char* Box;
    } rows[] = {
        {"Edit1", "0000", "3C5A", "info: All zeros is an invalid VID"},
        {"Edit9", "5000", "500", "info: Max current exceeded - setting to 500mA"},
        // Only digits are taken: a sign or a letter is dropped without a box, and the
        // keys after it still arrive.
        {"Edit9", "-5", "5", nullptr},
        {"Edit9", "25", "25", nullptr},
        {"Edit9", "1x2", "12", nullptr},
        // Identifiers take hexadecimal digits only, at most four.
        {"Edit1", "12g4Z56", "1245", nullptr},
        {"Edit2", "beef1", "beef", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Field) + " " + row.Typed);
        NewWithModel("KR2S");
        emit Find<QComboBox>("CB2")->activated(2); // Own VID & PID: the vendor ID is editable
        auto* edit = Find<QLineEdit>(row.Field);
        edit->clear();
        Host.Calls.clear();
        QTest::keyClicks(edit, row.Typed);
        EXPECT_EQ(edit->text().toStdString(), row.Shown);
        EXPECT_EQ(static_cast<const ui::TextField*>(Form.FindControl(row.Field))->Text, row.Shown);
        const std::vector<std::string> expected =
            row.Box ? std::vector<std::string>{row.Box} : std::vector<std::string>{};
        EXPECT_EQ(Host.Calls, expected);
    }
    // A locked field takes nothing.
    NewWithModel("KR2S");
    auto* vendor = Find<QLineEdit>("Edit1");
    EXPECT_FALSE(vendor->isEnabled());
    QTest::keyClicks(vendor, "12");
    EXPECT_EQ(Form.Text("Edit1").Text, "3C5A");
}

TEST_F(ViewTest, ClicksReachTheFormAndRadioGroupsStayExclusive) {
    NewWithModel("KR2S");
    auto* self = Find<QRadioButton>("RB2");
    self->click();
    EXPECT_TRUE(Form.Check("RB2").Checked);
    EXPECT_FALSE(Find<QRadioButton>("RB1")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("Edit9")->text(), "0");
    self->click(); // a checked radio button stays checked
    EXPECT_TRUE(self->isChecked());
    Find<QCheckBox>("CheckBox5")->click();
    EXPECT_TRUE(Find("Edit6")->isEnabled());
    EXPECT_FALSE(Find("Edit5")->isEnabled());
}

TEST_F(ViewTest, TextFieldsKeepTheirEditingKeysAndShortcutsWorkElsewhere) {
    NewWithModel("KR2S");
    auto* field = Find<QLineEdit>("Edit10");
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 1000));
    std::vector<QSignalSpy*> spies;
    for (const char* name : {"BWExit", "BWScan", "BWSaveAs", "BWAbout"})
        spies.push_back(new QSignalSpy(Window.ActionOf(name), &QAction::triggered));
    const auto key = [&](Qt::Key k) { QTest::keyClick(field, k, Qt::ControlModifier); };
    key(Qt::Key_A); // select all
    key(Qt::Key_C); // copy
    EXPECT_EQ(QApplication::clipboard()->text(), "Velquor");
    key(Qt::Key_X); // cut: the form sees the empty field
    EXPECT_EQ(Form.Text("Edit10").Text, "");
    key(Qt::Key_V);
    key(Qt::Key_V);
    EXPECT_EQ(Form.Text("Edit10").Text, "VelquorVelquor");
    key(Qt::Key_Z); // undo the last paste
    EXPECT_EQ(Form.Text("Edit10").Text, "Velquor");
    for (QSignalSpy* spy : spies) {
        EXPECT_EQ(spy->count(), 0);
        delete spy;
    }
    EXPECT_TRUE(Window.isVisible());
    // Characters the device's strings cannot hold are refused with a box.
    QApplication::clipboard()->setText(QString::fromUtf8("\u03a9hm"));
    Host.Calls.clear();
    key(Qt::Key_V);
    EXPECT_EQ(Form.Text("Edit10").Text, "Velquor");
    EXPECT_EQ(field->text(), "Velquor");
    ASSERT_EQ(Host.Calls.size(), 1u);
    EXPECT_NE(Host.Calls[0].find("Latin-1"), std::string::npos);

    // The other shortcuts work from the field, the editing ones from elsewhere.
    const struct {
        Qt::Key Key;
        const char* Action;
        bool InField;
    } rows[] = {{Qt::Key_H, "BWHelp", true},
                {Qt::Key_N, "BWNew", true},
                {Qt::Key_C, "BWScan", false},
                {Qt::Key_V, "BWSaveAs", false},
                {Qt::Key_A, "BWAbout", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Action);
        NewWithModel("KR2S");
        QWidget* target = row.InField ? static_cast<QWidget*>(field) : Find("CheckBox3");
        target->setFocus();
        QSignalSpy spy(Window.ActionOf(row.Action), &QAction::triggered);
        QTest::keyClick(target, row.Key, Qt::ControlModifier);
        EXPECT_EQ(spy.count(), 1);
    }
    EXPECT_NE(std::find(Host.Calls.begin(), Host.Calls.end(), "save"), Host.Calls.end());
    EXPECT_NE(std::find(Host.Calls.begin(), Host.Calls.end(), "about"), Host.Calls.end());
    // A disabled action does not run from its key either.
    Window.ActionOf("BWEdit")->setEnabled(false);
    QSignalSpy edit(Window.ActionOf("BWEdit"), &QAction::triggered);
    QTest::keyClick(field, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(edit.count(), 0);
}

TEST_F(ViewTest, TheKeyboardStaysWhereTheUserIsAndTheMessageListCopies) {
    // Choosing the device type with the arrow keys: the field rules disable and enable
    // the list on the way, and the focus stays on it for the next key.
    QTest::keyClick(&Window, Qt::Key_N, Qt::ControlModifier);
    auto* list = Find<QComboBox>("CB1");
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 1000));
    for (const char* model : {"KR1S", "KR1F", "KR2S"}) {
        QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(Form.List("CB1").Text, model);
        EXPECT_TRUE(list->hasFocus())
            << model << ": focus on " << QApplication::focusWidget()->objectName().toStdString();
    }

    // In the message list Ctrl+A selects, Ctrl+C copies and Ctrl+X does nothing: no scan,
    // no About box, no quitting.
    Form.ClearLines();
    Form.AppendLine("Number Of Blank Devices = 2");
    auto* memo = Find<QPlainTextEdit>("Memo1");
    memo->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo->hasFocus(); }, 1000));
    std::vector<std::pair<std::string, std::unique_ptr<QSignalSpy>>> spies;
    for (const char* name : {"BWExit", "BWScan", "BWAbout"})
        spies.emplace_back(
            name, std::make_unique<QSignalSpy>(Window.ActionOf(name), &QAction::triggered));
    QApplication::clipboard()->clear();
    for (Qt::Key key : {Qt::Key_A, Qt::Key_C, Qt::Key_X})
        QTest::keyClick(memo, key, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Number Of Blank Devices = 2");
    for (const auto& [name, spy] : spies)
        EXPECT_EQ(spy->count(), 0) << name;
    EXPECT_TRUE(Window.isVisible());
    // The window's other keys still work from the list.
    QSignalSpy help(Window.ActionOf("BWHelp"), &QAction::triggered);
    QTest::keyClick(memo, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(help.count(), 1);

    // Every menu and item has its access letter; Cycle Device is in a menu; a toolbar
    // button's tooltip names its key.
    bool cycleInMenu = false;
    for (QAction* menu : Window.menuBar()->actions()) {
        EXPECT_TRUE(menu->text().contains('&')) << menu->text().toStdString();
        for (QAction* item : menu->menu()->actions()) {
            if (item->isSeparator()) continue;
            EXPECT_TRUE(item->text().contains('&')) << item->text().toStdString();
            cycleInMenu = cycleInMenu || item == Window.ActionOf("ToolButton11");
        }
    }
    EXPECT_TRUE(cycleInMenu);
    for (QAction* action : Find<QToolBar>("ToolBar2")->actions())
        if (!action->shortcut().isEmpty()) {
            EXPECT_TRUE(action->toolTip().endsWith(
                " (" + action->shortcut().toString(QKeySequence::NativeText) + ")"))
                << action->toolTip().toStdString();
        }
}

TEST_F(ViewTest, TheGuidesKeyTableListsEveryCommandWithItsKey) {
    std::ifstream in(fs::path(BW_SOURCE_DIR) / "burnwise" / "help" / "Burnwise.html");
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t from = html.find("<table id=\"keytable\">");
    ASSERT_NE(from, std::string::npos);
    const QString table =
        QString::fromStdString(html.substr(from, html.find("</table>", from) - from));
    // Command, key ("" for none) and whether it is on the toolbar, as the guide says.
    std::map<std::string, std::pair<std::string, bool>> guide;
    const QRegularExpression row(
        QStringLiteral("<td>([^<]*)</td><td>([^<]*)</td><td>(yes|no)</td></tr>"));
    for (auto match = row.globalMatch(table); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        const QString key = m.captured(2) == QStringLiteral("&ndash;") ? QString() : m.captured(2);
        guide[m.captured(1).toStdString()] = {key.toStdString(), m.captured(3) == "yes"};
    }
    // The window: every menu item, and Stop, which only the toolbar has.
    std::map<std::string, std::pair<std::string, bool>> window;
    const QToolBar* toolBar = Find<QToolBar>("ToolBar2");
    const auto add = [&](QAction* action) {
        window[QString(action->text()).remove('&').toStdString()] = {
            action->shortcut().toString(QKeySequence::NativeText).toStdString(),
            toolBar->actions().contains(action)};
    };
    for (QAction* menu : Window.menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            if (!item->isSeparator()) add(item);
    add(Window.StopAction());
    EXPECT_EQ(guide, window);
}

TEST_F(ViewTest, ClosingWithUnsavedChangesAsksSaveDiscardOrCancel) {
    NewWithModel("KR2S");
    Find("CheckBox3")->setFocus();
    // Ctrl+X outside a field is Exit; Cancel keeps the window and the edits.
    Host.Calls.clear();
    QTest::keyClick(Find("CheckBox3"), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Host.Calls, std::vector<std::string>{"save changes?"});
    EXPECT_TRUE(Window.isVisible());
    EXPECT_EQ(Form.List("CB1").Text, "KR2S");
    // Save: Save As runs (no file name yet); a cancelled dialog keeps the window open.
    Host.CloseAnswer = view::CloseAnswer::Save;
    Host.Calls.clear();
    Window.close();
    EXPECT_EQ(Host.Calls, (std::vector<std::string>{"save changes?", "save"}));
    EXPECT_TRUE(Window.isVisible());
    Host.SaveAnswer = Folder.Path / "kept.ept";
    Window.close();
    EXPECT_TRUE(fs::exists(Folder.Path / "kept.ept"));
    EXPECT_FALSE(Window.isVisible());
    // Nothing changed since the save: no question. A change then discarded closes.
    Window.show();
    Host.Calls.clear();
    Window.close();
    EXPECT_TRUE(Host.Calls.empty());
    Window.show();
    Window.ActionOf("BWEdit")->trigger();
    Find<QCheckBox>("CheckBox1")->click();
    Host.CloseAnswer = view::CloseAnswer::Discard;
    Window.close();
    EXPECT_EQ(Host.Calls, std::vector<std::string>{"save changes?"});
    EXPECT_FALSE(Window.isVisible());
}

TEST_F(ViewTest, SaveAsFromTheMenuEntersProgramModeAndLocksTheWidgets) {
    NewWithModel("KR2S");
    Host.SaveAnswer = Folder.Path / "cable.ept";
    Window.ActionOf("BWSaveAs")->trigger();
    EXPECT_TRUE(fs::exists(Folder.Path / "cable.ept"));
    // The title names the template, with "*" while it has changes not saved.
    EXPECT_EQ(Window.windowTitle().toStdString(),
              std::string("cable.ept - ") + std::string(ui::ProgramModeCaption));
    EXPECT_FALSE(Find("GB1")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("Edit10")->isEnabled());
    EXPECT_TRUE(Window.ActionOf("BWProgram")->isEnabled());
    EXPECT_TRUE(Window.ActionOf("BWErase")->isEnabled());
    EXPECT_FALSE(Window.ActionOf("BWSaveAs")->isEnabled());
    Window.ActionOf("BWEdit")->trigger();
    EXPECT_TRUE(Find<QLineEdit>("Edit10")->isEnabled());
    Find<QCheckBox>("CheckBox1")->click();
    EXPECT_EQ(Window.windowTitle().toStdString(),
              std::string("cable.ept* - ") + std::string(ui::EditModeCaption));
    // File > Recent Templates lists it.
    auto* recent = Window.findChild<QMenu*>("RecentTemplates");
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    ASSERT_FALSE(recent->actions().isEmpty());
    EXPECT_EQ(recent->actions()[0]->text(), "&1 cable.ept");
    EXPECT_TRUE(recent->actions()[0]->isEnabled());
}

TEST_F(ViewTest, AnErrorInsideAHandlerEndsItInOneBoxAndTheWindowGoesOn) {
    NewWithModel("KR2S");
    Host.SaveThrows = true;
    Host.Calls.clear();
    Window.ActionOf("BWSaveAs")->trigger();
    EXPECT_EQ(Host.Calls, (std::vector<std::string>{"save", "exception: disk on fire"}));
    EXPECT_EQ(Window.windowTitle().toStdString(), ui::EditModeCaption);
    Host.SaveThrows = false;
    Host.SaveAnswer = Folder.Path / "after.ept";
    Window.ActionOf("BWSaveAs")->trigger();
    EXPECT_TRUE(Window.windowTitle().toStdString().ends_with(ui::ProgramModeCaption));
}

TEST_F(ViewTest, MessageListFollowsTheNewestLineAndEmpties) {
    auto* memo = Find<QPlainTextEdit>("Memo1");
    for (int i = 0; i < 40; ++i)
        Form.AppendLine("line " + std::to_string(i));
    EXPECT_EQ(memo->blockCount(), 40);
    EXPECT_EQ(memo->document()->lastBlock().text(), "line 39");
    QScrollBar* bar = memo->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    Form.AppendLine(std::string("caf\xe9", 4)); // 8-bit text
    EXPECT_EQ(memo->document()->lastBlock().text(), QString::fromLatin1("caf\xe9"));
    Form.ClearLines();
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    Form.AppendLine("again");
    EXPECT_EQ(memo->toPlainText(), "again");
}

TEST_F(ViewTest, StatusBarNamesTheBenchAndFollowsDeviceProgress) {
    auto* bench = Find<QLabel>("BenchLabel");
    EXPECT_EQ(bench->text(), "Simulated devices");
    EXPECT_EQ(bench->toolTip(), "/tmp/bench.txt");
    auto* progress = Find<QProgressBar>("ProgressBar");
    auto* label = Find<QLabel>("ProgressLabel");
    EXPECT_FALSE(progress->isVisible());
    Form.DeviceProgress(2, 5);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(label->text(), "Device 2 of 5");
    EXPECT_EQ(progress->value(), 2);
    EXPECT_EQ(progress->maximum(), 5);
    Form.DeviceProgress(0, 0);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(label->isVisible());
}

// The whole workflow with keys and clicks on a bench of two KR2S chips.
class FlowTest : public ViewTest {
protected:
    void SetUp() override {
        Bench.AddDevice("KR2S", "93C56");
        Bench.AddDevice("KR2S");
        Form.AttachDriver(Bench);
        ViewTest::SetUp();
    }
    std::vector<std::string> MemoLines() {
        std::vector<std::string> lines;
        for (const QString& line : Find<QPlainTextEdit>("Memo1")->toPlainText().split('\n'))
            if (!line.isEmpty()) lines.push_back(line.toStdString());
        return lines;
    }
    device::testing::InProcessBench Bench;
};

TEST_F(FlowTest, NewModelSaveAsProgramThenReadAndParse) {
    NewWithModel("KR2S");
    auto* manufacturer = Find<QLineEdit>("Edit10");
    manufacturer->setFocus();
    manufacturer->selectAll();
    QTest::keyClicks(manufacturer, "Acme Labs");
    // A fixed serial number advanced per device (a generated one would need the clock to
    // move on between the two chips).
    Find<QCheckBox>("CheckBox5")->click();
    Host.SaveAnswer = Folder.Path / "acme.ept";
    // Save As by its key, from outside the text fields (in a field Ctrl+V pastes).
    Find("CheckBox5")->setFocus();
    QTest::keyClick(Find("CheckBox5"), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(Window.windowTitle().toStdString().ends_with(ui::ProgramModeCaption));

    QSignalSpy progress(Window.ActionOf("BWProgram"), &QAction::triggered);
    QTest::keyClick(&Window, Qt::Key_P, Qt::ControlModifier);
    ASSERT_EQ(progress.count(), 1);
    // Each device's pass empties the list first, so the last device's line is what stays.
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"Programmed Serial Number : 12345679"}))
        << ::testing::PrintToString(Host.Calls);
    EXPECT_EQ(MemoLines().size(), Form.Messages().Lines.size());
    EXPECT_FALSE(Find<QProgressBar>("ProgressBar")->isVisible()); // the run has ended
    for (int device : {0, 1}) {
        const std::vector<std::uint16_t> words = Bench.Words(device);
        EXPECT_NE(std::count(words.begin(), words.end(), 0xFFFF), std::ssize(words)) << device;
    }

    // A fresh template, then the first programmed chip read back into the widgets.
    QTest::keyClick(&Window, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(manufacturer->text(), "Velquor");
    Window.ActionOf("ReadandParse1")->trigger();
    EXPECT_EQ(manufacturer->text(), "Acme Labs");
    EXPECT_EQ(Find<QComboBox>("CB1")->currentText(), "KR2S");
    // The last chip parsed is the one the fields show.
    EXPECT_EQ(Find<QLineEdit>("Edit6")->text(), "12345679");
}

TEST_F(FlowTest, CycleButtonIsDisabledWhileItsRunLastsOnly) {
    std::vector<bool> enabledDuringRun;
    auto* cycle = Window.ActionOf("ToolButton11");
    Form.DeviceProgressChanged = [&, previous = Form.DeviceProgressChanged](int p, int c) {
        if (c > 0) enabledDuringRun.push_back(cycle->isEnabled());
        previous(p, c);
    };
    NewWithModel("KR2S");
    cycle->trigger();
    EXPECT_FALSE(enabledDuringRun.empty());
    EXPECT_EQ(std::count(enabledDuringRun.begin(), enabledDuringRun.end(), true), 0);
    EXPECT_TRUE(cycle->isEnabled());
}

// A bench whose EEPROM words take time, as real parts do, so a run lasts long enough
// for input to arrive while it goes on.
class SlowBench : public device::testing::InProcessBench {
public:
    VQ_STATUS ReadEE(VQ_HANDLE handle, std::uint32_t offset, std::uint16_t* value) override {
        std::this_thread::sleep_for(std::chrono::microseconds(40));
        return InProcessBench::ReadEE(handle, offset, value);
    }
    VQ_STATUS WriteEE(VQ_HANDLE handle, std::uint32_t offset, std::uint16_t value) override {
        std::this_thread::sleep_for(std::chrono::microseconds(40));
        return InProcessBench::WriteEE(handle, offset, value);
    }
};

// Three blank KR2S chips and a saved template with a fixed serial number.
class BusyTest : public ViewTest {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i)
            Bench.AddDevice("KR2S");
        Form.AttachDriver(Bench);
        ViewTest::SetUp();
        NewWithModel("KR2S");
        Find<QCheckBox>("CheckBox5")->click();
        Host.SaveAnswer = Folder.Path / "busy.ept";
        Window.ActionOf("BWSaveAs")->trigger();
        ASSERT_TRUE(Window.windowTitle().toStdString().ends_with(ui::ProgramModeCaption));
    }
    QToolButton* ButtonOf(const char* action) {
        return qobject_cast<QToolButton*>(
            Find<QToolBar>("ToolBar2")->widgetForAction(Window.ActionOf(action)));
    }
    bool Blank(int device) {
        const std::vector<std::uint16_t> words = Bench.Words(device);
        return std::count(words.begin(), words.end(), 0xFFFF) == std::ssize(words);
    }
    // Runs `during` over and over while the run started by a click on `action` lasts.
    void ClickDuringRun(const char* action, const std::function<void()>& during) {
        QTimer poke;
        poke.setInterval(1);
        QObject::connect(&poke, &QTimer::timeout, [&] {
            if (Window.IsBusy()) during();
        });
        poke.start();
        QTest::mouseClick(ButtonOf(action), Qt::LeftButton);
        poke.stop();
    }
    SlowBench Bench;
};

TEST_F(BusyTest, InputDuringARunIsThrownAwayNotReplayed) {
    QSignalSpy erase(Window.ActionOf("BWErase"), &QAction::triggered);
    QSignalSpy fresh(Window.ActionOf("BWNew"), &QAction::triggered);
    auto* field = Find<QLineEdit>("Edit10");
    int pokes = 0;
    std::vector<std::string> phases;
    Form.DeviceProgressChanged = [&, previous = Form.DeviceProgressChanged](int p, int c) {
        previous(p, c);
        if (c > 0) phases.push_back(Find<QLabel>("ProgressLabel")->text().toStdString());
    };
    ClickDuringRun("BWProgram", [&] {
        if (pokes++ == 0) {
            // Visibly busy: every command but Stop off, the fields too, the busy cursor.
            for (const ui::Action* action : Form.Actions())
                EXPECT_FALSE(Window.ActionOf(action->Name)->isEnabled()) << action->Name;
            EXPECT_TRUE(Window.StopAction()->isEnabled());
            EXPECT_FALSE(field->isEnabled());
            EXPECT_FALSE(Find("CheckBox6")->isEnabled());
            EXPECT_FALSE(Window.menuBar()->isEnabled());
            ASSERT_NE(QApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
        }
        QTest::mouseClick(ButtonOf("BWErase"), Qt::LeftButton);
        QTest::keyClick(&Window, Qt::Key_E, Qt::ControlModifier);
        QTest::keyClick(&Window, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClicks(field, "zz");
        QTest::mouseClick(Find<QCheckBox>("CheckBox6"), Qt::LeftButton, {}, QPoint(8, 9));
        EXPECT_FALSE(Window.close()); // the run is never closed under its feet
    });
    ASSERT_GT(pokes, 2);
    QTest::qWait(50); // nothing left queued to run now either
    EXPECT_EQ(erase.count(), 0);
    EXPECT_EQ(fresh.count(), 0);
    for (int device = 0; device < 3; ++device)
        EXPECT_FALSE(Blank(device)) << device;
    EXPECT_EQ(Form.Text("Edit10").Text, "Velquor");
    EXPECT_TRUE(Form.Check("CheckBox6").Checked);
    EXPECT_EQ(phases,
              (std::vector<std::string>{"Scanning device 1 of 3", "Scanning device 2 of 3",
                                        "Scanning device 3 of 3", "Programming device 1 of 3",
                                        "Programming device 2 of 3", "Programming device 3 of 3"}));
    // Afterwards the mode's own state is back.
    EXPECT_FALSE(Window.IsBusy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(Window.StopAction()->isEnabled());
    EXPECT_TRUE(Window.menuBar()->isEnabled());
    for (const char* on : {"BWNew", "BWEdit", "BWProgram", "BWErase", "BWScan"})
        EXPECT_TRUE(Window.ActionOf(on)->isEnabled()) << on;
    EXPECT_FALSE(Window.ActionOf("BWSave")->isEnabled());
    EXPECT_FALSE(field->isEnabled()); // Program mode keeps the fields locked
    Window.ActionOf("BWEdit")->trigger();
    EXPECT_TRUE(field->isEnabled());
}

TEST_F(BusyTest, StopButtonAndEscAreTheOnlyInputTaken) {
    for (const bool esc : {false, true}) {
        SCOPED_TRACE(esc ? "Esc" : "button");
        std::vector<bool> asked;
        ClickDuringRun("BWScan", [&] {
            asked.push_back(Form.StopRequested());
            if (esc)
                QTest::keyClick(&Window, Qt::Key_Escape);
            else
                QTest::mouseClick(Find<QToolButton>("StopButton"), Qt::LeftButton);
        });
        ASSERT_GE(asked.size(), 2u);
        EXPECT_FALSE(asked.front());
        EXPECT_TRUE(asked.back());
        EXPECT_FALSE(Form.StopRequested()); // the request ends with its run
    }
}

TEST_F(BusyTest, AnErrorBoxEndingARunNamesTheDeviceAndTheWindowComesBack) {
    // The engine's bare boxes get the device in hand.
    Host.Calls.clear();
    Form.DeviceStation()->Engine().Unit.CurrentDeviceIndex = 1;
    Form.DeviceProgress(2, 3);
    Form.ShowError("Error reading device");
    Form.ShowError("Error opening device");
    Form.ShowError("No Devices Found");
    Form.DeviceProgress(0, 0);
    Form.ShowError("Error reading device");
    EXPECT_EQ(Host.Calls, (std::vector<std::string>{
                              "error: Error reading device 1", "error: Error opening device 1",
                              "error: No Devices Found", "error: Error reading device"}));
    // A device that takes no writes ends the run with a box; the window is itself again.
    Bench.AddFault(1, {device::testing::FaultKind::IgnoreWrites, std::nullopt, VQ_OK});
    Host.Calls.clear();
    QTest::mouseClick(ButtonOf("BWProgram"), Qt::LeftButton);
    EXPECT_EQ(Host.Calls.size(), 1u) << ::testing::PrintToString(Host.Calls);
    EXPECT_FALSE(Window.IsBusy());
    EXPECT_TRUE(Window.ActionOf("BWProgram")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(BusyTest, StopEndsTheRunAfterTheDeviceInHandAndTheTableKeepsEveryRun) {
    // Stop is clicked as the first device is being programmed: taken at once, and said.
    QString saidAtStop;
    Form.DeviceProgressChanged = [&, previous = Form.DeviceProgressChanged](int p, int c) {
        previous(p, c);
        if (Find<QLabel>("ProgressLabel")->text() == "Programming device 1 of 3") {
            QTest::mouseClick(Find<QToolButton>("StopButton"), Qt::LeftButton);
            saidAtStop = Find<QLabel>("ProgressLabel")->text();
        }
    };
    QTest::mouseClick(ButtonOf("BWProgram"), Qt::LeftButton);
    EXPECT_FALSE(Blank(0));
    EXPECT_TRUE(Blank(1));
    EXPECT_TRUE(Blank(2));
    EXPECT_EQ(saidAtStop, "Stopping after device 0 ...");
    // The list ends with what became of every device the run selected.
    ASSERT_GE(Form.Messages().Lines.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(Form.Messages().Lines.end() - 3, Form.Messages().Lines.end()),
        (std::vector<std::string>{
            "Stopped after device 0", "Run summary: 1 passed, 0 failed, 2 not reached",
            "Stopped as asked after device 0; devices 1 and 2 were not started"}));
    EXPECT_EQ(Bench.OpenHandles(), 0);
    EXPECT_FALSE(Window.IsBusy());
    EXPECT_TRUE(Window.ActionOf("BWProgram")->isEnabled());

    // The next run takes the two blank devices; the table keeps the rows of both runs.
    Form.DeviceProgressChanged = [previous = Form.DeviceProgressChanged](int p, int c) {
        previous(p, c);
    };
    QTest::mouseClick(ButtonOf("BWProgram"), Qt::LeftButton);
    EXPECT_FALSE(Blank(1));
    EXPECT_FALSE(Blank(2));
    view::ResultsWindow* results = Window.Results();
    EXPECT_TRUE(results->isVisible());
    // Operation, driver index, EEPROM, result and reason of each Program row; the serial
    // number is the device's own, the model the template's.
    std::vector<std::string> rows;
    for (int row = 0; row < results->RowCount(); ++row) {
        if (results->Cell(row, 1) != "Program") continue;
        std::string text;
        for (int column : {1, 2, 4, 6, 7})
            text += results->Cell(row, column).toStdString() + "|";
        rows.push_back(text);
        EXPECT_EQ(results->Cell(row, 3), "KR2S"); // the template's model, not the family
        EXPECT_FALSE(results->Cell(row, 5).isEmpty());
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"Program|0|93C46|PASS||", "Program|1|93C46|PASS||",
                                              "Program|2|93C46|PASS||"}));
}

TEST_F(ViewTest, ResultsTableKeepsEveryOutcomeAndCopiesAndSavesThemAsCsv) {
    device::DeviceOutcome passed;
    passed.Operation = device::DeviceOperation::Program;
    passed.DriverIndex = 2;
    passed.Model = "KR2S";
    passed.EepromTypeName = "93C46";
    passed.SerialNumber = "VQ000123";
    passed.Passed = true;
    device::DeviceOutcome failed = passed;
    failed.Operation = device::DeviceOperation::ReadAndParse;
    failed.Passed = false;
    failed.Reason = "Error reading device, \"word 3\"";
    Form.DeviceFinished(passed);
    Form.ClearLines(); // the message list empties; the table keeps its rows
    Form.DeviceFinished(failed);
    view::ResultsWindow* results = Window.Results();
    EXPECT_TRUE(results->isVisible());
    ASSERT_EQ(results->RowCount(), 2);
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                    .match(results->Cell(0, 0))
                    .hasMatch())
        << results->Cell(0, 0).toStdString();
    const QString time0 = results->Cell(0, 0), time1 = results->Cell(1, 0);
    const QString csv = "Time,Operation,Driver Index,Model,EEPROM,Serial Number,Result,Reason\r\n" +
                        time0 + ",Program,2,KR2S,93C46,VQ000123,PASS,\r\n" + time1 +
                        ",Read and Parse,2,KR2S,93C46,VQ000123,FAIL,"
                        "\"Error reading device, \"\"word 3\"\"\"\r\n";
    EXPECT_EQ(results->AllAsCsv(), csv);
    results->Table()->selectRow(1);
    results->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(results));
    QTest::keyClick(results->Table(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(",FAIL,\"Error reading device, "
                                                           "\"\"word 3\"\"\"\r\n"));
    EXPECT_EQ(QApplication::clipboard()->text().count("\r\n"), 2);
    Host.SaveAnswer = Folder.Path / "results.csv";
    results->findChild<QPushButton*>("SaveResults")->click();
    std::ifstream saved(Folder.Path / "results.csv", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), csv.toStdString());
    results->close(); // the Tools menu brings it back
    Window.findChild<QAction*>("ShowResults")->trigger();
    EXPECT_TRUE(results->isVisible());
    // A scan's rows say what it found rather than PASS.
    for (const bool blank : {true, false}) {
        device::DeviceOutcome scanned = passed;
        scanned.Operation = device::DeviceOperation::Scan;
        scanned.Blank = blank;
        Form.DeviceFinished(scanned);
    }
    ASSERT_EQ(results->RowCount(), 4);
    EXPECT_EQ(results->Cell(2, 6), "Blank");
    EXPECT_EQ(results->Cell(3, 6), "Programmed");
    Host.SaveAnswer = Folder.Path; // a folder cannot be written as a file
    Host.Calls.clear();
    results->findChild<QPushButton*>("SaveResults")->click();
    ASSERT_EQ(Host.Calls.size(), 2u);
    EXPECT_EQ(Host.Calls[1].rfind("error: Could not write the results to ", 0), 0u);
}

TEST(HelpFile, WithoutABrowserTheGuideOpensInTheProgramsOwnWindow) {
    TempFolder folder;
    std::ofstream(folder.Path / "Burnwise.html")
        << "<html><head><title>Guide</title></head><body><p><a href=\"more.html\">More</a></p>"
           "<img src=\"images/pic.png\"></body></html>";
    std::ofstream(folder.Path / "more.html") << "<html><body>More text</body></html>";
    fs::create_directories(folder.Path / "images");
    QImage pic(4, 4, QImage::Format_RGB32);
    pic.fill(Qt::red);
    ASSERT_TRUE(pic.save(QString::fromStdString((folder.Path / "images" / "pic.png").string())));
    RecordingHost host;
    host.HaveBrowser = false;
    host.OpenHelpFile(folder.Path / "Burnwise.html");
    view::HelpWindow* help = host.OwnHelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), "Guide");
    QTextBrowser* browser = help->Browser();
    EXPECT_EQ(
        QImage::fromData(browser->loadResource(QTextDocument::ImageResource, QUrl("images/pic.png"))
                             .toByteArray())
            .size(),
        QSize(4, 4));
    // A link followed from the keyboard, then Back.
    auto* back = help->findChild<QToolButton*>("HelpBack");
    EXPECT_FALSE(back->isEnabled());
    browser->setFocus();
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    EXPECT_TRUE(browser->source().path().endsWith("more.html"))
        << browser->source().toString().toStdString();
    ASSERT_TRUE(back->isEnabled());
    back->click();
    EXPECT_TRUE(browser->source().path().endsWith("Burnwise.html"));
    help->close();
}

TEST(ViewWithoutBench, StatusBarSaysNothingForRealHardware) {
    RecordingHost host;
    ui::TMainForm form(host);
    MainWindow window(form, host);
    auto* bench = window.findChild<QLabel*>("BenchLabel");
    ASSERT_NE(bench, nullptr);
    EXPECT_TRUE(bench->text().isEmpty());
}

TEST(HelpFile, CompiledHelpWinsAndAMissingFileIsNotReported) {
    TempFolder folder;
    const fs::path html = folder.Path / "Burnwise.html";
    RecordingHost host;
    host.OpenHelpFile(html);
    EXPECT_TRUE(host.Calls.empty());
    std::ofstream(html) << "<html></html>";
    host.OpenHelpFile(html);
    std::ofstream(folder.Path / "Burnwise.chm") << "x";
    host.OpenHelpFile(html);
    EXPECT_EQ(host.Calls,
              (std::vector<std::string>{"desktop Burnwise.html", "desktop Burnwise.chm"}));
}

TEST(AboutBox, ShowsTheVersionOnItsPanelAndClosesWithOk) {
    view::TAboutBox about;
    about.show();
    EXPECT_EQ(about.size(), QSize(367, 223));
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(QFontInfo(about.font()).pixelSize(), 13);
    auto* version = about.findChild<QLabel*>("Version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "BURNWISE Version 3.0a");
    // The build's version beside it, the one --version prints.
    auto* build = about.findChild<QLabel*>("BuildVersion");
    ASSERT_NE(build, nullptr);
    EXPECT_EQ(build->text(), QStringLiteral("Build %1").arg(ProjectVersion));
    EXPECT_TRUE(about.rect().contains(build->mapTo(&about, build->rect().bottomRight())));
    auto* logo = about.findChild<QLabel*>("ProgramIcon");
    ASSERT_NE(logo, nullptr);
    // The drawing was found and drawn: the chip in its middle is opaque.
    const QImage drawn = logo->pixmap().toImage();
    ASSERT_FALSE(drawn.isNull());
    EXPECT_EQ(qAlpha(drawn.pixel(drawn.width() / 2, drawn.height() * 2 / 3)), 255);
    auto* ok = about.findChild<QPushButton*>("OKButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(ok->icon().isNull());
    ok->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
}

TEST(WindowHostQuestion, CancelIsTheDefaultAndOnlyTheNamedButtonGoesOn) {
    // Enter takes the default button, Esc the escape button; only a click on the named
    // button goes on.
    const std::pair<std::function<void(QMessageBox*)>, bool> answers[] = {
        {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, false},
        {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
        {[](QMessageBox* box) {
             for (QAbstractButton* button : box->buttons())
                 if (button->text() == "Erase") button->click();
         },
         true},
    };
    for (const auto& [answer, goesOn] : answers) {
        view::WindowHost host;
        QString shown;
        QTimer::singleShot(0, [&, answer = answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shown = box->text();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
            answer(box);
        });
        EXPECT_EQ(host.AskGoOnOrCancel("Erase the EEPROM of 2 devices?", "Erase"), goesOn);
        EXPECT_EQ(shown, "Erase the EEPROM of 2 devices?");
    }
}

TEST(QtNameFilter, TurnsTheTemplateFilterIntoQtsForm) {
    EXPECT_EQ(view::QtNameFilter(ui::TemplateFilter), "EEPROM Program Templates (*.ept)");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The windows keep their places and choices in a configuration folder of this process.
    TempFolder config;
    ::setenv("XDG_CONFIG_HOME", config.Path.c_str(), 1);
    QApplication app(argc, argv);
    view::PrepareApplication(app);
    return RUN_ALL_TESTS();
}
