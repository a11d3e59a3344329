#include "vqpipex/BenchFile.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vqpipex {
namespace {

constexpr std::string_view Magic = "vqpipex-bench";
constexpr std::string_view Version = "1";
constexpr std::size_t WordsPerLine = 16;

std::vector<std::string_view> Tokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
    if (text.empty() || text.front() == '+') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ValidSerial(std::string_view serial) {
    if (serial.empty() || serial.size() > 16) return false;
    for (char c : serial)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

class Parser {
public:
    ParseOutcome Run(std::string_view text) {
        bool headerSeen = false;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t eol = text.find('\n', pos);
            if (eol == std::string_view::npos) eol = text.size();
            std::string_view line = text.substr(pos, eol - pos);
            pos = eol + 1;
            ++LineNumber;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            const auto tokens = Tokens(line);
            if (tokens.empty() || tokens[0].front() == '#') continue;
            if (line.find('\0') != std::string_view::npos) return Fail("a zero byte");
            if (!headerSeen) {
                if (tokens.size() != 2 || tokens[0] != Magic)
                    return Fail("not a bench file (no \"vqpipex-bench 1\" line)");
                if (tokens[1] != Version) return Fail("bench file version " + Str(tokens[1]));
                headerSeen = true;
                continue;
            }
            if (!Line(tokens)) return Failed();
        }
        if (!headerSeen) return {std::nullopt, "empty bench file"};
        if (Current) return Fail("chip " + Current->Serial + " has no \"end\"");
        return {std::move(Result), {}};
    }

private:
    static std::string Str(std::string_view s) { return std::string(s); }

    ParseOutcome Fail(const std::string& what) {
        Error = "line " + std::to_string(LineNumber) + ": " + what;
        return Failed();
    }
    ParseOutcome Failed() { return {std::nullopt, Error}; }
    bool Bad(const std::string& what) {
        Fail(what);
        return false;
    }

    bool Line(const std::vector<std::string_view>& t) {
        const std::string_view keyword = t[0];
        if (keyword == "chip") return ChipLine(t);
        if (!Current) return Bad("\"" + Str(keyword) + "\" outside a chip");
        if (keyword == "words") return WordsLine(t);
        if (keyword == "fault") return FaultLine(t);
        if (keyword == "end") return EndLine(t);
        return Bad("unknown line \"" + Str(keyword) + "\"");
    }

    bool ChipLine(const std::vector<std::string_view>& t) {
        if (Current) return Bad("chip " + Current->Serial + " has no \"end\"");
        if (t.size() != 4) return Bad("a chip line is: chip SERIAL MODEL EEPROM");
        if (!ValidSerial(t[1])) return Bad("bad serial number \"" + Str(t[1]) + "\"");
        if (Result.FindChip(t[1]) != nullptr) return Bad("serial number " + Str(t[1]) + " twice");
        const ModelInfo* model = FindModel(t[2]);
        if (model == nullptr) return Bad("unknown model \"" + Str(t[2]) + "\"");
        Part part = Part::None;
        if (model->ChipFamily == Family::KR4) {
            if (t[3] != "internal") return Bad("a KR4 chip's EEPROM is \"internal\"");
        } else {
            const auto found = FindPart(t[3]);
            if (!found) return Bad("unknown EEPROM \"" + Str(t[3]) + "\"");
            part = *found;
        }
        Devices += static_cast<std::size_t>(model->ChipFamily == Family::KR3 ? 2 : 1);
        if (Devices > MaxDevices)
            return Bad("more than " + std::to_string(MaxDevices) + " devices");
        Current = MakeChip(*model, part, Str(t[1]));
        NextWord = 0;
        return true;
    }

    bool WordsLine(const std::vector<std::string_view>& t) {
        std::size_t offset = 0;
        if (t.size() < 3 || !Number(t[1], offset))
            return Bad("a words line is: words OFFSET WORD...");
        if (offset != NextWord)
            return Bad("words from " + std::to_string(offset) + " where " +
                       std::to_string(NextWord) + " come next");
        if (t.size() - 2 > WordsPerLine) return Bad("more than 16 words on a line");
        for (std::size_t i = 2; i < t.size(); ++i) {
            std::uint16_t value = 0;
            if (t[i].size() != 4 || !Number(t[i], value, 16))
                return Bad("bad word \"" + Str(t[i]) + "\"");
            if (NextWord >= Current->Words.size())
                return Bad("more words than the part holds (" +
                           std::to_string(Current->Words.size()) + ")");
            Current->Words[NextWord++] = value;
        }
        return true;
    }

    bool FaultLine(const std::vector<std::string_view>& t) {
        if (t.size() < 3)
            return Bad("a fault line is: fault CHANNEL KIND [word=W] [status=S] [times=T]");
        int channel = -1;
        if (t[1] == "A") channel = 0;
        if (t[1] == "B" && Current->Channels() == 2) channel = 1;
        if (channel < 0) return Bad("no channel \"" + Str(t[1]) + "\" on this chip");
        const auto kind = FindFaultKind(t[2]);
        if (!kind) return Bad("unknown fault \"" + Str(t[2]) + "\"");
        Fault fault{*kind, std::nullopt, InfoOf(*kind).DefaultStatus, -1};
        for (std::size_t i = 3; i < t.size(); ++i) {
            const std::size_t eq = t[i].find('=');
            const std::string_view key = t[i].substr(0, eq);
            const std::string_view value = eq == std::string_view::npos ? "" : t[i].substr(eq + 1);
            std::uint32_t number = 0;
            int times = 0;
            if (key == "word" && Number(value, number) && number <= MaxWordOffset) {
                fault.Word = number;
            } else if (key == "status" && Number(value, number) && number >= 1 && number <= 255) {
                fault.Status = number;
            } else if (key == "times" && Number(value, times) && (times >= 1 || times == -1)) {
                fault.Times = times;
            } else {
                return Bad("bad fault option \"" + Str(t[i]) + "\"");
            }
        }
        auto& faults = Current->Faults[static_cast<std::size_t>(channel)];
        if (faults.size() >= MaxFaultsPerDevice) return Bad("too many faults on one device");
        faults.push_back(fault);
        return true;
    }

    bool EndLine(const std::vector<std::string_view>& t) {
        if (t.size() != 1) return Bad("\"end\" stands alone");
        if (NextWord != Current->Words.size())
            return Bad("chip " + Current->Serial + " has " + std::to_string(NextWord) + " of its " +
                       std::to_string(Current->Words.size()) + " words");
        Result.Chips.push_back(std::move(*Current));
        Current.reset();
        return true;
    }

    Bench Result;
    std::optional<Chip> Current;
    std::size_t NextWord = 0;
    std::size_t Devices = 0;
    std::size_t LineNumber = 0;
    std::string Error;
};

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// How many links a path may pass through before it counts as a loop, as the kernel counts.
constexpr int MaxLinkHops = 40;

std::string Target(const std::string& path) {
    return ResolveBenchPath(path);
}

void AppendHex4(std::string& text, std::uint16_t value) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += Digits[(value >> shift) & 0xF];
}

} // namespace

