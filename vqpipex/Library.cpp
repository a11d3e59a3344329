// The driver library's C functions over the simulated bench kept in a bench file.
//
// The bench file is read afresh at every VQ_ListDevices, as a real bus is enumerated afresh,
// so chips added with vqbench meanwhile show up at the next scan; the driver indexes stay as
// counted until then. Between counts every call on a handle first looks whether the file
// changed (one stat): a chip removed meanwhile is unplugged at once, and its handles fail.
//
// A write or erase that changes a part is stored in the file before the call returns, so a
// change that cannot be stored fails the call that made it. Replacing the file costs a
// flush of its data on many file systems, far more than a USB round trip, so a chip's words
// are rewritten in place (their text has a fixed length) while the file is the one this
// process last wrote or read; anything else (the first change to a file written by hand, a
// counted fault that struck, a file changed by another process) goes through a full merge
// and an atomic replace. Everything is under the bench lock, and the file is flushed to
// disk when a handle closes. A device is held for the process that opened it by a lock of
// its own (DeviceHold), which the system drops when the process ends.
//
// Calls come from many threads. The simulator and everything known about the file are
// guarded by one state lock, held only for a call's own work; each open device has a lock of
// its own, held for the whole call, the simulated round trip included, so that calls on
// different devices overlap as they do on a bus while one device does one transfer at a
// time. The file lock and the hold files work between processes as before; within this
// process the state lock already puts their users in turn.
#include "vqpipex/BenchFile.h"
#include "vqpipex/Simulator.h"
#include "vqpipex/vqpipex.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Tells one version of the file from another without reading it. A replaced file is
// another inode (the library keeps the file it knows open, so that inode number cannot come
// back meanwhile); a file changed in place has another size or other times.
struct Stamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    std::int64_t ModifiedNs = 0;
    std::int64_t ChangedNs = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

class LibraryBench final : public vqpipex::BenchKeeper {
public:
    LibraryBench() : Path(vqpipex::BenchPathFromEnvironment()) {
        if (const char* delay = std::getenv("VQPIPEX_DELAY_US")) {
            char* end = nullptr;
            errno = 0;
            const unsigned long us = std::strtoul(delay, &end, 10);
            // At most ten seconds a call; anything unreadable means no delay.
            if (errno == 0 && end != delay && *end == '\0' && us <= 10'000'000ul)
                Delay = std::chrono::microseconds(us);
        }
        if (const char* trace = std::getenv("VQPIPEX_TRACE"); trace != nullptr && *trace != '\0') {
            TraceFd = ::open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
            if (TraceFd < 0)
                Complain(std::string("cannot open the trace file ") + trace + ": " +
                         std::strerror(errno));
        }
        Sim.SetKeeper(this);
    }

    ~LibraryBench() override {
        std::lock_guard guard(Mutex);
        Save();
        Flush();
        Holds.clear();
        Sim.SetKeeper(nullptr);
        Forget();
        if (TraceFd >= 0) ::close(TraceFd);
    }

    std::mutex Mutex;
    vqpipex::Simulator Sim;
    const std::string Path;

    // Re-reads the bench file (creating the default bench on first use), carrying this
    // process's unsaved changes into it; the simulator takes the bench as it now is.
    bool Reload() { return Exchange(true); }

    bool EnsureLoaded() { return Loaded || Reload(); }

    // Before a call on a handle: catches up with a file changed since it was last seen.
    bool Sync() {
        if (!Loaded) return true; // no handle can be open yet
        struct stat st {};
        if (HaveFile && ::stat(Path.c_str(), &st) == 0 && StampOf(st) == Known) return true;
        return Exchange(false);
    }

    // Stores what is still this process's own (a struck fault whose count could not be
    // stored before).
    bool Save() { return !Pending() || Exchange(false); }

    // Puts what was rewritten in place on the disk.
    bool Flush() {
        if (FlushedStores == Stores) return true;
        FlushedStores = Stores;
        if (FileFd >= 0 && ::fdatasync(FileFd) != 0)
            return Complain("cannot flush the bench file " + Target + ": " + std::strerror(errno));
        return true;
    }

