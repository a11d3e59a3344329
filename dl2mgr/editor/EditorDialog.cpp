#include "dl2mgr/editor/EditorDialog.h"

#include "dl2mgr/editor/DialogFields.h"
#include "dl2mgr/editor/MessageCoding.h"
#include "dl2mgr/editor/MorseTable.h"

#include <cstdio>

namespace dl2mgr::editor {

namespace {

// Beyond every field's range: what a number too large for 32 bits reads as, so it is
// refused instead of wrapping round to a value that passes.
constexpr std::uint64_t TooLarge = ~std::uint64_t{0};

// A box's number as an unsigned decimal; an empty or unreadable box counts as 0.
std::uint64_t ReadNumber(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    std::uint64_t value = 0;
    bool any = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
        if (value > 0xFFFFFFFFu) return TooLarge;
        any = true;
    }
    while (at < text.size() && text[at] == ' ')
        ++at;
    return any && at == text.size() ? value : 0;
}

// Bits 5,4 of ModeReg for each keyer mode item, and bits 7,6 of OutputConfig for the
// three Ultimatic items (the others leave those bits alone).
constexpr std::uint8_t KeyerModeBits[] = {0x10, 0x00, 0x20, 0x20, 0x20, 0x30};
constexpr int UltimaticBits[] = {-1, -1, 0x00, 0x80, 0x40, -1};

struct CheckBoxBit {
    int Id;
    std::size_t Offset;
    std::uint8_t Mask;
    bool Inverted; // ticked when the bit is 0
};
constexpr CheckBoxBit CheckBoxBits[] = {
    {id::Swap, offset::ModeReg, ModeRegSwap, false},
    {id::AutoSpace, offset::ModeReg, ModeRegAutoSpace, false},
    {id::CtSpace, offset::ModeReg, ModeRegCtSpace, false},
    {id::PaddleDog, offset::ModeReg, ModeRegPaddleDog, true},
    {id::Cut09, offset::ModeReg2, ModeReg2Cut09, false},
    {id::MsgBrk, offset::ModeReg2, ModeReg2MsgBrk, false},
};

} // namespace

EditorDialog::EditorDialog(KeyerImage& image) : image_(image) {
    for (const ControlPlace& place : EditorControls) {
        if (place.Id == id::Static) continue;
        Control& c = controls_[place.Id];
        c.Kind = place.Kind;
        c.Text = place.Caption;
    }
}

void EditorDialog::SetText(int controlId, std::string text) {
    Control& c = Mutable(controlId);
    if (c.Text == text) return;
    c.Text = std::move(text);
    Announce(controlId);
}

void EditorDialog::UserEditedText(int controlId, std::string text) {
    Mutable(controlId).Text = std::move(text);
    Modified = true;
}

void EditorDialog::SetChecked(int controlId, bool checked) {
    Mutable(controlId).Checked = checked;
    Announce(controlId);
}

void EditorDialog::SetSelection(int controlId, int index) {
    Control& c = Mutable(controlId);
    c.Selection = index >= 0 && static_cast<std::size_t>(index) < c.Items.size() ? index : -1;
    // A drop-down with an edit field shows the chosen item's text in it.
    if (c.Kind == ControlKind::ComboEdit)
        c.Text = c.Selection >= 0 ? c.Items[static_cast<std::size_t>(c.Selection)] : "";
    Announce(controlId);
}

void EditorDialog::FillLists() {
    auto fill = [&](int controlId, const auto& items) {
        Control& c = Mutable(controlId);
        c.Items.clear();
        for (const auto& item : items) {
            if constexpr (requires { item.Text; })
                c.Items.emplace_back(item.Text);
            else
                c.Items.emplace_back(item);
        }
        Announce(controlId);
    };
    fill(id::KeyerMode, KeyerModeItems);
    fill(id::PaddleHang, PaddleHangItems);
    fill(id::Sidetone, SidetoneItems);
    fill(id::OutputConfig, OutputConfigItems);
    // The all-zero start image holds Sidetone 0, which selects nothing.
    SetSelection(id::Sidetone, image_[offset::Sidetone] - 1);
}

