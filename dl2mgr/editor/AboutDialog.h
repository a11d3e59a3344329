#pragma once

#include <QDialog>

namespace dl2mgr::editor {

// "Dahlo Testbed": the program's name, version and build, and the running system. "&OK",
// Enter and Esc close it.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const QString& versionLine, const QString& osLine, QWidget* owner);
};

// The program's icon, drawn, so it needs no image plug-in.
QIcon ProgramIcon();

} // namespace dl2mgr::editor
