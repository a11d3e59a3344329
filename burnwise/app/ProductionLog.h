#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::app {

// One programmed device, as a production record keeps it.
struct DeviceRecord {
    std::string UtcTime; // "2026-12-09T10:00:00Z"
    int Position = 0;    // 0-based position in the run
    int DriverIndex = 0;
    std::string Model;  // the model the device reported, e.g. "KR2" or "KR4S"
    std::string Eeprom; // "93C46", "93C56", "93C66"
    std::string SerialNumber;
    std::string Result; // "PASS", or "FAIL" with the reason after it
};

// A CSV file that gains one line per record, with a header line when it is new. Each line
// is written and flushed as it comes, so a run that stops keeps what it did. Columns are a
// table: a new column is one more row.
class ProductionLog {
public:
    struct Column {
        std::string_view Header;
        std::string (*Value)(const DeviceRecord&);
    };
    static const std::vector<Column>& Columns();

    // Opens `path` for appending; false with a one-line `error` when it cannot be written.
    bool Open(const std::filesystem::path& path, std::string& error);
    bool Append(const DeviceRecord& record);

    // A field as CSV needs it: quoted when it holds a comma, quote or line break; control
    // characters shown as escapes so every record stays on one line.
    static std::string Field(std::string_view text);

private:
    void WriteLine(const std::vector<std::string>& fields);

    std::ofstream out_;
    std::filesystem::path path_;
};

} // namespace burnwise::app
