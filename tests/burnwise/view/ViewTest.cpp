// The window's binding to the form: widgets by name at their places, user input reaching
// the form, the form's changes reaching the widgets, the shortcuts, boxes and status bar.
// The rules themselves are tested on the form.

#include "burnwise/codec/CodecState.h"
#include "burnwise/device/RunFlags.h"
#include "burnwise/device/testing/InProcessBench.h"
#include "burnwise/ui/MainForm.h"
#include "burnwise/ui/view/AboutBox.h"
#include "burnwise/ui/view/MainWindow.h"
#include "burnwise/ui/view/Program.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>

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
        return true;
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
    codec::CodecState State;
    device::RunFlags Flags;
    RecordingHost Host;
    ui::TMainForm Form{
        State, Flags, Host, {Folder.Path / "Templates", Folder.Path / "Help" / "Burnwise.html"}};
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
    EXPECT_EQ(Form.CBX2.ItemIndex, 3);
    EXPECT_EQ(pin->currentText().toStdString(), Form.CBX2.Items[3]);
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
        // Typed key by key, the lone sign is checked before the digit comes.
        {"Edit9", "-5", "-5", "error: '-' is not a valid integer value"},
        {"Edit9", "25", "25", nullptr},
        {"Edit9", "1x", "1x", "error: '1x' is not a valid integer value"},
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
    EXPECT_EQ(Form.Edit1.Text, "3C5A");
}

TEST_F(ViewTest, ClicksReachTheFormAndRadioGroupsStayExclusive) {
    NewWithModel("KR2S");
    auto* self = Find<QRadioButton>("RB2");
    self->click();
    EXPECT_TRUE(Form.RB2.Checked);
    EXPECT_FALSE(Find<QRadioButton>("RB1")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("Edit9")->text(), "0");
    self->click(); // a checked radio button stays checked
    EXPECT_TRUE(self->isChecked());
    Find<QCheckBox>("CheckBox5")->click();
    EXPECT_TRUE(Find("Edit6")->isEnabled());
    EXPECT_FALSE(Find("Edit5")->isEnabled());
}

TEST_F(ViewTest, ShortcutsTriggerTheirActionsFromATextField) {
    NewWithModel("KR2S");
    auto* field = Find<QLineEdit>("Edit10");
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }, 1000));
    const struct {
        Qt::Key Key;
        const char* Action;
    } rows[] = {{Qt::Key_C, "BWScan"},
                {Qt::Key_V, "BWSaveAs"},
                {Qt::Key_A, "BWAbout"},
                {Qt::Key_H, "BWHelp"},
                {Qt::Key_N, "BWNew"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Action);
        NewWithModel("KR2S");
        field->setFocus();
        QSignalSpy spy(Window.ActionOf(row.Action), &QAction::triggered);
        const QString before = field->text();
        QTest::keyClick(field, row.Key, Qt::ControlModifier);
        EXPECT_EQ(spy.count(), 1);
        if (row.Key != Qt::Key_N) {
            EXPECT_EQ(field->text(), before); // nothing pasted or cut
        }
    }
    // Save As ran its dialog, About its box.
    EXPECT_NE(std::find(Host.Calls.begin(), Host.Calls.end(), "save"), Host.Calls.end());
    EXPECT_NE(std::find(Host.Calls.begin(), Host.Calls.end(), "about"), Host.Calls.end());
    // A disabled action does not run from its key either.
    Window.ActionOf("BWEdit")->setEnabled(false);
    QSignalSpy edit(Window.ActionOf("BWEdit"), &QAction::triggered);
    QTest::keyClick(field, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(edit.count(), 0);
    // Ctrl+X leaves the program.
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(Window.isVisible());
}

TEST_F(ViewTest, SaveAsFromTheMenuEntersProgramModeAndLocksTheWidgets) {
    NewWithModel("KR2S");
    Host.SaveAnswer = Folder.Path / "cable.ept";
    Window.ActionOf("BWSaveAs")->trigger();
    EXPECT_TRUE(fs::exists(Folder.Path / "cable.ept"));
    EXPECT_EQ(Window.windowTitle().toStdString(), ui::ProgramModeCaption);
    EXPECT_FALSE(Find("GB1")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("Edit10")->isEnabled());
    EXPECT_TRUE(Window.ActionOf("BWProgram")->isEnabled());
    EXPECT_TRUE(Window.ActionOf("BWErase")->isEnabled());
    EXPECT_FALSE(Window.ActionOf("BWSaveAs")->isEnabled());
    Window.ActionOf("BWEdit")->trigger();
    EXPECT_TRUE(Find<QLineEdit>("Edit10")->isEnabled());
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
    EXPECT_EQ(Window.windowTitle().toStdString(), ui::ProgramModeCaption);
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
    QTest::keyClick(manufacturer, Qt::Key_V, Qt::ControlModifier); // Save As
    ASSERT_EQ(Window.windowTitle().toStdString(), ui::ProgramModeCaption);

    QSignalSpy progress(Window.ActionOf("BWProgram"), &QAction::triggered);
    QTest::keyClick(&Window, Qt::Key_P, Qt::ControlModifier);
    ASSERT_EQ(progress.count(), 1);
    // Each device's pass empties the list first, so the last device's line is what stays.
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"Programmed Serial Number : 12345679"}))
        << ::testing::PrintToString(Host.Calls);
    EXPECT_EQ(MemoLines().size(), Form.Memo1.Lines.size());
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

TEST(ViewWithoutBench, StatusBarSaysNothingForRealHardware) {
    codec::CodecState state;
    device::RunFlags flags;
    RecordingHost host;
    ui::TMainForm form(state, flags, host);
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

TEST(QtNameFilter, TurnsTheTemplateFilterIntoQtsForm) {
    EXPECT_EQ(view::QtNameFilter(ui::TemplateFilter), "EEPROM Program Templates (*.ept)");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    view::PrepareApplication(app);
    return RUN_ALL_TESTS();
}
