#pragma once

#include "burnwise/device/Reporter.h"

#include <string>
#include <vector>

namespace burnwise::app::testing {

// Keeps every line and box in order; boxes as "error: TEXT" / "info: TEXT".
struct Notes : device::Reporter {
    std::vector<std::string> Lines;
    std::vector<std::string> Boxes;

    void AppendLine(std::string_view line) override { Lines.emplace_back(line); }
    void ClearLines() override {}
    void ShowError(std::string_view text) override {
        Boxes.push_back("error: " + std::string(text));
    }
    void ShowInformation(std::string_view text) override {
        Boxes.push_back("info: " + std::string(text));
    }
};

} // namespace burnwise::app::testing
