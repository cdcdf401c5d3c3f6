#include "shelf/LabelOperations.h"

#include "platform/log/Log.h"
#include "tests/store/StoreTestSupport.h"

#include <sqlite3.h>

namespace {

struct Store : TestStore {
    StoreContext &view() { return *container->viewContext(); }
    QStringList names()
    {
        QStringList result;
        for (const ClipLabelPtr &label : *view().fetch<ClipLabel>(labelListRequest()))
            result.append(label->name().value_or(QString()));
        return result;
    }
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
        // Line breaks are not blanks here.
        QVERIFY(createLabel(QStringLiteral("\nTwo lines\n"), 0, store.view()));
        QVERIFY(createLabel(QStringLiteral("third"), 0, store.view()));
        // Listed oldest first.
        QCOMPARE(store.names(), (QStringList{QStringLiteral("Work"), QStringLiteral("\nTwo lines\n"), QStringLiteral("third")}));
    }

    void renameIgnoresBlankNamesAndDeletedLabels()
    {
        Store store;
        const ClipLabelPtr label = createLabel(QStringLiteral("Old"), 0, store.view());
        QVERIFY(renameLabel(label, QStringLiteral("   "), store.view()));
        QCOMPARE(label->name(), QStringLiteral("Old"));
        QVERIFY(renameLabel(label, QStringLiteral(" New "), store.view()));
        QCOMPARE(store.names(), QStringList{QStringLiteral("New")});
        QVERIFY(recolorLabel(label, 6, store.view()));
        QCOMPARE(label->colorIndex(), 6);
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
        QVERIFY(store.names().isEmpty());
        QVERIFY(!filed->labelID());
        QVERIFY(filed->isPinned());
        QCOMPARE(filed->title(), QStringLiteral("kept"));
        QCOMPARE(other->labelID(), QStringLiteral("SOMETHING-ELSE"));
    }

    void failedSaveIsLoggedUnderPersistenceAndRolledBack()
    {
        Store store;
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(store.path().toUtf8().constData(), &db), SQLITE_OK);
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
