#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace burnwise::labels {

// What became of one label: handed over (to a print queue, with the job's id; to a folder,
// with the file's path) or not, with the reason.
struct HandOver {
    bool Done = false;
    std::string Job;
    std::string Reason;
};

// Where finished labels go. Handing one over never throws and never waits long: a print
// service that does not answer within seconds fails the label, not the run.
class LabelOutput {
public:
    virtual ~LabelOutput() = default;
    // `serial` names the label (the file, the job's title); `pdf` is the page.
    virtual HandOver Send(std::string_view serial, std::string_view pdf) = 0;
    // The queue or folder, for messages.
    virtual std::string Where() const = 0;
};

// Labels as SERIAL.pdf files in `folder`, each replaced whole. Characters a file name cannot
// carry safely (a slash, a leading dot, controls) become '_'.
std::unique_ptr<LabelOutput> FolderOutput(std::filesystem::path folder);

// Labels as PDF jobs for a queue of the system's print service; an empty name is the
// service's default destination. The service is the one the user's CUPS settings name
// (CUPS_SERVER, client.conf), reached anew for each label.
std::unique_ptr<LabelOutput> PrintQueueOutput(std::string queue);

// A print queue of the system's print service.
struct PrintDestination {
    std::string Name;
    bool IsDefault = false;
};

// The queues the print service has, by name; nothing with `error` set when it cannot be
// asked (not running, not answering within seconds).
std::optional<std::vector<PrintDestination>> PrintDestinations(std::string& error);

// The file name a serial number's label gets in a folder.
std::string LabelFileName(std::string_view serial);

} // namespace burnwise::labels
