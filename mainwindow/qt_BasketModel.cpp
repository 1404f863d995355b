#include "mainwindow/qt_BasketModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include "lib/Basics/qt_Dialogs.h"

namespace brenvo {

namespace {

// A sheet of paper with a coloured corner mark: the state at a glance.
QIcon Sheet(const QColor& mark, bool tick) {
    QIcon icon;
    for (int size : {32, 48}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        QPolygonF sheet({QPointF(s * 0.2, s * 0.08), QPointF(s * 0.62, s * 0.08), QPointF(s * 0.8, s * 0.26),
                         QPointF(s * 0.8, s * 0.92), QPointF(s * 0.2, s * 0.92)});
        p.setPen(QPen(QColor(0x70, 0x70, 0x70), 1));
        p.setBrush(Qt::white);
        p.drawPolygon(sheet);
        p.setPen(QPen(QColor(0xb0, 0xb0, 0xb0), 1));
        for (int i = 0; i < 4; ++i) p.drawLine(QPointF(s * 0.3, s * (0.4 + i * 0.12)), QPointF(s * 0.7, s * (0.4 + i * 0.12)));
        p.setPen(Qt::NoPen);
        p.setBrush(mark);
        p.drawEllipse(QPointF(s * 0.74, s * 0.78), s * 0.2, s * 0.2);
        if (tick) {
            QPen t(Qt::white, s * 0.06);
            t.setCapStyle(Qt::RoundCap);
            p.setPen(t);
            p.drawPolyline(QPolygonF({QPointF(s * 0.66, s * 0.78), QPointF(s * 0.72, s * 0.85), QPointF(s * 0.83, s * 0.71)}));
        }
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace

TBasketModel::TBasketModel(const TBasketList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list), rows_(int(list.Count())) {}

QIcon TBasketModel::Icon(ItemIcon icon) {
    static const QIcon notSent = Sheet(QColor(0xe0, 0x8a, 0x1e), false);
    static const QIcon sent = Sheet(QColor(0x2e, 0x9d, 0x4a), true);
    static const QIcon open = Sheet(QColor(0x3b, 0x82, 0xc4), false);
    static const QIcon processed = Sheet(QColor(0x2e, 0x9d, 0x4a), true);
    switch (icon) {
    case ItemIcon::NotSent: return notSent;
    case ItemIcon::Sent: return sent;
    case ItemIcon::Open: return open;
    case ItemIcon::Processed: return processed;
    }
    return open;
}

int TBasketModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QVariant TBasketModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ || size_t(index.row()) >= list_.Count()) return {};
    const TBasketItem& item = list_.Item(size_t(index.row()));
    switch (role) {
    case Qt::DisplayRole: return ToQ(item.Caption);
    case Qt::DecorationRole: return Icon(item.Mark == 2 ? ItemIcon::NotSent : item.Icon);
    case Qt::ToolTipRole: return ToQ(list_.Tip(size_t(index.row())));
    case Qt::UserRole: return QVariant::fromValue(qlonglong(item.Id));
    default: return {};
    }
}

void TBasketModel::Reset() {
    beginResetModel();
    rows_ = int(list_.Count());
    endResetModel();
}

void TBasketModel::Inserted(size_t index) {
    if (int(list_.Count()) != rows_ + 1 || index > size_t(rows_)) return Reset();
    beginInsertRows({}, int(index), int(index));
    ++rows_;
    endInsertRows();
}

void TBasketModel::Changed(size_t index) {
    if (int(index) >= rows_) return Reset();
    emit dataChanged(this->index(int(index)), this->index(int(index)));
}

void TBasketModel::Removed(size_t index) {
    if (int(list_.Count()) != rows_ - 1 || int(index) >= rows_) return Reset();
    beginRemoveRows({}, int(index), int(index));
    --rows_;
    endRemoveRows();
}

} // namespace brenvo
