#include "platform/pasteboard/UriList.h"

QList<QUrl> fileUrlsFromUriList(const QByteArray &uriList, qsizetype maxUrls)
{
    QList<QUrl> urls;
    const QList<QByteArray> lines = uriList.split('\n');
    for (const QByteArray &rawLine : lines) {
        if (urls.size() >= maxUrls)
            break;
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile())
            continue;
        // A host other than this one names a file we cannot reach by path.
        if (url.host() == QLatin1String("localhost"))
            url.setHost(QString());
        if (!url.host().isEmpty())
            continue;
        if (!url.toLocalFile().startsWith(QLatin1Char('/')))
            continue;
        urls.append(url);
    }
    return urls;
}
