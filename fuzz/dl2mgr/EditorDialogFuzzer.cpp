// Any image through the editor dialog and back: filled, stored, filled again. A store that
// succeeds must show the same dialog again; any bytes pasted into a message box are either
// stored within the image or refused with a box.
#include "dl2mgr/editor/EditorDialog.h"
#include "dl2mgr/editor/MorseTable.h"

#include <cstdint>
#include <cstring>

namespace {

class SilentUi final : public dl2mgr::editor::EditorUi {
public:
    void ShowBox(const dl2mgr::editor::MessageBox&) override { ++Boxes; }
    dl2mgr::editor::Answer Ask(const dl2mgr::editor::Question&) override {
        return dl2mgr::editor::Answer::Cancel;
    }
    std::optional<std::string> ChooseOpenFile() override { return std::nullopt; }
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void LetWindowRepaint() override {}
    bool OpenHelp(const std::string&) override { return false; }
    void ShowAbout() override {}
    void Quit(int) override {}
    int Boxes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dl2mgr::editor;
    KeyerImage image{};
    std::memcpy(image.data(), data, std::min(size, image.size()));
    EditorDialog dialog(image);
    dialog.FillLists();
    dialog.FillDialogFromImage();
    // Bytes past the image are pasted into message box 4.
    if (size > image.size()) {
        dialog.UserEditedText(
            id::Message1 + 3,
            std::string(reinterpret_cast<const char*>(data) + image.size(), size - image.size()));
    }
    SilentUi ui;
    const bool stored = dialog.StoreDialogToImage(ui);
    if (stored != (ui.Boxes == 0)) __builtin_trap();
    if (!stored) return 0;

    std::string shown[MessageCount];
    for (std::size_t k = 0; k < MessageCount; ++k)
        shown[k] = dialog.MessageText(k);
    const std::string weight = dialog.Text(id::Weight);
    dialog.FillDialogFromImage();
    if (dialog.Text(id::Weight) != weight) __builtin_trap();
    for (std::size_t k = 0; k < MessageCount; ++k) {
        // A stored text reads back as itself up to the first character that ends a message
        // on reading (a line break, `$`); characters sharing a code (a and A, : and ( )
        // come back as one of them.
        const std::string again = dialog.MessageText(k);
        if (again.size() > shown[k].size()) __builtin_trap();
        for (std::size_t i = 0; i < again.size(); ++i) {
            if (MorseByteOf(static_cast<unsigned char>(again[i])) !=
                MorseByteOf(static_cast<unsigned char>(shown[k][i])))
                __builtin_trap();
        }
    }
    return 0;
}
