#pragma once

#include "burnwise/app/Station.h"
#include "burnwise/app/TemplateEditor.h"
#include "burnwise/ui/MainForm.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace burnwise::ui::testing {

namespace fs = std::filesystem;

// Records every window service the form asks for, in order, and answers the dialogs with
// preset files.
class FakeHost : public FormHost {
public:
    std::vector<std::string> Calls; // "error: TEXT", "info: TEXT", "open", "save", ...
    std::optional<fs::path> OpenAnswer;
    std::optional<fs::path> SaveAnswer;
    FileDialogOptions LastOpen;
    FileDialogOptions LastSave;
    int PendingEvents = 0;

    std::optional<fs::path> RunOpenDialog(const FileDialogOptions& options) override {
        LastOpen = options;
        Calls.push_back("open");
        return OpenAnswer;
    }
    std::optional<fs::path> RunSaveDialog(const FileDialogOptions& options) override {
        LastSave = options;
        Calls.push_back("save");
        return SaveAnswer;
    }
    void ShowErrorBox(std::string_view text) override {
        Calls.push_back("error: " + std::string(text));
    }
    void ShowInformationBox(std::string_view text) override {
        Calls.push_back("info: " + std::string(text));
    }
    // Asked questions are answered with this.
    bool GoOn = true;
    bool AskGoOnOrCancel(std::string_view question, std::string_view goOn) override {
        Calls.push_back("ask " + std::string(goOn) + ": " + std::string(question));
        return GoOn;
    }
    void ProcessPendingEvents() override { ++PendingEvents; }
    void OpenHelpFile(const fs::path& file) override { Calls.push_back("help " + file.string()); }
    void ShowAboutBox() override { Calls.push_back("about"); }
    void CloseWindow() override { Calls.push_back("close"); }
    void DeviceFinished(const device::DeviceOutcome& outcome) override {
        Finished.push_back(outcome);
    }
    std::vector<device::DeviceOutcome> Finished;

    std::vector<std::string> Boxes() const {
        std::vector<std::string> boxes;
        for (const std::string& call : Calls)
            if (call.starts_with("error: ") || call.starts_with("info: ")) boxes.push_back(call);
        return boxes;
    }
};

// A scratch folder removed afterwards.
class TempFolder : public bwtest::TempFolder {
public:
    TempFolder() : bwtest::TempFolder("burnwise-ui-test-") {}
};

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The state of a control as one text: a list's index, a box's 0/1, a field's text.
inline std::string StateOf(const TMainForm& form, std::string_view name) {
    const Control* c = form.FindControl(name);
    if (c == nullptr) return "?";
    switch (c->Kind) {
    case ControlKind::List:
        return std::to_string(static_cast<const ListControl*>(c)->ItemIndex);
    case ControlKind::Check:
    case ControlKind::Radio:
        return static_cast<const CheckControl*>(c)->Checked ? "1" : "0";
    case ControlKind::Text:
        return static_cast<const TextField*>(c)->Text;
    default:
        return "?";
    }
}

// "Name=state" for each control named, separated by blanks.
inline std::string States(const TMainForm& form, std::initializer_list<std::string_view> names) {
    std::string states;
    for (const std::string_view name : names) {
        if (!states.empty()) states += ' ';
        states += std::string(name) + "=" + StateOf(form, name);
    }
    return states;
}

// A file opened without a window, from the start template, as the command line opens it:
// the template and the boxes ("error: TEXT", "info: TEXT").
inline std::pair<app::Template, std::vector<std::string>>
OpenWithoutWindow(const ProfileFile& file) {
    struct Boxes : device::Reporter {
        std::vector<std::string> Shown;
        void AppendLine(std::string_view) override {}
        void ClearLines() override {}
        void ShowError(std::string_view text) override {
            Shown.push_back("error: " + std::string(text));
        }
        void ShowInformation(std::string_view text) override {
            Shown.push_back("info: " + std::string(text));
        }
    } boxes;
    app::Template t = app::Template::Start();
    app::TemplateEditor editor(t, boxes);
    app::ApplyFile(editor, file);
    app::ApplyModelValues(editor);
    return {t, boxes.Shown};
}

// A started program: codec state, flags, fake window services and the form in its Start
// state.
struct StartedForm {
    FakeHost Host;
    TempFolder Folder;
    TMainForm Form{Host, {Folder.Path / "Templates", Folder.Path / "help.html"}};
    // What a run would start from with the template shown (see Gather).
    codec::CodecState State;
    device::RunFlags Flags;

    StartedForm() { Form.FormShow(); }

    // Prepares State and Flags as a run of the template shown does, with the settings of
    // its device number `deviceNumber`.
    void Gather(int deviceNumber = 0) {
        const app::Template shown = Form.CurrentTemplate();
        app::PrepareRun(shown, State, Flags);
        app::GatherSettings(shown, deviceNumber, State, Flags);
    }

    // New, then the model chosen as the user does.
    void NewWithModel(std::string_view model) {
        Form.BWNewExecute();
        const auto& items = Form.List("CB1").Items;
        const auto found = std::find(items.begin(), items.end(), model);
        ASSERT_NE(found, items.end()) << model;
        ASSERT_TRUE(Form.UserChooseEntry("CB1", static_cast<int>(found - items.begin())));
    }

    void Open(const fs::path& file) {
        Host.OpenAnswer = file;
        Form.BWOpenExecute();
    }

    bool SaveAs(const fs::path& file) {
        Host.SaveAnswer = file;
        Form.BWSaveAsExecute();
        return Form.Caption == ProgramModeCaption;
    }

    std::string Value(std::string_view section, std::string_view key) const {
        for (const TemplateValue& value : Form.TemplateValues())
            if (value.Section == section && value.Key == key) return value.Value;
        ADD_FAILURE() << "no template value " << section << "/" << key;
        return {};
    }
};

} // namespace burnwise::ui::testing
