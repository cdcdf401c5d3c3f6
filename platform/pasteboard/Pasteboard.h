#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The names of the clipboard types the application reads and writes (MIME types).
namespace PasteboardType {
inline const QString string = QStringLiteral("text/plain;charset=utf-8");
inline const QString plainText = QStringLiteral("text/plain");
inline const QString rtf = QStringLiteral("text/rtf");
inline const QString rtfAlias = QStringLiteral("application/rtf");
inline const QString tiff = QStringLiteral("image/tiff");
inline const QString png = QStringLiteral("image/png");
inline const QString uriList = QStringLiteral("text/uri-list");
}

// The system clipboard as the monitor, the payload reader and the paste service use it.
// Every call is made on the main thread.
class Pasteboard : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Takes a new value whenever any client, this application included, writes the
    // clipboard. Only ever compared for equality.
    virtual qint64 changeCount() const = 0;
    // The types the current contents offer; none when the clipboard cannot be read.
    virtual std::optional<QStringList> types() const = 0;
    // The file URLs on the clipboard in clipboard order (file: URLs only); none or
    // empty when there are none.
    virtual std::optional<QList<QUrl>> fileUrls() const = 0;
    // The bytes offered for a type, or none.
    virtual std::optional<QByteArray> data(const QString &type) const = 0;
    // The plain text offered, or none.
    virtual std::optional<QString> string() const = 0;

    // Empties the clipboard and starts a new write by this application.
    virtual void clearContents() = 0;
    // Each call adds one type to the one item being written since clearContents.
    virtual void setData(const QByteArray &data, const QString &type) = 0;
    virtual void setString(const QString &text, const QString &type) = 0;
    // The write begun by the last clearContents goes to the primary selection as well,
    // which terminals such as xterm paste with Shift+Insert. Ignored where there is none.
    virtual void writeAlsoToPrimarySelection() = 0;

Q_SIGNALS:
    // The contents vanished because the client that owned them quit (on X11 the contents
    // live in their owner). The change count has already moved.
    void contentsLost();
};
