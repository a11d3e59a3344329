#include "burnwise/ui/view/AboutBox.h"

#include "ProjectVersion.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>

namespace burnwise::view {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("TAboutBox");
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    setFont(font);
    setFixedSize(ClientWidth, ClientHeight);

    // A lowered outer bevel around a raised inner one, white inside.
    auto* outer = new QFrame(this);
    outer->setObjectName("Panel1");
    outer->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    outer->setLineWidth(1);
    outer->setGeometry(8, 8, 351, 161);
    auto* panel = new QFrame(outer);
    panel->setObjectName("Panel1Inner");
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setGeometry(1, 1, 349, 159);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, QColor(0x1d, 0x2a, 0x44));
    panel->setPalette(white);

    auto* picture = new QLabel(panel);
    picture->setObjectName("ProgramIcon");
    picture->setGeometry(14, 14, 128, 128);
    const qreal scale = devicePixelRatioF();
    QPixmap logo(QSize(128, 128) * scale);
    logo.setDevicePixelRatio(scale);
    logo.fill(Qt::transparent);
    {
        QSvgRenderer renderer(QStringLiteral(":/burnwise/logo.svg"));
        QPainter painter(&logo);
        renderer.render(&painter, QRectF(0, 0, 128, 128));
    }
    picture->setPixmap(logo);

    auto* version = new QLabel(QStringLiteral("BURNWISE Version 3.0a"), panel);
    version->setObjectName("Version");
    QFont bold = font;
    bold.setBold(true);
    version->setFont(bold);
    version->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    version->setGeometry(156, 64, 186, 28);
    // The caption keeps the product's version; the build's own, as --version prints it,
    // stands under it, so a bug report names the program that was run.
    auto* build =
        new QLabel(QStringLiteral("Build %1").arg(QString::fromLatin1(ProjectVersion)), panel);
    build->setObjectName("BuildVersion");
    build->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    build->setGeometry(156, 92, 186, 22);

    auto* ok = new QPushButton(QIcon(QStringLiteral(":/burnwise/icons/ok.svg")),
                               QStringLiteral("OK"), this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    ok->setGeometry((ClientWidth - 88) / 2, 182, 88, 30);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event) {
    // Centred on the screen, not on the main window.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(event);
}

} // namespace burnwise::view
