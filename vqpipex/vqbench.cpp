// vqbench: looks at and changes the simulated bench the driver library works on.
#include "ProjectVersion.h"
#include "common/FileAccess.h"
#include "common/WordDump.h"
#include "vqpipex/BenchFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vqpipex;

constexpr std::string_view Usage =
    "usage: vqbench list | add MODEL [--eeprom 93C46|93C56|93C66|none] | remove N | "
    "reset [--default] | dump N | load N FILE | fault N KIND [--word W] [--status S] "
    "[--times T] | fault N clear";

// The manual page is made from this text: keep every command and option in it.
constexpr std::string_view Help =
    "Usage: vqbench COMMAND [ARGUMENTS]\n"
    "Looks at and changes the simulated device bench that the vqpipex driver library\n"
    "works on. Programs using the library see a change at their next device count.\n"
    "Devices are numbered from 0 in the order the library counts them; a KR3 chip is\n"
    "two devices (channels A and B).\n"
    "\n"
    "Commands:\n"
    "  list                 one line per device: index, model, EEPROM, description\n"
    "  add MODEL [--eeprom 93C46|93C56|93C66|none]\n"
    "                       add a blank chip; MODEL is KR1S KR1F KR2S KR2F KR3D KR3E\n"
    "                       KR4S or KR4F (a KR4 has its EEPROM inside; default 93C46)\n"
    "  remove N             remove device N's chip (both channels of a KR3)\n"
    "  reset [--default]    remove every device; with --default, make the default\n"
    "                       bench: KR2S on a 93C46, KR2S on a 93C56, KR3D on a 93C56\n"
    "                       and KR4S\n"
    "  dump N               device N's EEPROM as Burnwise's Read shows it\n"
    "  load N FILE          write a 256-byte image file (low byte first) into device\n"
    "                       N's EEPROM, as far as the part reaches\n"
    "  fault N KIND [--word W] [--status S] [--times T]\n"
    "                       make device N fail a driver call: KIND is open, info,\n"
    "                       read, write, erase, cycle, latency or ignore-writes;\n"
    "                       --word limits read, write and ignore-writes to word W\n"
    "                       (0 to 255), --status gives the status returned (1 to\n"
    "                       255), --times the number of failures (default: always)\n"
    "  fault N clear        remove device N's faults\n"
    "\n"
    "Options:\n"
    "  --help               print this help and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "The bench file is $VQPIPEX_BENCH, else burnwise/bench.txt in $XDG_STATE_HOME\n"
    "(default ~/.local/state). Exit status: 0 on success, 2 with one line on stderr\n"
    "for bad arguments, a bad bench file or a change the bench refuses.\n";

constexpr std::size_t ImageFileBytes = 256;

struct Failure {
    std::string Text;
};

template <typename T>
T NumberArg(std::string_view text, T min, T max, std::string_view what) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min ||
        value > max)
        throw Failure{"bad " + std::string(what) + " \"" + std::string(text) + "\""};
    return value;
}

const DeviceRef& DeviceAt(const std::vector<DeviceRef>& devices, std::string_view arg) {
    const int index = NumberArg<int>(arg, 0, 1 << 30, "device index");
    if (static_cast<std::size_t>(index) >= devices.size())
        throw Failure{"no device " + std::string(arg) + " on the bench (" +
                      std::to_string(devices.size()) + " devices)"};
    return devices[static_cast<std::size_t>(index)];
}

std::string ListLine(const Bench& bench, std::size_t index, const DeviceRef& ref) {
    const Chip& chip = bench.Chips[ref.ChipIndex];
    char line[160];
    std::snprintf(line, sizeof line, "%zu  %s  %-8s  %s", index,
                  std::string(chip.Model->Name).c_str(), std::string(chip.EepromName()).c_str(),
                  DeviceDescription(chip, ref.Channel).c_str());
    return line;
}

