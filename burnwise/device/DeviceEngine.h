#pragma once

#include "burnwise/codec/CodecState.h"
#include "burnwise/codec/SerialNumber.h"
#include "burnwise/device/PipexUnit.h"
#include "burnwise/device/Reporter.h"
#include "burnwise/device/RunFlags.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::device {

// A scan never examines a driver index of 16 or more, whatever the driver reports.
inline constexpr int MaxScanDevices = 16;
// Said at the end of every operation whose count found more devices than that.
inline constexpr std::string_view FirstDevicesOnlyLine = "only the first 16 devices are examined";
static_assert(MaxScanDevices == 16, "FirstDevicesOnlyLine names the number");
inline constexpr std::size_t ScanListSize = 128;

// What ReadAndClassify makes of the open device.
enum ClassifyVerdict : int { VerdictProgrammed = 0, VerdictUnreadable = 4, VerdictBlank = 15 };

// The program time of KR4 devices, in the two halves of the latency timer value (0x77).
inline constexpr std::uint8_t ProgramTimeHigh = 7;
inline constexpr std::uint8_t ProgramTimeLow = 7;

// A device that reads back the previous device's serial number is programmed again at most
// this many times in all before the run gives up on it.
inline constexpr int MaxSerialPasses = 3;

// Why a run that programs every device at once writes no device that would take its serial
// number from the clock.
inline constexpr std::string_view ClockSerialsNotAtOnce =
    "Serial numbers from the clock step once a second and cannot be given to devices "
    "programmed at once - nothing written to any device";

// The results of the last scan.
struct ScanResults {
    std::array<std::int32_t, ScanListSize> SelectedDevices{};
    int SelectedCount = 0;
    // Every device the scan could open, in the order found.
    std::array<std::int32_t, ScanListSize> OpenedDevices{};
    int OpenedCount = 0;
    // The devices that went into BlankCount or ProgrammedCount, in the order found. Read
    // and Read and Parse visit these, so they see exactly the devices the scan counted.
    std::array<std::int32_t, ScanListSize> CountedDevices{};
    int BlankCount = 0;
    int ProgrammedCount = 0;
};

// Where the programming run takes its settings from: the main window's fields.
class SettingsSource {
public:
    virtual ~SettingsSource() = default;
    // Checks the total length of the texts (a line when too long); the run goes on anyway.
    virtual bool CheckStringTotal() = 0;
    // Fills the codec state's settings for the device with the 0-based run number.
    virtual void GatherSettings(int deviceNumber) = 0;
};

// Where Read and Parse shows a decoded device: the main window's fields.
class ParsedDeviceSink {
public:
    virtual ~ParsedDeviceSink() = default;
    virtual void PutIntoWindow(codec::EepromSettings& settings,
                               codec::FamilySelectors& selectors) = 0;
    virtual void ShowParsedDeviceType(const codec::EepromSettings& settings,
                                      const codec::FamilySelectors& selectors) = 0;
    // Given every device read whole, once its words are judged: the words, the part its
    // image names (a KR3 image names its part; any other is taken as "93C46") and whether
    // they hold a valid image. True when the sink reports a device without one itself (an
    // audit names a blank device as such); false leaves the walk to report it as a failed
    // read, as the window's Read and Parse does.
    virtual bool WordsRead(const codec::EepromImage& words, std::string_view eepromTypeName,
                           bool valid) {
        (void)words;
        (void)eepromTypeName;
        (void)valid;
        return false;
    }
};

// How an operation ended: it went through every device it took and each passed; it found
// none; it stopped at a device (a failed open, read-back or programming step); it went
// through every device but at least one failed; or it was asked to stop after a device.
// Only Completed means every device the operation should have taken went through.
enum class RunEnd { Completed, NoDevices, Stopped, Failed, Cancelled };

// The last serial number generated from the clock on this machine, kept across runs and
// processes, so that two runs within one second never hand out the same one. Lock holds
// it against every other run until Unlock.
class ClockSerialRecord {
public:
    virtual ~ClockSerialRecord() = default;
    // Takes the lock and reads the time of the last clock serial number issued (nothing
    // when none was). False with `error` when it cannot be locked or read.
    virtual bool Lock(std::optional<codec::UtcTime>& last, std::string& error) = 0;
    // Records `issued` as the last one, replacing the record whole. False with `error`.
    virtual bool Store(const codec::UtcTime& issued, std::string& error) = 0;
    virtual void Unlock() = 0;
};