    // The same in three steps, so that the flush itself (milliseconds on many file systems)
    // is spent without the state lock while other devices go on: Flushing() with the lock
    // held, FlushFile() without it, Flushed() with it again. Flushes of several threads
    // then overlap, and none passes for done before its own has ended.
    struct FlushTicket {
        int Fd = -1;            // a descriptor of the bench file's own, or -1: nothing to do
        std::uint64_t Upto = 0; // the stores it puts on the disk
        bool Failed = false;
        int Error = 0; // errno of a failed flush made without the lock
    };
    FlushTicket Flushing() {
        FlushTicket ticket;
        if (FlushedStores == Stores || FileFd < 0) return ticket;
        ticket.Fd = ::fcntl(FileFd, F_DUPFD_CLOEXEC, 0);
        ticket.Upto = Stores;
        // Without a descriptor of its own the flush is made here, under the lock.
        if (ticket.Fd < 0) ticket.Failed = !Flush();
        return ticket;
    }
    static void FlushFile(FlushTicket& ticket) {
        if (ticket.Fd < 0) return;
        if (::fdatasync(ticket.Fd) != 0) {
            ticket.Failed = true;
            ticket.Error = errno;
        }
        ::close(ticket.Fd);
    }
    bool Flushed(const FlushTicket& ticket) {
        if (ticket.Failed) {
            // A flush made under the lock has said why already.
            if (ticket.Error != 0)
                Complain("cannot flush the bench file " + Target + ": " +
                         std::strerror(ticket.Error));
            return false;
        }
        FlushedStores = std::max(FlushedStores, ticket.Upto);
        return true;
    }

    bool KeepChange() override {
        switch (StoreInPlace()) {
        case InPlace::Stored:
            return true;
        case InPlace::Failed:
            return false;
        case InPlace::NotHere:
            break;
        }
        return Exchange(false);
    }

    bool Claim(const std::string& device) override {
        auto hold = std::make_unique<vqpipex::DeviceHold>(
            Target.empty() ? vqpipex::ResolveBenchPath(Path) : Target, device);
        if (!hold->Held()) {
            if (!hold->Error().empty()) Complain(hold->Error());
            return false;
        }
        Holds[device] = std::move(hold);
        return true;
    }

    void Release(const std::string& device) override { Holds.erase(device); }

    // At the end of every call's own work, with the state lock held: stores a struck fault's
    // new count, then writes the trace line.
    VQ_STATUS Finish(VQ_STATUS status, const char* format, ...)
        __attribute__((format(printf, 3, 4))) {
        if (Sim.FaultCountChanged()) Save();
        if (TraceFd >= 0) {
            char line[256];
            va_list args;
            va_start(args, format);
            int n = std::vsnprintf(line, sizeof line - 16, format, args);
            va_end(args);
            if (n < 0) n = 0;
            if (static_cast<std::size_t>(n) > sizeof line - 17) n = sizeof line - 17;
            n += std::snprintf(line + n, 16, " => %" PRIu32 "\n", status);
            // One write per line on an O_APPEND descriptor: lines of several processes
            // and threads never mix.
            [[maybe_unused]] const ssize_t written =
                ::write(TraceFd, line, static_cast<std::size_t>(n));
        }
        return status;
    }

