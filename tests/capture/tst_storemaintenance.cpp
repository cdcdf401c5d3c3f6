#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/log/Log.h"

#include <QDateTime>
#include <QProcess>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

struct Seed {
    explicit Seed(QString t) : text(std::move(t)) { }
    Seed &ofKind(ClipKind k) { kind = k; return *this; }
    Seed &pinnedToo() { pinned = true; return *this; }
    Seed &labelled(const QString &id) { label = id; return *this; }
    Seed &from(const QString &app, const std::optional<QString> &id = std::nullopt)
    {
        source = app;
        bundle = id;
        return *this;
    }
    Seed &withHash(qint64 h) { hash = h; return *this; }

    QString text;
    ClipKind kind = ClipKind::Text;
    bool pinned = false;
    std::optional<QString> label;
    std::optional<QString> source;
    std::optional<QString> bundle;
    std::optional<qint64> hash; // the right one when absent
};

// Stores items as given, oldest first, bypassing capture (as a mirror or an old version would).
void seed(StoreFixture &store, const QList<Seed> &seeds)
{
    StoreContext &view = store.view();
    QDateTime when = QDateTime::currentDateTimeUtc().addSecs(-100000);
    for (const Seed &s : seeds) {
        const auto item = view.insert<ClipItem>();
        item->setId(QUuid::createUuid());
        item->setCreatedAt(when = when.addSecs(1));
        item->setKind(s.kind);
        item->setPlainText(s.text);
        if (s.kind == ClipKind::File)
            item->setFileName(s.text.section(QLatin1Char('/'), -1));
        item->setPinned(s.pinned);
        item->setLabelID(s.label);
        item->setSourceAppName(s.source);
        item->setSourceBundleID(s.bundle);
        item->setContentHash(s.hash.value_or(computeContentHash(s.text, std::nullopt)));
    }
    // Written straight to the store, so no heal runs for the seeding itself.
    QVERIFY(view.save());
}

const QString labelA = u"0F3C1E0A-1111-4A4A-9A9A-000000000001"_s;

} // namespace

