#include "burnwise/ui/ProductionBoard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace burnwise::ui {

ProductionBoard::ProductionBoard(Clock clock) : clock_(std::move(clock)) {}

void ProductionBoard::Start() {
    tiles_.clear();
    passed_ = 0;
    failed_ = 0;
    lastSerial_.clear();
    stopMessage_.clear();
    turns_ = 0;
    running_ = true;
    started_ = clock_();
    ended_ = started_;
}

ProductionTile* ProductionBoard::InHand(std::int32_t driverIndex) {
    for (ProductionTile& tile : tiles_)
        if (!tile.Removed && !tile.Finished && tile.DriverIndex == driverIndex) return &tile;
    return nullptr;
}

ProductionTile* ProductionBoard::Known(const std::string& serial) {
    if (serial.empty()) return nullptr;
    for (ProductionTile& tile : tiles_)
        if (!tile.Removed && std::find(tile.Identities.begin(), tile.Identities.end(), serial) !=
                                 tile.Identities.end())
            return &tile;
    return nullptr;
}

ProductionTile& ProductionBoard::FreeTile() {
    for (ProductionTile& tile : tiles_)
        if (tile.Removed) return tile = ProductionTile{};
    return tiles_.emplace_back();
}

const ProductionTile* ProductionBoard::TileOf(std::int32_t driverIndex) const {
    // The driver hands a number on once a device before it goes: the device last given it.
    const ProductionTile* found = nullptr;
    for (const ProductionTile& tile : tiles_)
        if (!tile.Removed && tile.DriverIndex == driverIndex &&
            (found == nullptr || tile.Turn > found->Turn))
            found = &tile;
    return found;
}

void ProductionBoard::DeviceStarted(std::int32_t driverIndex, const std::string& reportedSerial) {
    if (!running_) return;
    ProductionTile* tile = Known(reportedSerial);
    // A device that reported no serial number can only be told by its number.
    if (tile == nullptr && reportedSerial.empty())
        for (ProductionTile& other : tiles_)
            if (!other.Removed && other.Identities.empty() && other.DriverIndex == driverIndex)
                tile = &other;
    if (tile == nullptr) tile = &FreeTile();
    *tile = ProductionTile{};
    tile->DriverIndex = driverIndex;
    tile->Turn = ++turns_;
    if (!reportedSerial.empty()) tile->Identities.push_back(reportedSerial);
}

void ProductionBoard::DeviceFinished(const device::DeviceOutcome& outcome) {
    if (!running_) return;
    // The device in hand, else one the run refused without taking it (named by the serial
    // number it reports), else a device seen for the first time.
    ProductionTile* tile = InHand(outcome.DriverIndex);
    if (tile == nullptr) tile = Known(outcome.SerialNumber);
    if (tile == nullptr) {
        tile = &FreeTile();
        if (!outcome.SerialNumber.empty()) tile->Identities.push_back(outcome.SerialNumber);
    }
    tile->DriverIndex = outcome.DriverIndex;
    tile->Turn = ++turns_;
    tile->State = outcome.Passed ? TileState::Passed : TileState::Failed;
    tile->SerialNumber = outcome.SerialNumber;
    tile->Reason = outcome.Passed ? std::string() : outcome.Reason;
    tile->Finished = true;
    if (outcome.Passed && !outcome.SerialNumber.empty() &&
        std::find(tile->Identities.begin(), tile->Identities.end(), outcome.SerialNumber) ==
            tile->Identities.end())
        tile->Identities.push_back(outcome.SerialNumber);
    if (outcome.Passed) {
        ++passed_;
        lastSerial_ = outcome.SerialNumber;
    } else {
        ++failed_;
    }
}

