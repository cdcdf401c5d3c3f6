#include "import/PastePayloadDecoder.h"

#include "ArchiveBuilders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <sys/stat.h>

using namespace PastePayloadDecoder;
using namespace testarchive;

namespace {

QByteArray lzfseVector(const char *name)
{
    QFile file(QStringLiteral(KN_TEST_DATA_DIR "/lzfse/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}

const QString utf8Type = QStringLiteral("public.utf8-plain-text");

QVariantList twoItems()
{
    return {item({{utf8Type, QByteArray("first")}}, {utf8Type}),
            item({{QStringLiteral("public.png"), QByteArray("\x89PNG")}})};
}

std::optional<DecodeError> decodeErrorOf(const Expected<QList<Entry>, Failure> &result)
{
    if (result)
        return std::nullopt;
    if (const auto *error = std::get_if<DecodeError>(&result.error()))
        return *error;
    return std::nullopt;
}

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
        QTest::newRow("inline marker, binary plist") << QByteArray(1, '\1') + plist;
        QTest::newRow("json") << json;
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

    void lzfseArchivesFromTheReferenceEncoder()
    {
        const auto plist = decodeItems(lzfseVector("plist_archive.lzfse"), QString());
        QVERIFY(plist);
        QCOMPARE(plist->size(), 2);
        QCOMPARE(plist->at(0).types, (QStringList{utf8Type, QStringLiteral("public.rtf")}));
        QVERIFY(plist->at(0).dataByType.value(utf8Type).startsWith("Meeting notes, line 0\n"));
        QCOMPARE(plist->at(1).dataByType.value(QStringLiteral("public.png")).size(), 1024);

        const auto json = decodeItems(QByteArray(1, '\1') + lzfseVector("json_archive.lzfse"), QString());
        QVERIFY(json);
        QCOMPARE(json->size(), 2);
        QCOMPARE(json->at(0).dataByType.value(utf8Type), QByteArray("Quarterly report draft"));
        QCOMPARE(json->at(1).dataByType.value(QStringLiteral("public.file-url")),
                 QByteArray("file:///Users/sam/Documents/Report%20Q3.pdf"));
    }

    void externalBlobFiles()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QByteArray name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        QCOMPARE(name.size(), 36);
        const QByteArray blob = QByteArray(1, '\2') + name;

        QCOMPARE(decodeErrorOf(decodeItems(blob, folder.path())), DecodeError::externalFileMissing);

        QFile file(QDir(folder.path()).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lzfseVector("json_archive.lzfse"));
        file.close();
        const auto entries = decodeItems(blob, folder.path());
        QVERIFY(entries);
        QCOMPARE(entries->size(), 2);

        // Bytes after the name are not part of it.
        QVERIFY(decodeItems(blob + "trailing", folder.path()));

        Limits small;
        small.maxExternalFileBytes = file.size() - 1;
        QCOMPARE(decodeErrorOf(decodeItems(blob, folder.path(), small)), DecodeError::externalFileMissing);
    }

    void externalNamesThatAreNotPlainFileNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("too short") << QByteArray("ABC");
        QTest::newRow("not ascii") << QByteArray("\xc3\xa9").leftJustified(36, 'A');
        QTest::newRow("climbs out") << QByteArray("../outside/").leftJustified(36, 'A');
        QTest::newRow("nul inside") << QByteArray("AAAA\0BBBB", 9).leftJustified(36, 'A');
    }

    void externalNamesThatAreNotPlainFileNames()
    {
        QFETCH(QByteArray, name);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("blobs")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("outside")));
        // A readable archive where a climbing name would land.
        QFile planted(QDir(root.path()).filePath(QStringLiteral("outside/") + QString::fromLatin1(name.mid(11))));
        if (planted.open(QIODevice::WriteOnly))
            planted.write(testarchive::json(twoItems()));
        const auto result = decodeItems(QByteArray(1, '\2') + name, root.filePath(QStringLiteral("blobs")));
        QCOMPARE(decodeErrorOf(result), DecodeError::externalFileMissing);
    }

    // A folder, a FIFO (reading it would block) and a link to a file outside the blob
    // folder all count as missing.
    void externalFileThatIsNotARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("fifo") << QStringLiteral("fifo");
        QTest::newRow("link leading out") << QStringLiteral("link");
    }

    void externalFileThatIsNotARegularFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir folder;
        QTemporaryDir elsewhere;
        const QByteArray name = QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
        const QString path = QDir(folder.path()).filePath(QString::fromLatin1(name));
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            const QString secret = QDir(elsewhere.path()).filePath(QStringLiteral("secret"));
            QFile file(secret);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(binaryPlist(twoItems()));
            file.close();
            QVERIFY(QFile::link(secret, path));
        }
        QCOMPARE(decodeErrorOf(decodeItems(QByteArray(1, '\2') + name, folder.path())),
                 DecodeError::externalFileMissing);
    }

    void failures()
    {
        QCOMPARE(decodeErrorOf(decodeItems(QByteArray(), QString())), DecodeError::empty);

        // One marker byte leaves no value: not an archive, and not a compressed stream.
        const auto markerOnly = decodeItems(QByteArray(1, '\1'), QString());
        QVERIFY(!markerOnly);
        QVERIFY(std::holds_alternative<lzfse::Error>(markerOnly.error()));

        const auto mixed = decodeItems(testarchive::json(QVariantList{item({}), 42}), QString());
        QCOMPARE(decodeErrorOf(mixed), DecodeError::unrecognized);
        const auto number = decodeItems(binaryPlist(QVariant(qint64(7))), QString());
        QCOMPARE(decodeErrorOf(number), DecodeError::unrecognized);

        const auto badJson = decodeItems("{\"dataByType\": ", QString());
        QVERIFY(!badJson);
        QVERIFY(std::holds_alternative<ParseError>(badJson.error()));

        // A dictionary key with a NUL character (found by fuzzing): libplist would abort.
        QFile nulKey(QStringLiteral(KN_TEST_DATA_DIR "/corpus/decode_items/crash-plist-key-with-nul.bin"));
        QVERIFY(nulKey.open(QIODevice::ReadOnly));
        const auto withNul = decodeItems(nulKey.readAll().mid(1), QString());
        QVERIFY(!withNul);
        QVERIFY(std::holds_alternative<ParseError>(withNul.error()));

        const auto badPlist = decodeItems("bplist00 but nothing after", QString());
        QVERIFY(!badPlist);
        QVERIFY(std::holds_alternative<ParseError>(badPlist.error()));

        const auto deep = decodeItems(QByteArray(200, '[') + QByteArray(200, ']'), QString());
        QVERIFY(!deep);
        QVERIFY(std::holds_alternative<ParseError>(deep.error()));

        const auto emptyList = decodeItems("[]", QString());
        QVERIFY(emptyList);
        QVERIFY(emptyList->isEmpty());
    }

    void decompressionIsBounded()
    {
        // 8 MB of zeros deflate to a few kilobytes; with a 1 MB bound neither zlib nor the
        // LZFSE fallback may hand back a result.
        const QByteArray bomb = rawDeflate(QByteArray(8 * 1024 * 1024, '\0'));
        QVERIFY(bomb.size() < 64 * 1024);
        Limits limits;
        limits.maxDecompressedBytes = 1024 * 1024;
        const auto decompressed = decompressIfNeeded(bomb, limits);
        QVERIFY(!decompressed);
        QVERIFY(!decodeItems(bomb, QString(), limits));

        limits.maxDecompressedBytes = 100000; // long_run holds 120000 bytes
        const auto lzfseBomb = decompressIfNeeded(lzfseVector("long_run.lzfse"), limits);
        QVERIFY(!lzfseBomb);
        QCOMPARE(lzfseBomb.error(), lzfse::Error::OutputLimitReached);
    }

    void decompressIfNeededFallsBackToLzfse()
    {
        // Deflate of nothing inflates to no bytes, which does not count; the two bytes are
        // then read as LZFSE, whose error is reported.
        const auto empty = decompressIfNeeded(rawDeflate(QByteArray()));
        QVERIFY(!empty);
        QCOMPARE(empty.error(), lzfse::Error::Truncated);
        const auto notDeflate = decompressIfNeeded("bvz garbage");
        QVERIFY(!notDeflate);
        QCOMPARE(notDeflate.error(), lzfse::Error::UnknownBlock);
    }

    void dataByTypeTextValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("base64") << QStringLiteral("aGVsbG8=") << QByteArray("hello");
        QTest::newRow("not base64: space") << QStringLiteral("hello world") << QByteArray("hello world");
        QTest::newRow("not base64: no padding") << QStringLiteral("aGVsbG8") << QByteArray("aGVsbG8");
        QTest::newRow("not base64: line break") << QStringLiteral("aGVs\nbG8=") << QByteArray("aGVs\nbG8=");
        QTest::newRow("not base64: url alphabet") << QStringLiteral("a-_b") << QByteArray("a-_b");
        QTest::newRow("not base64: padding inside") << QStringLiteral("aG==bG8=") << QByteArray("aG==bG8=");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("non-ascii text") << QStringLiteral("caf\u00e9") << QByteArray("caf\xc3\xa9");
    }

    void dataByTypeTextValues()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const Entry entry = entryFromDictionary(item({{utf8Type, text}}));
        QCOMPARE(entry.dataByType.value(utf8Type), bytes);
        QVERIFY(entry.dataByType.contains(utf8Type));
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
        QTest::newRow("empty") << QByteArray() << false;
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