// What one operation tells and asks its caller besides the Reporter, for that call only.
// Every member may be left empty.
struct RunContext {
    // Told of every device outcome, right after the Reporter's DeviceFinished (e.g. for a
    // production log).
    std::function<void(const DeviceOutcome&)> DeviceFinished;
    // Asked after each device besides the Reporter's StopRequested: true ends the operation
    // the same way (e.g. when its production log can no longer be written).
    std::function<bool()> StopWanted;
    // A programming run: gives the fixed serial number of the device at each position in
    // place of the settings' (e.g. from a production line's counter). Called once per
    // device, before it is opened; nothing (with `error` said) ends the run there, with
    // `error` as its box and nothing written to that device.
    std::function<std::optional<std::string>(int position, std::string& error)> SerialSource;
    // A programming run: told of each device it takes in hand, by its driver index, before
    // its serial number is taken and before anything is asked of or written to it.
    std::function<void(std::int32_t driverIndex)> DeviceTaken;
    // A scan passes over every device whose reported serial number this refuses (a device
    // that cannot be opened or asked reports none), as if nothing were attached there. A
    // production line's watch uses it to work on the devices just plugged in only, known by
    // what they are, whatever index the driver gives them at this count.
    std::function<bool(const std::string& reportedSerial)> ScanFilter;
    // A programming scan asks it of every device it counts as programmed, with the serial
    // number the device reports, the image the scan read from it and the serial number that
    // image holds: a line means the device already holds what this run would give it. The
    // line is said and the device is left alone. May be called on several threads at once by
    // a run that programs every device at once.
    std::function<std::optional<std::string>(const std::string& reportedSerial,
                                             const codec::EepromImage& image,
                                             const std::string& imageSerial)>
        AlreadyWritten;
    // A programming run: told of each device once its serial number is fixed and before
    // anything is written to it; a run at once tells of every position before it writes any
    // device. `attempt` names the position, the driver index, the model and the serial number
    // the device is to get (for one from the clock, the one it will get); `reportedSerial` is
    // the serial number the device reports now. A reason refuses the device: nothing is
    // written to it, it ends FAIL with that line and the run goes on.
    std::function<std::optional<std::string>(const DeviceOutcome& attempt,
                                             std::string_view reportedSerial)>
        AttemptStarts;
    // Erase asks it with the driver indexes its scan selected, before it erases any; false
    // cancels the erase with nothing erased.
    std::function<bool(std::span<const std::int32_t> driverIndexes)> ConfirmErase;
};

// Burnwise's device operations over one driver: the scans, the programming run, erase,
// read, read and parse and cycle. Reports go to the Reporter; nothing is left open when an
// operation ends.
class DeviceEngine {
public:
    // Every serial number generated from the clock is first recorded in `clockRecord` (when
    // there is one), after waiting until the clock has moved past the last one this machine
    // issued. The clock and record must outlive the engine.
    DeviceEngine(PipexDriver& driver, codec::CodecState& codec, RunFlags& flags, Reporter& reporter,
                 const codec::UtcClock& clock, ClockSerialRecord* clockRecord = nullptr);
    ~DeviceEngine();
    DeviceEngine(const DeviceEngine&) = delete;
    DeviceEngine& operator=(const DeviceEngine&) = delete;

    PipexUnit Unit;
    ScanResults Scan;

    // ---- Classification and scans ------------------------------------------------------

    // Reads the open device whole and decodes it in `mode` (codec::DecodeKeepChipType or
    // codec::DecodeFromScratch): VerdictProgrammed, VerdictBlank or VerdictUnreadable.
    int ReadAndClassify(int mode);
    // The description's last non-zero character among its first 64 is "B" after a blank
    // (or the description is "B" alone): the second channel of a KR3 chip.
    static bool IsChannelB(std::span<const char> description);
    // Whether the open device is of the chosen model as far as its factory words tell (read
    // in the scan for a family with an identity test): words 64 and 65 are complements and
    // bit 0 of word 66 names the model (1 for KR4F); a failed read fails the test.
    bool PassesIdentityTest() const;
    // The family of the open device, by the type code it reported.
    codec::ChipFamily Family() const;
    // The FIFO bit of the open KR4 chip's factory words (true for KR4F); nothing when a
    // word cannot be read or words 64 and 65 are not complements.
    std::optional<bool> Kr4FifoBit();

    // The serial number each attached device reports, by driver index (at most
    // MaxScanDevices; empty where a device cannot be opened or asked), from one count of
    // the devices, which Unit.DeviceCount then holds. Nothing when the count fails. Reads no
    // EEPROM.
    std::optional<std::vector<std::string>> AttachedSerials();

    // The model the last scan found the device at `driverIndex` reporting (see
    // codec::ReportedModelName); empty when it did not examine it.
    std::string ReportedModel(std::int32_t driverIndex) const {
        const DeviceNote* note = NoteOf(driverIndex);
        return note ? note->Model : std::string();
    }

    // The serial number the last scan found the device at `driverIndex` reporting.
    std::string ReportedSerial(std::int32_t driverIndex) const {
        const DeviceNote* note = NoteOf(driverIndex);
        return note ? note->Serial : std::string();
    }

