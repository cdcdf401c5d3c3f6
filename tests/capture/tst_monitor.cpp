#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ClipboardMonitor.h"
#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakePasteboard.h"

#include <QSignalSpy>

namespace {

QList<QPair<QString, QByteArray>> text(const QByteArray &utf8)
{
    return {{PasteboardType::plainText, utf8}};
}

struct MonitorFixture {
    StoreFixture store;
    FakePasteboard pasteboard;
    FakeFrontApplication front;

    // Polls once and waits until the capture queue has done what the poll scheduled.
    void pollAndSettle(ClipboardMonitor &monitor)
    {
        monitor.poll();
        std::atomic<bool> done = false;
        monitor.capture().context().perform([&] { done = true; });
        QVERIFY(waitFor(done));
    }
};

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentsFromBeforeLaunchAreNotCaptured()
    {
        MonitorFixture f;
        f.pasteboard.copyFromOtherApplication(text("before launch"));
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        monitor.start();
        f.pollAndSettle(monitor);
        QVERIFY(f.store.items().isEmpty());

        f.front.setFrontApplication(FrontApplication{QStringLiteral("Kate"), QStringLiteral("org.kde.kate")});
        f.pasteboard.copyFromOtherApplication(text("after launch"));
        f.pollAndSettle(monitor);
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("after launch")});
        QCOMPARE(f.store.items().first()->sourceBundleID(), QStringLiteral("org.kde.kate"));
    }

    void twoCopiesWithinOnePollGiveTheSecondOnly()
    {
        MonitorFixture f;
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        f.pasteboard.copyFromOtherApplication(text("first"));
        f.pasteboard.copyFromOtherApplication(text("second"));
        f.pollAndSettle(monitor);
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("second")});
    }

    void pausingConsumesChanges()
    {
        MonitorFixture f;
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        QSignalSpy pausedChanged(&monitor, &ClipboardMonitor::pausedChanged);
        monitor.setPaused(true);
        f.pasteboard.copyFromOtherApplication(text("while paused"));
        f.pollAndSettle(monitor);
        monitor.setPaused(false);
        f.pollAndSettle(monitor);
        QVERIFY(f.store.items().isEmpty());
        QCOMPARE(pausedChanged.size(), 2);

        f.pasteboard.copyFromOtherApplication(text("after resuming"));
        f.pollAndSettle(monitor);
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("after resuming")});
    }

    void markedChangesAreConsumedWithoutCapture()
    {
        MonitorFixture f;
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        f.pasteboard.copyFromOtherApplication({{PasteboardType::plainText, "hunter2"},
                                               {QStringLiteral("x-kde-passwordManagerHint"), "secret"}});
        f.pollAndSettle(monitor);
        QCOMPARE(monitor.lastChangeCount(), f.pasteboard.changeCount());
        QVERIFY(f.store.items().isEmpty());
    }

    void ownWritesRecordedInTheCounterAreNotCaptured()
    {
        MonitorFixture f;
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        f.pasteboard.clearContents();
        f.pasteboard.setString(QStringLiteral("pasted back"), PasteboardType::string);
        monitor.setLastChangeCount(f.pasteboard.changeCount());
        f.pollAndSettle(monitor);
        QVERIFY(f.store.items().isEmpty());
    }

    void timerPollsByItself()
    {
        MonitorFixture f;
        ClipboardMonitor monitor(*f.store.container, f.pasteboard, f.front, f.store.defaults);
        monitor.start();
        monitor.start();
        f.pasteboard.copyFromOtherApplication(text("seen by the timer"));
        QTRY_COMPARE(f.store.texts(), QStringList{QStringLiteral("seen by the timer")});
    }
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
