// The Qt window offscreen: the controls are bound to their ids at their places, typing
// goes through the filter, and the menu acts.
#include "dl2mgr/editor/EditorWindow.h"

#include "RecordingUi.h"
#include "dl2mgr/editor/AboutDialog.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "dl2mgr/keyersim/KeyerSim.h"
#include "dl2mgr/link/QtSerialPort.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace dl2mgr::editor {
namespace {

namespace fs = std::filesystem;

// The window with its boxes and dialogs recorded instead of shown.
class TestWindow final : public EditorWindow {
public:
    using EditorWindow::EditorWindow;
    void ShowBox(const MessageBox& box) override { Ui.ShowBox(box); }
    Answer Ask(const Question& question) override { return Ui.Ask(question); }
    std::optional<std::string> ChooseOpenFile() override { return Ui.ChooseOpenFile(); }
    std::optional<std::string> ChooseSaveFile() override { return Ui.ChooseSaveFile(); }
    void ShowAbout() override { Ui.ShowAbout(); }
    void Quit(int exitCode) override { Ui.Quit(exitCode); }
    RecordingUi Ui;
};

class EditorWindowTest : public ::testing::Test {
protected:
    EditorWindowTest()
        : dir_(fs::temp_directory_path() / ("dl2mgr-window-" + std::to_string(::getpid()))),
          window_(port_, sleeper_, {dir_ / "dl2mgr.cfg", dir_ / "dl2mgr.html", dir_ / "ports"}) {}
    void SetUp() override {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        window_.StartUp();
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    template <typename T>
    T* Control(int controlId) {
        auto* widget = qobject_cast<T*>(window_.ControlWidget(controlId));
        if (!widget) throw std::runtime_error("no control " + std::to_string(controlId));
        return widget;
    }
    std::string ConfigBytes() {
        std::ifstream in(dir_ / "dl2mgr.cfg", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir_;
    link::QtSerialPort port_;
    link::ThreadSleeper sleeper_;
    TestWindow window_;
};

TEST(MainWindowSize, FollowsTheScreenResolution) {
    EXPECT_EQ(MainWindowSize(96), QSize(556, 455));
    EXPECT_EQ(MainWindowSize(120), QSize(738, 568));
    EXPECT_EQ(MainWindowSize(144), QSize(885, 681));
    EXPECT_EQ(MainWindowSize(72), QSize(442, 340));
    EXPECT_EQ(MainWindowSize(0), QSize(556, 455)); // not readable
}

TEST_F(EditorWindowTest, WindowAndMenu) {
    EXPECT_EQ(window_.windowTitle(), "Dahlo2 Standalone Editor");
    EXPECT_EQ(window_.pos(), QPoint(0, 0));
    EXPECT_EQ(window_.maximumSize(), window_.size());
    QMenuBar* bar = window_.findChild<QMenuBar*>("MAINMENU");
    ASSERT_NE(bar, nullptr);
    QStringList menus;
    for (QAction* a : bar->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Comm", "&Help"}));
    const std::pair<int, const char*> items[] = {
        {539, "&Open"}, {540, "&Save"}, {551, "&Exit"}, {514, "&About"}, {508, "&Help"},
        {500, "Com1"},  {519, "Com7"},  {546, "Com10"}, {566, "Com12"},  {563, "Com14"}};
    for (const auto& [commandId, text] : items) {
        ASSERT_NE(window_.MenuAction(commandId), nullptr) << commandId;
        EXPECT_EQ(window_.MenuAction(commandId)->text(), text);
    }

    // No config file at start: port 1 is checked and the file made.
    auto checked = [&] {
        std::vector<int> ids;
        for (const int commandId : id::MenuComm)
            if (window_.MenuAction(commandId)->isChecked()) ids.push_back(commandId);
        return ids;
    };
    EXPECT_EQ(checked(), std::vector<int>{500});
    EXPECT_EQ(ConfigBytes(), std::string("\x01\0\0\0", 4));
    window_.MenuAction(566)->trigger();
    EXPECT_EQ(checked(), std::vector<int>{566});
    EXPECT_EQ(ConfigBytes(), std::string("\x0C\0\0\0", 4));
    window_.MenuAction(566)->trigger(); // choosing it again keeps it checked
    EXPECT_EQ(checked(), std::vector<int>{566});

    window_.MenuAction(id::MenuAbout)->trigger();
    EXPECT_EQ(window_.Ui.AboutShown, 1);
    window_.MenuAction(id::MenuExit)->trigger();
    EXPECT_EQ(window_.Ui.QuitCodes, std::vector<int>{0});
}

TEST_F(EditorWindowTest, ControlsSitAtTheirDialogUnitPlaces) {
    const DialogUnits du(DialogFont());
    QWidget* dialog = window_.findChild<QWidget*>("EditorDialog");
    ASSERT_NE(dialog, nullptr);
    // Below the menu bar: the top group captions are not cut off; the panel fills the
    // client area from there, with the same margin on every side.
    const QRect place = du.Rect(2, 0, 362, 250);
    EXPECT_EQ(dialog->pos(), place.topLeft());
    EXPECT_EQ(dialog->width(),
              std::max(place.width(), window_.centralWidget()->width() - 2 * place.x()));
    EXPECT_EQ(dialog->height(),
              std::max(place.height(), window_.centralWidget()->height() - place.x()));
    // Every control of the dialog fits inside it and inside the window's client area.
    struct Expected {
        int Id;
        const char* Class;
        const char* Text;
        QRect Place;
    } expected[] = {
        {1000, "QPlainTextEdit", "", du.Rect(11, 18, 167, 30)},
        {1005, "QPlainTextEdit", "", du.Rect(11, 188, 167, 30)},
        {1008, "QPushButton", "Test", du.Rect(190, 99, 21, 14)},
        {102, "QPushButton", "Read DL", du.Rect(230, 208, 40, 15)},
        {328, "QPushButton", "Write DL", du.Rect(273, 208, 40, 15)},
        {115, "QPushButton", "Test DL", du.Rect(316, 208, 40, 15)},
        {1019, "QCheckBox", "PaddleDog", du.Rect(238, 47, 51, 10)},
        {112, "QCheckBox", "Cut 0/9", du.Rect(238, 57, 49, 10)},
        {1014, "QLineEdit", "", du.Rect(300, 18, 18, 12)},
        {1033, "QLineEdit", "", du.Rect(297, 131, 21, 12)},
        {103, "QLabel", "", du.Rect(300, 70, 20, 10)},
        {119, "QLabel", "Msg Bytes Left:", du.Rect(12, 229, 78, 12)},
        {113, "QLabel", "", du.Rect(275, 229, 80, 12)},
    };
    for (const Expected& e : expected) {
        QWidget* widget = window_.ControlWidget(e.Id);
        ASSERT_NE(widget, nullptr) << e.Id;
        EXPECT_EQ(widget->parentWidget(), dialog) << e.Id;
        EXPECT_STREQ(widget->metaObject()->className(), e.Class) << e.Id;
        EXPECT_EQ(widget->geometry(), e.Place) << e.Id;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), e.Text) << e.Id;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), e.Text) << e.Id;
        }
    }
    EXPECT_EQ(Control<QComboBox>(1046)->count(), 8);
    EXPECT_EQ(Control<QComboBox>(1046)->itemText(6), "Port2, PTT");
    EXPECT_TRUE(Control<QComboBox>(1040)->isEditable());
    EXPECT_FALSE(Control<QComboBox>(1044)->isEditable());
    QStringList groups;
    for (auto* group : dialog->findChildren<QGroupBox*>())
        groups << group->title();
    EXPECT_EQ(groups, (QStringList{"Message Editor", "ModeReg", "WPM Speed", "Settings",
                                   "Keyer Mode", "Paddle Hang", "Sidetone Hz", "Output Config"}));
    // The dialog ends inside the client area.
    EXPECT_LE(dialog->geometry().right(), window_.centralWidget()->width());
    EXPECT_LE(dialog->geometry().bottom(), window_.centralWidget()->height());
}

