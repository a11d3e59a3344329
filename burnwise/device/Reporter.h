#pragma once

#include <string_view>

namespace burnwise::device {

// Where every operation reports: lines for the message list, and modal boxes for
// conditions that end an operation. The window shows lines in its message list and boxes
// as dialogs; the command line prints lines to stdout and boxes to stderr.
class Reporter {
public:
    virtual ~Reporter() = default;

    virtual void AppendLine(std::string_view line) = 0;
    virtual void ClearLines() = 0;
    virtual void ShowError(std::string_view text) = 0;
    virtual void ShowInformation(std::string_view text) = 0;

    // A device operation is at the 1-based `position` of the `count` devices it visits;
    // (0, 0) when it has ended. Only for showing progress.
    virtual void DeviceProgress(int position, int count) {
        (void)position;
        (void)count;
    }
};

} // namespace burnwise::device
