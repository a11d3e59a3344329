#include "burnwise/records/RecordStore.h"
#include "burnwise/records/StoreInternals.h"
#include "common/UtcTime.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace burnwise::records {

namespace {

constexpr std::size_t ColumnCount = 14;
constexpr std::array<const char*, ColumnCount> ColumnNames = {
    "time",   "station",     "operation", "driver_index",  "model",           "eeprom",
    "serial", "result",      "reason",    "template_file", "template_sha256", "image_sha256",
    "label",  "label_detail"};
// The text listing measures its columns on this many rows and keeps the widths after, so
// that a listing of any length streams.
constexpr std::size_t MeasuredRows = 1000;
// Output leaves in pieces of about this size.
constexpr std::size_t FlushBytes = 64 * 1024;

// The record's columns as the history shows them: the label's state in words, its fields
// left out (they are on the label).
std::array<std::string, ColumnCount> HistoryColumns(const Record& record) {
    const auto columns = internal::RecordColumns(record);
    std::array<std::string, ColumnCount> row;
    std::copy(columns.begin(), columns.begin() + 12, row.begin());
    row[7] = internal::ResultName(record.Outcome); // the stored column says FAIL for an attempt
    row[12] = LabelStateName(record.Label.State);
    row[13] = record.Label.Detail;
    return row;
}

// A control character (C0, DEL or C1) would break the line a record stands on.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || c == 0x7F) out[i] = ' ';
        if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(out[i + 1]) <= 0x9F)
            out.replace(i, 2, " ");
    }
    return out;
}

// Characters, not bytes, make a column's width.
std::size_t Width(const std::string& text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Appends a CSV cell to `out`, quoted where it needs to be. A spreadsheet runs a cell that
// starts like a formula; a leading quote keeps it text.
void AppendCsvField(std::string& out, std::string_view text) {
    const bool formula = !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' ||
                                           text[0] == '@' || text[0] == '\t' || text[0] == '\r');
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (std::size_t i = 0; i < text.size() && !quote; ++i)
        quote = text[i] == ',' || text[i] == '"' || text[i] == '\r' || text[i] == '\n';
    if (quote) out += '"';
    if (formula) out += '\'';
    if (!quote) {
        out.append(text);
        return;
    }
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string CsvField(const std::string& text) {
    std::string out;
    AppendCsvField(out, text);
    return out;
}

// Appends a JSON string to `out`; text that is not UTF-8 has its stray bytes replaced.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    bool clean = true;
    for (const char c : text)
        clean = clean && static_cast<unsigned char>(c) < 0x80;
    const std::string repaired = clean ? std::string() : internal::StoredText(text, false);
    for (const char c : clean ? text : std::string_view(repaired)) {
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
    out += '"';
}

std::string JsonString(const std::string& text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

using Row = std::array<std::string, ColumnCount>;

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

struct RecordWriter::State {
    ListFormat Format = ListFormat::Text;
    Sink Out;
    std::string Buffer;
    std::size_t Count = 0;
    bool Ok = true;
    // Text only: the rows kept until the widths are known, and the widths.
    std::vector<Row> Measured;
    std::array<std::size_t, ColumnCount> Widths{};
    bool Measuring = true;

    bool Flush(bool always) {
        if (Ok && (always || Buffer.size() >= FlushBytes) && !Buffer.empty()) {
            Ok = Out(Buffer);
            Buffer.clear();
        }
        return Ok;
    }

    void TextLine(const Row& row) {
        const std::size_t start = Buffer.size();
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            Buffer += row[i];
            if (i + 1 < ColumnCount) {
                const std::size_t width = Width(row[i]);
                Buffer.append(Widths[i] > width ? Widths[i] - width + 2 : 2, ' ');
            }
        }
        while (Buffer.size() > start && Buffer.back() == ' ')
            Buffer.pop_back();
        Buffer += '\n';
    }

    void EndMeasuring() {
        Measuring = false;
        for (const auto& row : Measured)
            for (std::size_t i = 0; i < ColumnCount; ++i)
                Widths[i] = std::max(Widths[i], Width(row[i]));
        for (const auto& row : Measured)
            TextLine(row);
        Measured.clear();
    }
};

RecordWriter::RecordWriter(ListFormat format, Sink sink) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.Format = format;
    s.Out = std::move(sink);
    if (format == ListFormat::Csv) {
        for (std::size_t i = 0; i < ColumnCount; ++i)
            s.Buffer += std::string(i ? "," : "") + ColumnNames[i];
        s.Buffer += "\r\n";
    } else if (format == ListFormat::Json) {
        s.Buffer = "[";
    } else {
        Row header;
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            header[i] = ColumnNames[i];
            for (char& c : header[i])
                c = c == '_' ? ' ' : char(std::toupper(c));
        }
        s.Measured.push_back(std::move(header));
    }
}

RecordWriter::~RecordWriter() = default;

