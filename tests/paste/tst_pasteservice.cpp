#include "../capture/StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ClipboardMonitor.h"
#include "paste/PasteService.h"
#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakePasteKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/log/Log.h"

#include <QElapsedTimer>

using Entries = QList<QPair<QString, QByteArray>>;

namespace {

struct PasteFixture {
    StoreFixture store;
    FakePasteboard pasteboard;
    FakeFrontApplication front;
    FakePasteKeystrokePoster poster;
    ClipboardMonitor monitor{*store.container, pasteboard, front, store.defaults};
    PasteService service{monitor, poster};

    ClipItemPtr item(ClipKind kind, const std::optional<QString> &text, const std::optional<QByteArray> &rtf = {},
                     const std::optional<QByteArray> &image = {})
    {
        const auto made = store.view().insert<ClipItem>();
        made->setKind(kind);
        made->setPlainText(text);
        made->setRtfData(rtf);
        made->setImageData(image);
        made->setCreatedAt(QDateTime::currentDateTimeUtc());
        if (!store.view().save())
            qFatal("could not save a test item");
        return made;
    }

    // Lets the capture queue finish what a poll scheduled.
    void settle() { QVERIFY(drained(monitor.capture().context())); }
};

} // namespace

class TestPasteService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entriesPerKindAndStyle()
    {
        PasteFixture f;
        const auto rich = f.item(ClipKind::Text, QStringLiteral("\uE001 a\u00A0b"), QByteArray("{\\rtf1 a b}"));
        QCOMPARE(pasteboardEntries(*rich, PasteStyle::Rich),
                 (QList<PasteboardEntry>{{PasteboardType::rtf, QByteArray("{\\rtf1 a b}")},
                                         {PasteboardType::string, QStringLiteral("\uE001 a\u00A0b")}}));
        QCOMPARE(pasteboardEntries(*rich, PasteStyle::PlainText),
                 (QList<PasteboardEntry>{{PasteboardType::string, QStringLiteral("a b")}}));

        const auto noText = f.item(ClipKind::Text, std::nullopt);
        QCOMPARE(pasteboardEntries(*noText, PasteStyle::Rich), (QList<PasteboardEntry>{{PasteboardType::string, QString()}}));

        const auto image = f.item(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG"));
        QCOMPARE(pasteboardEntries(*image, PasteStyle::PlainText),
                 (QList<PasteboardEntry>{{PasteboardType::png, QByteArray("\x89PNG")}}));
        QVERIFY(pasteboardEntries(*f.item(ClipKind::Image, std::nullopt), PasteStyle::Rich).isEmpty());

        const auto files = f.item(ClipKind::File, QStringLiteral("/a/x.txt\n/b/y.png"));
        for (PasteStyle style : {PasteStyle::Rich, PasteStyle::PlainText})
            QCOMPARE(pasteboardEntries(*files, style),
                     (QList<PasteboardEntry>{{PasteboardType::string, QStringLiteral("/a/x.txt\n/b/y.png")}}));
    }

    void copyIsNeverCapturedButAnUnseenOutsideCopyIs()
    {
        PasteFixture f;
        f.monitor.start();
        const auto item = f.item(ClipKind::Text, QStringLiteral("from history"));
        // Copied outside just now, before the timer saw it.
        f.pasteboard.copyFromOtherApplication({{PasteboardType::plainText, "outside"}});
        f.service.copy(*item, PasteStyle::Rich);
        QCOMPARE(f.pasteboard.entries(), (Entries{{PasteboardType::string, "from history"}}));

        f.monitor.poll();
        f.settle();
        QTest::qWait(2 * ClipboardMonitor::pollIntervalMs);
        f.settle();
        QCOMPARE(f.store.texts(), (QStringList{QStringLiteral("outside"), QStringLiteral("from history")}));

        // Terminals that paste the primary selection get it too.
        QVERIFY(!f.pasteboard.wroteToPrimarySelection());
        f.poster.setTargetReadsPrimarySelection(true);
        f.service.copy(*item, PasteStyle::Rich);
        QVERIFY(f.pasteboard.wroteToPrimarySelection());
    }

    void imageWithoutBytesLeavesTheClipboardEmptyButCounted()
    {
        PasteFixture f;
        const auto item = f.item(ClipKind::Image, std::nullopt);
        f.pasteboard.copyFromOtherApplication({{PasteboardType::plainText, "old"}});
        f.monitor.setLastChangeCount(f.pasteboard.changeCount());
        f.service.copy(*item, PasteStyle::Rich);
        QVERIFY(f.pasteboard.entries().isEmpty());
        QCOMPARE(f.monitor.lastChangeCount(), f.pasteboard.changeCount());
    }

    void pasteSendsTheKeystrokeAfterTheDelayEvenUnderSecureInput()
    {
        PasteFixture f;
        klog::Recorder recorder;
        const auto item = f.item(ClipKind::Text, QStringLiteral("x"));
        QElapsedTimer timer;
        timer.start();
        f.service.paste(*item, PasteStyle::Rich);
        QCOMPARE(f.poster.postedCount(), 0);
        QTRY_COMPARE(f.poster.postedCount(), 1);
        QVERIFY(timer.elapsed() >= PasteService::keystrokeDelayMs);
        QTRY_VERIFY(recorder.messages(klog::Category::App, klog::Level::Default)
                        .contains(QStringLiteral("direct paste: ⌘V posted")));
        QVERIFY(recorder.messages(klog::Category::App, klog::Level::Default)
                    .contains(QStringLiteral("direct paste: sending ⌘V (postEventAccess: true, secureInput: false, ourWindowIsKey: false)")));
        QVERIFY(recorder.messages(klog::Category::App, klog::Level::Error).isEmpty());

        // Secure input is logged, but the keystroke still goes.
        f.poster.setSecureInputActive(true);
        f.service.postCommandV();
        QCOMPARE(f.poster.postedCount(), 2);
        QCOMPARE(recorder.messages(klog::Category::App, klog::Level::Error),
                 QStringList{QStringLiteral("direct paste: secure event input is on (a password field or terminal setting); "
                                            "synthetic ⌘V will be dropped")});
    }

    void withoutKeystrokesTheItemIsCopiedAndExplainedOnce()
    {
        PasteFixture f;
        f.poster.setAvailable(false);
        QStringList shown;
        f.service.setExplanationPresenter([&](const QString &text) { shown.append(text); });
        const auto item = f.item(ClipKind::Text, QStringLiteral("copied only"));
        klog::Recorder recorder;
        f.service.pasteOrCopy(*item, PasteStyle::Rich);
        f.service.pasteOrCopy(*item, PasteStyle::PlainText);
        QTest::qWait(PasteService::keystrokeDelayMs * 2);
        QCOMPARE(f.poster.postedCount(), 0);
        QCOMPARE(f.pasteboard.entries(), (Entries{{PasteboardType::string, "copied only"}}));
        QCOMPARE(shown, QStringList{PasteService::manualPasteExplanation()});
        QVERIFY(recorder.messages(klog::Category::App, klog::Level::Default)
                    .contains(QStringLiteral("onPaste (postEventAccess: false)")));
    }
};

QTEST_MAIN(TestPasteService)
#include "tst_pasteservice.moc"
