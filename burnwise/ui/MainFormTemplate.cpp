#include "burnwise/ui/MainForm.h"

#include <cstdint>

namespace burnwise::ui {
namespace {

constexpr std::string_view SideAOptoSection = "Dual Device Specific Options A";
constexpr std::string_view SideAOptoKey = "Side A OPTO Isolate mode";

} // namespace

std::optional<int> ParseTemplateInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        for (const char c : text) {
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        // Hexadecimal fills all 32 bits: 0xFFFFFFFF is -1.
        const auto bits = static_cast<std::uint32_t>(negative ? (0u - value) : value);
        return static_cast<int>(static_cast<std::int32_t>(bits));
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0x80000000u) return std::nullopt;
    }
    if (!negative && value > 0x7FFFFFFFu) return std::nullopt;
    return static_cast<int>(negative ? -static_cast<std::int64_t>(value)
                                     : static_cast<std::int64_t>(value));
}

// ---- Template file ------------------------------------------------------------------------

std::vector<TemplateValue> TMainForm::TemplateValues() const {
    std::vector<TemplateValue> values;
    values.reserve(rows_.size());
    for (const TemplateRow& row : rows_) {
        std::string value;
        switch (row.Kind) {
        case TemplateValueKind::Index:
            value = std::to_string(static_cast<const ListControl*>(row.Target)->ItemIndex);
            break;
        case TemplateValueKind::Flag:
            value = static_cast<const CheckControl*>(row.Target)->Checked ? "1" : "0";
            break;
        case TemplateValueKind::Text:
            value = static_cast<const TextField*>(row.Target)->Text;
            break;
        }
        values.push_back({row.Section, row.Key, std::move(value)});
    }
    return values;
}

bool TMainForm::WriteTemplate(const std::filesystem::path& fileName) {
    namespace fs = std::filesystem;
    const auto refuse = [&] {
        ShowError("Unable to write to " + fileName.string());
        return false;
    };
    std::error_code error;
    ProfileFile file;
    const fs::file_status status = fs::status(fileName, error); // through a link
    if (fs::exists(status)) {
        // Only a file can be replaced; reading a pipe here would wait for its writer.
        if (!fs::is_regular_file(status)) return refuse();
        // Foreign sections of an existing file must survive, so it has to be readable.
        std::string readError;
        auto existing = ProfileFile::Load(fileName, readError);
        if (!existing) return refuse();
        file = std::move(*existing);
    }
    for (const TemplateValue& value : TemplateValues())
        file.Write(value.Section, value.Key, value.Value);
    // Side A's "OPTO Isolate mode" key has always carried the Virtual COM Port button, and
    // files and readers rely on that; side A's own OPTO Isolate choice gets a key of its
    // own, so the hardware mode chosen is the one a reopened template programs.
    // A file that never had OPTO Isolate chosen stays exactly as it always was.
    if (RB6.Checked || file.Read(SideAOptoSection, SideAOptoKey))
        file.Write(SideAOptoSection, SideAOptoKey, RB6.Checked ? "1" : "0");
    if (!common::ReplaceFileAtomically(fileName, file.Serialize(), error)) return refuse();
    return true;
}

bool TMainForm::ReadTemplate(const std::filesystem::path& fileName) {
    std::string error;
    const auto file = ProfileFile::Load(fileName, error);
    if (!file) {
        ShowError("Cannot open file \"" + fileName.string() + "\": " + error);
        return false;
    }
    ReadTemplate(*file);
    return true;
}

void TMainForm::ReadTemplate(const ProfileFile& file) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const TemplateRow& row = rows_[i];
        const std::optional<std::string> value = file.Read(row.Section, row.Key);
        switch (row.Kind) {
        case TemplateValueKind::Index:
            ChooseEntry(*static_cast<ListControl*>(row.Target),
                        value ? ParseTemplateInteger(*value).value_or(0) : 0);
            break;
        case TemplateValueKind::Flag:
            SetChecked(*static_cast<CheckControl*>(row.Target),
                       (value ? ParseTemplateInteger(*value).value_or(0) : 0) != 0);
            break;
        case TemplateValueKind::Text:
            SetText(*static_cast<TextField*>(row.Target), value.value_or(std::string()));
            break;
        }
        if (row.Target == &CheckBox8) flags_.SerialNumberDisabled = CheckBox8.Checked;
    }
    // Files written before side A's OPTO Isolate had its key open as they always did.
    if (const std::optional<std::string> opto = file.Read(SideAOptoSection, SideAOptoKey))
        if (ParseTemplateInteger(*opto).value_or(0) != 0) SetChecked(RB6, true);
    ApplyDeviceTypeRules();
}

} // namespace burnwise::ui