bool RecordWriter::Add(const Record& record) {
    State& s = *state_;
    if (!s.Ok) return false;
    if (s.Format == ListFormat::Csv) {
        // The common case of a large listing: written straight from the record.
        const std::string index = std::to_string(record.DriverIndex);
        const std::string_view cells[] = {record.Time,
                                          record.Station,
                                          record.Operation,
                                          index,
                                          record.Model,
                                          record.Eeprom,
                                          record.SerialNumber,
                                          internal::ResultName(record.Outcome),
                                          record.Reason,
                                          record.TemplateFile,
                                          record.TemplateSha256,
                                          record.ImageSha256,
                                          LabelStateName(record.Label.State),
                                          record.Label.Detail};
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            if (i) s.Buffer += ',';
            AppendCsvField(s.Buffer, cells[i]);
        }
        s.Buffer += "\r\n";
        ++s.Count;
        return s.Flush(false);
    }
    auto row = HistoryColumns(record);
    if (s.Format == ListFormat::Json) {
        s.Buffer += s.Count ? ",\n  {" : "\n  {";
        for (std::size_t i = 0; i < ColumnCount; ++i) {
            if (i) s.Buffer += ", ";
            s.Buffer += '"';
            s.Buffer += ColumnNames[i];
            s.Buffer += "\": ";
            // The driver index is a number; everything else is text.
            if (i == 3)
                s.Buffer += row[i];
            else
                AppendJsonString(s.Buffer, row[i]);
        }
        s.Buffer += "}";
    } else {
        for (auto& cell : row)
            cell = Printable(cell);
        if (s.Measuring) {
            s.Measured.push_back(std::move(row));
            if (s.Measured.size() > MeasuredRows) s.EndMeasuring();
        } else {
            s.TextLine(row);
        }
    }
    ++s.Count;
    return s.Flush(false);
}

bool RecordWriter::Finish() {
    State& s = *state_;
    if (s.Format == ListFormat::Json) s.Buffer += s.Count ? "\n]\n" : "]\n";
    if (s.Format == ListFormat::Text && s.Measuring) s.EndMeasuring();
    return s.Flush(true);
}

std::optional<ListFormat> ParseListFormat(std::string_view name) {
    if (name == "text") return ListFormat::Text;
    if (name == "csv") return ListFormat::Csv;
    if (name == "json") return ListFormat::Json;
    return std::nullopt;
}

std::string FormatRecords(const std::vector<Record>& records, ListFormat format) {
    std::string out;
    RecordWriter writer(format, [&](std::string_view text) {
        out += text;
        return true;
    });
    for (const auto& record : records)
        writer.Add(record);
    writer.Finish();
    return out;
}

namespace {

std::time_t Seconds(const std::string& time) {
    std::tm parts{};
    if (!common::IsUtcTimeStamp(time) ||
        std::sscanf(time.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6)
        return 0;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return timegm(&parts);
}

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

std::string FormatSummary(const std::vector<DaySummary>& days, ListFormat format) {
    constexpr std::size_t Columns = 6;
    using Line = std::array<std::string, Columns>;
    std::vector<Line> lines;
    for (const auto& day : days) {
        const std::uint64_t devices = day.Passed + day.Failed;
        const double span =
            double(std::max<std::time_t>(Seconds(day.Last) - Seconds(day.First), 60));
        lines.push_back({day.Day, day.Station, std::to_string(day.Passed),
                         std::to_string(day.Failed),
                         Fixed(devices ? 100.0 * double(day.Passed) / double(devices) : 0.0),
                         Fixed(double(devices) * 3600.0 / span)});
    }
    std::string out;
    if (format == ListFormat::Csv) {
        out = "day,station,passed,failed,yield_percent,devices_per_hour\r\n";
        for (const auto& line : lines) {
            for (std::size_t i = 0; i < Columns; ++i)
                out += (i ? "," : "") + CsvField(line[i]);
            out += "\r\n";
        }
        return out;
    }
    if (format == ListFormat::Json) {
        out = "[";
        for (std::size_t r = 0; r < lines.size(); ++r) {
            const Line& line = lines[r];
            out += (r ? ",\n  " : "\n  ") + std::string("{\"day\": ") + JsonString(line[0]) +
                   ", \"station\": " + JsonString(line[1]) + ", \"passed\": " + line[2] +
                   ", \"failed\": " + line[3] + ", \"yield_percent\": " + line[4] +
                   ", \"devices_per_hour\": " + line[5] + "}";
        }
        return out + (lines.empty() ? "]\n" : "\n]\n");
    }
    lines.insert(lines.begin(),
                 Line{"DAY", "STATION", "PASSED", "FAILED", "YIELD %", "DEVICES PER HOUR"});
    std::array<std::size_t, Columns> widths{};
    for (auto& line : lines)
        for (std::size_t i = 0; i < Columns; ++i) {
            line[i] = Printable(line[i]);
            widths[i] = std::max(widths[i], Width(line[i]));
        }
    for (const auto& line : lines) {
        std::string text;
        for (std::size_t i = 0; i < Columns; ++i) {
            text += line[i];
            if (i + 1 < Columns) text.append(widths[i] - Width(line[i]) + 2, ' ');
        }
        out += text + '\n';
    }
    return out;
}

} // namespace burnwise::records
