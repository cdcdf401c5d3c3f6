#include "platform/fake/FakePasteboard.h"

#include "platform/pasteboard/UriList.h"

qint64 FakePasteboard::changeCount() const
{
    return m_changeCount;
}

std::optional<QStringList> FakePasteboard::types() const
{
    if (m_unreadable)
        return std::nullopt;
    QStringList result;
    for (const auto &entry : m_entries)
        result.append(entry.first);
    return result;
}

std::optional<QList<QUrl>> FakePasteboard::fileUrls() const
{
    const std::optional<QByteArray> uriList = data(PasteboardType::uriList);
    if (!uriList)
        return std::nullopt;
    return fileUrlsFromUriList(*uriList);
}

std::optional<QByteArray> FakePasteboard::data(const QString &type) const
{
    if (m_unreadable || m_refusedTypes.contains(type))
        return std::nullopt;
    for (const auto &entry : m_entries) {
        if (entry.first == type)
            return entry.second;
    }
    return std::nullopt;
}

std::optional<QString> FakePasteboard::string() const
{
    for (const QString &type : {PasteboardType::string, PasteboardType::plainText}) {
        if (const auto bytes = data(type))
            return QString::fromUtf8(*bytes);
    }
    return std::nullopt;
}

void FakePasteboard::clearContents()
{
    m_entries.clear();
    m_primary = false;
    ++m_clearCount;
    ++m_changeCount;
}

void FakePasteboard::setData(const QByteArray &data, const QString &type)
{
    m_entries.append({type, data});
}

void FakePasteboard::setString(const QString &text, const QString &type)
{
    m_entries.append({type, text.toUtf8()});
}

void FakePasteboard::writeAlsoToPrimarySelection()
{
    m_primary = true;
}

void FakePasteboard::ownerQuits()
{
    m_entries.clear();
    ++m_changeCount;
    Q_EMIT contentsLost();
}

void FakePasteboard::copyFromOtherApplication(const QList<QPair<QString, QByteArray>> &entries)
{
    m_entries = entries;
    m_primary = false;
    ++m_changeCount;
}

void FakePasteboard::setUnreadable(bool unreadable)
{
    m_unreadable = unreadable;
}
