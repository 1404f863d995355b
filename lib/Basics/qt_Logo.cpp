#include "lib/Basics/qt_Logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace brenvo {

namespace {

const QColor kDeepBlue(0x1d, 0x4e, 0x89);
const QColor kLightBlue(0x3b, 0x82, 0xc4);

// The mark: a rounded square with a white "B" and a green tick below it.
void PaintMark(QPainter& p, const QRectF& r) {
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, kLightBlue);
    g.setColorAt(1, kDeepBlue);
    QPainterPath path;
    path.addRoundedRect(r, r.width() * 0.18, r.height() * 0.18);
    p.fillPath(path, g);
    QFont f(QStringLiteral("Liberation Sans"));
    f.setBold(true);
    f.setPixelSize(int(r.height() * 0.62));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(r.adjusted(0, -r.height() * 0.08, 0, -r.height() * 0.08), Qt::AlignCenter, QStringLiteral("B"));
    QPen tick(QColor(0x7c, 0xd9, 0x6a));
    tick.setWidthF(r.width() * 0.07);
    tick.setCapStyle(Qt::RoundCap);
    tick.setJoinStyle(Qt::RoundJoin);
    p.setPen(tick);
    const qreal x = r.left(), y = r.top(), w = r.width(), h = r.height();
    p.drawPolyline(QPolygonF({QPointF(x + w * 0.30, y + h * 0.80), QPointF(x + w * 0.42, y + h * 0.88),
                              QPointF(x + w * 0.70, y + h * 0.74)}));
}

} // namespace

QPixmap ProgramLogo(int width) {
    const int height = width * 3 / 10;
    QPixmap pm(width, height);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal m = height * 0.12;
    PaintMark(p, QRectF(m, m, height - 2 * m, height - 2 * m));
    QFont name(QStringLiteral("Liberation Sans"));
    name.setBold(true);
    name.setPixelSize(int(height * 0.42));
    p.setFont(name);
    p.setPen(kDeepBlue);
    const QRectF text(height + m, m, width - height - 2 * m, height * 0.5);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Brenvo"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(int(height * 0.14));
    p.setFont(sub);
    p.setPen(QColor(0x44, 0x44, 0x44));
    p.drawText(QRectF(height + m, m + height * 0.5, width - height - 2 * m, height * 0.3),
               Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Abrechnung nach §302 SGB V"));
    return pm;
}

QPixmap ProgramIconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    PaintMark(p, QRectF(size * 0.04, size * 0.04, size * 0.92, size * 0.92));
    return pm;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(ProgramIconPixmap(size));
    return icon;
}

} // namespace brenvo
