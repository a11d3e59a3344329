#pragma once

#include <QWidget>
#include <filesystem>

class QTextBrowser;
class QToolButton;

namespace burnwise::view {

// The program's own viewer for the HTML guide, for a desktop with no browser: links
// within the guide, its images, back and forward. Links that leave the guide go to the
// desktop.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows `file` from its start and brings the window up.
    void ShowFile(const std::filesystem::path& file);

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
};

} // namespace burnwise::view
