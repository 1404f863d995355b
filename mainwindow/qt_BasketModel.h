#pragma once

// The list model of the input basket, the inbox and the outbox over the
// controller's TBasketList: captions, the four images, the tips. The main
// window forwards the controller's list notifications to it.

#include <QAbstractListModel>
#include <QIcon>

#include "mainwindow/BasketList.h"

namespace brenvo {

class TBasketModel : public QAbstractListModel {
    Q_OBJECT
public:
    TBasketModel(const TBasketList& list, QObject* parent = nullptr);

    // The image of an item state (not sent, sent, open, processed).
    static QIcon Icon(ItemIcon icon);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The controller's list changed.
    void Reset();
    void Inserted(size_t index);
    void Changed(size_t index);
    void Removed(size_t index);

private:
    const TBasketList& list_;
    int rows_ = 0;
};

} // namespace brenvo
