#include "burnwise/records/RecordStore.h"
#include "burnwise/records/StoreInternals.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace burnwise::records {

namespace {

constexpr std::size_t ColumnCount = 14;
constexpr std::array<const char*, ColumnCount> ColumnNames = {
    "time",   "station",     "operation", "driver_index",  "model",           "eeprom",
    "serial", "result",      "reason",    "template_file", "template_sha256", "image_sha256",
    "label",  "label_detail"};

// The record's columns as the history shows them: the label's state in words, its fields
// left out (they are on the label).
std::array<std::string, ColumnCount> HistoryColumns(const Record& record) {
    const auto columns = internal::RecordColumns(record);
    std::array<std::string, ColumnCount> row;
    std::copy(columns.begin(), columns.begin() + 12, row.begin());
    row[12] = LabelStateName(record.Label.State);
    row[13] = record.Label.Detail;
    return row;
}

// A control character would break the line a record stands on.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos && !text.starts_with(' ') &&
        !text.ends_with(' '))
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : internal::Latin1ToUtf8(text)) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

std::string FormatText(const std::vector<Record>& records) {
    std::vector<std::array<std::string, ColumnCount>> rows;
    std::array<std::string, ColumnCount> header;
    for (std::size_t i = 0; i < ColumnCount; ++i) {
        header[i] = ColumnNames[i];
        for (char& c : header[i])
            c = c == '_' ? ' ' : char(std::toupper(c));
    }
    rows.push_back(header);
    for (const auto& record : records) {
        auto row = HistoryColumns(record);
        for (auto& cell : row)
            cell = Printable(cell);
        rows.push_back(std::move(row));
    }
    std::array<std::size_t, ColumnCount> widths{};
    for (const auto& row : rows)
        for (std::size_t i = 0; i < ColumnCount; ++i)
            widths[i] = std::max(widths[i], row[i].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            line += row[i];
            if (i + 1 < ColumnCount) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        while (line.ends_with(' '))
            line.pop_back();
        out += line + '\n';
    }
    return out;
}

} // namespace

const char* LabelStateName(LabelState state) {
    switch (state) {
    case LabelState::Printed:
        return "printed";
    case LabelState::Failed:
        return "failed";
    case LabelState::NotAsked:
        break;
    }
    return "not asked";
}

std::optional<ListFormat> ParseListFormat(std::string_view name) {
    if (name == "text") return ListFormat::Text;
    if (name == "csv") return ListFormat::Csv;
    if (name == "json") return ListFormat::Json;
    return std::nullopt;
}

std::string FormatRecords(const std::vector<Record>& records, ListFormat format) {
    if (format == ListFormat::Text) return FormatText(records);
    std::string out;
    if (format == ListFormat::Csv) {
        for (std::size_t i = 0; i < ColumnCount; ++i)
            out += std::string(i ? "," : "") + ColumnNames[i];
        out += "\r\n";
        for (const auto& record : records) {
            const auto row = HistoryColumns(record);
            for (std::size_t i = 0; i < ColumnCount; ++i)
                out += (i ? "," : "") + CsvField(row[i]);
            out += "\r\n";
        }
        return out;
    }
    out = "[";
    for (std::size_t r = 0; r < records.size(); ++r) {
        const auto row = HistoryColumns(records[r]);
        out += r ? ",\n  {" : "\n  {";
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            out += std::string(i ? ", " : "") + "\"" + ColumnNames[i] + "\": ";
            // The driver index is a number; everything else is text.
            out += i == 3 ? row[i] : JsonString(row[i]);
        }
        out += "}";
    }
    return out + (records.empty() ? "]\n" : "\n]\n");
}

} // namespace burnwise::records