    // Each call takes the configured time, counted from `start`, the moment the call came
    // in. Sleeps overshoot and the library's own work (a bench write-back) takes time too;
    // the overrun is carried into the next calls' sleeps of the same thread, so a run of n
    // calls takes n times the delay, as on a bus. Call without the state lock.
    void Pace(Clock::time_point start) const {
        if (Delay.count() == 0) return;
        thread_local std::chrono::nanoseconds overrun{0};
        const auto now = Clock::now();
        const auto target = start + Delay - overrun;
        if (target > now) std::this_thread::sleep_until(target);
        const auto end = Clock::now();
        overrun = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(end - target),
                             std::chrono::nanoseconds(0), std::chrono::nanoseconds(Delay) * 50);
    }

    bool Paced() const { return Delay.count() != 0; }

    // The lock of the device open on `handle`, made with the handle (null for no handle of
    // this library); call with the state lock held.
    std::shared_ptr<std::mutex> LineOf(VQ_HANDLE handle) {
        const auto it = Lines.find(reinterpret_cast<std::uintptr_t>(handle));
        return it == Lines.end() ? nullptr : it->second;
    }
    void Opened(VQ_HANDLE handle) {
        Lines[reinterpret_cast<std::uintptr_t>(handle)] = std::make_shared<std::mutex>();
    }
    void Closed(VQ_HANDLE handle) { Lines.erase(reinterpret_cast<std::uintptr_t>(handle)); }

