#include "store/ObjectId.h"

#include "store/Model.h"

#include <QUrl>

namespace {
const QString uriScheme = QStringLiteral("x-kestrelnote");
}

ObjectId::ObjectId(QString storeIdentifier, int entityIndex, qint64 primaryKey, bool temporary)
    : m_store(std::move(storeIdentifier))
    , m_entity(entityIndex)
    , m_key(primaryKey)
    , m_temporary(temporary)
{
}

QString ObjectId::entityName() const
{
    const auto &entities = makeModel().entities;
    return m_entity >= 0 && m_entity < entities.size() ? entities[m_entity].name : QString();
}

QString ObjectId::uriRepresentation() const
{
    if (!isValid())
        return {};
    return uriScheme + QStringLiteral("://") + m_store + QLatin1Char('/') + entityName() + QLatin1Char('/')
        + (m_temporary ? QLatin1Char('t') : QLatin1Char('p')) + QString::number(m_key);
}

std::optional<ObjectId> ObjectId::fromUriRepresentation(const QString &uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != uriScheme || url.host().isEmpty())
        return std::nullopt;
    const QStringList parts = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() != 2 || parts[1].size() < 2 || parts[1].front() != QLatin1Char('p'))
        return std::nullopt;
    const int entity = makeModel().indexOf(parts[0]);
    bool ok = false;
    const qint64 key = parts[1].mid(1).toLongLong(&ok);
    if (entity < 0 || !ok)
        return std::nullopt;
    return ObjectId(url.host().toUpper(), entity, key);
}
