// The editor dialog's model: storing with its order and partial stores, the bits that
// check boxes and lists change at once, and the message filter.
#include "dl2mgr/editor/EditorDialog.h"

#include "RecordingUi.h"
#include "dl2mgr/editor/MessageCoding.h"

#include <gtest/gtest.h>

namespace dl2mgr::editor {
namespace {

// The number boxes of a valid dialog, in storing order.
struct Numbers {
    const char *Weight = "50", *LeadIn = "10", *Tail = "20", *FirstExt = "3", *KeyComp = "4",
               *Farns = "0", *Sample = "50", *CmdWpm = "25", *Ratio = "50", *Max = "35",
               *Min = "15";
};

void Enter(EditorDialog& d, const Numbers& n) {
    d.UserEditedText(id::Weight, n.Weight);
    d.UserEditedText(id::LeadIn, n.LeadIn);
    d.UserEditedText(id::Tail, n.Tail);
    d.UserEditedText(id::FirstExt, n.FirstExt);
    d.UserEditedText(id::KeyComp, n.KeyComp);
    d.UserEditedText(id::Farns, n.Farns);
    d.UserEditedText(id::Sample, n.Sample);
    d.UserEditedText(id::CmdWpm, n.CmdWpm);
    d.UserEditedText(id::Ratio, n.Ratio);
    d.UserEditedText(id::Max, n.Max);
    d.UserEditedText(id::Min, n.Min);
}

KeyerImage Filled(std::uint8_t value) {
    KeyerImage image;
    image.fill(value);
    return image;
}

TEST(StoreDialogToImage, ValidBoxesStoreEveryFieldAndTheMessages) {
    KeyerImage image = Filled(0xEE);
    EditorDialog d(image);
    Enter(d, {});
    d.UserEditedText(id::Message1, "CQ");
    d.UserEditedText(id::Message1 + 2, "TEST");
    RecordingUi ui;
    ASSERT_TRUE(d.StoreDialogToImage(ui));
    EXPECT_TRUE(ui.Boxes.empty());
    const std::uint8_t settings[] = {50, 10, 20, 15, 20, 3, 4, 0, 50, 50};
    for (std::size_t i = 0; i < std::size(settings); ++i)
        EXPECT_EQ(image[4 + i], settings[i]) << "offset " << 4 + i;
    EXPECT_EQ(image[offset::CmdWpm], 25);
    EXPECT_EQ(image[offset::MessageEnd], 30);
    EXPECT_EQ(image[offset::MessageStart], 24);
    EXPECT_EQ(image[offset::MessageStart + 2], 26);
    EXPECT_EQ(image[29], 0x83);
    // Bytes the dialog does not own pass through.
    EXPECT_EQ(image[0], 0xEE);
    EXPECT_EQ(image[2], 0xEE);
    EXPECT_EQ(image[offset::ModeReg], 0xEE);
    EXPECT_EQ(image[30], 0xEE);
}

TEST(StoreDialogToImage, FirstFailingStepShowsItsTextAndKeepsWhatCameBefore) {
    struct Case {
        Numbers Boxes;
        const char* Error;
        std::size_t StoredUpTo; // offsets of the steps before the failing one are stored
    };
    auto with = [](auto change) {
        Numbers n;
        change(n);
        return n;
    };
    const Case cases[] = {
        {with([](Numbers& n) { n.Weight = "95"; }), "Weight must be between 10 and 90", 0},
        {with([](Numbers& n) { n.Weight = "9"; }), "Weight must be between 10 and 90", 0},
        {with([](Numbers& n) { n.LeadIn = "251"; }), "Lead In must be 250 or less.", 1},
        {with([](Numbers& n) { n.Tail = "300"; }), "Tail must be 250 or less.", 2},
        {with([](Numbers& n) { n.FirstExt = "251"; }), "Extend must be 250 or less.", 3},
        {with([](Numbers& n) { n.KeyComp = "999"; }), "Key Comp must be 250 or less.", 4},
        {with([](Numbers& n) { n.Farns = "9"; }), "Farns must be 0 or between 10 and 90", 5},
        {with([](Numbers& n) { n.Farns = "91"; }), "Farns must be 0 or between 10 and 90", 5},
        {with([](Numbers& n) { n.Sample = ""; }), "Ksamp must be between 10 and 90", 6},
        {with([](Numbers& n) { n.CmdWpm = "100"; }), "CMDWPM must be between 5 and 99", 7},
        {with([](Numbers& n) { n.Ratio = ""; }), "Ratio must be between 33 and 66", 8},
        {with([](Numbers& n) { n.Ratio = "67"; }), "Ratio must be between 33 and 66", 8},
        {with([](Numbers& n) { n.Max = "20", n.Min = "20"; }),
         "Pot Max must be greater than Pot Min", 9},
        {with([](Numbers& n) { n.Max = "30", n.Min = "4"; }), "Pot Min must be between 5 and 99",
         9},
        {with([](Numbers& n) { n.Max = "100", n.Min = "20"; }), "Pot Max must be between 5 and 99",
         9},
        // A number too large for 32 bits is out of range, never wrapped round to 0.
        {with([](Numbers& n) { n.Weight = "99999999999"; }), "Weight must be between 10 and 90", 0},
        {with([](Numbers& n) { n.Farns = "4294967296"; }), "Farns must be 0 or between 10 and 90",
         5},
        {with([](Numbers& n) { n.Max = "4294967331", n.Min = "15"; }),
         "Pot Max must be between 5 and 99", 9},
    };
    // Offsets in storing order and what the valid boxes store there.
    const std::size_t offsets[] = {offset::Weight,   offset::LeadIn,  offset::Tail,
                                   offset::FirstExt, offset::KeyComp, offset::Farns,
                                   offset::Sample,   offset::CmdWpm,  offset::Ratio};
    const std::uint8_t valid[] = {50, 10, 20, 3, 4, 0, 50, 25, 50};
    for (const Case& c : cases) {
        KeyerImage image = Filled(0xEE);
        EditorDialog d(image);
        Enter(d, c.Boxes);
        d.UserEditedText(id::Message1, "CQ");
        RecordingUi ui;
        EXPECT_FALSE(d.StoreDialogToImage(ui)) << c.Error;
        ASSERT_EQ(ui.Boxes.size(), 1u) << c.Error;
        EXPECT_EQ(ui.Boxes[0], (MessageBox{c.Error, "Error", BoxOwner::Dialog, BoxIcon::None}));
        for (std::size_t i = 0; i < std::size(offsets); ++i) {
            EXPECT_EQ(image[offsets[i]], i < c.StoredUpTo ? valid[i] : 0xEE)
                << c.Error << ", offset " << offsets[i];
        }
        EXPECT_EQ(image[offset::MinWpm], 0xEE) << c.Error;
        EXPECT_EQ(image[offset::MessageStart], 0xEE) << c.Error; // messages come last
    }
}

TEST(StoreDialogToImage, PotMinAndMaxBecomeMinWpmAndRange) {
    KeyerImage image{};
    EditorDialog d(image);
    Enter(d, {});
    d.UserEditedText(id::Min, "20");
    d.UserEditedText(id::Max, "35");
    RecordingUi ui;
    ASSERT_TRUE(d.StoreDialogToImage(ui));
    EXPECT_EQ(image[offset::MinWpm], 20);
    EXPECT_EQ(image[offset::WpmRange], 15);
    // Farns 10 is as good as 0.
    d.UserEditedText(id::Farns, "10");
    ASSERT_TRUE(d.StoreDialogToImage(ui));
    EXPECT_EQ(image[offset::Farns], 10);
}

TEST(StoreDialogToImage, PastedMessagesTheFilterWouldRefuseStoreNothing) {
    struct Case {
        std::string Message1, Message6;
        std::string Error;
    } cases[] = {
        {std::string(200, 'E'), std::string(33, 'T'), MessagesTooLongText},
        {"CQ!", "", "Message 1 holds a character that has no Morse form. Nothing was stored."},
        {"", "DE \xE9", "Message 6 holds a character that has no Morse form. Nothing was stored."},
        {"", "A~B", "Message 6 holds a character that has no Morse form. Nothing was stored."},
        // Stored as bytes that end the message on reading back: the rest would be lost.
        {"5$ TU", "",
         "Message 1 holds a $, a line break or a tab, which would end the message "
         "there on the keyer. Nothing was stored."},
        {"", "CQ\r\nDE",
         "Message 6 holds a $, a line break or a tab, which would end the "
         "message there on the keyer. Nothing was stored."},
    };
    for (const Case& c : cases) {
        KeyerImage image = Filled(0xEE);
        EditorDialog d(image);
        Enter(d, {});
        d.UserEditedText(id::Message1, c.Message1);
        d.UserEditedText(id::Message1 + 5, c.Message6);
        RecordingUi ui;
        EXPECT_FALSE(d.StoreDialogToImage(ui));
        EXPECT_EQ(ui.BoxTexts(), std::vector<std::string>{c.Error});
        EXPECT_EQ(image, Filled(0xEE)) << c.Error;
    }
    // 232 in all fit exactly.
    KeyerImage image{};
    EditorDialog d(image);
    Enter(d, {});
    d.UserEditedText(id::Message1, std::string(200, 'E'));
    d.UserEditedText(id::Message1 + 5, std::string(32, 'T'));
    RecordingUi ui;
    EXPECT_TRUE(d.StoreDialogToImage(ui));
    EXPECT_EQ(image[offset::MessageEnd], 0);
    EXPECT_EQ(image[255], 0x83);
}

TEST(EditorDialog, CheckBoxesFlipTheirBitAtOnce) {
    struct Case {
        int Id;
        std::size_t Offset;
        std::uint8_t Mask;
        bool TickedWhenSet;
    } cases[] = {
        {id::Swap, offset::ModeReg, 0x08, true},    {id::AutoSpace, offset::ModeReg, 0x02, true},
        {id::CtSpace, offset::ModeReg, 0x01, true}, {id::PaddleDog, offset::ModeReg, 0x80, false},
        {id::Cut09, offset::ModeReg2, 0x08, true},  {id::MsgBrk, offset::ModeReg2, 0x04, true},
    };
    for (const Case& c : cases) {
        KeyerImage image{};
        image[c.Offset] = 0x55 & ~c.Mask;
        EditorDialog d(image);
        d.UserClickedCheckBox(c.Id);
        EXPECT_EQ(image[c.Offset], (0x55 & ~c.Mask) | c.Mask) << c.Id;
        EXPECT_EQ(d.Checked(c.Id), c.TickedWhenSet) << c.Id;
        d.UserClickedCheckBox(c.Id);
        EXPECT_EQ(image[c.Offset], 0x55 & ~c.Mask) << c.Id;
        EXPECT_EQ(d.Checked(c.Id), !c.TickedWhenSet) << c.Id;
    }
}

TEST(EditorDialog, ListsWriteTheirBitsAndLeaveTheOthers) {
    KeyerImage image{};
    image[offset::ModeReg] = 0xCF;      // everything but the keyer mode bits set
    image[offset::OutputConfig] = 0x30; // paddle hang 2.0 words
    EditorDialog d(image);
    d.FillLists();

    d.UserSelectedItem(id::KeyerMode, 4); // UltimDah
    EXPECT_EQ(image[offset::ModeReg], 0xEF);
    EXPECT_EQ(image[offset::OutputConfig], 0x70);
    d.UserSelectedItem(id::KeyerMode, 0); // Iambic A leaves bits 7,6
    EXPECT_EQ(image[offset::ModeReg], 0xDF);
    EXPECT_EQ(image[offset::OutputConfig], 0x70);
    d.UserSelectedItem(id::KeyerMode, 3); // UltimDit
    EXPECT_EQ(image[offset::OutputConfig], 0xB0);
    d.UserSelectedItem(id::KeyerMode, 5); // VibroBug
    EXPECT_EQ(image[offset::ModeReg], 0xFF);
    EXPECT_EQ(d.Text(id::KeyerMode), "VibroBug");

    d.UserSelectedItem(id::OutputConfig, 6); // Port2, PTT
    EXPECT_EQ(image[offset::OutputConfig], 0xB9);
    d.UserSelectedItem(id::PaddleHang, 1);
    EXPECT_EQ(image[offset::OutputConfig], 0x99);
    d.UserSelectedItem(id::Sidetone, 9);
    EXPECT_EQ(image[offset::Sidetone], 10);
    EXPECT_EQ(d.Selection(id::Sidetone), 9);
    d.UserSelectedItem(id::Sidetone, 10); // no such item
    EXPECT_EQ(image[offset::Sidetone], 10);
}

TEST(EditorDialog, FilterDropsCharactersWithoutMorseAndStopsAt232) {
    KeyerImage image{};
    EditorDialog d(image);
    for (unsigned char c : {'!', '#', '%', '&', '*', '^', '_', '`', '{', '}', '~'})
        EXPECT_FALSE(d.MessageEditFilter(c)) << c;
    EXPECT_FALSE(d.MessageEditFilter(127));
    EXPECT_FALSE(d.MessageEditFilter(0xE9));
    for (unsigned char c : {'a', 'Z', '5', ' ', '?', '$', '\r', '\b'})
        EXPECT_TRUE(d.MessageEditFilter(c)) << c;

    d.UserEditedText(id::Message1 + 1, std::string(231, 'E'));
    EXPECT_TRUE(d.MessageEditFilter('A'));
    EXPECT_EQ(d.MessageBytesLeft(), 1);
    d.UserEditedText(id::Message1 + 3, "T");
    EXPECT_FALSE(d.MessageEditFilter('A'));
    EXPECT_FALSE(d.MessageEditFilter('\r'));
    EXPECT_TRUE(d.MessageEditFilter('\b'));
    EXPECT_EQ(d.MessageBytesLeft(), 0);
}

TEST(EditorDialog, FillShowsTheImageAndAnnouncesTheControls) {
    KeyerImage image{};
    image[offset::Weight] = 60;
    image[offset::Sidetone] = 2;
    image[offset::ModeReg] = 0x20;
    image[offset::OutputConfig] = 0x4B;
    EditorDialog d(image);
    std::vector<int> changed;
    d.Changed = [&](int controlId) { changed.push_back(controlId); };
    d.FillLists();
    EXPECT_EQ(d.At(id::OutputConfig).Items.size(), 8u);
    EXPECT_EQ(d.Selection(id::Sidetone), 1);
    d.FillDialogFromImage();
    EXPECT_EQ(d.Text(id::Weight), "60");
    EXPECT_EQ(d.Text(id::KeyerMode), "UltimDah");
    EXPECT_EQ(d.Selection(id::OutputConfig), 7);
    EXPECT_TRUE(d.Checked(id::PaddleDog));
    EXPECT_NE(std::find(changed.begin(), changed.end(), id::Weight), changed.end());
    EXPECT_NE(std::find(changed.begin(), changed.end(), id::PaddleDog), changed.end());
}

} // namespace
} // namespace dl2mgr::editor
