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
        QTest::newRow("browser") << QStringLiteral("Navigator") << QStringLiteral("firefox-esr") << QStringLiteral("Ctrl+V") << false;
        QTest::newRow("gnome-terminal") << QStringLiteral("gnome-terminal-server") << QStringLiteral("Gnome-terminal") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("konsole") << QStringLiteral("konsole") << QStringLiteral("konsole") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("kitty by class") << QStringLiteral("something") << QStringLiteral("kitty") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("alacritty") << QStringLiteral("Alacritty") << QStringLiteral("Alacritty") << QStringLiteral("Ctrl+Shift+V") << false;
        QTest::newRow("xterm") << QStringLiteral("xterm") << QStringLiteral("XTerm") << QStringLiteral("Shift+Insert") << true;
        QTest::newRow("uxterm") << QStringLiteral("uxterm") << QStringLiteral("UXTerm") << QStringLiteral("Shift+Insert") << true;
        QTest::newRow("urxvt") << QStringLiteral("urxvt") << QStringLiteral("URxvt") << QStringLiteral("Shift+Insert") << true;
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
