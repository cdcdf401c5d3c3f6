#pragma once

#include "store/ObjectId.h"

#include <QIdentityProxyModel>
#include <QSet>

class FetchedResultsModel;

// The shelf's live item list as its card strip shows it: the store's rows and roles, plus
// whether each card is highlighted, as the view model decides.
class ShelfItemsModel : public QIdentityProxyModel
{
    Q_OBJECT

public:
    enum Role { HighlightedRole = Qt::UserRole + 256 };

    explicit ShelfItemsModel(FetchedResultsModel *items, QObject *parent = nullptr);

    FetchedResultsModel *items() const { return m_items; }

    // Repaints every row when the set changed.
    void setHighlighted(QSet<ObjectId> ids);

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    FetchedResultsModel *m_items;
    QSet<ObjectId> m_highlighted;
};