    // Whether the last scan found the second channel of a KR3 chip at `driverIndex` (it
    // shares channel A's EEPROM and is never worked on by itself).
    bool ReportedSecondChannel(std::int32_t driverIndex) const {
        const DeviceNote* note = NoteOf(driverIndex);
        return note && note->SecondChannel;
    }
    // Whether the last programming scan left the device at `driverIndex` alone because it
    // already holds what the run would give it (see AlreadyWritten).
    bool FoundAlreadyWritten(std::int32_t driverIndex) const {
        const DeviceNote* note = NoteOf(driverIndex);
        return note && note->AlreadyWritten;
    }

    int SurveyScan();
    int EraseScan();
    int ProgramScan();

    // ---- Operations (each reports as it goes and ends with nothing open) ------------

    // Survey and report the blank and programmed counts.
    RunEnd ScanDevices(const RunContext& context = {});
    // Programs every device ProgramScan selects, from `settings`.
    RunEnd ProgramRun(SettingsSource& settings, const RunContext& context = {});
    // The same run with every device at once: the scan examines the devices and the run
    // programs those it selects, each device on a thread of its own with a handle of its
    // own. Settings and serial numbers are taken on this thread, in position order, before
    // any device is written; each device's lines, boxes and outcome reach the Reporter here,
    // in position order, as the run above gives them. A device that fails does not stop the
    // others; a stop request is asked before the devices start and after each device, and
    // lets the devices already running finish. A position that would take its serial number
    // from the clock is never written: the run ends there with ClockSerialsNotAtOnce (the
    // plan refuses such a run before it comes here).
    RunEnd ProgramRunParallel(SettingsSource& settings, const RunContext& context = {});
    RunEnd Erase(const RunContext& context = {});
    RunEnd Read(const RunContext& context = {});
    RunEnd ReadAndParse(ParsedDeviceSink& sink, const RunContext& context = {});
    // Cycles every device ProgramScan selects (the caller refreshes the selectors first).
    RunEnd Cycle(const RunContext& context = {});
    // How the last operation ended.
    RunEnd LastEnd = RunEnd::Completed;

    // How programming one open device went. The size probe that finds no size leaves the
    // part as it found it, or could not put back the word it changed.
    enum class ProgramStep { Written, StringsDoNotFit, UnknownEeprom, UnknownEepromProbeLeft };
    ProgramStep ProgramOneDevice();
    bool SetProgramTime();

private:
    friend class GangRun;

    // The context of the operation in progress, its own for the length of the call (an
    // empty one between operations).
    class InContext {
    public:
        InContext(DeviceEngine& engine, const RunContext& context);
        ~InContext();
        InContext(const InContext&) = delete;
        InContext& operator=(const InContext&) = delete;

    private:
        DeviceEngine& engine_;
        const RunContext* outer_;
    };

