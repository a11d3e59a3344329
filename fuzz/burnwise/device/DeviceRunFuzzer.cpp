// Every operation of the device engine on a driver whose answers come from the input: the
// device count, each call's status, the words read, the type codes and descriptions. No
// answer may crash an operation, leave a device open or keep a run going for ever.
#include "burnwise/ui/MainForm.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using namespace burnwise;

// Reads the input as a stream of answers; past its end every answer is 0 (success).
class Answers {
public:
    Answers(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class InputDriver final : public device::PipexDriver {
public:
    explicit InputDriver(Answers& answers) : in_(answers) {}
    int Opened = 0; // handles open now

    VQ_STATUS ListDevices(std::int32_t* count, void*, std::uint32_t) override {
        *count = static_cast<std::int8_t>(in_.Byte());
        return Status();
    }
    VQ_STATUS Open(std::int32_t, VQ_HANDLE* handle) override {
        const VQ_STATUS status = Status();
        if (status == VQ_OK) {
            ++Opened;
            *handle = this;
        }
        return status;
    }
    VQ_STATUS Close(VQ_HANDLE) override {
        if (Opened <= 0) std::abort(); // a close without an open
        --Opened;
        return Status();
    }
    VQ_STATUS SetLatencyTimer(VQ_HANDLE, std::uint8_t) override { return Status(); }
    VQ_STATUS GetDeviceInfo(VQ_HANDLE, std::uint32_t* typeCode, std::uint32_t*, char* serial,
                            char* description, void*) override {
        *typeCode = in_.Byte() % 7;
        if (description != nullptr) {
            // Any 64 bytes, none of them necessarily zero.
            for (int i = 0; i < VQ_TEXT_SIZE; ++i)
                description[i] = static_cast<char>(in_.Byte() % 4 == 0 ? 'B' : ' ');
        }
        if (serial != nullptr) std::memset(serial, 'S', VQ_TEXT_SIZE);
        return Status();
    }
    VQ_STATUS ReadEE(VQ_HANDLE, std::uint32_t, std::uint16_t* value) override {
        *value = in_.Word();
        return Status();
    }
    VQ_STATUS WriteEE(VQ_HANDLE, std::uint32_t, std::uint16_t) override { return Status(); }
    VQ_STATUS EraseEE(VQ_HANDLE) override { return Status(); }
    VQ_STATUS CyclePort(VQ_HANDLE) override { return Status(); }

private:
    // Mostly success, so the runs get far.
    VQ_STATUS Status() {
        const std::uint8_t b = in_.Byte();
        return b < 240 ? VQ_OK : static_cast<VQ_STATUS>(b - 239);
    }
    Answers& in_;
};

class NullHost final : public ui::FormHost {
public:
    std::optional<std::filesystem::path> RunOpenDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> RunSaveDialog(const ui::FileDialogOptions&) override {
        return std::nullopt;
    }
    void ShowErrorBox(std::string_view) override {}
    void ShowInformationBox(std::string_view) override {}
    bool AskGoOnOrCancel(std::string_view, std::string_view) override { return true; }
    void ProcessPendingEvents() override {}
    void OpenHelpFile(const std::filesystem::path&) override {}
    void ShowAboutBox() override {}
    void CloseWindow() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Answers answers(data + 2, size - 2);
    InputDriver driver(answers);
    NullHost host;
    ui::TMainForm form(host);
    const codec::FixedUtcClock clock({2026, 12, 9, 10, 0, 0});
    form.FormShow();
    form.AttachDriver(driver, clock);

    form.BWNewExecute();
    form.UserChooseEntry("CB1", 1 + data[0] % 8);
    if ((data[1] & 1) != 0) form.UserClick("CheckBox6");
    if ((data[1] & 2) != 0) form.UserClick("CheckBox5");
    switch ((data[1] >> 2) % 6) {
    case 0:
        form.BWProgramExecute();
        break;
    case 1:
        form.BWEraseExecute();
        break;
    case 2:
        form.Read1Click();
        break;
    case 3:
        form.ReadandParse1Click();
        break;
    case 4:
        form.ToolButton11Click();
        break;
    default:
        form.BWScanExecute();
        break;
    }
    if (driver.Opened != 0 || form.DeviceStation()->Engine().Unit.DeviceIsOpen)
        std::abort(); // left open
    return 0;
}
