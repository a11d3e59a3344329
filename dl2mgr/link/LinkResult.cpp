#include "dl2mgr/link/LinkResult.h"

namespace dl2mgr::link {

const char* LinkStatusText(int result) {
    switch (result) {
    case LinkNoEcho:
        return "DL Fail:no echo";
    case LinkEchoMismatch:
        return "DL Fail:echo mismatch";
    case LinkOpenFailed:
        return "DL Fail:comm open";
    case LinkGetStateFailed:
        return "DL Fail:get comm state";
    case LinkSetStateFailed:
        return "DL Fail:set comm state";
    case LinkPurgeFailed:
        return "DL Fail:comm purge";
    default:
        return "DL Fail:unknown error";
    }
}

std::string OpenErrorText(const OpenError& error) {
    const std::string& device = error.Device;
    switch (error.Failure) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NoSuchDevice:
        return "no such device " + device +
               ": plug the adapter in, or choose another port (dl2mgr-cli ports lists them)";
    case OpenFailure::PermissionDenied: {
        // Serial ports and USB adapters belong to the group dialout; joining root's group
        // is no advice to give.
        const std::string group =
            error.Group.empty() || error.Group == "root" ? "dialout" : error.Group;
        return "permission denied on " + device + ": the user must be in the group " + group +
               " (sudo adduser $USER " + group + ", then log in again)";
    }
    case OpenFailure::Folder:
        return device + " is a folder, not a serial port";
    case OpenFailure::NotATerminal:
        return device + " is not a terminal: choose a serial port";
    case OpenFailure::InUse:
        return device + " is in use by another program: close it, or wait until it is done";
    case OpenFailure::Other:
        break;
    }
    return device + " cannot be opened" +
           (error.SystemText.empty() ? std::string() : ": " + error.SystemText);
}

} // namespace dl2mgr::link
