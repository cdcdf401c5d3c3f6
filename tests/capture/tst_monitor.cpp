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
    ClipboardMonitor monitor{*store.container, pasteboard, front, store.defaults};

    // Polls once and waits until the capture queue has done what the poll scheduled.
    void pollAndSettle()
    {
        monitor.poll();
        QVERIFY(drained(monitor.capture().context()));
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
        f.monitor.start();
        f.pollAndSettle();
        QVERIFY(f.store.items().isEmpty());

        f.front.setFrontApplication(FrontApplication{QStringLiteral("Kate"), QStringLiteral("org.kde.kate")});
        f.pasteboard.copyFromOtherApplication(text("after launch"));
        f.pollAndSettle();
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("after launch")});
        QCOMPARE(f.store.items().first()->sourceBundleID(), QStringLiteral("org.kde.kate"));
    }

    void twoCopiesWithinOnePollGiveTheSecondOnly()
    {
        MonitorFixture f;
        f.pasteboard.copyFromOtherApplication(text("first"));
        f.pasteboard.copyFromOtherApplication(text("second"));
        f.pollAndSettle();
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("second")});
    }

    void pausingConsumesChanges()
    {
        MonitorFixture f;
        QSignalSpy pausedChanged(&f.monitor, &ClipboardMonitor::pausedChanged);
        f.monitor.setPaused(true);
        f.pasteboard.copyFromOtherApplication(text("while paused"));
        f.pollAndSettle();
        f.monitor.setPaused(false);
        f.pollAndSettle();
        QVERIFY(f.store.items().isEmpty());
        QCOMPARE(pausedChanged.size(), 2);

        f.pasteboard.copyFromOtherApplication(text("after resuming"));
        f.pollAndSettle();
        QCOMPARE(f.store.texts(), QStringList{QStringLiteral("after resuming")});
    }

    void markedChangesAreConsumedWithoutCapture()
    {
        MonitorFixture f;
        f.pasteboard.copyFromOtherApplication({{PasteboardType::plainText, "hunter2"},
                                               {QStringLiteral("x-kde-passwordManagerHint"), "secret"}});
        f.pollAndSettle();
        QCOMPARE(f.monitor.lastChangeCount(), f.pasteboard.changeCount());
        QVERIFY(f.store.items().isEmpty());
    }

    void ownWritesRecordedInTheCounterAreNotCaptured()
    {
        MonitorFixture f;
        f.pasteboard.clearContents();
        f.pasteboard.setString(QStringLiteral("pasted back"), PasteboardType::string);
        f.monitor.setLastChangeCount(f.pasteboard.changeCount());
        f.pollAndSettle();
        QVERIFY(f.store.items().isEmpty());
    }

    void timerPollsByItself()
    {
        MonitorFixture f;
        f.monitor.start();
        f.monitor.start();
        f.pasteboard.copyFromOtherApplication(text("seen by the timer"));
        QTRY_COMPARE(f.store.texts(), QStringList{QStringLiteral("seen by the timer")});
    }
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