private:
    enum class InPlace { Stored, Failed, NotHere };

    struct Merged {
        bool Changed = false;
        bool Lost = false; // a changed chip is no longer on the bench
    };

    bool Pending() const {
        for (const vqpipex::Chip& chip : Sim.GetBench().Chips)
            if (chip.WordsChanged || !chip.FaultsStruck.empty()) return true;
        return false;
    }

    // Puts this process's changes into `bench`, the file's contents.
    Merged Merge(vqpipex::Bench& bench) {
        Merged merged;
        for (vqpipex::Chip& mine : Sim.GetBench().Chips) {
            if (mine.Unplugged) continue;
            vqpipex::Chip* theirs = bench.FindChip(mine.Serial);
            if (theirs != nullptr && theirs->Words.size() != mine.Words.size()) theirs = nullptr;
            // A chip removed meanwhile takes its changes with it, as unplugging does.
            if (mine.WordsChanged) {
                if (theirs == nullptr) {
                    merged.Lost = true;
                } else {
                    theirs->Words = mine.Words;
                    merged.Changed = true;
                }
            }
            for (const auto& [channel, struck] : mine.FaultsStruck) {
                if (theirs == nullptr) break;
                auto& faults = theirs->Faults[static_cast<std::size_t>(channel)];
                for (auto it = faults.begin(); it != faults.end(); ++it) {
                    if (it->Kind == struck.Kind && it->Word == struck.Word &&
                        it->Status == struck.Status && it->Times > 0) {
                        if (--it->Times == 0) faults.erase(it);
                        merged.Changed = true;
                        break;
                    }
                }
            }
        }
        return merged;
    }

    // Once the file holds them, this process's changes are no longer its own.
    void Saved() {
        for (vqpipex::Chip& chip : Sim.GetBench().Chips) {
            chip.WordsChanged = false;
            chip.FaultsStruck.clear();
        }
    }

    // Lets go of what is known about the file; the next look reads it afresh.
    void Forget() {
        if (FileFd >= 0) ::close(FileFd);
        FileFd = -1;
        FileWritable = false;
        HaveFile = false;
        Canonical = false;
        KnownText.clear();
        Layout.clear();
        Known = {};
    }

    // Reads the file under the lock, merges this process's changes into it and writes it
    // back when that changed it. With `adopt` the simulator takes the bench as it is (a new
    // device count); else the chips it knows take the file's words and faults, and those no
    // longer in the file are unplugged. False when the file could not be read or written,
    // or a change was lost with its chip; this process's changes are then dropped.
    bool Exchange(bool adopt) {
        const std::string target = vqpipex::ResolveBenchPath(Path);
        vqpipex::BenchLock lock(target);
        if (!lock.Held()) return Complain(lock.Error());
        if (target != Target) {
            Forget();
            Target = target;
        }
        int fd = -1;
        vqpipex::TextOutcome read = vqpipex::ReadBenchText(target, &fd);
        bool write = false;
        if (read.Missing) {
            Forget();
            FileBench = vqpipex::DefaultBench(vqpipex::Entropy());
            write = true;
        } else if (!read.Text) {
            Forget();
            return Complain(read.Error);
        } else {
            if (FileFd >= 0) ::close(FileFd);
            FileFd = fd;
            FileWritable = false;
            if (!HaveFile || *read.Text != KnownText) {
                vqpipex::ParseOutcome parsed = vqpipex::ParseBench(*read.Text);
                if (!parsed.Value) {
                    Forget();
                    return Complain("damaged bench file " + target + ", " + parsed.Error);
                }
                FileBench = std::move(*parsed.Value);
                KnownText = std::move(*read.Text);
                Canonical = vqpipex::FormatBench(FileBench, &Layout) == KnownText;
                HaveFile = true;
            }
        }
        const Merged merged = Merge(FileBench);
        // The first change to a file written by hand puts it in the form rewritten in place.
        write = write || merged.Changed || (!Canonical && Pending());
        if (write) {
            std::string text = vqpipex::FormatBench(FileBench, &Layout);
            const std::string error = vqpipex::WriteBenchText(target, text);
            if (!error.empty()) {
                Forget();
                return Complain(error);
            }
            const int written = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
            if (FileFd >= 0) ::close(FileFd);
            FileFd = written;
            FileWritable = false;
            KnownText = std::move(text);
            Canonical = true;
            HaveFile = FileFd >= 0;
        }
        struct stat st {};
        if (FileFd >= 0 && ::fstat(FileFd, &st) == 0)
            Known = StampOf(st);
        else
            Forget();
        if (adopt) {
            Sim.ReplaceBench(FileBench);
        } else {
            for (vqpipex::Chip& mine : Sim.GetBench().Chips) {
                const vqpipex::Chip* theirs = FileBench.FindChip(mine.Serial);
                if (theirs == nullptr || theirs->Words.size() != mine.Words.size()) {
                    mine.Unplugged = true;
                } else {
                    mine.Words = theirs->Words;
                    mine.Faults = theirs->Faults;
                }
            }
        }
        Saved();
        Loaded = true;
        return !merged.Lost;
    }

    // Rewrites the changed chips' words in place when the file is still the one this
    // process knows and only words changed; NotHere when that is not so.
    InPlace StoreInPlace() {
        if (!HaveFile || !Canonical || FileFd < 0) return InPlace::NotHere;
        const auto& chips = Sim.GetBench().Chips;
        for (const vqpipex::Chip& chip : chips)
            if (!chip.FaultsStruck.empty()) return InPlace::NotHere;
        vqpipex::BenchLock lock(Target);
        if (!lock.Held()) {
            Complain(lock.Error());
            return InPlace::Failed;
        }
        struct stat st {};
        if (::stat(Target.c_str(), &st) != 0 || StampOf(st) != Known) return InPlace::NotHere;
        // Permission bits, not access(): root may write anything, but a file its owner made
        // read-only is left alone.
        if ((st.st_mode & S_IWUSR) == 0) {
            Complain("the bench file " + Target + " is read-only");
            return InPlace::Failed;
        }
        if (!FileWritable) {
            const int fd = ::open(Target.c_str(), O_RDWR | O_CLOEXEC);
            struct stat opened {};
            if (fd < 0 || ::fstat(fd, &opened) != 0 || StampOf(opened) != Known) {
                if (fd >= 0) ::close(fd);
                return InPlace::NotHere;
            }
            ::close(FileFd);
            FileFd = fd;
            FileWritable = true;
        }
        for (const vqpipex::Chip& mine : chips) {
            if (!mine.WordsChanged || mine.Unplugged) continue;
            vqpipex::Chip* theirs = FileBench.FindChip(mine.Serial);
            if (theirs == nullptr || theirs->Words.size() != mine.Words.size())
                return InPlace::NotHere;
            const auto at = static_cast<std::size_t>(theirs - FileBench.Chips.data());
            if (at >= Layout.size()) return InPlace::NotHere;
            const std::string text = vqpipex::FormatWords(mine);
            if (text.size() != Layout[at].Length) return InPlace::NotHere;
            std::size_t done = 0;
            while (done < text.size()) {
                const ssize_t n = ::pwrite(FileFd, text.data() + done, text.size() - done,
                                           static_cast<off_t>(Layout[at].Offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    Complain("cannot write the bench file " + Target + ": " +
                             std::strerror(n < 0 ? errno : EIO));
                    // What the file now holds is read afresh at the next call.
                    Forget();
                    return InPlace::Failed;
                }
                done += static_cast<std::size_t>(n);
            }
            theirs->Words = mine.Words;
            KnownText.replace(Layout[at].Offset, text.size(), text);
        }
        if (::fstat(FileFd, &st) == 0)
            Known = StampOf(st);
        else
            Forget();
        Saved();
        ++Stores;
        return InPlace::Stored;
    }

    // One line on stderr for each new trouble; the same trouble again says nothing more.
    bool Complain(const std::string& error) {
        if (error != LastComplaint) std::fprintf(stderr, "vqpipex: %s\n", error.c_str());
        LastComplaint = error;
        return false;
    }

    bool Loaded = false;
    std::chrono::microseconds Delay{0};
    int TraceFd = -1;
    std::string LastComplaint;

    // The bench file as this process last read or wrote it.
    std::string Target; // the resolved path
    int FileFd = -1;    // open on it, read-only until a word is rewritten in place
    bool FileWritable = false;
    bool HaveFile = false;
    Stamp Known;
    std::string KnownText;
    vqpipex::Bench FileBench;
    bool Canonical = false; // KnownText is FormatBench(FileBench), laid out as in Layout
    std::vector<vqpipex::WordsSpan> Layout;
    std::uint64_t Stores = 0;        // words rewritten in place, counted
    std::uint64_t FlushedStores = 0; // of those, put on the disk

    std::map<std::string, std::unique_ptr<vqpipex::DeviceHold>> Holds;
    // One lock per open handle; shared, so that a call still under way keeps its lock when
    // another thread closes the handle against the rules.
    std::map<std::uintptr_t, std::shared_ptr<std::mutex>> Lines;
};