TEST_F(EditorWindowTest, TypingGoesThroughTheFilterAndReachesTheModel) {
    auto* message = Control<QPlainTextEdit>(1002);
    QTest::keyClicks(message, "cq!de#k");
    EXPECT_EQ(message->toPlainText(), "CQDEK");
    EXPECT_EQ(window_.Editor().Dialog.Text(1002), "CQDEK");
    QTest::keyClick(message, Qt::Key_Backspace);
    EXPECT_EQ(window_.Editor().Dialog.Text(1002), "CQDE");

    auto* weight = Control<QLineEdit>(id::Weight);
    QTest::keyClicks(weight, "4x5");
    EXPECT_EQ(weight->text(), "45");
    EXPECT_EQ(window_.Editor().Dialog.Text(id::Weight), "45");

    // A full area takes no more letters, but backspace still works.
    window_.Editor().Dialog.SetText(1000, std::string(228, 'E'));
    QTest::keyClicks(message, "AB");
    EXPECT_EQ(message->toPlainText(), "CQDE");
    QTest::keyClick(message, Qt::Key_Backspace);
    QTest::keyClicks(message, "AB");
    EXPECT_EQ(message->toPlainText(), "CQDA");
}

TEST_F(EditorWindowTest, ClicksAndChoicesChangeTheImageAtOnce) {
    KeyerEditor& editor = window_.Editor();
    auto* dog = Control<QCheckBox>(id::PaddleDog);
    dog->click();
    EXPECT_EQ(editor.Image[offset::ModeReg], 0x80);
    EXPECT_FALSE(dog->isChecked()); // the bit is set: PaddleDog is off
    dog->click();
    EXPECT_EQ(editor.Image[offset::ModeReg], 0x00);
    EXPECT_TRUE(dog->isChecked());

    emit Control<QComboBox>(id::OutputConfig)->activated(6);
    EXPECT_EQ(editor.Image[offset::OutputConfig], 9);
    emit Control<QComboBox>(id::KeyerMode)->activated(4);
    EXPECT_EQ(editor.Image[offset::ModeReg], 0x20);
    EXPECT_EQ(Control<QComboBox>(id::KeyerMode)->currentText(), "UltimDah");

    // What the model fills in shows in the widgets.
    editor.Image[offset::Weight] = 33;
    editor.Image[offset::Sidetone] = 3;
    editor.Dialog.FillDialogFromImage();
    EXPECT_EQ(Control<QLineEdit>(id::Weight)->text(), "33");
    EXPECT_EQ(Control<QComboBox>(id::Sidetone)->currentText(), "1333");
    editor.TimerTick();
    EXPECT_EQ(Control<QLabel>(id::MsgBytesLeft)->text(), "Msg Bytes Left: 232");
}

