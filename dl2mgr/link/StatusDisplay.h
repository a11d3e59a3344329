#pragma once

#include <string>

namespace dl2mgr::link {

// Where a connect reports: the connection status line and the two number fields beside the
// "PotVal" and "PbVal" labels. The command-line tool prints them; the window shows them.
class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowPotVal(const std::string& text) = 0;
    virtual void ShowPbVal(const std::string& text) = 0;
};

} // namespace dl2mgr::link
