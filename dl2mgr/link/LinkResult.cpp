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

} // namespace dl2mgr::link
