#include "shelf/ShelfItemsModel.h"

#include "store/FetchedResultsModel.h"

ShelfItemsModel::ShelfItemsModel(FetchedResultsModel *items, QObject *parent)
    : QIdentityProxyModel(parent)
    , m_items(items)
{
    setSourceModel(items);
}

void ShelfItemsModel::setHighlighted(QSet<ObjectId> ids)
{
    if (ids == m_highlighted)
        return;
    m_highlighted = std::move(ids);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {HighlightedRole});
}

QVariant ShelfItemsModel::data(const QModelIndex &index, int role) const
{
    if (role == HighlightedRole)
        return index.isValid() && m_highlighted.contains(m_items->objectIdAt(index.row()));
    return QIdentityProxyModel::data(index, role);
}

QHash<int, QByteArray> ShelfItemsModel::roleNames() const
{
    QHash<int, QByteArray> names = QIdentityProxyModel::roleNames();
    names.insert(HighlightedRole, QByteArrayLiteral("highlighted"));
    return names;
}
