#include "shelf/ShelfFilter.h"

ShelfFilter::ShelfFilter(Kind kind, const QString &labelID)
    : m_kind(kind)
    , m_labelID(kind == Kind::Label ? labelID : QString())
{
}

QString emptyTitle(const ShelfFilter &filter)
{
    switch (filter.kind()) {
    case ShelfFilter::Kind::All: return QStringLiteral("Copy something to get started");
    case ShelfFilter::Kind::Pinned: return QStringLiteral("Nothing pinned yet");
    case ShelfFilter::Kind::Label: return QStringLiteral("No items with this label yet");
    case ShelfFilter::Kind::Texts:
    case ShelfFilter::Kind::Links:
    case ShelfFilter::Kind::Images:
    case ShelfFilter::Kind::Files: return QStringLiteral("Nothing here yet");
    }
    return QStringLiteral("Nothing here yet");
}
