#include "../capture/StoreFixture.h"

#include "app/AppDelegate.h"
#include "app/HotKeyManager.h"
#include "capture/ClipboardCapture.h"
#include "capture/ClipboardMonitor.h"
#include "platform/PlatformServices.h"
#include "platform/fake/FakeGlobalHotKey.h"
#include "platform/fake/FakePasteKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/log/Log.h"
#include "store/ClipLabel.h"

#include <QJsonObject>

namespace {

struct DelegateFixture {
    StoreFixture store;
    PlatformServices platform = makeFakeServices();

    FakePasteboard &pasteboard() { return static_cast<FakePasteboard &>(*platform.pasteboard); }
    FakeGlobalHotKey &hotKey() { return static_cast<FakeGlobalHotKey &>(*platform.hotKey); }
    FakePasteKeystrokePoster &poster() { return static_cast<FakePasteKeystrokePoster &>(*platform.keystrokePoster); }

    void settle(AppDelegate &delegate) { QVERIFY(drained(delegate.monitor().capture().context())); }

    // Launches the delegate and has it capture one text copied elsewhere.
    void launchAndCapture(AppDelegate &delegate, const QByteArray &text)
    {
        delegate.launch();
        pasteboard().copyFromOtherApplication({{PasteboardType::plainText, text}});
        delegate.monitor().poll();
        settle(delegate);
    }
};

QJsonObject request(const QString &command, const QString &id = {})
{
    QJsonObject object{{QStringLiteral("command"), command}};
    if (!id.isEmpty())
        object.insert(QStringLiteral("id"), id);
    return object;
}

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void launchingTwiceStartsEverythingOnce()
    {
        DelegateFixture f;
        AppDelegate delegate(f.platform, f.store.defaults, *f.store.container);
        klog::Recorder recorder;
        delegate.launch();
        delegate.launch();
        f.settle(delegate);
        QVERIFY(delegate.isLaunched());
        QVERIFY(delegate.monitor().isStarted());
        QCOMPARE(f.hotKey().attempts().size(), 1);
        QCOMPARE(f.store.defaults.string(SettingsKey::activeShortcut), QStringLiteral("⇧⌘V"));
        QCOMPARE(f.store.defaults.integer(SettingsKey::contentHashVersion), 1);
        QCOMPARE(f.store.defaults.integer(SettingsKey::sourceAttributionVersion), 1);
        QCOMPARE(recorder.messages(klog::Category::Capture, klog::Level::Default),
                 QStringList{QStringLiteral("attribution migration: cleared 0 lock-screen row(s)")});
        klog::Recorder pressLog;
        QVERIFY(f.hotKey().press());
        QCOMPARE(pressLog.messages(klog::Category::App, klog::Level::Info), QStringList{QStringLiteral("shelf requested")});
    }

    void requestsFromOtherProcesses()
    {
        DelegateFixture f;
        AppDelegate delegate(f.platform, f.store.defaults, *f.store.container);
        f.launchAndCapture(delegate, "kept");
        const QString id = uuidString(*f.store.items().first()->id());

        QVERIFY(delegate.handleRequest(request(QStringLiteral("pause"))).value(QStringLiteral("ok")).toBool());
        QVERIFY(delegate.monitor().isPaused());
        QVERIFY(delegate.handleRequest(request(QStringLiteral("resume"))).value(QStringLiteral("ok")).toBool());
        QVERIFY(!delegate.monitor().isPaused());

        f.pasteboard().copyFromOtherApplication({{PasteboardType::plainText, "newer"}});
        QVERIFY(delegate.handleRequest(request(QStringLiteral("copy"), id)).value(QStringLiteral("ok")).toBool());
        QCOMPARE(f.pasteboard().entries(), (QList<QPair<QString, QByteArray>>{{PasteboardType::string, "kept"}}));
        f.settle(delegate);
        // The outside copy made just before was captured first; the copy back was not.
        QCOMPARE(f.store.texts(), (QStringList{QStringLiteral("newer"), QStringLiteral("kept")}));

        QVERIFY(delegate.handleRequest(request(QStringLiteral("paste"), id)).value(QStringLiteral("ok")).toBool());
        QCOMPARE(f.poster().rememberedCount(), 1);
        QTRY_COMPARE(f.poster().postedCount(), 1);

        const QJsonObject unknown = delegate.handleRequest(request(QStringLiteral("copy"), QUuid::createUuid().toString()));
        QVERIFY(!unknown.value(QStringLiteral("ok")).toBool());
        QVERIFY(unknown.value(QStringLiteral("error")).toString().startsWith(QStringLiteral("no item with id")));
        QVERIFY(!delegate.handleRequest(request(QStringLiteral("reboot"))).value(QStringLiteral("ok")).toBool());
    }

    // When the clipboard's owner quits, the newest item goes back on it, unless another
    // application copied meanwhile, even one whose contents cannot be read yet.
    void aLostClipboardIsOfferedAgainUnlessSomeoneCopied()
    {
        DelegateFixture f;
        AppDelegate delegate(f.platform, f.store.defaults, *f.store.container);
        f.launchAndCapture(delegate, "kept");

        f.pasteboard().ownerQuits();
        QTRY_COMPARE(f.pasteboard().entries(), (QList<QPair<QString, QByteArray>>{{PasteboardType::string, "kept"}}));

        f.pasteboard().copyFromOtherApplication({{PasteboardType::plainText, "short-lived"}});
        f.pasteboard().ownerQuits();
        f.pasteboard().copyFromOtherApplication({{PasteboardType::plainText, "slow to answer"}});
        f.pasteboard().setUnreadable(true);
        const int clears = f.pasteboard().clearCount();
        f.settle(delegate);
        QTest::qWait(100);
        QCOMPARE(f.pasteboard().clearCount(), clears);
        QCOMPARE(f.pasteboard().entries(), (QList<QPair<QString, QByteArray>>{{PasteboardType::plainText, "slow to answer"}}));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
