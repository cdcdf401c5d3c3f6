#include "platform/log/Log.h"
#include "shelf/ShelfItemsModel.h"
#include "shelf/ShelfState.h"
#include "shelf/ShelfViewModel.h"
#include "store/FetchedResultsModel.h"
#include "tests/shelf/ShelfTestSupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <sqlite3.h>

using Kind = ShelfFilter::Kind;

namespace {

// The listed cards as the strip shows them.
QStringList names(const ShelfViewModel &model)
{
    const QAbstractItemModel *items = model.items();
    const int name = items->roleNames().key(QByteArrayLiteral("sourceBundleID"));
    QStringList result;
    for (int row = 0; row < items->rowCount(); ++row)
        result.append(items->index(row, 0).data(name).toString());
    return result;
}

} // namespace

class TestShelfViewModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<ShelfState> m_state;
    std::unique_ptr<ShelfViewModel> m_model;

    int rowOf(const char *name) const { return int(names(*m_model).indexOf(QString::fromUtf8(name))); }

    // Shows the shelf as the panel controller does, with a view that focuses the search field
    // when asked, and waits until the presentation's focus request has come.
    void present()
    {
        QSignalSpy focus(m_model.get(), &ShelfViewModel::searchFocusRequested);
        m_state->setPresented(true);
        QTRY_VERIFY(focus.size() > 0);
    }

