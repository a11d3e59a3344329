#include "burnwise/ui/ProductionBoard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace burnwise::ui {

ProductionBoard::ProductionBoard(Clock clock) : clock_(std::move(clock)) {}

void ProductionBoard::Start() {
    tiles_.clear();
    passed_ = 0;
    failed_ = 0;
    lastSerial_.clear();
    stopMessage_.clear();
    running_ = true;
    started_ = clock_();
    ended_ = started_;
}

ProductionTile& ProductionBoard::TileFor(std::int32_t driverIndex) {
    const auto at = std::lower_bound(
        tiles_.begin(), tiles_.end(), driverIndex,
        [](const ProductionTile& tile, std::int32_t index) { return tile.DriverIndex < index; });
    if (at != tiles_.end() && at->DriverIndex == driverIndex) return *at;
    ProductionTile tile;
    tile.DriverIndex = driverIndex;
    return *tiles_.insert(at, tile);
}

const ProductionTile* ProductionBoard::TileOf(std::int32_t driverIndex) const {
    for (const ProductionTile& tile : tiles_)
        if (tile.DriverIndex == driverIndex) return &tile;
    return nullptr;
}

void ProductionBoard::DeviceStarted(std::int32_t driverIndex) {
    if (!running_) return;
    ProductionTile& tile = TileFor(driverIndex);
    tile = ProductionTile{};
    tile.DriverIndex = driverIndex;
}

void ProductionBoard::DeviceFinished(const device::DeviceOutcome& outcome) {
    if (!running_) return;
    ProductionTile& tile = TileFor(outcome.DriverIndex);
    tile.State = outcome.Passed ? TileState::Passed : TileState::Failed;
    tile.SerialNumber = outcome.SerialNumber;
    tile.Reason = outcome.Passed ? std::string() : outcome.Reason;
    tile.Finished = true;
    if (outcome.Passed) {
        ++passed_;
        lastSerial_ = outcome.SerialNumber;
    } else {
        ++failed_;
    }
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
