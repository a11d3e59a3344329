#pragma once

// The bench file: the simulated bench as text, shared by the driver library and vqbench.
//
//   # any line starting with '#' and blank lines are ignored
//   vqpipex-bench 1                      first line that counts: the format and its version
//   chip VQ3K7A1B KR2S 93C46             one block per chip, in driver order:
//   words 0 FFFF FFFF ... FFFF           serial (1 to 16 of A-Z 0-9, unique), model, EEPROM
//   words 16 FFFF ...                    (93C46 93C56 93C66 none; "internal" for a KR4),
//   fault A read word=5 status=11 times=3  then every word of the part in hexadecimal,
//   end                                  16 to a line, each line starting with the offset
//                                        of its first word in decimal; then the faults set
//                                        on the chip's devices: channel (A, or B on a KR3),
//                                        kind (open info read write erase cycle latency
//                                        ignore-writes), and optionally word=W (0 to 255),
//                                        status=S (1 to 255) and times=T (T left; -1 forever).
//
// Every word must be there: a file cut short is refused, not taken as a blank part.

#include "common/FileAccess.h"
#include "vqpipex/BenchModel.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vqpipex {

// No valid bench reaches this: 128 devices of 256 words take some 170 KiB.
inline constexpr std::size_t MaxBenchFileBytes = 1u << 20;
inline constexpr std::size_t MaxFaultsPerDevice = 32;

struct ParseOutcome {
    std::optional<Bench> Value;
    std::string Error; // "line 7: unknown model KR9X" when Value is empty
};

ParseOutcome ParseBench(std::string_view text);

// Where one chip's "words" lines lie in a formatted bench: bytes [Offset, Offset + Length).
// Their length depends on the part only, so a chip's words can be rewritten in place.
struct WordsSpan {
    std::size_t Offset = 0;
    std::size_t Length = 0;
};

// The bench as text; `layout`, when given, receives one span per chip, in chip order.
std::string FormatBench(const Bench& bench, std::vector<WordsSpan>* layout = nullptr);
// One chip's "words" lines as FormatBench writes them.
std::string FormatWords(const Chip& chip);

// Where the bench lives: $VQPIPEX_BENCH, else burnwise/bench.txt in the user's state folder
// ($XDG_STATE_HOME, else ~/.local/state).
std::string BenchPathFromEnvironment();

// The file a bench path finally names: symbolic links are followed, the last one too when
// its target does not exist yet, and links in the folders above. Lock and replace go by it,
// so a bench file and a link to it are one bench.
std::string ResolveBenchPath(const std::string& path);

// Holds the lock on the resolved bench file itself (common::FileLock) for its lifetime; every
// change to the bench is made under it, by this library and by vqbench alike.
class BenchLock {
public:
    explicit BenchLock(const std::string& benchPath);

    bool Held() const { return Lock.Held(); }
    const std::string& Error() const { return Problem; }

private:
    common::FileLock Lock; // released with it
    std::string Problem;
};

struct ReadOutcome {
    std::optional<Bench> Value;
    bool Missing = false; // there is no file yet
    std::string Error;
};

// Reads and parses the bench file; call with the lock held.
ReadOutcome ReadBenchFile(const std::string& path);

struct TextOutcome {
    std::optional<std::string> Text;
    bool Missing = false;
    std::string Error;
};

// Reads the bench file's bytes, at most MaxBenchFileBytes; call with the lock held. With
// `keepFd` the file stays open read-only and its descriptor goes there (else -1).
TextOutcome ReadBenchText(const std::string& path, int* keepFd = nullptr);

// Replaces the bench file atomically (temporary file beside the target, flushed, renamed),
// following a symbolic link to its target and keeping the file's mode. A file without
// owner write permission is refused. Returns an error text, empty on success.
std::string WriteBenchFile(const std::string& path, const Bench& bench);
// The same for text already formatted, to the resolved path `target`.
std::string WriteBenchText(const std::string& target, const std::string& text);

// Reads the bench under the lock, creating the default bench when there is no file, and
// hands it to `change`, which may alter it and returns whether it did; the bench is then
// written back before the lock is released. `change` may set its error text to refuse;
// nothing is written then. Returns an error text, empty on success.
using BenchChange = std::function<bool(Bench& bench, std::string& error)>;
std::string UpdateBench(const std::string& path, const BenchChange& change);

// Holds one device of the bench for this process while a handle is open on it: an exclusive
// lock on a file of its own in the folder TARGET.held beside the resolved bench. The system
// drops the lock when the process ends, however it ends, so a device is never kept by a
// process that is gone.
class DeviceHold {
public:
    DeviceHold(const std::string& benchTarget, const std::string& device);
    ~DeviceHold(); // lets go and removes the file
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    // False when another holder has the device, or the hold could not be made (Error()).
    bool Held() const { return Fd >= 0; }
    const std::string& Error() const { return Problem; }

private:
    std::string Path;
    int Fd = -1;
    std::string Problem;
};

// A fresh seed for serial numbers.
std::uint64_t Entropy();

} // namespace vqpipex
