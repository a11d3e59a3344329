#include "burnwise/app/ProductionLog.h"

#include "burnwise/codec/TextEscape.h"

#include <cstdio>

namespace burnwise::app {

const std::vector<ProductionLog::Column>& ProductionLog::Columns() {
    static const std::vector<Column> columns{
        {"utc_time", [](const DeviceRecord& r) { return r.UtcTime; }},
        {"position", [](const DeviceRecord& r) { return std::to_string(r.Position); }},
        {"driver_index", [](const DeviceRecord& r) { return std::to_string(r.DriverIndex); }},
        {"model", [](const DeviceRecord& r) { return r.Model; }},
        {"eeprom", [](const DeviceRecord& r) { return r.Eeprom; }},
        {"serial_number", [](const DeviceRecord& r) { return r.SerialNumber; }},
        {"result", [](const DeviceRecord& r) { return r.Result; }},
    };
    return columns;
}

bool ProductionLog::Open(const std::filesystem::path& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    const bool exists = fs::exists(status);
    if (exists && !fs::is_regular_file(status)) {
        error = "cannot write the log " + path.string() + ": not a regular file";
        return false;
    }
    // Root may write anywhere; a log its owner made read-only is still not to be touched.
    if (exists && (status.permissions() & fs::perms::owner_write) == fs::perms::none) {
        error = "cannot write the log " + path.string() + ": the file is read-only";
        return false;
    }
    const bool fresh = !exists || fs::file_size(path, ec) == 0;
    out_.open(path, std::ios::binary | std::ios::app);
    if (!out_) {
        error = "cannot write the log " + path.string();
        return false;
    }
    path_ = path;
    if (fresh) {
        std::vector<std::string> header;
        for (const Column& column : Columns())
            header.emplace_back(column.Header);
        WriteLine(header);
    }
    if (!out_) {
        error = "cannot write the log " + path.string();
        return false;
    }
    return true;
}

bool ProductionLog::Append(const DeviceRecord& record) {
    std::vector<std::string> fields;
    for (const Column& column : Columns())
        fields.push_back(Field(column.Value(record)));
    WriteLine(fields);
    return static_cast<bool>(out_);
}

std::string ProductionLog::Field(std::string_view text) {
    const std::string shown = codec::EscapeText(text);
    if (shown.find_first_of(",\"\r\n") == std::string::npos) return shown;
    std::string quoted = "\"";
    for (const char c : shown) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

void ProductionLog::WriteLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += fields[i];
    }
    line += "\r\n";
    out_ << line;
    out_.flush();
}

} // namespace burnwise::app
