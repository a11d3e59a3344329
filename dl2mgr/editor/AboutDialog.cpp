#include "dl2mgr/editor/AboutDialog.h"

#include "dl2mgr/editor/EditorWindow.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace dl2mgr::editor {

AboutDialog::AboutDialog(const QString& versionLine, const QString& osLine, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("AboutDialog");
    setWindowTitle("Dahlo Testbed");
    setModal(true);
    const QFont font = DialogFont();
    setFont(font);
    const DialogUnits du(font);
    setFixedSize(du.X(198), du.Y(108));
    if (owner) move(owner->mapToGlobal(QPoint(du.X(18), du.Y(38))));

    auto centred = [&](int controlId, const QString& text, QRect rect) {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignCenter);
        // A long system name would be cut at its box's ends; give it the dialog's width.
        const int needed = label->fontMetrics().horizontalAdvance(text) + 4;
        if (needed > rect.width()) {
            const int width = std::min(needed, du.X(190));
            rect = QRect(du.X(99) - width / 2, rect.y(), width, rect.height());
        }
        label->setGeometry(rect);
        if (controlId) label->setObjectName(QString::number(controlId));
        return label;
    };
    centred(0, "Dahlo2 Standalone Parameter Editor", du.Rect(7, 13, 184, 8));
    centred(202, versionLine, du.Rect(11, 25, 178, 8));
    centred(208, osLine, du.Rect(39, 36, 148, 8));
    centred(0, "Dahlo Keyer Works", du.Rect(11, 49, 178, 8));
    centred(0, "www.dahlo-keyers.invalid", du.Rect(11, 58, 178, 8));
    centred(0, "All rights reserved.", du.Rect(11, 67, 178, 8));

    auto* icon = new QLabel(this);
    icon->setObjectName("IDD_ICON");
    icon->setGeometry(du.Rect(13, 75, 21, 20));
    const int side = std::min(icon->width(), icon->height());
    icon->setPixmap(ProgramIcon().pixmap(side, side));

    auto* ok = new QPushButton("&OK", this);
    ok->setObjectName("1");
    ok->setGeometry(du.Rect(77, 83, 40, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QIcon ProgramIcon() {
    // A paddle key's two levers over a dit and a dah.
    QIcon icon;
    for (const int side : {16, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = side / 64.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x4e, 0x79));
        p.drawRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 10 * s, 10 * s);
        p.setBrush(QColor(0xf2, 0xb1, 0x34));
        p.drawRoundedRect(QRectF(18 * s, 10 * s, 10 * s, 28 * s), 4 * s, 4 * s);
        p.drawRoundedRect(QRectF(36 * s, 10 * s, 10 * s, 28 * s), 4 * s, 4 * s);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(17 * s, 49 * s), 5 * s, 5 * s);
        p.drawRoundedRect(QRectF(28 * s, 44 * s, 24 * s, 10 * s), 5 * s, 5 * s);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace dl2mgr::editor
