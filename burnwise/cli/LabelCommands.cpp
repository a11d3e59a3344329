#include "burnwise/cli/LabelCommands.h"

#include "burnwise/codec/TextEscape.h"
#include "burnwise/records/RecordStore.h"

#include <iostream>

namespace burnwise::cli {
namespace {

constexpr int FailedStatus = 1;
constexpr int BadInputStatus = 2;

struct ReprintOptions {
    std::string Serial;
    std::string Db;
    std::optional<std::string> Station;
    LabelOptions Label;
};

void RunReprint(const ReprintOptions& options) {
    std::string error;
    const std::unique_ptr<records::RecordStore> store =
        records::OpenRecordStore(options.Db, records::OpenMode::Write, error);
    if (!store) throw CLI::RuntimeError(error, BadInputStatus);
    const std::optional<records::Record> record =
        labels::NewestPassRecord(*store, options.Serial, options.Station, error);
    if (!record) throw CLI::RuntimeError(error, store->Lost() ? FailedStatus : BadInputStatus);

    LabelOptions label = options.Label;
    if (!label.Layout) {
        if (record->Label.Layout.empty())
            throw CLI::RuntimeError("--layout is needed: no label of " +
                                        codec::EscapeText(options.Serial) + " was printed before",
                                    BadInputStatus);
        label.Layout = record->Label.Layout;
    }
    const std::unique_ptr<labels::DeviceLabels> labels = OpenLabels(label);
    std::string line;
    const records::LabelStatus status = labels->Print(*record, *store, line);
    std::cout << codec::EscapeText(line) << std::endl;
    if (status.State != records::LabelState::Printed) throw CLI::RuntimeError(FailedStatus);
}

} // namespace

void AddLabelOptions(CLI::App& command, LabelOptions& options) {
    CLI::Option* printer =
        command.add_option("--printer", options.Printer,
                           "Print queue for the labels; default the print service's default "
                           "destination");
    command
        .add_option("--label-dir", options.Folder,
                    "Write each label as SERIAL.pdf into this folder instead of printing it")
        ->excludes(printer);
}

std::unique_ptr<labels::DeviceLabels> OpenLabels(const LabelOptions& options) {
    if (!options.Layout) {
        if (options.Printer || options.Folder)
            throw CLI::RuntimeError("--printer and --label-dir need --label LAYOUT",
                                    BadInputStatus);
        return nullptr;
    }
    std::string error;
    std::unique_ptr<labels::DeviceLabels> labels = labels::OpenDeviceLabels(
        *options.Layout, {options.Printer.value_or(""), options.Folder}, error);
    if (!labels) throw CLI::RuntimeError(error, BadInputStatus);
    return labels;
}

void AddLabelCommand(CLI::App& app) {
    const auto options = std::make_shared<ReprintOptions>();
    CLI::App* label = app.add_subcommand(
        "label", "Print a device's label again from its newest PASS record (the same values "
                 "and date); exit 1 when it cannot be printed");
    label->add_option("--serial", options->Serial, "Serial number of the device")->required();
    label->add_option("--db", options->Db,
                      "Database of the records, as for program; it must exist");
    label->add_option("--station", options->Station, "Only the records of this station");
    label->add_option("--layout", options->Label.Layout,
                      "Label layout (SVG); default the one its last label was printed with");
    AddLabelOptions(*label, options->Label);
    label->callback([options] { RunReprint(*options); });
}

} // namespace burnwise::cli