private Q_SLOTS:
    void init()
    {
        m_store = std::make_unique<TestStore>();
        QVERIFY(m_store->container->isLoaded());
        // Named after their card number: "1" is the oldest, so the shelf lists "8" first.
        addCards(m_store->view(), {
            {QStringLiteral("1"), ClipKind::Text, QStringLiteral("https://example.com")},
            {QStringLiteral("2"), ClipKind::Text, QStringLiteral("Un CAFÉ noir"), {}, QStringLiteral("Notes")},
            {QStringLiteral("3"), ClipKind::Image, {}, {}, QStringLiteral("Screenshot")},
            {QStringLiteral("4"), ClipKind::Text, QStringLiteral("nospace"), {}, {}, {}, true},
            {QStringLiteral("5"), ClipKind::File, QStringLiteral("/home/u/a b.txt")},
            {QStringLiteral("6"), ClipKind::Text, QStringLiteral("another note")},
            {QStringLiteral("7"), ClipKind::Text, QStringLiteral("café crème")},
            {QStringLiteral("8"), ClipKind::Text, QStringLiteral("last")},
        });
        QVERIFY(m_store->view()->save().ok());
        m_state = std::make_unique<ShelfState>();
        m_model = std::make_unique<ShelfViewModel>(m_state.get(), m_store->view());
        // The view's side of the focus flag.
        connect(m_model.get(), &ShelfViewModel::searchFocusRequested, m_model.get(),
                [model = m_model.get()] { model->setSearchFocused(true); });
    }

    void cleanup()
    {
        m_model.reset();
        m_state.reset();
        m_store.reset();
    }

    void listsByFilterAndSearch_data()
    {
        QTest::addColumn<ShelfFilter>("filter");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("emptyTitle");

        QTest::newRow("at first everything, the first card standing in")
            << ShelfFilter() << QString() << list({"8", "7", "6", "5", "4", "3", "2", "1"})
            << QStringLiteral("Copy something to get started");
        QTest::newRow("texts, lower-case word without accents")
            << ShelfFilter(Kind::Texts) << QStringLiteral("cafe") << list({"7", "2"}) << QStringLiteral("Nothing here yet");
        QTest::newRow("a deleted label")
            << ShelfFilter::label(QStringLiteral("9A1B2C3D-0000-4000-8000-000000000000")) << QString() << QStringList()
            << QStringLiteral("No items with this label yet");
        QTest::newRow("a search that finds nothing keeps the filter's title")
            << ShelfFilter(Kind::Pinned) << QStringLiteral("zzz") << QStringList() << QStringLiteral("Nothing pinned yet");
    }

    void listsByFilterAndSearch()
    {
        QFETCH(ShelfFilter, filter);
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        QFETCH(QString, emptyTitle);

        QAbstractItemModelTester tester(m_model->items(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_model->setFilter(filter);
        m_model->setSearchText(search);
        QCOMPARE(names(*m_model), expected);
        QCOMPARE(m_model->itemCount(), expected.size());
        QCOMPARE(m_model->emptyTitle(), emptyTitle);
        QCOMPARE(m_model->leadRow(), expected.isEmpty() ? -1 : 0);
        QCOMPARE(m_model->selectedCount(), expected.isEmpty() ? 0 : 1);
        QVERIFY(!m_model->leadItem() == expected.isEmpty());
        QVERIFY(m_model->selection().isEmpty());
        QCOMPARE(highlightedRows(*m_model), expected.isEmpty() ? QList<int>() : QList<int>{0});
    }

    void filterAndSearchChangesEmptyTheSelection()
    {
        QSignalSpy filterChanges(m_model.get(), &ShelfViewModel::filterChanged);
        m_model->select(1, Qt::NoModifier);
        m_model->select(3, Qt::ControlModifier);
        QCOMPARE(m_model->selectedCount(), 2);

        m_model->chooseFilter(Kind::All); // no change
        QCOMPARE(filterChanges.size(), 0);
        QCOMPARE(m_model->selectedCount(), 2);

        m_model->chooseFilter(Kind::Pinned, QStringLiteral("ignored"));
        QCOMPARE(filterChanges.size(), 1);
        QCOMPARE(m_model->filter(), ShelfFilter(Kind::Pinned));
        QVERIFY(m_model->selection().isEmpty());
        QCOMPARE(names(*m_model), list({"4"}));
        m_model->setFilter(ShelfFilter(Kind::All));

        // Another search that lists the very same items still empties the selection.
        m_model->setSearchText(QStringLiteral("n"));
        const QStringList withN = names(*m_model);
        m_model->select(0, Qt::NoModifier);
        m_model->select(1, Qt::ShiftModifier);
        QCOMPARE(m_model->selectedCount(), 2);
        m_model->setSearchText(QStringLiteral("N"));
        QCOMPARE(names(*m_model), withN);
        QVERIFY(m_model->selection().isEmpty());
    }

    void followsTheStoreInPlace()
    {
        QAbstractItemModelTester tester(m_model->items(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_model->select(rowOf("6"), Qt::NoModifier);
        m_model->select(rowOf("4"), Qt::ShiftModifier);
        QCOMPARE(m_model->selectedRows(), (QList<int>{2, 3, 4}));
        QSignalSpy resets(m_model->items(), &QAbstractItemModel::modelReset);

        auto capture = m_store->container->newBackgroundContext();
        capture->performAndWait([&] {
            addCard(capture.get(), {QStringLiteral("9"), ClipKind::Text, QStringLiteral("newest")},
                    QDateTime::currentDateTimeUtc());
            QVERIFY(capture->save().ok());
        });
        QTRY_COMPARE(m_model->itemCount(), 9);
        QCOMPARE(names(*m_model).first(), QStringLiteral("9"));
        QCOMPARE(resets.size(), 0);
        // The selection follows its cards, not their rows.
        QCOMPARE(m_model->selectedRows(), (QList<int>{3, 4, 5}));
        QCOMPARE(highlightedRows(*m_model), (QList<int>{3, 4, 5}));

        // A selected card deleted elsewhere is no longer counted.
        capture->performAndWait([&] {
            FetchRequest request = FetchRequest::of<ClipItem>();
            request.setPredicate(Predicate::equal(QStringLiteral("sourceBundleID"), QStringLiteral("5")));
            const auto found = capture->fetch<ClipItem>(request);
            QVERIFY(found.ok() && found->size() == 1);
            capture->deleteObject(found->first());
            QVERIFY(capture->save().ok());
        });
        QTRY_COMPARE(m_model->itemCount(), 8);
        QCOMPARE(names(m_model->selectedItems()), list({"6", "4"}));
        QCOMPARE(m_model->selectedCount(), 2);
        QCOMPARE(highlightedRows(*m_model), (QList<int>{3, 4}));
    }

    void commandsGetNoItemAnotherProcessDeleted()
    {
        // The strip has shown the cards, so their items are loaded.
        for (int row = 0; row < m_model->itemCount(); ++row)
            QVERIFY(m_model->itemAt(row));
        QCOMPARE(names(QList<ClipItemPtr>{m_model->leadItem()}), list({"8"}));

        // Another process (the command line) deletes the first card and the one clicked next,
        // and the shelf has not heard of it yet.
        StoreContainer other(QStringLiteral("Kestrelnote"));
        other.storeDescription().path = m_store->path();
        QVERIFY(other.loadPersistentStore());
        FetchRequest doomed = FetchRequest::of<ClipItem>();
        doomed.setPredicate(Predicate::equal(QStringLiteral("sourceBundleID"), QStringLiteral("8"))
                            || Predicate::equal(QStringLiteral("sourceBundleID"), QStringLiteral("6")));
        const auto found = other.viewContext()->fetch<ClipItem>(doomed);
        QVERIFY(found.ok() && found->size() == 2);
        for (const auto &item : *found)
            other.viewContext()->deleteObject(item);
        QVERIFY(other.viewContext()->save().ok());
        QCOMPARE(m_model->itemCount(), 8);

        // Return would paste the lead card: there is none to paste.
        QVERIFY(!m_model->leadItem());
        QVERIFY(m_model->selectedItems().isEmpty());
        m_model->select(rowOf("6"), Qt::NoModifier);
        QVERIFY(!m_model->leadItem());
        QVERIFY(m_model->selectedItems().isEmpty());
        // A double-click on the card would paste it.
        QVERIFY(!m_model->itemAt(rowOf("6")));

        // Once the shelf has heard of it, the lead falls back to the first listed card.
        QTRY_COMPARE(m_model->itemCount(), 6);
        QCOMPARE(names(QList<ClipItemPtr>{m_model->leadItem()}), list({"7"}));
    }

    void aListThatCouldNotBeReadIsReadAgainWhenTheShelfOpens()
    {
        // Another program has the items' table away while the shelf lists them.
        const auto sql = [this](const char *statement) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(m_store->path().toUtf8().constData(), &db), SQLITE_OK);
            sqlite3_busy_timeout(db, 5000); // the search index may be writing
            QCOMPARE(sqlite3_exec(db, statement, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        };
        sql("ALTER TABLE ClipItem RENAME TO ClipItemAway");
        klog::Recorder log;
        m_model->setFilter(ShelfFilter(Kind::Texts));
        QCOMPARE(m_model->itemCount(), 0);
        QCOMPARE(log.messages(klog::Category::Shelf, klog::Level::Error).size(), 1);
        sql("ALTER TABLE ClipItemAway RENAME TO ClipItem");

        present();
        QCOMPARE(names(*m_model), list({"8", "7", "6", "4", "2", "1"}));
        QCOMPARE(m_model->leadRow(), 0);
        // And it follows the store again.
        auto capture = m_store->container->newBackgroundContext();
        capture->performAndWait([&] {
            addCard(capture.get(), {QStringLiteral("9"), ClipKind::Text, QStringLiteral("newest")},
                    QDateTime::currentDateTimeUtc());
            QVERIFY(capture->save().ok());
        });
        QTRY_COMPARE(m_model->itemCount(), 7);
    }

    void presentingStartsAfreshButKeepsTheFilter()
    {
        klog::Recorder log;
        m_model->setFilter(ShelfFilter(Kind::Texts));
        m_model->setSearchText(QStringLiteral("cafe"));
        m_model->select(1, Qt::NoModifier);
        m_model->setRenamingRow(0);
        m_model->setSearchText(QString());
        QVERIFY(m_model->moveSelection(+1, false));
        m_model->setSearchText(QStringLiteral("cafe"));
        QVERIFY(m_model->scrollRequest().has_value());
        QCOMPARE(m_model->renamingRow(), 0);

        QSignalSpy focus(m_model.get(), &ShelfViewModel::searchFocusRequested);
        m_state->setPresented(true);
        QCOMPARE(m_model->searchText(), QString());
        QCOMPARE(m_model->filter(), ShelfFilter(Kind::Texts));
        QCOMPARE(names(*m_model), list({"8", "7", "6", "4", "2", "1"}));
        QVERIFY(m_model->selection().isEmpty());
        QCOMPARE(m_model->renamingRow(), -1);
        QVERIFY(!m_model->scrollRequest().has_value());
        QCOMPARE(m_model->scrollRequestRow(), -1);

        // Focus is asked for once the panel is on screen, then checked.
        QCOMPARE(focus.size(), 0);
        QTRY_VERIFY(focus.size() > 0);
        QVERIFY(m_model->isSearchFocused());
        QTRY_VERIFY(log.messages(klog::Category::Shelf, klog::Level::Default)
                        .contains(QStringLiteral("focus check (searchFocused: true)")));
    }

    void theRenamePopoverGivesFocusBackButHidingOnlyClosesIt()
    {
        present();
        m_model->setSearchText(QStringLiteral("note"));
        m_model->select(1, Qt::NoModifier);
        QSignalSpy focus(m_model.get(), &ShelfViewModel::searchFocusRequested);
        m_model->setRenamingRow(1);
        QCOMPARE(m_model->renamingID(), std::optional<ObjectId>(m_model->itemAt(1)->objectId()));
        m_model->setRenamingRow(-1);
        QCOMPARE(focus.size(), 0); // on the next turn of the event loop
        QTRY_COMPARE(focus.size(), 1);

        m_model->setRenamingRow(1);
        const auto selection = m_model->selection();
        m_state->setPresented(false);
        QCOMPARE(m_model->renamingRow(), -1);
        QCOMPARE(m_model->searchText(), QStringLiteral("note"));
        QCOMPARE(m_model->selection(), selection);
        QTest::qWait(50);
        QCOMPARE(focus.size(), 1);
    }

    void selectAllTakesTheSearchTextWhenThereIsOne()
    {
        klog::Recorder log;
        QSignalSpy textSelection(m_model.get(), &ShelfViewModel::selectSearchTextRequested);
        m_model->setSearchText(QStringLiteral("e"));
        m_model->select(1, Qt::NoModifier);
        const auto selection = m_model->selection();
        m_model->selectAll();
        QCOMPARE(textSelection.size(), 1);
        QCOMPARE(m_model->selection(), selection);

        m_model->setSearchText(QString());
        m_model->select(2, Qt::NoModifier);
        m_model->selectAll();
        QCOMPARE(textSelection.size(), 1);
        QCOMPARE(m_model->selectedCount(), 8);
        QCOMPARE(m_model->leadRow(), 2); // a listed lead stays
        QCOMPARE(highlightedRows(*m_model).size(), 8);
        QCOMPARE(log.messages(klog::Category::Shelf, klog::Level::Default), QStringList{QStringLiteral("select all: 8 items")});

        m_model->chooseFilter(Kind::Label, QStringLiteral("none"));
        QCOMPARE(m_model->filter(), ShelfFilter::label(QStringLiteral("none")));
        log.clear();
        m_model->selectAll();
        QVERIFY(m_model->selection().isEmpty());
        QVERIFY(log.messages(klog::Category::Shelf, klog::Level::Default).isEmpty());
    }

    void arrowKeysMoveAndAskToScroll()
    {
        klog::Recorder log;
        QSignalSpy scrolls(m_model.get(), &ShelfViewModel::scrollRequestChanged);
        QVERIFY(m_model->handleArrowKey(+1, Qt::NoModifier));
        QCOMPARE(m_model->leadRow(), 1);
        QCOMPARE(m_model->scrollRequestRow(), 1);
        QCOMPARE(m_model->scrollRequest()->generation, 1);

        QVERIFY(m_model->handleArrowKey(-1, Qt::NoModifier));
        QVERIFY(m_model->handleArrowKey(-1, Qt::NoModifier)); // stays on the first card ...
        QCOMPARE(m_model->leadRow(), 0);
        QCOMPARE(m_model->scrollRequest()->generation, 3); // ... but asks to scroll again
        QCOMPARE(scrolls.size(), 3);

        QVERIFY(m_model->handleArrowKey(+1, Qt::ShiftModifier));
        QVERIFY(m_model->handleArrowKey(+1, Qt::ShiftModifier));
        QCOMPARE(m_model->selectedRows(), (QList<int>{0, 1, 2}));
        QCOMPARE(log.messages(klog::Category::Shelf, klog::Level::Default).last(),
                 QStringLiteral("arrow key: lead -> index 2, 3 selected"));

        // With search text the arrows move the text cursor.
        m_model->setSearchText(QStringLiteral("e"));
        const auto selection = m_model->selection();
        QVERIFY(!m_model->handleArrowKey(+1, Qt::NoModifier));
        QCOMPARE(m_model->selection(), selection);

        m_model->setSearchText(QString());
        m_model->setFilter(ShelfFilter::label(QStringLiteral("none")));
        QVERIFY(!m_model->handleArrowKey(+1, Qt::NoModifier));
        QCOMPARE(scrolls.size(), 5);
    }

    void deletingSelectsTheFollowingCard()
    {
        // Cards 4 and 5 of the list are "5" and "4".
        m_model->select(3, Qt::NoModifier);
        m_model->select(4, Qt::ShiftModifier);
        const QList<ClipItemPtr> doomed = m_model->targets(m_model->itemAt(4));
        QCOMPARE(names(doomed), list({"5", "4"}));
        QCOMPARE(m_model->targetRows(3), (QList<int>{3, 4}));

        m_model->selectAfterDeleting(doomed);
        for (const auto &item : doomed)
            m_store->view()->deleteObject(item);
        QVERIFY(m_store->view()->save().ok());
        QCOMPARE(names(*m_model), list({"8", "7", "6", "3", "2", "1"}));
        QCOMPARE(names(m_model->selectedItems()), list({"3"}));
        QCOMPARE(m_model->leadRow(), 3);
        QCOMPARE(highlightedRows(*m_model), QList<int>{3});
    }
};

QTEST_GUILESS_MAIN(TestShelfViewModel)
#include "tst_shelfviewmodel.moc"
