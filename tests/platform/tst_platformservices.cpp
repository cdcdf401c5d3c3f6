#include "platform/PlatformServices.h"

#include <QGuiApplication>
#include <QTest>

// Which back ends the application gets; run offscreen and, under Xvfb, on xcb.
class TestPlatformServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backendFollowsQtsPlatform()
    {
        const PlatformServices services = makePlatformServices();
        QCOMPARE(services.backend, QGuiApplication::platformName() == QLatin1String("xcb") ? QStringLiteral("x11") : QStringLiteral("fake"));
        QVERIFY(services.pasteboard);
        QVERIFY(services.frontApplication);
        QVERIFY(services.keystrokePoster);
        QVERIFY(services.hotKey);
    }

    void waylandSessionsRunThroughXWayland_data()
    {
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<bool>("logged");
        QTest::addColumn<QByteArray>("x11");
        QTest::newRow("wayland, nothing chosen") << QByteArray("wayland-0") << QByteArray() << QByteArray("xcb") << true
                                                 << QByteArray(":0");
        QTest::newRow("wayland, user chose") << QByteArray("wayland-0") << QByteArray("wayland") << QByteArray("wayland")
                                             << false << QByteArray(":0");
        QTest::newRow("wayland without XWayland") << QByteArray("wayland-0") << QByteArray() << QByteArray() << false
                                                  << QByteArray();
        QTest::newRow("x11 session") << QByteArray() << QByteArray() << QByteArray() << false << QByteArray(":0");
    }

    void waylandSessionsRunThroughXWayland()
    {
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, platform);
        QFETCH(bool, logged);
        QFETCH(QByteArray, x11);
        const QByteArray savedWayland = qgetenv("WAYLAND_DISPLAY");
        const QByteArray savedPlatform = qgetenv("QT_QPA_PLATFORM");
        const QByteArray savedDisplay = qgetenv("DISPLAY");
        qputenv("WAYLAND_DISPLAY", wayland);
        qputenv("QT_QPA_PLATFORM", chosen);
        qputenv("DISPLAY", x11);
        const QString line = choosePlatformBeforeStart();
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), platform);
        QCOMPARE(!line.isEmpty(), logged);
        qputenv("WAYLAND_DISPLAY", savedWayland);
        qputenv("QT_QPA_PLATFORM", savedPlatform);
        qputenv("DISPLAY", savedDisplay);
    }
};

QTEST_MAIN(TestPlatformServices)
#include "tst_platformservices.moc"
