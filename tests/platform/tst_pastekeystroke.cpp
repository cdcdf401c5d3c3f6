#include "platform/keystroke/PasteKeystroke.h"

#include <QTest>

class TestPasteKeystroke : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keystrokeByWindowClass_data()
    {
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("wmClass");
        QTest::addColumn<QString>("keystroke");
        QTest::addColumn<bool>("primary");

        QTest::newRow("qt editor") << QStringLiteral("kate") << QStringLiteral("kate") << QStringLiteral("Ctrl+V") << false;
        QTest::newRow("kitty by class") << QStringLiteral("something") << QStringLiteral("kitty") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("instance in any case") << QStringLiteral("Alacritty") << QStringLiteral("x") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("xterm by class") << QStringLiteral("x") << QStringLiteral("XTerm") << QStringLiteral("Shift+Insert") << true;
        QTest::newRow("no class") << QString() << QString() << QStringLiteral("Ctrl+V") << false;
    }

    void keystrokeByWindowClass()
    {
        QFETCH(QString, instance);
        QFETCH(QString, wmClass);
        QFETCH(QString, keystroke);
        QFETCH(bool, primary);
        const PasteKeystroke chosen = pasteKeystrokeForWindowClass(instance, wmClass);
        QCOMPARE(pasteKeystrokeName(chosen), keystroke);
        QCOMPARE(pastesPrimarySelection(chosen), primary);
    }
};

QTEST_MAIN(TestPasteKeystroke)
#include "tst_pastekeystroke.moc"
