#include "shelf/ShelfFetchRequest.h"

#include "store/ClipItem.h"

#include <optional>

namespace {

Predicate kindIs(ClipKind kind)
{
    return Predicate::equal(QStringLiteral("kind"), storedName(kind));
}

std::optional<Predicate> filterCondition(const ShelfFilter &filter)
{
    switch (filter.kind()) {
    case ShelfFilter::Kind::All: return std::nullopt;
    case ShelfFilter::Kind::Pinned: return Predicate::equal(QStringLiteral("isPinned"), true);
    case ShelfFilter::Kind::Texts: return kindIs(ClipKind::Text);
    case ShelfFilter::Kind::Links: {
        const auto startsWith = [](const QString &prefix) {
            return Predicate::beginsWith(QStringLiteral("plainText"), prefix, TextComparison::CaseInsensitive);
        };
        return kindIs(ClipKind::Text) && (startsWith(QStringLiteral("http://")) || startsWith(QStringLiteral("https://")));
    }
    case ShelfFilter::Kind::Images: return kindIs(ClipKind::Image);
    case ShelfFilter::Kind::Files: return kindIs(ClipKind::File);
    case ShelfFilter::Kind::Label: return Predicate::equal(QStringLiteral("labelID"), filter.labelID());
    }
    return std::nullopt;
}

Predicate searchCondition(const QString &searchText)
{
    QList<Predicate> anyField;
    for (const QString &attribute : {QStringLiteral("plainText"), QStringLiteral("fileName"),
                                     QStringLiteral("sourceAppName"), QStringLiteral("title")})
        anyField.append(Predicate::contains(attribute, searchText, TextComparison::CaseDiacriticInsensitive));
    return Predicate::anyOf(anyField);
}

} // namespace

FetchRequest makeFetchRequest(const QString &searchText, const ShelfFilter &filter)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), false}});

    QList<Predicate> conditions;
    if (auto condition = filterCondition(filter))
        conditions.append(*condition);
    if (!searchText.isEmpty())
        conditions.append(searchCondition(searchText));
    if (!conditions.isEmpty())
        request.setPredicate(Predicate::allOf(conditions));
    return request;
}