ParseOutcome ParseBench(std::string_view text) {
    return Parser().Run(text);
}

std::string FormatWords(const Chip& chip) {
    std::string text;
    text.reserve(chip.Words.size() * 5 + chip.Words.size() / WordsPerLine * 12);
    for (std::size_t i = 0; i < chip.Words.size(); i += WordsPerLine) {
        text += "words ";
        text += std::to_string(i);
        for (std::size_t j = i; j < i + WordsPerLine && j < chip.Words.size(); ++j) {
            text += ' ';
            AppendHex4(text, chip.Words[j]);
        }
        text += '\n';
    }
    return text;
}

std::string FormatBench(const Bench& bench, std::vector<WordsSpan>* layout) {
    std::string text = "# Simulated device bench of the vqpipex driver library; change it with "
                       "vqbench.\n";
    text += std::string(Magic) + " " + std::string(Version) + "\n";
    if (layout != nullptr) layout->clear();
    for (const Chip& chip : bench.Chips) {
        text += "chip " + chip.Serial + " " + std::string(chip.Model->Name) + " " +
                std::string(chip.EepromName()) + "\n";
        const std::string words = FormatWords(chip);
        if (layout != nullptr) layout->push_back({text.size(), words.size()});
        text += words;
        for (int channel = 0; channel < chip.Channels(); ++channel) {
            for (const Fault& f : chip.Faults[static_cast<std::size_t>(channel)]) {
                text += std::string("fault ") + (channel == 0 ? "A" : "B") + " " +
                        std::string(InfoOf(f.Kind).Name);
                if (f.Word) text += " word=" + std::to_string(*f.Word);
                if (f.Kind != FaultKind::IgnoreWrites)
                    text += " status=" + std::to_string(f.Status);
                text += " times=" + std::to_string(f.Times) + "\n";
            }
        }
        text += "end\n";
    }
    return text;
}

std::string ResolveBenchPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path current = fs::absolute(path, ec);
    if (ec) return path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        // Links in the folders above count as well.
        const fs::path folder = fs::weakly_canonical(current.parent_path(), ec);
        if (!ec) current = folder / current.filename();
        if (!fs::is_symlink(current, ec)) break;
        const fs::path next = fs::read_symlink(current, ec);
        if (ec) break;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current.lexically_normal().string();
}

std::string BenchPathFromEnvironment() {
    if (const char* bench = std::getenv("VQPIPEX_BENCH"); bench != nullptr && *bench != '\0')
        return bench;
    std::string state;
    // The XDG rules ignore a relative state folder.
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        state = std::string(home) + "/.local/state";
    } else {
        state = "/tmp";
    }
    return state + "/burnwise/bench.txt";
}

