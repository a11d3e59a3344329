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
    std::int32_t DriverIndex = 0; // the device's number in its run: its lines and record
    TileState State = TileState::Working;
    std::string SerialNumber; // the serial number it was given or holds; empty if none
    std::string Reason;       // why it failed; empty unless Failed
    bool Finished = false;    // the run reported how the device ended
    // The device went away: its tile stays, greyed, until another device takes its place.
    bool Removed = false;
    // The serial numbers the device is known by: the one it reported when taken in hand and
    // the one it was given, which a programmed chip reports from then on.
    std::vector<std::string> Identities;
    // When the device was last taken in hand or finished, counted through the run.
    std::uint64_t Turn = 0;
    // Why its label could not be printed; empty when it was, or when none was asked for.
    std::string LabelFailure;
};

class ProductionBoard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ProductionBoard(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // A new run: empty board, counts at zero, the pace measured from now. Device events
    // count only between Start and RunEnded.
    void Start();
    // A device taken in hand, with the serial number it reports (empty if it reported none).
    void DeviceStarted(std::int32_t driverIndex, const std::string& reportedSerial = {});
    void DeviceFinished(const device::DeviceOutcome& outcome);
    // The serial numbers the attached devices report, by driver index. A finished device
    // none of whose numbers is among them has gone: its tile is removed. A list with a
    // device that did not answer tells nothing of who went, and changes nothing.
    void DevicesAttached(const std::vector<std::string>& serials);
    // What became of the label of the device given `serial` (a PASS, numbered driverIndex
    // in the run): printed, or failed with `reason`. Also after the run, for a reprint.
    void LabelFinished(std::int32_t driverIndex, const std::string& serial, bool printed,
                       const std::string& reason = {});
    // The run has ended: `reason` is empty when it stopped as asked, else why it stopped.
    // A device still working has no verdict: its tile turns to FAIL "not finished", and it
    // is not counted (the run reported nothing for it).
    void RunEnded(const std::string& reason);

    bool Running() const { return running_; }
    const std::vector<ProductionTile>& Tiles() const { return tiles_; }
    // The tile of the device with this number in the run, removed ones aside.
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
    // What the operator does with a failed device: "Unplug and plug in again to retry" when
    // the failure lay in the connection or the run, "Put aside" when the device itself is
    // at fault. Empty unless the tile shows a FAIL.
    static std::string NextStepText(const ProductionTile& tile);
    // "label failed: REASON" on a tile whose label could not be printed, else empty.
    static std::string LabelText(const ProductionTile& tile);

private:
    ProductionTile* InHand(std::int32_t driverIndex);
    ProductionTile* Known(const std::string& serial);
    ProductionTile& FreeTile();

    Clock clock_;
    std::vector<ProductionTile> tiles_; // by place on the board
    int passed_ = 0;
    int failed_ = 0;
    std::string lastSerial_;
    std::string stopMessage_;
    bool running_ = false;
    std::uint64_t turns_ = 0;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point ended_{};
};

} // namespace burnwise::ui
