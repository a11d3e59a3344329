#pragma once

#include "burnwise/codec/TextEscape.h"
#include "burnwise/device/Reporter.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace burnwise::cli {

// Reports on a terminal. Lines either go to stdout the moment they come (a long run shows
// its progress) or are kept as a message list is, to be printed when the command is done;
// boxes go to stderr as they come ("error: TEXT", "info: TEXT").
class ConsoleReporter : public device::Reporter {
public:
    enum class LineMode { Stream, Keep };
    // A run asks `stop` (when given) after each device: set, it ends after the devices in
    // hand (a signal sets it).
    explicit ConsoleReporter(LineMode mode, const volatile std::sig_atomic_t* stop = nullptr)
        : mode_(mode), stop_(stop) {}

    // Error boxes shown so far: a command that showed one has failed.
    int ErrorBoxes = 0;
    // The lines kept (LineMode::Keep), as a message list holds them now.
    std::vector<std::string> Lines;

    void AppendLine(std::string_view line) override {
        if (mode_ == LineMode::Stream)
            std::cout << codec::EscapeText(line) << std::endl;
        else
            Lines.emplace_back(line);
    }
    void ClearLines() override { Lines.clear(); }
    void ShowError(std::string_view text) override {
        ++ErrorBoxes;
        std::cerr << "error: " << codec::EscapeText(text) << std::endl;
    }
    void ShowInformation(std::string_view text) override {
        std::cerr << "info: " << codec::EscapeText(text) << std::endl;
    }

    void PrintLines(std::size_t from = 0) const {
        for (std::size_t i = from; i < Lines.size(); ++i)
            std::cout << codec::EscapeText(Lines[i]) << '\n';
    }

    bool StopRequested() override { return stop_ && *stop_ != 0; }

private:
    LineMode mode_;
    const volatile std::sig_atomic_t* stop_;
};

} // namespace burnwise::cli
