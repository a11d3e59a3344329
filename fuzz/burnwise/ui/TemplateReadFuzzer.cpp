// Arbitrary bytes as a template file: parsed with the profile rules, opened into a started
// form (running every change rule the values trigger), gathered for a device, then saved
// back in place and read again.

#include "burnwise/app/Station.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/ui/MainForm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace burnwise;

class SilentHost : public ui::FormHost {
public:
    std::optional<std::filesystem::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    void ShowErrorBox(std::string_view) override {}
    void ShowInformationBox(std::string_view) override {}
    bool AskGoOnOrCancel(std::string_view, std::string_view) override { return true; }
    void ProcessPendingEvents() override {}
    void OpenHelpFile(const std::filesystem::path&) override {}
    void ShowAboutBox() override {}
    void CloseWindow() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ui::ProfileFile file = ui::ProfileFile::Parse(bytes);

    SilentHost host;
    ui::TMainForm form(host);
    form.FormShow();
    form.ReadTemplate(file);
    form.ApplyDeviceTypeRules();
    // What a run of the template shown starts from, and the settings of one of its devices.
    const app::Template shown = form.CurrentTemplate();
    codec::CodecState state;
    device::RunFlags flags;
    app::PrepareRun(shown, state, flags);
    const int deviceNumber = size > 0 ? data[0] : 0;
    app::GatherSettings(shown, deviceNumber, state, flags);
    app::CheckStringTotal(shown, form);
    form.ValidateTemplate();

    // The record never holds more than its buffers: every text stays zero-terminated.
    for (const codec::TextBuffer text :
         {state.Settings.Manufacturer, state.Settings.SerialPrefix,
          state.Settings.ProductDescription, state.Settings.SerialNumber}) {
        if (codec::TextOf(text).size() >= codec::TextBufferSize) std::abort();
    }

    // Saving in place and reading back gives the same 49 values.
    const auto values = form.TemplateValues();
    for (const ui::TemplateValue& value : values)
        file.Write(value.Section, value.Key, value.Value);
    const ui::ProfileFile again = ui::ProfileFile::Parse(file.Serialize());
    for (const ui::TemplateValue& value : values) {
        const auto read = again.Read(value.Section, value.Key);
        if (!read) std::abort();
        // Values are stored as the window holds them; only surrounding blanks and a pair
        // of quotes are lost on reading, as they always were.
        if (*read == value.Value) continue;
        // A zero byte stands for bytes the file's encoding cannot hold; the checks refuse to
        // save a value with one.
        if (value.Value.find('\0') != std::string::npos) continue;
        const bool trimmed =
            !value.Value.empty() && (value.Value.front() == ' ' || value.Value.front() == '\t' ||
                                     value.Value.back() == ' ' || value.Value.back() == '\t' ||
                                     value.Value.front() == '"' || value.Value.front() == '\'');
        if (!trimmed) std::abort();
    }
    return 0;
}
