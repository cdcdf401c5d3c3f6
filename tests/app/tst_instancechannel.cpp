#include "app/InstanceChannel.h"

#include <QFile>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

class TestInstanceChannel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondInstanceFindsTheFirstAndGetsItsReply()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("sock"));
        InstanceChannel first(name);
        QVERIFY(first.listen());
        first.setHandler([](const QJsonObject &request) {
            return QJsonObject{{QStringLiteral("ok"), true},
                               {QStringLiteral("echo"), request.value(QStringLiteral("command"))}};
        });

        // The client blocks while waiting, so it runs on another thread, as another process would.
        std::optional<QJsonObject> reply;
        bool secondListened = true;
        QThread *client = QThread::create([&] {
            InstanceChannel second(name);
            secondListened = second.listen();
            reply = second.send({{QStringLiteral("command"), QStringLiteral("show")}});
        });
        client->start();
        QTRY_VERIFY_WITH_TIMEOUT(client->isFinished(), 10000);
        delete client;

        QVERIFY(!secondListened);
        QVERIFY(reply);
        QCOMPARE(reply->value(QStringLiteral("echo")).toString(), QStringLiteral("show"));
    }

    // The first instance is busy (its thread does not return to the event loop): a second
    // start must neither take over its socket nor run beside it.
    void aBusyInstanceKeepsItsSocket()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("sock"));
        QLocalServer busy;
        QVERIFY(busy.listen(name));
        InstanceChannel second(name);
        QVERIFY(!second.listen());
        QLocalSocket client;
        client.connectToServer(name);
        QVERIFY(client.waitForConnected(1000));
        QVERIFY(busy.waitForNewConnection(1000));
    }

    void nobodyListeningGivesNoReply()
    {
        QTemporaryDir dir;
        InstanceChannel channel(dir.filePath(QStringLiteral("sock")));
        QVERIFY(!channel.send({{QStringLiteral("command"), QStringLiteral("show")}}, 200));
    }

    void staleSocketFileIsReplacedByAPrivateSocket()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("sock"));
        QFile stale(name);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        QVERIFY(stale.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther));
        InstanceChannel channel(name);
        QVERIFY(channel.listen());
        QCOMPARE(QFile::permissions(name) & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
    }

    void socketNamesDifferPerStore()
    {
        QVERIFY(InstanceChannel::socketNameFor(QStringLiteral("/a")) != InstanceChannel::socketNameFor(QStringLiteral("/b")));
        QCOMPARE(InstanceChannel::socketNameFor(QStringLiteral("/a/./b")), InstanceChannel::socketNameFor(QStringLiteral("/a/b")));
    }
};

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
