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
        QTest::newRow("different cases") << ShelfFilter(Kind::Texts) << ShelfFilter(Kind::Links) << false;
        QTest::newRow("same label") << ShelfFilter::label(id) << ShelfFilter::label(QString(id)) << true;
        QTest::newRow("label ids compare case-sensitively")
            << ShelfFilter::label(id) << ShelfFilter::label(id.toLower()) << false;
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