LibraryBench& Library() {
    static LibraryBench library;
    return library;
}

// One call: marks its start, takes the lock of the device the handle is open on (if any)
// for the whole call and the state lock for its own work. Its end lets go of the state lock
// first and spends the rest of the round trip with only the device's lock held.
class Call {
public:
    LibraryBench& L;

    Call() : L(Library()), Start(L.Paced() ? Clock::now() : Clock::time_point{}), State(L.Mutex) {}

    explicit Call(VQ_HANDLE handle)
        : L(Library()), Start(L.Paced() ? Clock::now() : Clock::time_point{}) {
        {
            std::lock_guard guard(L.Mutex);
            Line = L.LineOf(handle);
        }
        if (Line) Device = std::unique_lock(*Line);
        State = std::unique_lock(L.Mutex);
    }

    ~Call() {
        if (State.owns_lock()) State.unlock();
        L.Pace(Start);
    }

    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // Lets go of the state lock for a while (the device's lock stays held) and takes it back.
    void Unlock() { State.unlock(); }
    void Lock() { State.lock(); }

private:
    Clock::time_point Start;
    std::shared_ptr<std::mutex> Line;
    std::unique_lock<std::mutex> Device;
    std::unique_lock<std::mutex> State;
};

} // namespace

extern "C" {

VQ_STATUS VQ_ListDevices(int32_t* count, void* reserved, uint32_t flags) {
    Call c;
    VQ_STATUS status = VQ_IO_ERROR;
    if (c.L.Reload()) status = c.L.Sim.ListDevices(count, reserved, flags);
    return c.L.Finish(status, "VQ_ListDevices flags=0x%08" PRIX32 " count=%" PRId32, flags,
                      count != nullptr && status == VQ_OK ? *count : -1);
}

VQ_STATUS VQ_Open(int32_t index, VQ_HANDLE* handle) {
    Call c;
    const VQ_STATUS status = c.L.EnsureLoaded() && c.L.Sync() ? c.L.Sim.Open(index, handle)
                                                              : VQ_STATUS{VQ_DEVICE_NOT_FOUND};
    if (status == VQ_OK) c.L.Opened(*handle);
    return c.L.Finish(status, "VQ_Open index=%" PRId32 " handle=%p", index,
                      handle != nullptr && status == VQ_OK ? *handle : nullptr);
}

VQ_STATUS VQ_Close(VQ_HANDLE handle) {
    Call c(handle);
    VQ_STATUS status = c.L.Sim.Close(handle);
    if (status != VQ_INVALID_HANDLE) c.L.Closed(handle);
    // The handle is closed either way; a lost write-back must not pass for success.
    if (status == VQ_OK) {
        if (c.L.Save()) {
            auto ticket = c.L.Flushing();
            c.Unlock();
            LibraryBench::FlushFile(ticket);
            c.Lock();
            if (!c.L.Flushed(ticket)) status = VQ_IO_ERROR;
        } else {
            status = VQ_IO_ERROR;
        }
    }
    return c.L.Finish(status, "VQ_Close handle=%p", handle);
}

VQ_STATUS VQ_SetLatencyTimer(VQ_HANDLE handle, uint8_t value) {
    Call c(handle);
    const VQ_STATUS status =
        c.L.Sync() ? c.L.Sim.SetLatencyTimer(handle, value) : VQ_STATUS{VQ_IO_ERROR};
    return c.L.Finish(status, "VQ_SetLatencyTimer handle=%p value=%u", handle,
                      static_cast<unsigned>(value));
}

VQ_STATUS VQ_GetDeviceInfo(VQ_HANDLE handle, uint32_t* typeCode, uint32_t* deviceId,
                           char* serialNumber, char* description, void* reserved) {
    Call c(handle);
    const VQ_STATUS status = c.L.Sync() ? c.L.Sim.GetDeviceInfo(handle, typeCode, deviceId,
                                                                serialNumber, description, reserved)
                                        : VQ_STATUS{VQ_IO_ERROR};
    return c.L.Finish(status, "VQ_GetDeviceInfo handle=%p type=%" PRId64, handle,
                      typeCode != nullptr && status == VQ_OK ? static_cast<int64_t>(*typeCode)
                                                             : -1);
}

VQ_STATUS VQ_ReadEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t* value) {
    Call c(handle);
    const VQ_STATUS status =
        c.L.Sync() ? c.L.Sim.ReadEE(handle, wordOffset, value) : VQ_STATUS{VQ_IO_ERROR};
    return c.L.Finish(status, "VQ_ReadEE handle=%p offset=%" PRIu32 " value=0x%04X", handle,
                      wordOffset, value != nullptr && status == VQ_OK ? *value : 0u);
}

