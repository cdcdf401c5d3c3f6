#include "shelf/ShelfFilter.h"
#include "shelf/ShelfState.h"

#include <QSignalSpy>
#include <QTest>

using Kind = ShelfFilter::Kind;

class TestShelfFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void equality_data()
    {
        QTest::addColumn<ShelfFilter>("a");
        QTest::addColumn<ShelfFilter>("b");
        QTest::addColumn<bool>("equal");

        const QString id = QStringLiteral("0F8E2B4C-1D3A-4E5F-8A7B-9C0D1E2F3A4B");
        QTest::newRow("default is all") << ShelfFilter() << ShelfFilter(Kind::All) << true;
        QTest::newRow("different cases") << ShelfFilter(Kind::Texts) << ShelfFilter(Kind::Links) << false;
        QTest::newRow("same label") << ShelfFilter::label(id) << ShelfFilter::label(QString(id)) << true;
        QTest::newRow("label ids compare case-sensitively")
            << ShelfFilter::label(id) << ShelfFilter::label(id.toLower()) << false;
        QTest::newRow("other labels") << ShelfFilter::label(id) << ShelfFilter::label(QStringLiteral("X")) << false;
        QTest::newRow("a stray id does not split a fixed case")
            << ShelfFilter(Kind::Pinned, id) << ShelfFilter(Kind::Pinned) << true;
        QTest::newRow("a label with an empty id is still a label")
            << ShelfFilter::label(QString()) << ShelfFilter(Kind::All) << false;
    }

    void equality()
    {
        QFETCH(ShelfFilter, a);
        QFETCH(ShelfFilter, b);
        QFETCH(bool, equal);
        QCOMPARE(a == b, equal);
        QCOMPARE(b == a, equal);
    }

    void emptyTitleDependsOnTheFilterAlone_data()
    {
        QTest::addColumn<ShelfFilter>("filter");
        QTest::addColumn<QString>("title");

        QTest::newRow("all") << ShelfFilter(Kind::All) << QStringLiteral("Copy something to get started");
        QTest::newRow("pinned") << ShelfFilter(Kind::Pinned) << QStringLiteral("Nothing pinned yet");
        QTest::newRow("label") << ShelfFilter::label(QStringLiteral("gone"))
                               << QStringLiteral("No items with this label yet");
        for (Kind kind : {Kind::Texts, Kind::Links, Kind::Images, Kind::Files})
            QTest::addRow("kind %d", int(kind)) << ShelfFilter(kind) << QStringLiteral("Nothing here yet");
    }

    void emptyTitleDependsOnTheFilterAlone()
    {
        QFETCH(ShelfFilter, filter);
        QFETCH(QString, title);
        QCOMPARE(emptyTitle(filter), title);
    }

    void presentedNotifiesOnlyOnChange()
    {
        ShelfState state;
        QSignalSpy spy(&state, &ShelfState::presentedChanged);
        QVERIFY(!state.isPresented());
        state.setPresented(false);
        state.setPresented(true);
        state.setPresented(true);
        QVERIFY(state.setProperty("presented", false));
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(0).at(0).toBool(), true);
        QCOMPARE(spy.at(1).at(0).toBool(), false);
    }
};

QTEST_GUILESS_MAIN(TestShelfFilter)
#include "tst_shelffilter.moc"
