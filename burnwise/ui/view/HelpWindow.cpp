#include "burnwise/ui/view/HelpWindow.h"

#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace burnwise::view {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("HelpWindow");
    setWindowTitle(QStringLiteral("Burnwise Help"));
    resize(720, 600);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* buttons = new QHBoxLayout;
    back_ = new QToolButton(this);
    back_->setObjectName("HelpBack");
    back_->setText(QStringLiteral("Back"));
    back_->setEnabled(false);
    forward_ = new QToolButton(this);
    forward_->setObjectName("HelpForward");
    forward_->setText(QStringLiteral("Forward"));
    forward_->setEnabled(false);
    auto* home = new QToolButton(this);
    home->setObjectName("HelpHome");
    home->setText(QStringLiteral("Contents"));
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("HelpBrowser");
    // Pages of the guide open here; anything else (the web, mail) on the desktop.
    browser_->setOpenExternalLinks(true);
    layout->addWidget(browser_, 1);
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(home, &QToolButton::clicked, browser_, &QTextBrowser::home);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("Burnwise Help") : title);
    });
}

void HelpWindow::ShowFile(const std::filesystem::path& file) {
    browser_->clearHistory();
    browser_->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    show();
    raise();
    activateWindow();
}

} // namespace burnwise::view