    // What the last scan learnt of each driver index it examined.
    struct DeviceNote {
        bool Examined = false;
        bool Taken = false; // counted (survey) or selected (erase, program)
        std::string Model;  // as codec::ReportedModelName gives it
        codec::ChipFamily Family = codec::ChipFamily::None; // by its type code
        std::string Serial;          // the serial number it reports (not the one its EEPROM holds)
        std::string Fault;           // the first failed call on it, as its box or line said
        int Position = 0;            // its step in the scan
        std::optional<bool> Blank;   // the verdict of the scan that counted it
        bool SecondChannel = false;  // channel B of a KR3 chip
        bool AlreadyWritten = false; // holds what the run would give it: left alone
    };
    enum class Variant { Survey, Erase, Program };
    // Starts an operation's bookkeeping of outcomes.
    void Begin(DeviceOperation operation);
    // Reports how one device ended; true when the operation must end after it (a stop
    // was requested, and "Stopped after device N" has been appended).
    bool Finish(DeviceOutcome outcome);
    // Asks for a stop before the device at `driverIndex` is looked at or written; when one
    // was asked for (now or before), the operation ends there with "Stopped before device N"
    // said once, and true.
    bool StopBeforeDevice(std::int32_t driverIndex);
    // A device outcome of the running operation, with what the scan learnt of it.
    DeviceOutcome Outcome(int position, std::int32_t driverIndex, bool passed,
                          std::string reason) const;
    // Fails every device the last scan examined but did not take because a driver call on
    // it failed, with a line each. True when a stop was requested after one of them.
    bool FailSkippedDevices();
    const DeviceNote* NoteOf(std::int32_t driverIndex) const;
    // The open device reads all ones after an erase (the user words of a KR4 chip).
    bool ReadsBlank(std::int32_t driverIndex);
    int RunScan(Variant variant);
    // The scan's look at the device at Unit.CurrentDeviceIndex, its `n`-th step: opens,
    // examines and closes it, and adds what it found to Scan and its note.
    void ScanIndex(Variant variant, int n);
    // Read and Read and Parse: survey, then open each device the survey counted in turn and
    // visit it by its driver index; a failed open ends the walk. The visit gives the line
    // that failed the device, or nothing.
    RunEnd WalkCountedDevices(const std::function<std::string(std::int32_t driverIndex)>& visit);
    void Examine(Variant variant);
    void ExamineSurvey(bool onlyBlank);
    void ExamineErase();
    void ExamineProgram();
    // Reads the device information into fresh zeroed buffers; sets typeCode_ and
    // description_. True when the call succeeded.
    bool GetDeviceInfo();
    bool IsChannelA(bool infoOk) const;
    int Classify();
    void Count(int verdict);
    void Select();
    void CountAndSelectBlank(int verdict);
    void WaitForNewSerial(const std::string& serial);
    // How one programming pass on a device ended: it passed with the serial number it reads
    // back, it failed (its box, or the line already appended), or it must be programmed
    // again.
    struct PassEnd {
        enum class Kind { Passed, Failed, Again };
        Kind What = Kind::Failed;
        std::string Failure;
        bool Box = true;
        std::string ReadSerial;
    };
    // One pass of the programming sequence on the device at `driverIndex`, from the settings
    // in the codec state: open, size detection, write, read-back, verify, close. Devices of
    // this run hold `runSerials`; `passes` passes on this device went before.
    PassEnd ProgramPass(std::int32_t driverIndex, const std::set<std::string>& runSerials,
                        int passes);
    // Reports how the device at `position` of a programming run ended, from the codec
    // state; `reserved` is the serial number it was to get. True when the run must end.
    bool FinishProgram(int position, std::string failure, bool box, const std::string& reserved);
    // The box of a device the context's SerialSource gave no number for: its `error`, or
    // a line naming the device when it said none.
    std::string SerialSourceFailed(int position, const std::string& error) const;
    // After the programming scan: fails the devices it could not examine and says when it
    // found none. The run's end when it ends there.
    std::optional<RunEnd> AfterProgramScan(int count);
    // Takes the time for a clock serial number from the machine's record (when the engine
    // has one): waits until the clock has passed the last one issued and records the new
    // one. The failure's text when that cannot be done.
    std::optional<std::string> IssueClockTime(std::int32_t driverIndex);
    // Tells the context's AttemptStarts of the device at `position`, which is to get `serial`: its
    // refusal, or nothing when the device may be written.
    std::optional<std::string> StartAttempt(int position, const std::string& serial);
    void Progress(int position, int count);
    // Reports the end of an operation and keeps its result: Completed becomes Failed when a
    // device failed, or when a program or erase run left attached devices out, and anything
    // becomes Cancelled after a stop request. Lets go of every device still held.
    RunEnd End(RunEnd end);

    // A device that a programming or erase scan took stays open from its judgement to its
    // write, so nothing else (another run, another program) can write it in between and
    // leave the judgement stale. The scan keeps the unit's open device here; the work on it
    // takes it back instead of opening it again.
    void HoldCurrentDevice();
    // Closes the device in hand and forgets it: the scan's filter refused it.
    void PassOver(DeviceNote& note);
    // Makes the device at `driverIndex` the unit's open device: the one held for it, or a
    // fresh open (with its boxes on failure).
    bool OpenForWork(std::int32_t driverIndex);
    void ReleaseHeldDevices();

    codec::CodecState& codec_;
    RunFlags& flags_;
    Reporter& reporter_;
    const codec::UtcClock& clock_;
    ClockSerialRecord* clockRecord_;
    const RunContext* context_;
    std::uint32_t typeCode_ = 0;
    bool infoOk_ = false;
    std::optional<bool> kr4Fifo_;
    std::array<char, VQ_TEXT_SIZE> description_{};
    std::string reportedSerial_;
    std::array<DeviceNote, MaxScanDevices> notes_{};
    DeviceOperation operation_ = DeviceOperation::Scan;
    bool anyFailed_ = false;
    bool cancelled_ = false;
    // Handles of the devices held between their judgement and their write, by driver index.
    std::array<VQ_HANDLE, MaxScanDevices> held_{};
    // The device a stop was taken before, nothing written from there on.
    std::optional<std::int32_t> stoppedBefore_;
    std::string lastEncodedSerial_;
    // While set, the time the serial number of the device in hand is generated from.
    std::optional<codec::UtcTime> issuedTime_;
    // The scan's look at the device in hand decoded its contents into the codec state.
    bool classified_ = false;
    // Attached devices past MaxScanDevices that the last scan did not examine.
    int leftOut_ = 0;
};

} // namespace burnwise::device