void EditorDialog::FillDialogFromImage() {
    const DialogFields f = FieldsFromImage(image_);
    SetText(id::Weight, f.Weight);
    SetText(id::LeadIn, f.LeadIn);
    SetText(id::Tail, f.Tail);
    SetText(id::FirstExt, f.FirstExt);
    SetText(id::KeyComp, f.KeyComp);
    SetText(id::Farns, f.Farns);
    SetText(id::Sample, f.Sample);
    SetText(id::Ratio, f.Ratio);
    SetText(id::CmdWpm, f.CmdWpm);
    SetSelection(id::KeyerMode, f.KeyerMode);
    SetSelection(id::PaddleHang, f.PaddleHang);
    SetSelection(id::OutputConfig, f.OutputConfig);
    SetSelection(id::Sidetone, f.Sidetone);
    SetText(id::Max, f.Max);
    SetText(id::Min, f.Min);
    SetChecked(id::Swap, f.Swap);
    SetChecked(id::AutoSpace, f.AutoSpace);
    SetChecked(id::CtSpace, f.CtSpace);
    SetChecked(id::PaddleDog, f.PaddleDog);
    SetChecked(id::Cut09, f.Cut09);
    SetChecked(id::MsgBrk, f.MsgBrk);
    for (std::size_t k = 0; k < MessageCount; ++k)
        SetText(id::Message1 + static_cast<int>(k), f.Messages[k]);
}

bool EditorDialog::StoreDialogToImage(EditorUi& ui) {
    auto refuse = [&](const std::string& text) {
        ui.ShowBox({text, "Error", BoxOwner::Dialog, BoxIcon::None});
        return false;
    };

    // Pasted text can hold what typing cannot: more than the area takes, or characters
    // the keyer cannot send. Refuse it before any setting is stored, so a write or save
    // never carries a cut or garbled message.
    MessageTexts texts;
    std::size_t total = 0;
    for (std::size_t k = 0; k < MessageCount; ++k) {
        texts[k] = MessageText(k);
        total += texts[k].size();
        for (const char ch : texts[k]) {
            const auto c = static_cast<unsigned char>(ch);
            // "$" is stored with bit 7 set and control codes as 0x00: either ends the message
            // where it stands when the keyer or the editor reads it back.
            const char* problem = c == '$' || c < 32 ? MessageEndingCharacterText
                                  : !HasMorseForm(c) ? UnsendableCharacterText
                                                     : nullptr;
            if (problem) {
                char text[128];
                std::snprintf(text, sizeof text, problem, static_cast<int>(k + 1));
                return refuse(text);
            }
        }
    }
    if (total > MessageAreaSize) return refuse(MessagesTooLongText);

    struct Step {
        int Id;
        std::uint64_t Low, High;
        const char* Error;
        std::size_t Offset;
        bool ZeroToo; // 0 is accepted besides Low..High
    };
    static constexpr Step Steps[] = {
        {id::Weight, 10, 90, "Weight must be between 10 and 90", offset::Weight, false},
        {id::LeadIn, 0, 250, "Lead In must be 250 or less.", offset::LeadIn, false},
        {id::Tail, 0, 250, "Tail must be 250 or less.", offset::Tail, false},
        {id::FirstExt, 0, 250, "Extend must be 250 or less.", offset::FirstExt, false},
        {id::KeyComp, 0, 250, "Key Comp must be 250 or less.", offset::KeyComp, false},
        {id::Farns, 10, 90, "Farns must be 0 or between 10 and 90", offset::Farns, true},
        {id::Sample, 10, 90, "Ksamp must be between 10 and 90", offset::Sample, false},
        {id::CmdWpm, 5, 99, "CMDWPM must be between 5 and 99", offset::CmdWpm, false},
        {id::Ratio, 33, 66, "Ratio must be between 33 and 66", offset::Ratio, false},
    };
    for (const Step& step : Steps) {
        const std::uint64_t value = ReadNumber(Text(step.Id));
        const bool ok = (value >= step.Low && value <= step.High) || (step.ZeroToo && value == 0);
        if (!ok) return refuse(step.Error);
        image_[step.Offset] = static_cast<std::uint8_t>(value);
    }
    const std::uint64_t max = ReadNumber(Text(id::Max));
    const std::uint64_t min = ReadNumber(Text(id::Min));
    if (max <= min) return refuse("Pot Max must be greater than Pot Min");
    if (min < 5 || min > 99) return refuse("Pot Min must be between 5 and 99");
    if (max < 5 || max > 99) return refuse("Pot Max must be between 5 and 99");
    image_[offset::MinWpm] = static_cast<std::uint8_t>(min);
    image_[offset::WpmRange] = static_cast<std::uint8_t>(max - min);
    // The texts were checked above, so they fit.
    EncodeMessages(image_, texts);
    return true;
}

