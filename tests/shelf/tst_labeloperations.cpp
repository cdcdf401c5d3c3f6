#include "shelf/LabelOperations.h"

#include "platform/log/Log.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

struct Store {
    QTemporaryDir dir;
    StoreContainer container{QStringLiteral("Kestrelnote")};

    Store()
    {
        container.storeDescription().path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        const auto loaded = container.loadPersistentStore();
        if (!loaded)
            qFatal("store did not open");
    }
    StoreContext &view() { return *container.viewContext(); }

    QList<ClipLabelPtr> labels() { return *view().fetch<ClipLabel>(labelListRequest()); }
};

} // namespace

class TestLabelOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createTrimsSpacesAndTabsButRefusesBlankNames()
    {
        Store store;
        const ClipLabelPtr label = createLabel(QStringLiteral(" \tWork\t "), 3, store.view());
        QVERIFY(label);
        QCOMPARE(label->name(), QStringLiteral("Work"));
        QCOMPARE(label->colorIndex(), 3);
        QVERIFY(label->id());
        QVERIFY(!createLabel(QStringLiteral(" \t "), 0, store.view()));
        QCOMPARE(store.labels().size(), 1);
        // Line breaks are not blanks here.
        QCOMPARE(createLabel(QStringLiteral("\nTwo lines\n"), 0, store.view())->name(), QStringLiteral("\nTwo lines\n"));
    }

    void labelsListOldestFirst()
    {
        Store store;
        for (const char *name : {"first", "second", "third"})
            QVERIFY(createLabel(QLatin1String(name), 0, store.view()));
        QStringList names;
        for (const ClipLabelPtr &label : store.labels())
            names.append(*label->name());
        QCOMPARE(names, (QStringList{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}));
    }

    void renameIgnoresBlankNamesAndDeletedLabels()
    {
        Store store;
        const ClipLabelPtr label = createLabel(QStringLiteral("Old"), 0, store.view());
        QVERIFY(renameLabel(label, QStringLiteral("   "), store.view()));
        QCOMPARE(label->name(), QStringLiteral("Old"));
        QVERIFY(renameLabel(label, QStringLiteral(" New "), store.view()));
        QCOMPARE(store.labels().first()->name(), QStringLiteral("New"));
        QVERIFY(recolorLabel(label, 6, store.view()));
        QCOMPARE(store.labels().first()->colorIndex(), 6);
        QVERIFY(deleteLabel(label, store.view()));
        QVERIFY(renameLabel(label, QStringLiteral("Ghost"), store.view()));
        QVERIFY(!store.view().hasChanges());
    }

    void deletingTakesTheLabelOffItsItemsOnly()
    {
        Store store;
        const ClipLabelPtr work = createLabel(QStringLiteral("Work"), 0, store.view());
        const QString workID = uuidString(*work->id());
        const auto filed = store.view().insert<ClipItem>();
        filed->setLabelID(workID);
        filed->setPinned(true);
        filed->setTitle(QStringLiteral("kept"));
        const auto other = store.view().insert<ClipItem>();
        other->setLabelID(QStringLiteral("SOMETHING-ELSE"));
        QVERIFY(store.view().save());

        QVERIFY(deleteLabel(work, store.view()));
        QVERIFY(store.labels().isEmpty());
        QVERIFY(!filed->labelID());
        QVERIFY(filed->isPinned());
        QCOMPARE(filed->title(), QStringLiteral("kept"));
        QCOMPARE(other->labelID(), QStringLiteral("SOMETHING-ELSE"));
    }

    void failedSaveIsLoggedUnderPersistenceAndRolledBack()
    {
        Store store;
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(store.container.storeDescription().path.toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON ClipLabel BEGIN SELECT RAISE(ABORT, 'no'); END",
                              nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);

        klog::Recorder recorder;
        QVERIFY(!createLabel(QStringLiteral("Doomed"), 1, store.view()));
        QVERIFY(!store.view().hasChanges());
        const QStringList errors = recorder.messages(klog::Category::Persistence, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QStringLiteral("create label save failed: ")));
    }
};

QTEST_GUILESS_MAIN(TestLabelOperations)
#include "tst_labeloperations.moc"
