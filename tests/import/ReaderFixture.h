#pragma once

// A Paste data folder and a private temporary directory for reader and importer tests.

#include "PasteBlobs.h"
#include "PasteDatabaseBuilder.h"
#include "import/PasteDatabaseReader.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QImage>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

// A one-colour picture as PNG bytes, written by the real image writer.
inline QByteArray pngOf(const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

struct ReadResult {
    std::optional<ReadOutcome> outcome;
    std::optional<PasteReadFailure> failure;
    QList<PasteClip> clips;
    QList<PasteDatabaseReader::Progress> reports;

    QStringList texts() const
    {
        QStringList result;
        for (const PasteClip &clip : clips) {
            if (const auto *text = std::get_if<ClipboardPayload::Text>(&clip.content))
                result.append(text->text);
            else
                result.append(QStringLiteral("<not text>"));
        }
        return result;
    }
    QString failureText() const { return failure ? localizedDescription(*failure) : QString(); }
};

class ReaderFixture
{
public:
    ReaderFixture()
        : m_oldTemp(qgetenv("TMPDIR"))
    {
        // The reader's copies land here, where a test can see what is left behind.
        qputenv("TMPDIR", m_temp.path().toLocal8Bit());
    }
    ~ReaderFixture() { qputenv("TMPDIR", m_oldTemp); }

    QString folder() const { return m_folder.path(); }
    QString path(const QString &name) const { return m_folder.filePath(name); }
    QString databasePath() const { return path(QStringLiteral("db.sqlite")); }
    QString temporaryFolder() const { return m_temp.path(); }

    // What the reader left in the temporary directory.
    QStringList leftovers() const
    {
        return QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Every file of the Paste folder with a hash of its bytes and its times.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(m_folder.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            QFile f(file);
            QByteArray digest = "unreadable";
            if (QFileInfo(file).isFile() && f.open(QIODevice::ReadOnly))
                digest = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
            files.insert(file, digest + ' ' + QByteArray::number(QFileInfo(file).lastModified().toMSecsSinceEpoch()));
        }
        return files;
    }

    // `afterClip` sees each clip taken and may refuse it, as a store that fails would.
    using ClipCheck = std::function<std::optional<ClipError>(const ReadResult &)>;
    ReadResult read(std::optional<qint64> limit = std::nullopt, std::function<bool(const ReadResult &)> cancelWhen = {},
                    ClipCheck afterClip = {})
    {
        ReadResult result;
        const PasteDatabaseReader reader(folder());
        auto outcome = reader.readClips(
            limit, [&] { return cancelWhen && cancelWhen(result); },
            [&](PasteDatabaseReader::Progress progress) { result.reports.append(progress); },
            [&](PasteClip &&clip) {
                result.clips.append(std::move(clip));
                return afterClip ? afterClip(result) : std::optional<ClipError>();
            });
        if (outcome)
            result.outcome = *outcome;
        else
            result.failure = outcome.error();
        return result;
    }

private:
    QTemporaryDir m_folder;
    QTemporaryDir m_temp;
    QByteArray m_oldTemp;
};
