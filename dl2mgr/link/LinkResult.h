#pragma once

#include "dl2mgr/link/SerialPort.h"

#include <string>

namespace dl2mgr::link {

// Results of opening the port and of the handshake. ConnectKeyer also returns -1 for a
// first-generation keyer, which is refused with its own status text.
enum LinkResult : int {
    LinkOk = 0,
    LinkNoEcho = -1,         // no echo byte within the read limit
    LinkEchoMismatch = -2,   // the echo byte was not 0x55
    LinkOpenFailed = -4,     // the port cannot be opened
    LinkGetStateFailed = -5, // the port's settings cannot be read
    LinkSetStateFailed = -6, // the line settings cannot be applied
    LinkPurgeFailed = -10,   // the receive buffer cannot be cleared
};

// The connection status line for a failed result.
const char* LinkStatusText(int result);

// Why a port did not open and what the user can do, in one line without a final stop.
std::string OpenErrorText(const OpenError& error);

} // namespace dl2mgr::link
