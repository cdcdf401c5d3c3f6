#include "platform/x11/ClipboardTargets.h"

#include <QTest>

class TestClipboardTargets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void typesForTargets_data()
    {
        QTest::addColumn<QList<QByteArray>>("targets");
        QTest::addColumn<QStringList>("types");

        QTest::newRow("xclip text") << QList<QByteArray>{"TARGETS", "UTF8_STRING"}
                                    << QStringList{QStringLiteral("text/plain;charset=utf-8")};
        QTest::newRow("qt owner") << QList<QByteArray>{"text/plain", "UTF8_STRING", "STRING", "TEXT", "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"}
                                  << QStringList{QStringLiteral("text/plain"), QStringLiteral("text/plain;charset=utf-8")};
        QTest::newRow("markers kept") << QList<QByteArray>{"x-kde-passwordManagerHint", "org.nspasteboard.ConcealedType", "COMPOUND_TEXT"}
                                      << QStringList{QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("org.nspasteboard.ConcealedType")};
        QTest::newRow("owner order") << QList<QByteArray>{"image/png", "application/x-qt-image", "text/uri-list"}
                                     << QStringList{QStringLiteral("image/png"), QStringLiteral("application/x-qt-image"), QStringLiteral("text/uri-list")};
        QTest::newRow("nothing usable") << QList<QByteArray>{"TARGETS", "", "PIXMAP"} << QStringList{};
    }

    void typesForTargets()
    {
        QFETCH(QList<QByteArray>, targets);
        QFETCH(QStringList, types);
        QCOMPARE(ClipboardTargets::typesForTargets(targets), types);
    }

    void targetForType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QList<QByteArray>>("offered");
        QTest::addColumn<QByteArray>("target");

        const QString utf8 = QStringLiteral("text/plain;charset=utf-8");
        const QString plain = QStringLiteral("text/plain");
        QTest::newRow("utf-8 from UTF8_STRING") << utf8 << QList<QByteArray>{"TARGETS", "UTF8_STRING", "STRING"} << QByteArray("UTF8_STRING");
        QTest::newRow("utf-8 literal first") << utf8 << QList<QByteArray>{"UTF8_STRING", "text/plain;charset=utf-8"} << QByteArray("text/plain;charset=utf-8");
        QTest::newRow("plain from UTF8_STRING") << plain << QList<QByteArray>{"TARGETS", "UTF8_STRING"} << QByteArray("UTF8_STRING");
        QTest::newRow("latin-1 last resort") << utf8 << QList<QByteArray>{"STRING"} << QByteArray("STRING");
        QTest::newRow("image by name only") << QStringLiteral("image/png") << QList<QByteArray>{"image/jpeg"} << QByteArray();
        QTest::newRow("text not offered") << utf8 << QList<QByteArray>{"image/png"} << QByteArray();
    }

    void targetForType()
    {
        QFETCH(QString, type);
        QFETCH(QList<QByteArray>, offered);
        QFETCH(QByteArray, target);
        QCOMPARE(ClipboardTargets::targetForType(type, offered), target);
    }

    void latin1StringBecomesUtf8()
    {
        QCOMPARE(ClipboardTargets::toTypeEncoding("caf\xe9", "STRING"), QByteArray("café"));
        QCOMPARE(ClipboardTargets::toTypeEncoding("caf\xc3\xa9", "UTF8_STRING"), QByteArray("café"));
    }
};

QTEST_MAIN(TestClipboardTargets)
#include "tst_clipboardtargets.moc"
