#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::device {

// The device operations, as a results table or a record names them.
enum class DeviceOperation { Scan, Program, Erase, Read, ReadAndParse, Cycle };

constexpr std::string_view OperationName(DeviceOperation operation) {
    switch (operation) {
    case DeviceOperation::Scan:
        return "Scan";
    case DeviceOperation::Program:
        return "Program";
    case DeviceOperation::Erase:
        return "Erase";
    case DeviceOperation::Read:
        return "Read";
    case DeviceOperation::ReadAndParse:
        return "Read and Parse";
    case DeviceOperation::Cycle:
        return "Cycle";
    }
    return "";
}

// How one device of an operation ended. Every device an operation takes (or should have
// taken and could not open or read) gets exactly one.
struct DeviceOutcome {
    DeviceOperation Operation = DeviceOperation::Scan;
    int Position = 0; // 0-based among the devices the operation visits; -1 for one the
                      // scan could not examine (its open or a call on it failed)
    std::int32_t DriverIndex = 0;
    std::string Model; // the model the device itself reported ("KR2", "KR4S"); empty if unknown
    std::string EepromTypeName; // the EEPROM detected ("93C46"); empty if unknown
    std::string SerialNumber;   // the serial number it holds or was given; empty if none
    bool Passed = false;
    // A scan's verdict on a device it counted: true blank, false programmed; nothing for
    // every other operation and a device it could not judge.
    std::optional<bool> Blank;
    std::string Reason; // why it failed (the line or box that said so); empty on a pass
    // The words a programmed device was written with and read back, as many as its EEPROM
    // takes; empty for a device that did not pass programming. A verify gives the words
    // the device holds.
    std::vector<std::uint16_t> ImageWritten;
};

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

    // An operation is done with one device, passed or failed.
    virtual void DeviceFinished(const DeviceOutcome& outcome) { (void)outcome; }

    // Asked after each device: true ends the operation after the device in hand, with
    // nothing left open.
    virtual bool StopRequested() { return false; }
};

} // namespace burnwise::device
