#pragma once

#include <QDialog>

namespace dl2mgr::editor {

// "Dahlo Testbed": the program's name, version and build, and the running system. Only
// "&OK" (or Enter) closes it; Esc does nothing.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const QString& versionLine, const QString& osLine, QWidget* owner);

public slots:
    void reject() override {}
};

// The program's icon, drawn, so it needs no image plug-in.
QIcon ProgramIcon();

} // namespace dl2mgr::editor
