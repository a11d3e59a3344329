#include "burnwise/ui/view/Icons.h"

#include <QString>

namespace burnwise::view {
namespace {

struct IconRow {
    std::string_view Name;
    const char* ThemeName; // none where the themes have nothing that fits
    const char* Fallback;  // in the resources
};

constexpr IconRow IconRows[] = {
    {"BWNew", "document-new", ":/burnwise/icons/new.svg"},
    {"BWOpen", "document-open", ":/burnwise/icons/open.svg"},
    {"BWEdit", "accessories-text-editor", ":/burnwise/icons/edit.svg"},
    {"BWSave", "document-save", ":/burnwise/icons/save.svg"},
    {"BWSaveAs", "document-save-as", ":/burnwise/icons/saveas.svg"},
    {"BWExit", "application-exit", ":/burnwise/icons/exit.svg"},
    {"BWScan", "system-search", ":/burnwise/icons/scan.svg"},
    {"BWErase", nullptr, ":/burnwise/icons/erase.svg"},
    {"BWProgram", nullptr, ":/burnwise/icons/program.svg"},
    {"BWHelp", "help-browser", ":/burnwise/icons/help.svg"},
    {"BWAbout", "help-about", ":/burnwise/icons/about.svg"},
    {"ToolButton11", nullptr, ":/burnwise/icons/erase.svg"},
    {"BWStop", "process-stop", ":/burnwise/icons/stop.svg"},
    {"BWProduction", nullptr, ":/burnwise/icons/production.svg"},
};

} // namespace

QIcon ActionIcon(std::string_view name) {
    for (const IconRow& row : IconRows) {
        if (row.Name != name) continue;
        const QIcon fallback{QString::fromLatin1(row.Fallback)};
        if (row.ThemeName == nullptr) return fallback;
        return QIcon::fromTheme(QString::fromLatin1(row.ThemeName), fallback);
    }
    return {};
}

QIcon ProgramIcon() {
    return QIcon(QStringLiteral(":/burnwise/burnwise.svg"));
}

} // namespace burnwise::view