VQ_STATUS VQ_WriteEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t value) {
    Call c(handle);
    const VQ_STATUS status =
        c.L.Sync() ? c.L.Sim.WriteEE(handle, wordOffset, value) : VQ_STATUS{VQ_IO_ERROR};
    return c.L.Finish(status, "VQ_WriteEE handle=%p offset=%" PRIu32 " value=0x%04X", handle,
                      wordOffset, static_cast<unsigned>(value));
}

VQ_STATUS VQ_EraseEE(VQ_HANDLE handle) {
    Call c(handle);
    const VQ_STATUS status = c.L.Sync() ? c.L.Sim.EraseEE(handle) : VQ_STATUS{VQ_IO_ERROR};
    return c.L.Finish(status, "VQ_EraseEE handle=%p", handle);
}

VQ_STATUS VQ_CyclePort(VQ_HANDLE handle) {
    Call c(handle);
    VQ_STATUS status = c.L.Sync() ? c.L.Sim.CyclePort(handle) : VQ_STATUS{VQ_IO_ERROR};
    // The device drops off the bus: what it holds must be on the bench by now.
    if (status == VQ_OK && !(c.L.Save() && c.L.Flush())) status = VQ_IO_ERROR;
    return c.L.Finish(status, "VQ_CyclePort handle=%p", handle);
}

int VQSIM_IsSimulator(void) {
    return 1;
}

const char* VQSIM_BenchPath(void) {
    return Library().Path.c_str();
}

} // extern "C"
