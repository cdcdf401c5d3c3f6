#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

// The absolute file: URLs of a text/uri-list, in order. Comments, blank lines, relative
// references and URLs of other schemes are left out; at most maxUrls are returned.
QList<QUrl> fileUrlsFromUriList(const QByteArray &uriList, qsizetype maxUrls = 100000);
