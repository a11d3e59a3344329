// dl2mgr-cli: the keyer commands without a window.
//   dl2mgr-cli [--port N | --device PATH] [--json] info | read FILE | write [--no-verify] FILE
//              | test N
//   dl2mgr-cli [--json] show FILE | set FILE NAME=VALUE... | ports
// Options may also follow the command. Exit status: 0 success, 1 keyer not connected, a
// transfer failed or the read-back after a write differed, 2 bad arguments, a file that
// cannot be read or written, or an image the editor's field checks refuse (one line on
// stderr).
#include "ProjectVersion.h"
#include "dl2mgr/editor/ConfigFile.h"
#include "dl2mgr/editor/DialogFields.h"
#include "dl2mgr/editor/EditorDialog.h"
#include "dl2mgr/editor/FileResults.h"
#include "dl2mgr/editor/ImageFile.h"
#include "dl2mgr/editor/KeyerEditor.h"
#include "dl2mgr/link/PortNames.h"
#include "dl2mgr/link/QtSerialPort.h"
#include "dl2mgr/link/SystemPorts.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {

using dl2mgr::editor::KeyerImage;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitBadArguments = 2;

void Say(const std::string& line) {
    std::cout << line << std::endl;
}
void Complain(const std::string& line) {
    std::cerr << line << std::endl;
}

// A JSON string of 8-bit text: bytes above 127 are the Latin-1 characters they stand for.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A number box's text as a JSON number; an empty box is null.
std::string JsonNumber(const std::string& digits) {
    if (digits.empty()) return "null";
    return digits.find_first_not_of("0123456789") == std::string::npos ? digits
                                                                       : JsonString(digits);
}

// Where a command's report goes: lines as they come, or, with --json, one object on
// stdout at the end (error lines still go to stderr as well).
class Output {
public:
    explicit Output(bool json) : json_(json) {}
    bool Json() const { return json_; }
    // A status text: a line of its own, or the field `key`.
    void Status(const std::string& key, const std::string& text) {
        if (json_)
            Field(key, JsonString(text));
        else
            Say(text);
    }
    // A field of the object, its value already JSON; the text line is said apart.
    void Field(const std::string& key, std::string json) {
        for (auto& [k, v] : fields_) {
            if (k == key) {
                v = std::move(json);
                return;
            }
        }
        fields_.emplace_back(key, std::move(json));
    }
    void Error(const std::string& text) {
        errors_.push_back(text);
        Complain(text);
    }
    int Finish(int exitStatus) {
        if (!json_) return exitStatus;
        std::string object = "{";
        for (const auto& [key, value] : fields_)
            object += JsonString(key) + ": " + value + ", ";
        object += "\"errors\": [";
        for (std::size_t i = 0; i < errors_.size(); ++i)
            object += (i ? ", " : "") + JsonString(errors_[i]);
        object += "], \"exitStatus\": " + std::to_string(exitStatus) + "}";
        Say(object);
        return exitStatus;
    }

private:
    bool json_;
    std::vector<std::pair<std::string, std::string>> fields_;
    std::vector<std::string> errors_;
};

// The editor's boxes as lines on stderr; a command-line tool has no file dialogs, help
// viewer or about box.
class CliUi final : public dl2mgr::editor::EditorUi {
public:
    explicit CliUi(Output& output) : output_(output) {}
    void ShowBox(const dl2mgr::editor::MessageBox& box) override { output_.Error(box.Text); }
    // Nothing to drop: the command line never holds unsaved edits.
    dl2mgr::editor::Answer Ask(const dl2mgr::editor::Question&) override {
        return dl2mgr::editor::Answer::Cancel;
    }
    std::optional<std::string> ChooseOpenFile() override { return std::nullopt; }
    std::optional<std::string> ChooseSaveFile() override { return std::nullopt; }
    void LetWindowRepaint() override {}
    bool OpenHelp(const std::string&) override { return false; }
    void ShowAbout() override {}
    void Quit(int) override {}

private:
    Output& output_;
};

// The editor the window runs on, with the connection line and the operation status
// printed as they change.
class Session {
public:
    Session(Output& output, std::int32_t comPortNumber, const std::string& devicePath)
        : ui_(output), editor_(port_, sleeper_, ui_, {{}, {}, dl2mgr::link::PortsFolder()}) {
        editor_.ComPortNumber = comPortNumber;
        editor_.DevicePath = devicePath;
        editor_.Dialog.Changed = [this, &output](int controlId) {
            namespace id = dl2mgr::editor::id;
            if (controlId == id::ConnectionStatus)
                output.Status("connection", editor_.Dialog.Text(controlId));
            else if (controlId == id::OperationStatus)
                output.Status("operation", editor_.Dialog.Text(controlId));
        };
    }
    dl2mgr::editor::KeyerEditor& Editor() { return editor_; }

private:
    dl2mgr::link::QtSerialPort port_;
    dl2mgr::link::ThreadSleeper sleeper_;
    CliUi ui_;
    dl2mgr::editor::KeyerEditor editor_;
};

