#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ClipboardMonitor.h"
#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakePasteboard.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;

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
    // What was there before launch is not captured; of two copies within one poll, only the second.
    void capturesWhatIsCopiedSinceTheLastPoll()
    {
        MonitorFixture f;
        f.pasteboard.copyFromOtherApplication(text("before launch"));
        f.monitor.start();
        f.pollAndSettle();
        QVERIFY(f.store.items().isEmpty());

        f.front.setFrontApplication(FrontApplication{u"Kate"_s, u"org.kde.kate"_s});
        f.pasteboard.copyFromOtherApplication(text("first"));
        f.pasteboard.copyFromOtherApplication(text("second"));
        f.pollAndSettle();
        QCOMPARE(f.store.texts(), QStringList{u"second"_s});
        QCOMPARE(f.store.items().first()->sourceBundleID(), u"org.kde.kate"_s);
    }

    // Changes while paused, marked as secret, or written by ourselves are consumed, not captured later.
    void skippedChangesAreConsumed()
    {
        MonitorFixture f;
        QSignalSpy pausedChanged(&f.monitor, &ClipboardMonitor::pausedChanged);
        f.monitor.setPaused(true);
        f.pasteboard.copyFromOtherApplication(text("while paused"));
        f.pollAndSettle();
        f.monitor.setPaused(false);
        f.pollAndSettle();
        QCOMPARE(pausedChanged.size(), 2);

        f.pasteboard.copyFromOtherApplication({{PasteboardType::plainText, "hunter2"},
                                               {u"x-kde-passwordManagerHint"_s, "secret"}});
        f.pollAndSettle();
        QCOMPARE(f.monitor.lastChangeCount(), f.pasteboard.changeCount());

        f.pasteboard.clearContents();
        f.pasteboard.setString(u"pasted back"_s, PasteboardType::string);
        f.monitor.setLastChangeCount(f.pasteboard.changeCount());
        f.pollAndSettle();
        QVERIFY(f.store.items().isEmpty());

        f.pasteboard.copyFromOtherApplication(text("after all that"));
        f.pollAndSettle();
        QCOMPARE(f.store.texts(), QStringList{u"after all that"_s});
    }

    void timerPollsByItself()
    {
        MonitorFixture f;
        f.monitor.start();
        f.monitor.start();
        f.pasteboard.copyFromOtherApplication(text("seen by the timer"));
        QTRY_COMPARE(f.store.texts(), QStringList{u"seen by the timer"_s});
    }
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
