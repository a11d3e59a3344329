// burnwise: the EEPROM programmer's window. A template named on the command line (as a
// file manager passes it) is opened as File > Open would open it.

#include "ProjectVersion.h"
#include "burnwise/ui/view/Program.h"
#include "common/qt/WindowCommandLine.h"

#include <QApplication>
#include <filesystem>
#include <string>

namespace {

constexpr std::string_view Usage =
    "Usage: burnwise [FILE.ept]\n"
    "Programs the configuration EEPROM of KR1 to KR4 USB interface chips from a\n"
    "programming template, in a window. FILE.ept, when given, is the template to open.\n"
    "\n"
    "Options:\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";

} // namespace

int main(int argc, char** argv) {
    const common::qt::WindowCommandLine line{"burnwise", ProjectVersion, Usage};
    if (const auto answered = common::qt::AnswerHelpOrVersion(line, argc, argv)) return *answered;
    QApplication app(argc, argv);
    std::string templateFile;
    if (const auto wrong = common::qt::TakeFileArgument(line, templateFile)) return *wrong;
    burnwise::view::PrepareApplication(app);
    return burnwise::view::RunProgram(app, {}, std::filesystem::path(templateFile));
}
