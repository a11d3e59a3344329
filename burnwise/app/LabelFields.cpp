#include "burnwise/app/LabelFields.h"

namespace burnwise::app {

LabelValues LabelValuesOf(const Template& shown, const records::Record& record) {
    LabelValues values;
    values["serial"] = record.SerialNumber;
    values["model"] = record.Model;
    values["station"] = record.Station;
    values["template"] = record.TemplateFile;
    // Record::Time is YYYY-MM-DDTHH:MM:SSZ.
    values["date"] = record.Time.substr(0, 10);
    values["time"] = record.Time.size() >= 19 ? record.Time.substr(11, 8) : std::string();
    // The template's texts are the chip's, a byte a character; the record's are UTF-8.
    values["product"] = records::ChipText(shown.Product);
    values["manufacturer"] = records::ChipText(shown.Manufacturer);
    values["vid"] = shown.VendorId;
    values["pid"] = shown.ProductId;
    return values;
}

std::string WriteLabelValues(const LabelValues& values) {
    std::string text;
    for (const auto& [name, value] : values) {
        text += name + '=';
        for (const char c : value) {
            if (c == '\\')
                text += "\\\\";
            else if (c == '\n')
                text += "\\n";
            else if (c == '\r')
                text += "\\r";
            else
                text += c;
        }
        text += '\n';
    }
    return text;
}

std::optional<LabelValues> ParseLabelValues(std::string_view text) {
    LabelValues values;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) return std::nullopt;
        std::string value;
        for (std::size_t i = equals + 1; i < line.size(); ++i) {
            if (line[i] != '\\') {
                value += line[i];
                continue;
            }
            if (++i == line.size()) return std::nullopt;
            if (line[i] == 'n')
                value += '\n';
            else if (line[i] == 'r')
                value += '\r';
            else if (line[i] == '\\')
                value += '\\';
            else
                return std::nullopt;
        }
        values[std::string(line.substr(0, equals))] = std::move(value);
    }
    return values;
}

} // namespace burnwise::app