// The keyer's log: the command byte after each 0x00 the host sent.
std::vector<std::string> CommandsReceived(const fs::path& log) {
    std::vector<std::string> commands;
    std::ifstream in(log);
    bool introduced = false;
    for (std::string seconds, direction, byte; in >> seconds >> direction >> byte;) {
        if (direction != "RX") continue;
        if (introduced && byte != "00") commands.push_back(byte);
        introduced = byte == "00" && !introduced;
    }
    return commands;
}

TEST_F(EditorWindowTest, InputDuringAKeyerCommandIsDiscardedNotReplayed) {
    keyersim::KeyerSimOptions options;
    options.Fast = true;
    options.AnswerDelay = std::chrono::milliseconds(250); // a slow keyer: the read takes ~2 s
    options.LogPath = dir_ / "wire.log";
    options.Com = 1;
    options.PortsFolder = dir_ / "ports";
    keyersim::KeyerSim sim(options);
    ASSERT_EQ(sim.Start(), "");
    KeyerImage eeprom{};
    eeprom[offset::Weight] = 44;
    sim.SetEeprom(eeprom);
    keyersim::KeyerSimThread serving(sim);
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));

    auto* read = Control<QPushButton>(id::ReadDL);
    auto* message = Control<QPlainTextEdit>(id::Message1);
    window_.Ui.FileAnswers = {(dir_ / "never.eep").string()};
    bool clicked = false;
    bool busyShown = false;
    QTimer::singleShot(500, &window_, [&] {
        // Inside the read: the window repaints, and everything the user does is dropped.
        busyShown = window_.Busy() && !read->isEnabled() && !window_.menuBar()->isEnabled() &&
                    !Control<QLineEdit>(id::Weight)->isEnabled() && !message->isEnabled() &&
                    !Control<QPushButton>(id::WriteDL)->isEnabled() &&
                    !window_.MenuAction(id::MenuOpen)->isEnabled() &&
                    !window_.MenuAction(id::MenuExit)->isEnabled() &&
                    QGuiApplication::overrideCursor() &&
                    QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        QTest::mouseClick(read, Qt::LeftButton);
        QTest::mouseClick(read, Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(id::WriteDL), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(id::TestDL), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(id::TestMessage1), Qt::LeftButton);
        QTest::keyClicks(message, "CQ");
        QTest::keyClick(&window_, Qt::Key_F, Qt::AltModifier); // File, then Open, then Exit
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_O);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_E);
        window_.close();
        clicked = true;
    });
    QTest::mouseClick(read, Qt::LeftButton);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(busyShown);
    QTest::qWait(300); // anything still queued would run now

    EXPECT_EQ(CommandsReceived(dir_ / "wire.log"),
              (std::vector<std::string>{"04", "03", "09", "06", "05", "0C"})); // one read only
    EXPECT_EQ(window_.Editor().Dialog.Text(id::Weight), "44");
    EXPECT_EQ(window_.Editor().Dialog.Text(id::OperationStatus), "Done");
    EXPECT_EQ(message->toPlainText(), "");
    EXPECT_EQ(window_.Ui.FileAnswers.size(), 1u); // no file dialog was asked for
    EXPECT_TRUE(window_.Ui.QuitCodes.empty());
    EXPECT_TRUE(window_.Ui.Boxes.empty());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(window_.isVisible());
    // And the window listens again.
    EXPECT_FALSE(window_.Busy());
    EXPECT_TRUE(read->isEnabled());
    EXPECT_TRUE(window_.MenuAction(id::MenuOpen)->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    QTest::keyClicks(message, "CQ");
    EXPECT_EQ(message->toPlainText(), "CQ");
}