class TestStoreMaintenance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A user edit of one item of a group heals into the newest, and heals only ever add.
    void anEditHealsIntoTheNewest_data()
    {
        QTest::addColumn<bool>("pinOlder");
        QTest::newRow("pinning the older carries the pin over") << true;
        QTest::newRow("unlabelling the newer keeps the older's label") << false;
    }

    void anEditHealsIntoTheNewest()
    {
        QFETCH(bool, pinOlder);
        StoreFixture store;
        seed(store, {Seed(u"dup"_s).labelled(labelA), Seed(u"dup"_s).labelled(labelA)});
        ClipboardCapture capture(*store.container, store.defaults);
        const QList<ClipItemPtr> items = store.items();
        const QUuid newer = *items.at(0)->id();
        if (pinOlder)
            items.at(1)->setPinned(true);
        else
            items.at(0)->setLabelID(std::nullopt);
        QVERIFY(saveContext(store.view(), u"user edit"_s));

        QTRY_COMPARE(store.items().size(), 1);
        const ClipItemPtr survivor = store.items().first();
        QCOMPARE(*survivor->id(), newer);
        QCOMPARE(survivor->isPinned(), pinOlder);
        QCOMPARE(survivor->labelID(), labelA);
    }

    void collapseKeepsNewestOfEachContentAndDifferentKindsApart()
    {
        StoreFixture store;
        seed(store, {Seed(u"/tmp/a"_s).ofKind(ClipKind::File).pinnedToo(),
                     Seed(u"/tmp/a"_s).labelled(labelA),
                     Seed(u"/tmp/a"_s).from(u"Kate"_s),
                     Seed(u"/tmp/a"_s),
                     Seed(u"unique"_s)});
        ClipboardCapture capture(*store.container, store.defaults);
        klog::Recorder recorder;
        QVERIFY(completes([&](auto done) { capture.collapseAllDuplicates(done); }));

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 3);
        const ClipItemPtr text = items.at(1);
        QCOMPARE(text->kind(), ClipKind::Text);
        QCOMPARE(text->labelID(), labelA);
        QCOMPARE(text->sourceAppName(), u"Kate"_s);
        QCOMPARE(items.at(2)->kind(), ClipKind::File);
        QVERIFY(items.at(2)->isPinned());
        QCOMPARE(recorder.messages(klog::Category::Capture, klog::Level::Default),
                 QStringList{u"collapsing 1 duplicated hash group(s) after remote change"_s});
    }

    void collapseWithNothingToDoCompletesOnTheMainThread()
    {
        StoreFixture store;
        seed(store, {Seed(u"a"_s), Seed(u"b"_s)});
        ClipboardCapture capture(*store.container, store.defaults);
        bool onMain = false;
        capture.collapseAllDuplicates([&] { onMain = QThread::currentThread() == QCoreApplication::instance()->thread(); });
        QTRY_VERIFY(onMain);
        QCOMPARE(store.items().size(), 2);
    }

    void burstOfRemoteChangesCollapsesOnce()
    {
        StoreFixture store;
        seed(store, {Seed(u"shared"_s)});
        ClipboardCapture capture(*store.container, store.defaults);
        klog::Recorder recorder;

        QProcess writer;
        writer.start(QStringLiteral(KN_STORE_HELPER), {u"copies"_s, store.storePath(), u"shared"_s, u"5"_s, u"150"_s});
        QVERIFY(writer.waitForFinished(20000));
        QCOMPARE(writer.exitCode(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(store.items().size(), 1, 10000);
        QTest::qWait(3000);
        QCOMPARE(recorder.messages(klog::Category::Capture, klog::Level::Default).size(), 1);
        QCOMPARE(store.items().size(), 1);
    }

    void hashMigrationFailingInTheThirdChunkKeepsTheFirstTwoThenFinishesOnce()
    {
        StoreFixture store;
        QList<Seed> seeds;
        for (int i = 0; i < 150; ++i)
            seeds.append(Seed(u"item %1"_s.arg(i)).withHash(qint64(i)));
        seed(store, seeds);
        // Rows were inserted oldest first, so row 121 is in the third chunk of 50.
        store.execSql("CREATE TRIGGER inject_failure BEFORE UPDATE ON ClipItem WHEN old.pk = 121 "
                      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");

        ClipboardCapture capture(*store.container, store.defaults);
        klog::Recorder recorder;
        QVERIFY(completes([&](auto done) { capture.runHashMigration(done); }));
        QCOMPARE(store.defaults.integer(SettingsKey::contentHashVersion), 0);
        const QStringList errors = recorder.messages(klog::Category::Capture, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(u"hash migration save failed: "_s));

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 150);
        for (int i = 0; i < items.size(); ++i) {
            const ClipItemPtr &item = items.at(items.size() - 1 - i); // oldest first
            QCOMPARE(item->contentHash() == computeContentHash(item->plainText(), std::nullopt), i < 100);
        }

        store.execSql("DROP TRIGGER inject_failure");
        QVERIFY(completes([&](auto done) { capture.runHashMigration(done); }));
        QCOMPARE(store.defaults.integer(SettingsKey::contentHashVersion), 1);
        for (const ClipItemPtr &item : store.items())
            QCOMPARE(item->contentHash(), computeContentHash(item->plainText(), std::nullopt));

        // Done once: a later launch leaves even a wrong hash alone.
        store.items().first()->setContentHash(7);
        QVERIFY(store.view().save());
        QVERIFY(completes([&](auto done) { capture.runHashMigration(done); }));
        QCOMPARE(store.items().first()->contentHash(), 7);
    }

    void attributionMigrationClearsLockScreenSourcesThenCollapses()
    {
        StoreFixture store;
        seed(store, {Seed(u"x"_s).from(u"ScreenSaverEngine"_s, u"com.apple.ScreenSaver.Engine"_s),
                     Seed(u"x"_s).from(u"loginwindow"_s, u"com.apple.loginwindow"_s),
                     Seed(u"y"_s).from(u"Kate"_s, u"org.kde.kate"_s)});
        ClipboardCapture capture(*store.container, store.defaults);
        klog::Recorder recorder;
        QVERIFY(completes([&](auto done) { capture.runAttributionMigration(done); }));

        QCOMPARE(recorder.messages(klog::Category::Capture, klog::Level::Default),
                 (QStringList{u"attribution migration: cleared 2 lock-screen row(s)"_s,
                              u"collapsing 1 duplicated hash group(s) after remote change"_s}));
        QCOMPARE(store.defaults.integer(SettingsKey::sourceAttributionVersion), 1);
        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0)->sourceBundleID(), u"org.kde.kate"_s);
        QVERIFY(!items.at(1)->sourceAppName());
        QVERIFY(!items.at(1)->sourceBundleID());

        // A later launch does nothing.
        recorder.clear();
        QVERIFY(completes([&](auto done) { capture.runAttributionMigration(done); }));
        QVERIFY(drained(capture.context()));
        QVERIFY(recorder.lines().isEmpty());
    }
};

QTEST_MAIN(TestStoreMaintenance)
#include "tst_storemaintenance.moc"