// The dialog's controls by the names the window shows beside them: `show` prints these
// names and `set` takes them.
struct NamedControl {
    const char* Name;
    int Id;
};
namespace id = dl2mgr::editor::id;
constexpr NamedControl Controls[] = {
    {"Weight", id::Weight},
    {"LeadIn", id::LeadIn},
    {"Tail", id::Tail},
    {"1stExt", id::FirstExt},
    {"Comp", id::KeyComp},
    {"Farns", id::Farns},
    {"Sample", id::Sample},
    {"Ratio", id::Ratio},
    {"CmdWpm", id::CmdWpm},
    {"MAX", id::Max},
    {"MIN", id::Min},
    {"Keyer Mode", id::KeyerMode},
    {"Paddle Hang", id::PaddleHang},
    {"Sidetone Hz", id::Sidetone},
    {"Output Config", id::OutputConfig},
    {"Swap", id::Swap},
    {"AutoSpace", id::AutoSpace},
    {"CTspace", id::CtSpace},
    {"PaddleDog", id::PaddleDog},
    {"Cut 0/9", id::Cut09},
    {"MsgBrk", id::MsgBrk},
    {"Message 1", id::Message1},
    {"Message 2", id::Message1 + 1},
    {"Message 3", id::Message1 + 2},
    {"Message 4", id::Message1 + 3},
    {"Message 5", id::Message1 + 4},
    {"Message 6", id::Message1 + 5},
};

// A message text in double quotes, with quotes, backslashes and bytes that are no
// printable ASCII escaped, so every text shows as one unambiguous line.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The editor dialog showing `image`, as the window fills it.
struct FilledDialog {
    explicit FilledDialog(const KeyerImage& from) : Image(from) {
        Dialog.FillLists();
        Dialog.FillDialogFromImage();
    }
    KeyerImage Image;
    dl2mgr::editor::EditorDialog Dialog{Image};
};

void ShowImage(const KeyerImage& image, Output& output) {
    using dl2mgr::editor::ControlKind;
    const FilledDialog filled(image);
    for (const NamedControl& named : Controls) {
        const dl2mgr::editor::Control& c = filled.Dialog.At(named.Id);
        std::string text, json;
        switch (c.Kind) {
        case ControlKind::CheckBox:
            text = c.Checked ? "on" : "off";
            json = c.Checked ? "true" : "false";
            break;
        case ControlKind::ComboList:
        case ControlKind::ComboEdit:
            if (c.Selection >= 0 && static_cast<std::size_t>(c.Selection) < c.Items.size()) {
                text = c.Items[static_cast<std::size_t>(c.Selection)];
                json = JsonString(text);
            } else {
                text = "(none)";
                json = "null";
            }
            break;
        case ControlKind::MessageEdit:
            text = Quoted(c.Text);
            json = JsonString(c.Text);
            break;
        default:
            text = c.Text;
            json = JsonNumber(c.Text);
            break;
        }
        if (output.Json())
            output.Field(named.Name, json);
        else
            Say(std::string(named.Name) + ": " + text);
    }
}

// Applies NAME=VALUE settings to `image` through the window's own controls and checks.
// Returns the reason for refusing (empty when a field check's box has said it through
// `ui`), or nothing; a refused image is left unchanged.
std::optional<std::string> SetImage(KeyerImage& image, const std::vector<std::string>& settings,
                                    dl2mgr::editor::EditorUi& ui) {
    using dl2mgr::editor::ControlKind;
    FilledDialog filled(image);
    auto& dialog = filled.Dialog;
    for (const std::string& setting : settings) {
        const auto equals = setting.find('=');
        const std::string name = setting.substr(0, equals);
        const NamedControl* named = nullptr;
        for (const NamedControl& candidate : Controls) {
            if (name == candidate.Name) named = &candidate;
        }
        if (equals == std::string::npos || !named) {
            std::string names;
            for (const NamedControl& candidate : Controls)
                names += std::string(names.empty() ? "" : ", ") + candidate.Name;
            return "dl2mgr-cli: not a setting: " + Quoted(setting) +
                   " (NAME=VALUE, where NAME is " + names + ")";
        }
        const std::string value = setting.substr(equals + 1);
        const dl2mgr::editor::Control& c = dialog.At(named->Id);
        switch (c.Kind) {
        case ControlKind::CheckBox:
            if (value != "on" && value != "off")
                return "dl2mgr-cli: " + name + " is on or off, not " + Quoted(value);
            if (c.Checked != (value == "on")) dialog.UserClickedCheckBox(named->Id);
            break;
        case ControlKind::ComboList:
        case ControlKind::ComboEdit: {
            const auto item = std::find(c.Items.begin(), c.Items.end(), value);
            if (item == c.Items.end()) {
                std::string items;
                for (const auto& i : c.Items)
                    items += (items.empty() ? "" : ", ") + Quoted(i);
                return "dl2mgr-cli: " + name + " has no item " + Quoted(value) +
                       " (items: " + items + ")";
            }
            dialog.UserSelectedItem(named->Id, static_cast<int>(item - c.Items.begin()));
            break;
        }
        case ControlKind::MessageEdit: {
            // The message boxes turn letters to upper case; storing refuses what has no
            // Morse form, as it does for a pasted text.
            std::string upper = value;
            for (char& ch : upper) {
                if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
            }
            dialog.UserEditedText(named->Id, upper);
            break;
        }
        default:
            // The number boxes take digits only.
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                return "dl2mgr-cli: " + name + " takes a number, not " + Quoted(value);
            dialog.UserEditedText(named->Id, value);
            break;
        }
    }
    // The field checks' box is the reason; it has been said through `ui` already.
    if (!dialog.StoreDialogToImage(ui)) return std::string();
    if (const auto refused = dl2mgr::editor::SendRefusal(filled.Image)) return *refused;
    image = filled.Image;
    return std::nullopt;
}