BenchLock::BenchLock(const std::string& benchPath) {
    const std::string target = Target(benchPath);
    std::error_code ec;
    const auto folder = std::filesystem::path(target).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    // Target() has followed the links already, as the bench's reader and writer do.
    std::string error;
    if (Lock.AcquireTarget(target, error)) return;
    if (Lock.FailureCode() == EMLINK) {
        Problem = std::move(error);
        return;
    }
    Problem =
        (Lock.OpenFailed() ? "cannot open the bench's lock: " : "cannot lock the bench: ") + error;
}

TextOutcome ReadBenchText(const std::string& path, int* keepFd) {
    TextOutcome outcome;
    if (keepFd != nullptr) *keepFd = -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        outcome.Missing = errno == ENOENT;
        outcome.Error = SystemError("cannot open the bench file", path);
        return outcome;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        outcome.Error = "the bench file " + path + " is not a regular file";
        return outcome;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            outcome.Error = SystemError("cannot read the bench file", path);
            ::close(fd);
            return outcome;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > MaxBenchFileBytes) {
            ::close(fd);
            outcome.Error = "the bench file " + path + " is larger than any bench";
            return outcome;
        }
    }
    if (keepFd != nullptr)
        *keepFd = fd;
    else
        ::close(fd);
    outcome.Text = std::move(text);
    return outcome;
}

ReadOutcome ReadBenchFile(const std::string& path) {
    ReadOutcome outcome;
    TextOutcome read = ReadBenchText(path);
    if (!read.Text) {
        outcome.Missing = read.Missing;
        outcome.Error = std::move(read.Error);
        return outcome;
    }
    ParseOutcome parsed = ParseBench(*read.Text);
    if (!parsed.Value) {
        outcome.Error = "damaged bench file " + path + ", " + parsed.Error;
        return outcome;
    }
    outcome.Value = std::move(parsed.Value);
    return outcome;
}

std::string WriteBenchFile(const std::string& path, const Bench& bench) {
    return WriteBenchText(Target(path), FormatBench(bench));
}

std::string WriteBenchText(const std::string& target, const std::string& text) {
    const common::ReplaceResult replaced = common::ReplaceAtomically(target, text);
    errno = replaced.Code;
    switch (replaced.Failure) {
    case common::ReplaceFailure::None:
        return {};
    // The owner's write bit, not access(): root may write anything, but a file its owner
    // made read-only is left alone.
    case common::ReplaceFailure::WriteProtected:
        return "the bench file " + target + " is read-only";
    case common::ReplaceFailure::Folder:
    case common::ReplaceFailure::NotRegular:
        return "the bench file " + target + " is not a regular file";
    case common::ReplaceFailure::Inspect:
    case common::ReplaceFailure::Create:
        return SystemError("cannot write beside", target);
    case common::ReplaceFailure::Rename:
        return SystemError("cannot replace", target);
    default:
        return SystemError("cannot write", target);
    }
}

std::string UpdateBench(const std::string& path, const BenchChange& change) {
    // Resolved once: the lock, the read and the replace all go to the same file.
    const std::string target = Target(path);
    BenchLock lock(target);
    if (!lock.Held()) return lock.Error();
    ReadOutcome read = ReadBenchFile(target);
    bool changed = false;
    if (read.Missing) {
        read.Value = DefaultBench(Entropy());
        changed = true;
    } else if (!read.Value) {
        return read.Error;
    }
    std::string error;
    changed = change(*read.Value, error) || changed;
    if (!error.empty()) return error;
    return changed ? WriteBenchText(target, FormatBench(*read.Value)) : std::string();
}

DeviceHold::DeviceHold(const std::string& benchTarget, const std::string& device) {
    const std::string folder = benchTarget + ".held";
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        Problem = SystemError("cannot make the folder", folder);
        return;
    }
    Path = folder + "/" + device;
    // The holder removes its file when it lets go; a file opened just before that is no
    // longer the device's, so the lock is taken again on the file the name now gives.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            Problem = SystemError("cannot make the hold file", Path);
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EINTR) continue;
            if (error != EWOULDBLOCK) {
                errno = error;
                Problem = SystemError("cannot lock", Path);
            }
            return; // another holder has it
        }
        struct stat mine {
        }, named{};
        if (::fstat(fd, &mine) == 0 && ::stat(Path.c_str(), &named) == 0 &&
            mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
            Fd = fd;
            return;
        }
        ::close(fd);
    }
    Problem = "cannot hold " + Path + ": it keeps being replaced";
}

DeviceHold::~DeviceHold() {
    if (Fd < 0) return;
    ::unlink(Path.c_str());
    ::close(Fd);
}

std::uint64_t Entropy() {
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return (static_cast<std::uint64_t>(device()) << 32 ^ device()) ^
           static_cast<std::uint64_t>(now) ^ (static_cast<std::uint64_t>(::getpid()) << 16);
}

} // namespace vqpipex