TEST_F(EditorWindowTest, FailuresAndUnsavedWorkWaitForTheUser) {
    keyersim::KeyerSimOptions options;
    options.Fast = true;
    options.ShortDump = 200; // the write goes in, the read-back comes short
    options.Com = 1;
    options.PortsFolder = dir_ / "ports";
    keyersim::KeyerSim sim(options);
    ASSERT_EQ(sim.Start(), "");
    keyersim::KeyerSimThread serving(sim);
    window_.Editor().Image = DefaultKeyerImage();
    window_.Editor().Dialog.FillDialogFromImage();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));

    // A failed write is a box, not only a status text that goes after 4.5 s.
    QTest::mouseClick(Control<QPushButton>(id::WriteDL), Qt::LeftButton);
    ASSERT_EQ(window_.Ui.Boxes.size(), 1u);
    EXPECT_EQ(window_.Ui.Boxes[0].Text.rfind("Verify failed: reading it back", 0), 0u);
    EXPECT_EQ(window_.Editor().Dialog.Text(id::OperationStatus), "Verify failed");

    // Typed edits are not dropped by closing or by File > Open without a question.
    auto* weight = Control<QLineEdit>(id::Weight);
    weight->selectAll();
    QTest::keyClicks(weight, "60");
    window_.close(); // answered Cancel
    EXPECT_TRUE(window_.isVisible());
    window_.MenuAction(id::MenuOpen)->trigger(); // Cancel again
    EXPECT_EQ(weight->text(), "60");
    EXPECT_EQ(window_.Ui.Questions.size(), 2u);
    window_.Ui.Answers = {Answer::No};
    window_.close();
    EXPECT_FALSE(window_.isVisible());
}