void ProductionBoard::DevicesAttached(const std::vector<std::string>& serials) {
    if (!running_) return;
    if (std::any_of(serials.begin(), serials.end(),
                    [](const std::string& serial) { return serial.empty(); }))
        return;
    for (ProductionTile& tile : tiles_) {
        // A device in hand is being worked on; one known by no number cannot be looked for.
        if (tile.Removed || !tile.Finished || tile.Identities.empty()) continue;
        const bool attached =
            std::any_of(tile.Identities.begin(), tile.Identities.end(), [&](const auto& id) {
                return std::find(serials.begin(), serials.end(), id) != serials.end();
            });
        if (!attached) tile.Removed = true;
    }
}

void ProductionBoard::LabelFinished(std::int32_t driverIndex, const std::string& serial,
                                    bool printed, const std::string& reason) {
    ProductionTile* tile = Known(serial);
    if (tile == nullptr || tile->State != TileState::Passed) {
        tile = nullptr;
        for (ProductionTile& other : tiles_)
            if (!other.Removed && other.State == TileState::Passed &&
                other.DriverIndex == driverIndex && other.SerialNumber == serial)
                tile = &other;
    }
    if (tile == nullptr) return;
    tile->LabelFailure = printed ? std::string() : (reason.empty() ? "no reason given" : reason);
}

void ProductionBoard::RunEnded(const std::string& reason) {
    if (!running_) return;
    running_ = false;
    ended_ = clock_();
    stopMessage_ = reason;
    for (ProductionTile& tile : tiles_) {
        if (tile.Finished) continue;
        tile.State = TileState::Failed;
        tile.Reason = "not finished";
    }
}

std::optional<double> ProductionBoard::Yield() const {
    const int all = passed_ + failed_;
    if (all == 0) return std::nullopt;
    return static_cast<double>(passed_) / all;
}

std::optional<double> ProductionBoard::DevicesPerHour() const {
    const int all = passed_ + failed_;
    const auto until = running_ ? clock_() : ended_;
    const std::chrono::duration<double> elapsed = until - started_;
    if (all == 0 || elapsed < std::chrono::seconds(1)) return std::nullopt;
    return all * 3600.0 / elapsed.count();
}

std::string ProductionBoard::YieldText() const {
    const std::optional<double> yield = Yield();
    if (!yield) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", *yield * 100.0);
    return text;
}

std::string ProductionBoard::PerHourText() const {
    const std::optional<double> perHour = DevicesPerHour();
    if (!perHour) return "-";
    return std::to_string(std::llround(*perHour));
}

std::string ProductionBoard::StateText(TileState state) {
    switch (state) {
    case TileState::Working:
        return "WORKING";
    case TileState::Passed:
        return "PASS";
    case TileState::Failed:
        return "FAIL";
    }
    return "";
}

std::string ProductionBoard::DeviceText(const ProductionTile& tile) {
    return "Device " + std::to_string(tile.DriverIndex);
}

std::string ProductionBoard::NextStepText(const ProductionTile& tile) {
    if (tile.State != TileState::Failed || tile.Removed) return "";
    // Failures that come back on any retry: the chip, its EEPROM or what it holds. Anything
    // else (an open, a read, a write refused, a run that ended) may be the cable.
    static constexpr std::string_view DeviceFaults[] = {
        "EEPROM size not detected",
        "The strings do not fit the EEPROM",
        "keeps reading back the serial number",
        "not programmed (not blank",
    };
    for (std::string_view fault : DeviceFaults)
        if (tile.Reason.find(fault) != std::string::npos) return "Put aside";
    return "Unplug and plug in again to retry";
}

std::string ProductionBoard::LabelText(const ProductionTile& tile) {
    if (tile.LabelFailure.empty() || tile.State != TileState::Passed) return "";
    return "label failed: " + tile.LabelFailure;
}

std::string ProductionBoard::DetailText(const ProductionTile& tile) {
    switch (tile.State) {
    case TileState::Working:
        return "";
    case TileState::Passed:
        return tile.SerialNumber;
    case TileState::Failed:
        return tile.Reason;
    }
    return "";
}

} // namespace burnwise::ui
