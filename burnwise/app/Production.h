#pragma once

#include "burnwise/app/Plan.h"
#include "burnwise/app/ProductionLog.h"
#include "burnwise/app/SerialCounter.h"
#include "burnwise/app/Station.h"
#include "burnwise/app/Template.h"
#include "burnwise/app/Watcher.h"
#include "burnwise/device/Reporter.h"
#include "burnwise/records/RecordStore.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::app {

struct ProductionSetup {
    std::filesystem::path TemplateFile; // read once (bounded) and hashed
    std::string DatabaseUrl;            // "" = the default SQLite file
    std::string Station;                // "" = the host name; UTF-8, at most 64 characters
    SerialSource Serials = SerialSource::Template;
    std::filesystem::path CounterFile;            // for SerialSource::Counter
    std::optional<std::filesystem::path> LogFile; // the CSV log, in addition to the records
    bool Parallel = false;                        // every device at once
    bool Watch = false; // devices are taken as they are plugged in, pass after pass
    // How a refusal of the plan is said to this front end's users; its neutral text when
    // not set.
    std::function<std::string(const Refusal&)> Words;
    // A serial number the records hold as PASS on another device may be written again.
    bool AllowReuse = false;
    // Asked, once per run, whether a serial number the records hold as PASS may be written
    // again (the question says which and when); without it, or on false, the device is
    // refused.
    std::function<bool(std::string_view question)> AskReuse;
};

// Opens the record store a URL names (records::OpenRecordStore in the programs); nothing
// with `error` set when it cannot.
using StoreOpener = std::function<std::unique_ptr<records::RecordStore>(const std::string& url,
                                                                        std::string& error)>;

// The reason a device gets when the database cannot be reached.
inline constexpr std::string_view DatabaseUnreachable = "database unreachable";

// A production station's run: the template it programs from, where its serial numbers come
// from, and the records every device it touches leaves behind (in the database, and in the
// CSV log when one is given). Each record is written before the next device starts; a run
// whose record cannot be written stops there, and no device is written without a reserved
// number when the numbers come from a counter or a series.
class Production {
public:
    // Reads the template, plans the run (PlanRun), and opens the counter or series, the log
    // and the store. The template's lines go to `notes` when given. Null with `error` set
    // to one line otherwise.
    static std::unique_ptr<Production> Open(const ProductionSetup& setup, const StoreOpener& opener,
                                            std::string& error, device::Reporter* notes = nullptr);
    Production(const Production&) = delete;
    Production& operator=(const Production&) = delete;
    ~Production();

    const ProductionSetup& Setup() const { return setup_; }
    // Who is asked whether a number already passed may be written again (see
    // ProductionSetup::AskReuse).
    void SetAskReuse(std::function<bool(std::string_view question)> ask) {
        setup_.AskReuse = std::move(ask);
    }
    // The template as it is programmed.
    const Template& Shown() const { return plan_.Checked; }
    const RunPlan& Plan() const { return plan_; }
    // The station name the records carry.
    const std::string& StationName() const { return station_; }
    const std::string& TemplateSha256() const { return templateSha256_; }
    records::RecordStore& Store() { return *store_; }
    // What a run says at its start: the database, and for a series its key and next
    // number ("series QA/6 in postgresql://line@db1/production: next QA000241").
    std::string StartLine();

    // What a program run or a watch pass is given: the template, the serial numbers (from
    // the counter or the series, each reserved before its device is reached) and the
    // recording of every outcome under `operation`.
    ProgramRequest Request(std::string operation = "program");

    // Records one outcome of `operation` and appends it to the log. False, with
    // StopReason() set, when either cannot be written: the run must stop. The outcome of a
    // device whose attempt was recorded completes that record.
    bool Record(const device::DeviceOutcome& outcome, std::string_view operation);

    // Whether a device holding `image`, whose image holds the serial number `serial` (the
    // chip's text), holds what a PASS program record gave it: that image, whole, with that
    // number. Nothing when the records cannot be asked.
    std::optional<bool> HoldsRecordedImage(const codec::EepromImage& image,
                                           const std::string& serial);
    // Whether the database answers now; false with `error` set when it does not.
    bool Reachable(std::string& error);
    // Whether the connection to the database is gone (a server stopped or stalled).
    bool Lost() const { return store_->Lost(); }
    // Opens the database again after it was lost and writes the records that could not be
    // written meanwhile. False with `error` set while it cannot be reached; nothing is lost.
    bool Reconnect(std::string& error);
    // Gives a watch these records: whether a chip holds what a PASS record gave it, whether
    // the database answers, and the way back to it once it is lost.
    void Serve(WatchRequest& watch);
    // Records of devices written that wait for the database to come back.
    std::size_t Unwritten() const { return unwritten_.size(); }

    // Records the attempt of a device about to be written (its number's reservation
    // committed with it) and refuses a serial number the records hold as PASS on another
    // device unless reuse is allowed. The refusal, or nothing when the device may be written.
    std::optional<std::string> Attempt(const device::DeviceOutcome& attempt,
                                       std::string_view reportedSerial);

    // One line for each attempt of this station that was never completed: the device was
    // being written when the station stopped. Empty when the records cannot say.
    std::vector<std::string> InterruptedAttempts();

    // Completes this station's interrupted attempts of the verified device's serial number
    // with what verify found on it. False, with StopReason() set, when that cannot be
    // written.
    bool CompleteFromVerify(const device::DeviceOutcome& verified);

    // Why the last run stopped early because of the records (the database unreachable, a
    // record or a log line that cannot be written), or empty.
    const std::string& StopReason() const { return stopReason_; }
    // Devices recorded since the station opened.
    int Recorded() const { return recorded_; }
    // The record Record() wrote last (or tried to): a label is printed from it.
    const records::Record& LastRecord() const { return lastRecord_; }

private:
    Production() = default;
    std::optional<std::string> NextSerial(std::string& error);
    records::Record RecordOf(const device::DeviceOutcome& outcome,
                             std::string_view operation) const;
    std::string StoreFailure(const std::string& error) const;

    ProductionSetup setup_;
    RunPlan plan_;
    std::string station_;
    std::string templateName_;
    std::string templateSha256_;
    std::unique_ptr<records::RecordStore> store_;
    StoreOpener opener_;
    std::vector<records::Record> unwritten_; // kept while the database was lost
    std::optional<SerialPattern> pattern_;
    std::optional<SerialCounter> counter_;
    std::optional<ProductionLog> log_;
    std::string stopReason_;
    int recorded_ = 0;
    records::Record lastRecord_;
    // Attempts recorded and not yet completed, by driver index.
    std::map<std::int32_t, std::int64_t> attempts_;
    // The answer of this run to the question of reuse, once asked.
    std::optional<bool> reuseAnswer_;
};

// The image a device was written with, by its SHA-256 as a record keeps it: the words in
// order, each low byte first. Empty for no image.
std::string ImageSha256(const std::vector<std::uint16_t>& words);

// This machine's host name, or "localhost" when it has none.
std::string HostName();

} // namespace burnwise::app