void EditorDialog::UserClickedCheckBox(int controlId) {
    for (const CheckBoxBit& bit : CheckBoxBits) {
        if (bit.Id != controlId) continue;
        image_[bit.Offset] ^= bit.Mask;
        Modified = true;
        const bool set = image_[bit.Offset] & bit.Mask;
        SetChecked(controlId, bit.Inverted ? !set : set);
        return;
    }
}

void EditorDialog::UserSelectedItem(int controlId, int index) {
    const Control& c = At(controlId);
    if (index < 0 || static_cast<std::size_t>(index) >= c.Items.size()) return;
    if (index == c.Selection) return;
    const auto i = static_cast<std::size_t>(index);
    Modified = true;
    std::uint8_t& modeReg = image_[offset::ModeReg];
    std::uint8_t& output = image_[offset::OutputConfig];
    switch (controlId) {
    case id::KeyerMode:
        modeReg = static_cast<std::uint8_t>((modeReg & ~ModeRegKeyerMode) | KeyerModeBits[i]);
        if (UltimaticBits[i] >= 0)
            output = static_cast<std::uint8_t>((output & ~OutputUltimatic) | UltimaticBits[i]);
        break;
    case id::PaddleHang:
        output = static_cast<std::uint8_t>((output & ~OutputPaddleHang) | (i << 4));
        break;
    case id::Sidetone:
        image_[offset::Sidetone] = static_cast<std::uint8_t>(i + 1);
        break;
    case id::OutputConfig:
        output = static_cast<std::uint8_t>((output & ~OutputLines) | OutputConfigItems[i].Lines);
        break;
    default:
        return;
    }
    SetSelection(controlId, index);
}

bool EditorDialog::MessageEditFilter(unsigned char typed) const {
    constexpr unsigned char Backspace = 8;
    std::size_t total = 0;
    for (std::size_t k = 0; k < MessageCount; ++k)
        total += MessageText(k).size();
    if (total >= MessageAreaSize && typed != Backspace) return false;
    // Control codes pass (editing keys, line breaks); printable ones need a Morse form,
    // and codes above 127 have none.
    return HasMorseForm(typed);
}

std::string EditorDialog::MessageText(std::size_t k) const {
    return Text(id::Message1 + static_cast<int>(k)).substr(0, MessageBoxRoom);
}

std::optional<std::string> SendRefusal(const KeyerImage& image) {
    // The list stores its choice at once, so only an image that came with a value no item
    // has (0 in the all-zero start image) holds one: the keyer would sound 4000 / 0 Hz.
    const std::uint8_t sidetone = image[offset::Sidetone];
    if (sidetone < 1 || sidetone > SidetoneItems.size()) return NoSidetoneText;
    return std::nullopt;
}

std::optional<std::string> StoreRefusal(const KeyerImage& image) {
    class Refusal final : public EditorUi {
    public:
        void ShowBox(const MessageBox& box) override { Text = box.Text; }
        Answer Ask(const Question&) override { return Answer::Cancel; }
        std::optional<std::string> ChooseOpenFile() override { return std::nullopt; }
        std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
        void LetWindowRepaint() override {}
        bool OpenHelp(const std::string&) override { return false; }
        void ShowAbout() override {}
        void Quit(int) override {}
        std::string Text;
    } refusal;
    KeyerImage copy = image;
    EditorDialog dialog(copy);
    dialog.FillLists();
    dialog.FillDialogFromImage();
    if (!dialog.StoreDialogToImage(refusal)) return refusal.Text;
    return SendRefusal(image);
}

int EditorDialog::MessageBytesLeft() const {
    int total = 0;
    for (std::size_t k = 0; k < MessageCount; ++k)
        total += static_cast<int>(MessageText(k).size());
    return static_cast<int>(MessageAreaSize) - total;
}

} // namespace dl2mgr::editor