// The first word that is not an option or an option's value: the command.
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" || arg == "--device") {
            ++i;
            continue;
        }
        if (!arg.starts_with('-')) return std::string(arg);
    }
    return {};
}

// The window's choice: a system port kept by its path, else the COM number.
struct PortChoice {
    std::int32_t ComPortNumber = 0;
    std::string Device;
};

PortChoice DefaultPort() {
    using namespace dl2mgr::editor;
    const auto path =
        ConfigFilePath(QCoreApplication::applicationDirPath().toLocal8Bit().toStdString(),
                       dl2mgr::link::ConfigFolder());
    const ConfigLoad load = LoadComPortNumber(path);
    if (load.Outcome == ConfigLoad::State::Unreadable)
        throw std::runtime_error("the port is not known: " + load.Error);
    return {load.ComPortNumber, ReadPortFile(PortFilePath(path))};
}

} // namespace

int Run(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    CLI::App app{"Keyer commands over a serial port", "dl2mgr-cli"};
    app.require_subcommand(1);
    // --port, --device and --json may come after the command as well.
    app.fallthrough();
    app.set_version_flag("--version", std::string("dl2mgr-cli ") + ProjectVersion);
    std::int32_t port = 0;
    std::string device;
    bool json = false;
    auto* portOpt = app.add_option("--port", port, "COM port number (default: dl2mgr's config)");
    auto* deviceOpt = app.add_option("--device", device,
                                     "open this device path directly (a USB adapter: see ports)");
    portOpt->excludes(deviceOpt);
    app.add_flag("--json", json,
                 "info, read, show, ports: print one JSON object, the status texts as fields");

    std::string file;
    int message = 0;
    std::vector<std::string> settings;
    auto* info = app.add_subcommand("info", "connect and show revision, PotVal and PbVal");
    auto* read = app.add_subcommand("read", "read the keyer's image into FILE");
    read->add_option("FILE", file, "image file to write")->required();
    auto* write = app.add_subcommand("write", "write FILE to the keyer");
    write->add_option("FILE", file, "image file to send")->required();
    bool noVerify = false;
    write->add_flag("--no-verify", noVerify,
                    "do not read the keyer back and compare after writing (the write then "
                    "ends in \"Sent - not verified\", not \"Done\")");
    auto* test = app.add_subcommand("test", "start stored message N (1 to 6)");
    test->add_option("N", message, "message number")->required()->check(CLI::Range(1, 6));
    auto* show = app.add_subcommand("show", "show the settings and messages of FILE");
    show->add_option("FILE", file, "image file")->required();
    auto* set = app.add_subcommand(
        "set", "change settings and messages of FILE, by the names show prints "
               "(Weight=60 \"Keyer Mode=Iambic B\" Swap=on \"Message 1=CQ TEST\"), through "
               "the window's checks; a refused change writes nothing");
    set->add_option("FILE", file, "image file")->required();
    set->add_option("NAME=VALUE", settings, "settings to change")->required();
    auto* ports = app.add_subcommand(
        "ports", "list the serial ports the system reports: the path --device takes, and what "
                 "the port is");

    const std::string command = CommandWord(argc, argv);
    if (!command.empty()) {
        bool known = false;
        for (const auto* sub : app.get_subcommands({}))
            known = known || sub->get_name() == command;
        if (!known) {
            Complain("dl2mgr-cli: unknown command " + Quoted(command) +
                     " (commands: info, read, write, test, show, set, ports)");
            return ExitBadArguments;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e); // --help
        Complain("dl2mgr-cli: " + std::string(e.what()));
        return ExitBadArguments;
    }

    // An empty name is a mistake (an unset variable), never "the default": refused before
    // any port is opened.
    if (*deviceOpt && device.empty()) {
        Complain("dl2mgr-cli: --device: the device name is empty");
        return ExitBadArguments;
    }
    if ((*read || *write || *show || *set) && file.empty()) {
        Complain("dl2mgr-cli: FILE: the file name is empty");
        return ExitBadArguments;
    }
    if (json && (*write || *test || *set)) {
        Complain("dl2mgr-cli: --json: only info, read, show and ports print JSON");
        return ExitBadArguments;
    }
    Output output(json);

    KeyerImage image{};
    if (*show || *write || *set) {
        const std::string error = dl2mgr::editor::LoadImageFile(file, image);
        if (!error.empty()) {
            Complain(error);
            return ExitBadArguments;
        }
    }
    if (*show) {
        ShowImage(image, output);
        return output.Finish(ExitOk);
    }
    if (*set) {
        CliUi ui(output);
        if (const auto refused = SetImage(image, settings, ui)) {
            if (!refused->empty()) Complain(*refused);
            return ExitBadArguments;
        }
        const std::string error = dl2mgr::editor::SaveImageFile(file, image);
        if (!error.empty()) {
            Complain(error);
            return ExitBadArguments;
        }
        return ExitOk;
    }
    if (*ports) {
        std::string list;
        for (const auto& system : dl2mgr::link::SystemPorts()) {
            if (!json) {
                Say(dl2mgr::link::ChoicePath(system) + "\t" + dl2mgr::link::PortLabel(system));
                continue;
            }
            auto text = [](const std::string& s) { return s.empty() ? "null" : JsonString(s); };
            list += std::string(list.empty() ? "" : ", ") +
                    "{\"device\": " + JsonString(system.Device) +
                    ", \"byId\": " + text(system.ById) +
                    ", \"description\": " + text(system.Description) +
                    ", \"manufacturer\": " + text(system.Manufacturer) +
                    ", \"serialNumber\": " + text(system.SerialNumber) + "}";
        }
        output.Field("ports", "[" + list + "]");
        return output.Finish(ExitOk);
    }

    PortChoice choice{port, device};
    if (!*portOpt && !*deviceOpt) choice = DefaultPort();
    Session session(output, choice.ComPortNumber, choice.Device);
    auto& editor = session.Editor();
    using dl2mgr::editor::CommandResult;
    auto exitFor = [](CommandResult result) {
        return result == CommandResult::Done || result == CommandResult::Sent ? ExitOk
               : result == CommandResult::Refused                             ? ExitBadArguments
                                                                              : ExitFailed;
    };
    if (*info) {
        const int revision = editor.QueryKeyer();
        if (revision < 0) {
            output.Error(editor.NotConnectedText());
            return output.Finish(ExitFailed);
        }
        const std::string& pot = editor.Dialog.Text(dl2mgr::editor::id::PotVal);
        const std::string& pb = editor.Dialog.Text(dl2mgr::editor::id::PbVal);
        if (json) {
            output.Field("revision", std::to_string(revision));
            output.Field("potVal", JsonNumber(pot));
            output.Field("pbVal", JsonNumber(pb));
        } else {
            Say("Revision: " + std::to_string(revision));
            Say("PotVal: " + pot);
            Say("PbVal: " + pb);
        }
    } else if (*read) {
        output.Field("file", JsonString(file));
        // A file that cannot be written is known before the keyer is read for 2.6 s.
        if (const auto check = dl2mgr::editor::CheckReplace(file); !check.Ok()) {
            output.Error(check.Error);
            return output.Finish(ExitBadArguments);
        }
        const CommandResult result = editor.ReadDL();
        if (result == CommandResult::Failed) output.Error(file + " was not written.");
        if (result != CommandResult::Done) return output.Finish(exitFor(result));
        const std::string error = dl2mgr::editor::SaveImageFile(file, editor.Image);
        if (!error.empty()) {
            output.Error(error);
            return output.Finish(ExitBadArguments);
        }
    } else if (*write) {
        editor.Image = image;
        editor.VerifyAfterWrite = !noVerify;
        return exitFor(editor.WriteImage());
    } else if (*test) {
        const CommandResult result = editor.TestMessage(message);
        if (result != CommandResult::Done) return exitFor(result);
        Say("Message " + std::to_string(message) + " started");
    }
    return output.Finish(ExitOk);
}

int main(int argc, char** argv) {
    // Whatever goes wrong ends as one line and exit 2, never as an abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Complain(std::string("dl2mgr-cli: ") + e.what());
    } catch (...) {
        Complain("dl2mgr-cli: unexpected error");
    }
    return ExitBadArguments;
}
