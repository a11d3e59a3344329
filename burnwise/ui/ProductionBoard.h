#pragma once

#include "burnwise/device/Reporter.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace burnwise::ui {

// What the production window shows of one device.
enum class TileState { Working, Passed, Failed };

struct ProductionTile {
    std::int32_t DriverIndex = 0;
    TileState State = TileState::Working;
    std::string SerialNumber; // the serial number it was given or holds; empty if none
    std::string Reason;       // why it failed; empty unless Failed
    bool Finished = false;    // the run reported how the device ended
};

// The production board: one tile per device slot (a driver index), the counts, the yield,
// the pace and the last serial number of a production run, fed by the run's events. A new
// device at a driver index takes over that index's tile, so the board shows what each slot
// of the hub holds now. The counts are exactly the outcomes the run reported, so they
// agree with the run's records.
class ProductionBoard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ProductionBoard(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // A new run: empty board, counts at zero, the pace measured from now. Device events
    // count only between Start and RunEnded.
    void Start();
    void DeviceStarted(std::int32_t driverIndex);
    void DeviceFinished(const device::DeviceOutcome& outcome);
    // The run has ended: `reason` is empty when it stopped as asked, else why it stopped.
    // A device still working has no verdict: its tile turns to FAIL "not finished", and it
    // is not counted (the run reported nothing for it).
    void RunEnded(const std::string& reason);

    bool Running() const { return running_; }
    const std::vector<ProductionTile>& Tiles() const { return tiles_; }
    const ProductionTile* TileOf(std::int32_t driverIndex) const;

    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    // Passed over all finished devices; nothing before the first.
    std::optional<double> Yield() const;
    // Finished devices per hour since Start (up to the end of a run that has ended);
    // nothing before the first device or in the run's first second.
    std::optional<double> DevicesPerHour() const;
    // The serial number of the last device that passed.
    const std::string& LastSerial() const { return lastSerial_; }
    // Why the last run stopped; empty while running or when it stopped as asked.
    const std::string& StopMessage() const { return stopMessage_; }

    // The texts the window shows.
    std::string YieldText() const;                             // "95.0 %", "-"
    std::string PerHourText() const;                           // "412", "-"
    static std::string StateText(TileState state);             // "WORKING", "PASS", "FAIL"
    static std::string DeviceText(const ProductionTile& tile); // "Device 2"
    // The line under the state word: the serial on a PASS, the reason on a FAIL.
    static std::string DetailText(const ProductionTile& tile);

private:
    ProductionTile& TileFor(std::int32_t driverIndex);

    Clock clock_;
    std::vector<ProductionTile> tiles_; // by driver index
    int passed_ = 0;
    int failed_ = 0;
    std::string lastSerial_;
    std::string stopMessage_;
    bool running_ = false;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point ended_{};
};

} // namespace burnwise::ui