TEST_F(EditorWindowTest, CommMenuOffersTheSystemsSerialPortsAndKeepsTheChoice) {
    keyersim::KeyerSimOptions options;
    options.Fast = true;
    keyersim::KeyerSim sim(options);
    ASSERT_EQ(sim.Start(), "");
    KeyerImage eeprom = DefaultKeyerImage();
    eeprom[offset::Weight] = 33;
    sim.SetEeprom(eeprom);
    keyersim::KeyerSimThread serving(sim);
    // A pseudo-terminal behind a link named as udev names a USB adapter.
    const fs::path byId = dir_ / "by-id";
    fs::create_directories(byId);
    const fs::path adapter = byId / "usb-Dahlo_Keyer_Adapter_DK0001-if00-port0";
    fs::create_symlink(sim.DevicePath(), adapter);
    window_.Editor().ByIdFolder = byId;

    auto* comm = window_.findChild<QMenu*>("CommMenu");
    ASSERT_NE(comm, nullptr);
    emit comm->aboutToShow(); // listed afresh as the menu opens
    QAction* item = nullptr;
    for (QAction* action : window_.SystemPortActions()) {
        if (action->text() ==
            QString::fromStdString(sim.DevicePath() + " - " + adapter.filename().string()))
            item = action;
    }
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());
    EXPECT_TRUE(window_.MenuAction(id::MenuComm[0])->isChecked()); // Com1 until then
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_FALSE(window_.MenuAction(id::MenuComm[0])->isChecked());
    EXPECT_EQ(window_.Editor().DevicePath, adapter.string());
    QTest::mouseClick(Control<QPushButton>(id::ReadDL), Qt::LeftButton);
    EXPECT_EQ(window_.Editor().Dialog.Text(id::Weight), "33");
    EXPECT_TRUE(window_.Ui.Boxes.empty());

    // Kept across starts; the 4-byte config file keeps its COM number.
    EXPECT_EQ(ConfigBytes(), std::string("\x01\0\0\0", 4));
    window_.Editor().DevicePath.clear();
    window_.StartUp();
    EXPECT_EQ(window_.Editor().DevicePath, adapter.string());
    // An unplugged adapter stays listed, ticked, so the user sees why nothing answers.
    fs::remove(adapter);
    emit comm->aboutToShow();
    ASSERT_EQ(window_.SystemPortActions().size() >= 1, true);
    EXPECT_EQ(window_.SystemPortActions().back()->text(),
              QString::fromStdString(adapter.string() + " (not present)"));
    EXPECT_TRUE(window_.SystemPortActions().back()->isChecked());
    window_.MenuAction(id::MenuComm[2])->trigger(); // Com3 replaces it
    EXPECT_EQ(window_.Editor().DevicePath, "");
    EXPECT_FALSE(fs::exists(dir_ / "dl2mgr.port"));
}

TEST_F(EditorWindowTest, VerifyAfterWriteIsACheckableCommItemKeptInTheConfig) {
    QAction* verify = window_.MenuAction(id::MenuVerifyAfterWrite);
    ASSERT_NE(verify, nullptr);
    EXPECT_EQ(verify->text(), "Verify After Write");
    EXPECT_TRUE(verify->isCheckable());
    EXPECT_TRUE(verify->isChecked()); // on by default
    verify->trigger();
    EXPECT_FALSE(window_.Editor().VerifyAfterWrite);
    EXPECT_FALSE(verify->isChecked());
    EXPECT_EQ(ConfigBytes(), std::string("\x01\0\0\0\0", 5));
    window_.Editor().StartUp(); // read back as it was left
    EXPECT_FALSE(window_.Editor().VerifyAfterWrite);
    verify->trigger();
    EXPECT_EQ(ConfigBytes(), std::string("\x01\0\0\0", 4));
}