// Every word of the part in the programmer's dump lines; a KR4 shows its user words and
// the factory words after them (0 to 79), as a read of the chip does.
std::vector<std::string> DumpLines(const Chip& chip) {
    // A block is shown as the programmer shows one image: 128 words for a part larger than
    // 64 words, 80 for a KR4, 64 otherwise, with what the part lacks as zeros.
    constexpr std::size_t BlockWords = 128;
    std::size_t words = chip.Words.size();
    std::size_t shown = words > 64 ? BlockWords : 64;
    if (chip.IsKr4()) words = shown = 80;
    std::vector<std::string> lines;
    for (std::size_t base = 0; base < words; base += BlockWords) {
        std::vector<std::uint16_t> block(shown, 0);
        for (std::size_t i = 0; i < shown && base + i < chip.Words.size(); ++i)
            block[i] = chip.Words[base + i];
        for (std::string& line : common::DumpWords(block, 2 * base))
            lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::uint16_t> ReadImageFile(const std::string& path) {
    const common::BoundedRead read = common::ReadBounded(path, ImageFileBytes);
    if (read.Failure == common::ReadFailure::Open)
        throw Failure{"cannot open " + path + ": " + std::strerror(read.Code)};
    if (read.Failure == common::ReadFailure::Inspect ||
        read.Failure == common::ReadFailure::Folder ||
        read.Failure == common::ReadFailure::NotAStream)
        throw Failure{path + " is not a file"};
    if (!read.Bytes || read.Bytes->size() != ImageFileBytes)
        throw Failure{path + " is not a 256-byte image"};
    const std::string& bytes = *read.Bytes;
    std::vector<std::uint16_t> words(ImageFileBytes / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                              static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return words;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw Failure{std::string(Usage)};
    const std::string& command = args[0];
    const std::string path = BenchPathFromEnvironment();
    std::vector<std::string> out;
    auto expectArgs = [&](std::size_t min, std::size_t max) {
        if (args.size() < min || args.size() > max) throw Failure{std::string(Usage)};
    };

    BenchChange change;
    if (command == "list") {
        expectArgs(1, 1);
        change = [&](Bench& bench, std::string&) {
            const auto devices = bench.Devices();
            for (std::size_t i = 0; i < devices.size(); ++i)
                out.push_back(ListLine(bench, i, devices[i]));
            return false;
        };
    } else if (command == "add") {
        expectArgs(2, 4);
        const ModelInfo* model = FindModel(args[1]);
        if (model == nullptr) throw Failure{"unknown model \"" + args[1] + "\""};
        Part part = Part::C46;
        if (args.size() > 2) {
            if (args.size() != 4 || args[2] != "--eeprom") throw Failure{std::string(Usage)};
            const auto found = FindPart(args[3]);
            if (!found) throw Failure{"unknown EEPROM \"" + args[3] + "\""};
            part = *found;
        }
        change = [&, model, part](Bench& bench, std::string& error) {
            if (bench.Devices().size() + (model->ChipFamily == Family::KR3 ? 2 : 1) > MaxDevices) {
                error = "the bench is full";
                return false;
            }
            const std::size_t chip = AddChip(bench, *model, part, Entropy());
            const auto devices = bench.Devices();
            for (std::size_t i = bench.FirstDeviceOf(chip); i < devices.size(); ++i)
                out.push_back(ListLine(bench, i, devices[i]));
            return true;
        };
    } else if (command == "remove") {
        expectArgs(2, 2);
        change = [&](Bench& bench, std::string&) {
            const DeviceRef ref = DeviceAt(bench.Devices(), args[1]);
            bench.Chips.erase(bench.Chips.begin() + static_cast<std::ptrdiff_t>(ref.ChipIndex));
            return true;
        };
    } else if (command == "reset") {
        expectArgs(1, 2);
        if (args.size() == 2 && args[1] != "--default") throw Failure{std::string(Usage)};
        const bool withDefault = args.size() == 2;
        change = [&, withDefault](Bench& bench, std::string&) {
            bench = withDefault ? DefaultBench(Entropy()) : Bench{};
            return true;
        };
    } else if (command == "dump") {
        expectArgs(2, 2);
        change = [&](Bench& bench, std::string& error) {
            const DeviceRef ref = DeviceAt(bench.Devices(), args[1]);
            const Chip& chip = bench.Chips[ref.ChipIndex];
            if (!chip.HasEeprom())
                error = "device " + args[1] + " has no EEPROM";
            else
                out = DumpLines(chip);
            return false;
        };
    } else if (command == "load") {
        expectArgs(3, 3);
        const std::vector<std::uint16_t> image = ReadImageFile(args[2]);
        change = [&, image](Bench& bench, std::string& error) {
            const DeviceRef ref = DeviceAt(bench.Devices(), args[1]);
            Chip& chip = bench.Chips[ref.ChipIndex];
            if (!chip.HasEeprom()) {
                error = "device " + args[1] + " has no EEPROM";
                return false;
            }
            // The part takes the image's words as far as it reaches; a KR4 keeps its
            // factory words, as the chip does.
            const std::size_t end =
                std::min(chip.IsKr4() ? Kr4UserWords : chip.Words.size(), image.size());
            for (std::size_t i = 0; i < end; ++i)
                chip.Words[i] = image[i];
            return true;
        };
    } else if (command == "fault") {
        if (args.size() == 3 && args[2] == "clear") {
            change = [&](Bench& bench, std::string&) {
                const DeviceRef ref = DeviceAt(bench.Devices(), args[1]);
                bench.Chips[ref.ChipIndex].Faults[static_cast<std::size_t>(ref.Channel)].clear();
                return true;
            };
        } else {
            expectArgs(3, 9);
            const auto kind = FindFaultKind(args[2]);
            if (!kind) throw Failure{"unknown fault \"" + args[2] + "\""};
            Fault fault{*kind, std::nullopt, InfoOf(*kind).DefaultStatus, -1};
            for (std::size_t i = 3; i < args.size(); i += 2) {
                if (i + 1 >= args.size()) throw Failure{std::string(Usage)};
                const std::string& option = args[i];
                const std::string& value = args[i + 1];
                if (option == "--word") {
                    if (*kind != FaultKind::Read && *kind != FaultKind::Write &&
                        *kind != FaultKind::IgnoreWrites)
                        throw Failure{"--word limits read, write and ignore-writes faults only"};
                    fault.Word = NumberArg<std::uint32_t>(value, 0, MaxWordOffset, "word");
                } else if (option == "--status") {
                    if (*kind == FaultKind::IgnoreWrites)
                        throw Failure{"ignore-writes never fails; it takes no --status"};
                    fault.Status = NumberArg<std::uint32_t>(value, 1, 255, "status");
                } else if (option == "--times") {
                    fault.Times = NumberArg<int>(value, 1, 1'000'000, "count");
                } else {
                    throw Failure{"unknown option \"" + option + "\""};
                }
            }
            change = [&, fault](Bench& bench, std::string& error) {
                const DeviceRef ref = DeviceAt(bench.Devices(), args[1]);
                auto& faults =
                    bench.Chips[ref.ChipIndex].Faults[static_cast<std::size_t>(ref.Channel)];
                if (faults.size() >= MaxFaultsPerDevice) {
                    error = "too many faults on device " + args[1];
                    return false;
                }
                faults.push_back(fault);
                return true;
            };
        }
    } else {
        throw Failure{std::string(Usage)};
    }

    std::string error;
    try {
        error = UpdateBench(path, change);
    } catch (const Failure& failure) {
        error = failure.Text;
    }
    if (!error.empty()) throw Failure{error};
    for (const std::string& line : out)
        std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1] == std::string_view("--help")) {
        std::fwrite(Help.data(), 1, Help.size(), stdout);
        return 0;
    }
    if (argc == 2 && argv[1] == std::string_view("--version")) {
        std::printf("vqbench %s\n", ProjectVersion);
        return 0;
    }
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const Failure& failure) {
        std::fprintf(stderr, "vqbench: %s\n", failure.Text.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vqbench: %s\n", e.what());
    }
    return 2;
}
