#pragma once

namespace burnwise::device {

// The two program-wide switches the device operations read besides the codec state.
struct RunFlags {
    // Programming and erasing leave devices that already hold a valid image alone.
    bool OnlyBlankDevices = false;
    // The gathered settings switch the USB serial number off, so every programmed device
    // counts as new whatever serial number it reads back.
    bool SerialNumberDisabled = false;
};

} // namespace burnwise::device
