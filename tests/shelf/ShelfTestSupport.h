#pragma once

#include "shelf/ShelfItemsModel.h"
#include "shelf/ShelfViewModel.h"
#include "tests/store/StoreTestSupport.h"

#include <QStringList>

#include <initializer_list>

// One item of a shelf test, named in sourceBundleID, which no search looks at.
struct Card {
    QString name;
    ClipKind kind;
    QString text = {};
    QString fileName = {};
    QString source = {};
    QString title = {};
    bool pinned = false;
    QString label = {};
};

inline void addCard(StoreContext *context, const Card &card, const QDateTime &created)
{
    auto item = context->insert<ClipItem>();
    item->setId(QUuid::createUuid());
    item->setCreatedAt(created);
    item->setKind(card.kind);
    item->setSourceBundleID(card.name);
    item->setPinned(card.pinned);
    if (!card.text.isEmpty())
        item->setPlainText(card.text);
    if (!card.fileName.isEmpty())
        item->setFileName(card.fileName);
    if (!card.source.isEmpty())
        item->setSourceAppName(card.source);
    if (!card.title.isEmpty())
        item->setTitle(card.title);
    if (!card.label.isEmpty())
        item->setLabelID(card.label);
}

// Adds the cards oldest first, a minute apart, so that the shelf lists the last one first.
inline void addCards(StoreContext *context, const QList<Card> &cards)
{
    for (qsizetype i = 0; i < cards.size(); ++i)
        addCard(context, cards[i], QDateTime::fromSecsSinceEpoch(1700000000 + 60 * i, Qt::UTC));
}

inline QStringList names(const QList<ClipItemPtr> &items)
{
    QStringList result;
    for (const auto &item : items)
        result.append(item->sourceBundleID().value_or(QString()));
    return result;
}

inline QStringList list(std::initializer_list<const char *> names)
{
    QStringList result;
    for (const char *name : names)
        result.append(QString::fromUtf8(name));
    return result;
}

// The rows the cards show as selected.
inline QList<int> highlightedRows(const ShelfViewModel &model)
{
    QList<int> rows;
    const QAbstractItemModel *items = model.items();
    for (int row = 0; row < items->rowCount(); ++row) {
        if (items->data(items->index(row, 0), ShelfItemsModel::HighlightedRole).toBool())
            rows.append(row);
    }
    return rows;
}
