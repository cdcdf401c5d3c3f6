#include "import/PastePayloadDecoder.h"

#include "PasteBlobs.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <numeric>

#include <sys/stat.h>

using namespace PastePayloadDecoder;
using namespace testarchive;
using pasteblob::utf8Type;

namespace {

QByteArray lzfseVector(const char *name)
{
    return pasteblob::testData(QStringLiteral("lzfse/") + QLatin1String(name));
}

QVariantList twoItems()
{
    return {item({{utf8Type, QByteArray("first")}}, {utf8Type}),
            item({{QStringLiteral("public.png"), QByteArray("\x89PNG")}})};
}

// What decodeItems gave: its entry count, the kind of parser or LZFSE failure, or its own error.
QString outcomeOf(const Expected<QList<Entry>, Failure> &result)
{
    if (result)
        return QStringLiteral("%1 entries").arg(result->size());
    if (std::holds_alternative<ParseError>(result.error()))
        return QStringLiteral("parse error");
    if (std::holds_alternative<lzfse::Error>(result.error()))
        return QStringLiteral("lzfse error");
    return describe(result.error());
}

const QString missing = describe(DecodeError::externalFileMissing);

} // namespace

class TestPastePayloadDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storedLayoutsDecodeToTheSameEntries_data()
    {
        QTest::addColumn<QByteArray>("blob");
        const QByteArray plist = binaryPlist(twoItems());
        const QByteArray json = testarchive::json(twoItems());
        QTest::newRow("binary plist") << plist;
        QTest::newRow("inline marker, json") << QByteArray(1, '\1') + json;
        QTest::newRow("raw deflate, json") << rawDeflate(json);
        QTest::newRow("inline marker, raw deflate, plist") << QByteArray(1, '\1') + rawDeflate(plist);
    }

    void storedLayoutsDecodeToTheSameEntries()
    {
        QFETCH(QByteArray, blob);
        const auto entries = decodeItems(blob, QString());
        QVERIFY2(entries, qPrintable(entries ? QString() : describe(entries.error())));
        QCOMPARE(entries->size(), 2);
        QCOMPARE(entries->at(0).types, QStringList{utf8Type});
        QCOMPARE(entries->at(0).dataByType.value(utf8Type), QByteArray("first"));
        QCOMPARE(entries->at(1).types, QStringList{QStringLiteral("public.png")}); // from the keys
        QCOMPARE(entries->at(1).dataByType.value(QStringLiteral("public.png")), QByteArray("\x89PNG"));
    }

    void externalBlobFiles()
    {
        QTemporaryDir folder;
        const QByteArray name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        const QByteArray blob = QByteArray(1, '\2') + name;
        QCOMPARE(outcomeOf(decodeItems(blob, folder.path())), missing);

        QFile file(QDir(folder.path()).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lzfseVector("json_archive.lzfse"));
        file.close();
        // An archive from the reference LZFSE encoder, as Paste stores large ones.
        const auto entries = decodeItems(blob, folder.path());
        QCOMPARE(outcomeOf(entries), QStringLiteral("2 entries"));
        QCOMPARE(entries->at(0).dataByType.value(utf8Type), QByteArray("Quarterly report draft"));
        QCOMPARE(entries->at(1).dataByType.value(QStringLiteral("public.file-url")),
                 QByteArray("file:///Users/sam/Documents/Report%20Q3.pdf"));
        // Bytes after the name are not part of it.
        QCOMPARE(outcomeOf(decodeItems(blob + "trailing", folder.path())), QStringLiteral("2 entries"));

        Limits small;
        small.maxExternalFileBytes = file.size() - 1;
        QCOMPARE(outcomeOf(decodeItems(blob, folder.path(), small)), missing);
    }

    // Names that are not plain file names, and files that are no regular file in the blob
    // folder (reading a FIFO would block), count as missing even where an archive is planted.
    void externalNamesAndFilesThatCountAsMissing_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("plant"); // what is put at the name in the blob folder
        const QByteArray uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
        QTest::newRow("too short") << QByteArray("ABC") << QString();
        QTest::newRow("not ascii") << QByteArray("\xc3\xa9").leftJustified(36, 'A') << QString();
        QTest::newRow("climbs out") << QByteArray("../outside/").leftJustified(36, 'A') << QStringLiteral("climb");
        QTest::newRow("absolute") << QByteArray("/tmp/../../../../../../../escape.pli") << QString();
        QTest::newRow("dot dot") << QByteArray("..").leftJustified(36, '\0') << QString();
        QTest::newRow("nul inside") << QByteArray("AAAA\0BBBB", 9).leftJustified(36, 'A') << QString();
        QTest::newRow("folder") << uuid << QStringLiteral("folder");
        QTest::newRow("fifo") << uuid << QStringLiteral("fifo");
        QTest::newRow("link leading out") << uuid << QStringLiteral("link");
        QTest::newRow("blob folder a link leading out") << uuid << QStringLiteral("linked folder");
        QTest::newRow("support folder a link leading out") << uuid << QStringLiteral("linked support folder");
    }
    void externalNamesAndFilesThatCountAsMissing()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, plant);
        QTemporaryDir root;
        const QDir dir(root.path());
        QVERIFY(dir.mkpath(QStringLiteral("blobs")) && dir.mkpath(QStringLiteral("outside")));
        const QString secret = dir.filePath(QStringLiteral("outside/secret"));
        const QString at = dir.filePath(QStringLiteral("blobs/") + QString::fromLatin1(name));
        const auto writeArchive = [&](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(binaryPlist(twoItems())) > 0;
        };
        QVERIFY(writeArchive(secret));
        if (plant == QLatin1String("climb"))
            QVERIFY(writeArchive(QDir::cleanPath(at)));
        else if (plant == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(at));
        else if (plant == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
        else if (plant == QLatin1String("link"))
            QVERIFY(QFile::link(secret, at));
        QString blobFolder = dir.filePath(QStringLiteral("blobs"));
        if (plant.startsWith(QLatin1String("linked"))) {
            // The file is where the name leads, but only through the link.
            QVERIFY(writeArchive(dir.filePath(QStringLiteral("outside/")) + QString::fromLatin1(name)));
            QVERIFY(QDir(blobFolder).removeRecursively());
            if (plant == QLatin1String("linked folder")) {
                QVERIFY(QFile::link(dir.filePath(QStringLiteral("outside")), blobFolder));
            } else {
                QVERIFY(dir.mkpath(QStringLiteral("outside/blobs")));
                QVERIFY(QFile::rename(dir.filePath(QStringLiteral("outside/")) + QString::fromLatin1(name),
                                      dir.filePath(QStringLiteral("outside/blobs/")) + QString::fromLatin1(name)));
                QVERIFY(QFile::link(dir.filePath(QStringLiteral("outside")), dir.filePath(QStringLiteral("support"))));
                blobFolder = dir.filePath(QStringLiteral("support/blobs"));
            }
        }
        QCOMPARE(outcomeOf(decodeItems(QByteArray(1, '\2') + name, blobFolder)), missing);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<QString>("expected");
        const QString unrecognized = describe(DecodeError::unrecognized);
        const QString parseError = QStringLiteral("parse error");
        QFile nulKey(QStringLiteral(KN_TEST_DATA_DIR "/corpus/decode_items/crash-plist-key-with-nul.bin"));
        QVERIFY(nulKey.open(QIODevice::ReadOnly));
        QTest::newRow("empty") << QByteArray() << describe(DecodeError::empty);
        // One marker byte leaves no value: not an archive, and not a compressed stream.
        QTest::newRow("marker only") << QByteArray(1, '\1') << QStringLiteral("lzfse error");
        QTest::newRow("list with a number") << testarchive::json(QVariantList{item({}), 42}) << unrecognized;
        QTest::newRow("a number") << binaryPlist(QVariant(qint64(7))) << unrecognized;
        QTest::newRow("cut json") << QByteArray("{\"dataByType\": ") << parseError;
        QTest::newRow("cut plist") << QByteArray("bplist00 but nothing after") << parseError;
        // A dictionary key with a NUL character (found by fuzzing): libplist would abort.
        QTest::newRow("plist key with nul") << nulKey.readAll().mid(1) << parseError;
        QTest::newRow("too deep") << QByteArray(200, '[') + QByteArray(200, ']') << parseError;
        // Objects referred to more than once: libplist copies them for every reference.
        QList<QByteArray> doubling;
        for (quint32 i = 0; i < 20; ++i)
            doubling.append(handBuiltArray({i + 1, i + 1}));
        doubling.append(QByteArray("\x51x", 2));
        QTest::newRow("references doubling 20 times") << handBuiltPlist(doubling, 0) << parseError;
        // Strings whose bytes overlap, each header inside the one before: a few kilobytes
        // that libplist expands to 300 copies of 64 KB.
        QList<QByteArray> overlapping(300, QByteArray("\x5f\x11\xff\xff", 4));
        overlapping.append(QByteArray(0x10000, 'a'));
        QList<quint32> all(300);
        std::iota(all.begin(), all.end(), 0u);
        overlapping.append(handBuiltArray(all));
        QTest::newRow("overlapping strings") << handBuiltPlist(overlapping, 301) << parseError;
        QTest::newRow("empty list") << QByteArray("[]") << QStringLiteral("0 entries");
    }
    void failures()
    {
        QFETCH(QByteArray, blob);
        QFETCH(QString, expected);
        QCOMPARE(outcomeOf(decodeItems(blob, QString())), expected);
    }

    void decompressionIsBoundedAndFallsBackToLzfse()
    {
        // 8 MB of zeros deflate to a few kilobytes; with a 1 MB bound neither zlib nor the
        // LZFSE fallback may hand back a result.
        const QByteArray bomb = rawDeflate(QByteArray(8 * 1024 * 1024, '\0'));
        Limits limits;
        limits.maxDecompressedBytes = 1024 * 1024;
        QVERIFY(!decompressIfNeeded(bomb, limits));
        QVERIFY(!decodeItems(bomb, QString(), limits));
        limits.maxDecompressedBytes = 100000; // long_run holds 120000 bytes
        QCOMPARE(decompressIfNeeded(lzfseVector("long_run.lzfse"), limits).error(), lzfse::Error::OutputLimitReached);
        // Deflate of nothing inflates to no bytes, which does not count: the bytes are then
        // read as LZFSE, whose error is reported.
        QCOMPARE(decompressIfNeeded(rawDeflate(QByteArray())).error(), lzfse::Error::Truncated);
        QCOMPARE(decompressIfNeeded("bvz garbage").error(), lzfse::Error::UnknownBlock);
    }

    void dataByTypeTextValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("base64") << QStringLiteral("aGVsbG8=") << QByteArray("hello");
        QTest::newRow("not base64: space") << QStringLiteral("hello world") << QByteArray("hello world");
        QTest::newRow("not base64: no padding") << QStringLiteral("aGVsbG8") << QByteArray("aGVsbG8");
        QTest::newRow("not base64: padding inside") << QStringLiteral("aG==bG8=") << QByteArray("aG==bG8=");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("non-ascii text") << QStringLiteral("caf\u00e9") << QByteArray("caf\xc3\xa9");
    }

    void dataByTypeTextValues()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const Entry entry = entryFromDictionary(item({{utf8Type, text}}));
        QVERIFY(entry.dataByType.contains(utf8Type));
        QCOMPARE(entry.dataByType.value(utf8Type), bytes);
    }

    void entryFromDictionaryShapes()
    {
        const QVariantMap data{{utf8Type, QByteArray("a")}, {QStringLiteral("public.count"), 3},
                               {QStringLiteral("public.nested"), QVariantList{}}};
        const Entry keysOnly = entryFromDictionary(item(data));
        QCOMPARE(keysOnly.dataByType.keys(), QStringList{utf8Type}); // other values are left out
        QCOMPARE(keysOnly.types, QStringList{utf8Type});

        QVariantMap withBadTypes = item(data);
        withBadTypes.insert(QStringLiteral("types"), QVariantList{utf8Type, 5});
        QCOMPARE(entryFromDictionary(withBadTypes).types, QStringList{utf8Type});

        // The stored order counts, even for types without data.
        const QStringList order{QStringLiteral("public.html"), utf8Type};
        QCOMPARE(entryFromDictionary(item(data, order)).types, order);

        QVariantMap notADictionary{{QStringLiteral("dataByType"), QStringLiteral("text")}};
        QVERIFY(entryFromDictionary(notADictionary).dataByType.isEmpty());
        QVERIFY(entryFromDictionary(notADictionary).types.isEmpty());
    }

    void previews_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<bool>("readable");
        const QVariantMap preview{{QStringLiteral("text"), QStringLiteral("hi")}};
        QTest::newRow("binary plist") << binaryPlist(preview) << true;
        QTest::newRow("json") << testarchive::json(preview) << true;
        QTest::newRow("json list") << QByteArray("[{\"text\":\"hi\"}]") << false;
        QTest::newRow("garbage") << QByteArray("\x01\x02garbage") << false;
        // Only bytes starting "bplist" go to the property-list reader.
        QTest::newRow("xml plist") << xmlPlist(preview) << false;
    }

    void previews()
    {
        QFETCH(QByteArray, blob);
        QFETCH(bool, readable);
        const auto preview = decodePreview(blob);
        QCOMPARE(preview.has_value(), readable);
        if (readable)
            QCOMPARE(preview->value(QStringLiteral("text")).toString(), QStringLiteral("hi"));
    }
};

QTEST_GUILESS_MAIN(TestPastePayloadDecoder)
#include "tst_pastepayloaddecoder.moc"