TEST_F(EditorWindowTest, PastedCharactersBeyondLatin1AreRefusedNotTurnedIntoQuestionMarks) {
    auto* message = Control<QPlainTextEdit>(id::Message1);
    message->setPlainText(QString::fromUtf8("CQ \u20AC DE")); // a euro sign
    RecordingUi ui;
    KeyerEditor& editor = window_.Editor();
    for (const auto& [box, text] :
         std::initializer_list<std::pair<int, const char*>>{{id::Weight, "50"},
                                                            {id::LeadIn, "1"},
                                                            {id::Tail, "1"},
                                                            {id::FirstExt, "1"},
                                                            {id::KeyComp, "1"},
                                                            {id::Farns, "0"},
                                                            {id::Sample, "50"},
                                                            {id::CmdWpm, "20"},
                                                            {id::Ratio, "50"},
                                                            {id::Max, "30"},
                                                            {id::Min, "10"}})
        editor.Dialog.UserEditedText(box, text);
    EXPECT_FALSE(editor.Dialog.StoreDialogToImage(ui));
    EXPECT_EQ(ui.BoxTexts(),
              std::vector<std::string>{
                  "Message 1 holds a character that has no Morse form. Nothing was stored."});
}

TEST_F(EditorWindowTest, AboutBoxClosesWithOkOrEsc) {
    AboutDialog about("Ver 2.10, Built 01:02:03, Dec  9 2026", "Operating System is Testix",
                      &window_);
    EXPECT_EQ(about.windowTitle(), "Dahlo Testbed");
    EXPECT_EQ(about.findChild<QLabel*>("202")->text(), "Ver 2.10, Built 01:02:03, Dec  9 2026");
    EXPECT_EQ(about.findChild<QLabel*>("208")->text(), "Operating System is Testix");
    EXPECT_FALSE(about.windowFlags() & Qt::WindowCloseButtonHint);
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        about.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, key);
        EXPECT_FALSE(about.isVisible()) << key;
    }
}

TEST_F(EditorWindowTest, RefusedCharactersHelpAndTheWindowsPlaceAsADesktopUserExpects) {
    // A character the keyer cannot send is refused with a note, not silently.
    auto* message = Control<QPlainTextEdit>(id::Message1);
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    message->setFocus();
    QTest::keyClicks(message, "a#");
    EXPECT_EQ(message->toPlainText(), "A");
    EXPECT_EQ(window_.Editor().Dialog.Text(id::OperationStatus), "No Morse for #");
    // Shown whole, though the status had room for "Done" only.
    auto* status = Control<QLabel>(id::OperationStatus);
    EXPECT_GE(status->width(), status->fontMetrics().horizontalAdvance("No Morse for #"));

    // The help in a window of its own.
    std::ofstream(dir_ / "dl2mgr.html")
        << "<html><head><title>dl2mgr Help</title></head><body><h1>Ports</h1></body></html>";
    window_.ShowHelpWindow(QString::fromStdString((dir_ / "dl2mgr.html").string()));
    ASSERT_NE(window_.HelpWindow(), nullptr);
    EXPECT_TRUE(window_.HelpWindow()->isVisible());
    EXPECT_TRUE(window_.HelpWindow()->isWindow());
    EXPECT_TRUE(window_.HelpWindow()->toPlainText().contains("Ports"));

    // The window's place is kept for the next start.
    window_.move(40, 30);
    window_.Ui.Answers = {Answer::No}; // the typed "A" is dropped
    window_.close();
    TestWindow next(port_, sleeper_, {dir_ / "dl2mgr.cfg", dir_ / "dl2mgr.html", dir_ / "ports"});
    next.StartUp();
    EXPECT_EQ(next.pos(), QPoint(40, 30));
}

} // namespace
} // namespace dl2mgr::editor

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    return RUN_ALL_TESTS();
}
