#include "shelf/ShelfSelection.h"

#include <QTest>

#include <algorithm>

// Cards are numbered 1..n in display order; 0 stands for "none" in the tables.
using Selection = ShelfSelection<int>;

namespace {

QList<int> cards(int count)
{
    QList<int> order;
    for (int card = 1; card <= count; ++card)
        order.append(card);
    return order;
}

QList<int> sorted(const QSet<int> &ids)
{
    QList<int> list(ids.begin(), ids.end());
    std::sort(list.begin(), list.end());
    return list;
}

QList<int> cardsAt(const QList<qsizetype> &indexes, const QList<int> &order)
{
    QList<int> result;
    for (qsizetype index : indexes)
        result.append(order[index]);
    return result;
}

// Plays gestures on a selection over `order`: "click 3", "ctrl 3", "shift 3", "all", "right",
// "left", "shift+right", "shift+left", and "gone 3" (card 3 leaves the list by other means).
void play(Selection &selection, QList<int> &order, const QStringList &steps)
{
    for (const QString &step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        const QString &verb = words[0];
        const int card = words.size() > 1 ? words[1].toInt() : 0;
        if (verb == QLatin1String("click"))
            selection.select(card, selectionModifier(Qt::NoModifier), order);
        else if (verb == QLatin1String("ctrl"))
            selection.select(card, selectionModifier(Qt::ControlModifier), order);
        else if (verb == QLatin1String("shift"))
            selection.select(card, selectionModifier(Qt::ShiftModifier), order);
        else if (verb == QLatin1String("all"))
            selection.selectAll(order);
        else if (verb == QLatin1String("gone"))
            order.removeAll(card);
        else if (verb.endsWith(QLatin1String("right")) || verb.endsWith(QLatin1String("left"))) {
            const int delta = verb.endsWith(QLatin1String("right")) ? 1 : -1;
            selection.moveSelection(delta, verb.startsWith(QLatin1String("shift+")), order);
        } else
            qFatal("unknown step %s", qPrintable(step));
    }
}

int orZero(const std::optional<int> &card) { return card.value_or(0); }

QStringList steps(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *step : list)
        result.append(QString::fromLatin1(step));
    return result;
}

} // namespace

class TestShelfSelection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gestures_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<int>("lead");
        QTest::addColumn<int>("anchor");

        QTest::newRow("click replaces") << 8 << steps({"click 2", "ctrl 4", "click 7"}) << QList<int>{7} << 7 << 7;
        QTest::newRow("shift range from the clicked card")
            << 8 << steps({"click 3", "shift 6"}) << QList<int>{3, 4, 5, 6} << 6 << 3;
        QTest::newRow("second shift ranges from the anchor, dropping the rest")
            << 8 << steps({"click 3", "shift 6", "shift 1"}) << QList<int>{1, 2, 3} << 1 << 3;
        QTest::newRow("ctrl adds") << 8 << steps({"click 2", "ctrl 5"}) << QList<int>{2, 5} << 5 << 5;
        QTest::newRow("ctrl on a selected card removes it and leads from it")
            << 8 << steps({"click 2", "shift 5", "ctrl 4"}) << QList<int>{2, 3, 5} << 4 << 4;
        QTest::newRow("ctrl on the only selected card empties the ids")
            << 8 << steps({"click 2", "ctrl 2"}) << QList<int>{} << 2 << 2;
        QTest::newRow("shift after a removing ctrl ranges from the removed card")
            << 8 << steps({"click 2", "shift 5", "ctrl 4", "shift 7"}) << QList<int>{4, 5, 6, 7} << 7 << 4;
        QTest::newRow("shift with nothing selected ranges from the first card")
            << 8 << steps({"shift 4"}) << QList<int>{1, 2, 3, 4} << 4 << 1;
        QTest::newRow("shift on a card no longer listed changes nothing")
            << 8 << steps({"click 2", "gone 6", "shift 6"}) << QList<int>{2} << 2 << 2;
        QTest::newRow("shift with the anchor gone ranges from the lead")
            << 8 << steps({"click 2", "shift 4", "gone 2", "shift 6"}) << QList<int>{4, 5, 6} << 6 << 4;
        QTest::newRow("shift with anchor and lead gone ranges from the first card")
            << 8 << steps({"click 3", "gone 3", "shift 5"}) << QList<int>{1, 2, 4, 5} << 5 << 1;

        QTest::newRow("select all from nothing leads from the first card")
            << 5 << steps({"all"}) << QList<int>{1, 2, 3, 4, 5} << 1 << 1;
        QTest::newRow("select all keeps a listed lead")
            << 5 << steps({"click 4", "all"}) << QList<int>{1, 2, 3, 4, 5} << 4 << 1;
        QTest::newRow("select all replaces a lead that left the list")
            << 5 << steps({"click 4", "gone 4", "all"}) << QList<int>{1, 2, 3, 5} << 1 << 1;
        QTest::newRow("select all of nothing") << 0 << steps({"all"}) << QList<int>{} << 0 << 0;

        QTest::newRow("right with no selection selects the second card")
            << 8 << steps({"right"}) << QList<int>{2} << 2 << 2;
        QTest::newRow("left with no selection selects the first card")
            << 8 << steps({"left"}) << QList<int>{1} << 1 << 1;
        QTest::newRow("right with one card listed selects it") << 1 << steps({"right"}) << QList<int>{1} << 1 << 1;
        QTest::newRow("left at the first card stays") << 8 << steps({"click 1", "left"}) << QList<int>{1} << 1 << 1;
        QTest::newRow("right moves from the lead, dropping the rest")
            << 8 << steps({"click 2", "shift 4", "right"}) << QList<int>{5} << 5 << 5;
        QTest::newRow("right from a lead removed by ctrl")
            << 8 << steps({"click 3", "ctrl 3", "right"}) << QList<int>{4} << 4 << 4;
        QTest::newRow("right from a lead that left the list starts at the first card")
            << 8 << steps({"click 5", "gone 5", "right"}) << QList<int>{2} << 2 << 2;
        QTest::newRow("shift+right three times from card 2")
            << 8 << steps({"click 2", "shift+right", "shift+right", "shift+right"}) << QList<int>{2, 3, 4, 5} << 5 << 2;
        QTest::newRow("shift+left past the anchor turns the run around")
            << 8 << steps({"click 4", "shift+right", "shift+left", "shift+left", "shift+left"})
            << QList<int>{2, 3, 4} << 2 << 4;
        QTest::newRow("shift+right at the last card keeps the run")
            << 4 << steps({"click 3", "shift+right", "shift+right"}) << QList<int>{3, 4} << 4 << 3;
        QTest::newRow("shift+right with nothing selected ranges from the first card")
            << 8 << steps({"shift+right"}) << QList<int>{1, 2} << 2 << 1;
        QTest::newRow("arrow with nothing listed changes nothing") << 0 << steps({"right", "shift+left"})
                                                                   << QList<int>{} << 0 << 0;
    }

    void gestures()
    {
        QFETCH(int, count);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, ids);
        QFETCH(int, lead);
        QFETCH(int, anchor);

        Selection selection;
        QList<int> order = cards(count);
        play(selection, order, steps);
        QCOMPARE(sorted(selection.ids), ids);
        QCOMPARE(orZero(selection.lead), lead);
        QCOMPARE(orZero(selection.anchor), anchor);
    }

    void selectedItemsAndTargets_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("lead");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("card");
        QTest::addColumn<QList<int>>("targets");

        QTest::newRow("nothing selected: the first card stands in")
            << 5 << QStringList() << 1 << QList<int>{1} << 3 << QList<int>{3};
        QTest::newRow("selection in display order, whatever the click order")
            << 6 << steps({"click 5", "ctrl 2", "ctrl 4"}) << 4 << QList<int>{2, 4, 5} << 2 << QList<int>{2, 4, 5};
        QTest::newRow("a card outside the selection is covered alone")
            << 6 << steps({"click 5", "ctrl 2"}) << 2 << QList<int>{2, 5} << 3 << QList<int>{3};
        QTest::newRow("ids emptied by ctrl fall back to the lead card")
            << 6 << steps({"click 4", "ctrl 4"}) << 4 << QList<int>{4} << 4 << QList<int>{4};
        QTest::newRow("selected cards that left the list are not counted")
            << 6 << steps({"click 2", "shift 4", "gone 3"}) << 4 << QList<int>{2, 4} << 4 << QList<int>{2, 4};
        QTest::newRow("every selected card gone: the first card stands in")
            << 6 << steps({"click 2", "gone 2"}) << 1 << QList<int>{1} << 1 << QList<int>{1};
        QTest::newRow("nothing listed") << 0 << QStringList{} << 0 << QList<int>{} << 0 << QList<int>{};
    }

    void selectedItemsAndTargets()
    {
        QFETCH(int, count);
        QFETCH(QStringList, steps);
        QFETCH(int, lead);
        QFETCH(QList<int>, selected);
        QFETCH(int, card);
        QFETCH(QList<int>, targets);

        Selection selection;
        QList<int> order = cards(count);
        play(selection, order, steps);
        const auto leadIndex = selection.leadIndex(order);
        QCOMPARE(leadIndex ? order[*leadIndex] : 0, lead);
        QCOMPARE(cardsAt(selection.selectedIndexes(order), order), selected);
        if (card != 0)
            QCOMPARE(cardsAt(Selection::targetIndexes(selection.selectedIndexes(order), order.indexOf(card)), order), targets);
    }

    void afterDeletion_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("deleted");
        QTest::addColumn<int>("successor");

        QTest::newRow("4 and 5 of 8: the card after them") << 8 << QList<int>{4, 5} << 6;
        QTest::newRow("the last two: the card before them") << 8 << QList<int>{7, 8} << 6;
        QTest::newRow("every card: nothing") << 3 << QList<int>{1, 2, 3} << 0;
        QTest::newRow("apart: after the last deleted") << 8 << QList<int>{2, 6} << 7;
        QTest::newRow("apart, up to the end: before the first deleted") << 8 << QList<int>{3, 8} << 2;
        QTest::newRow("unlisted cards are ignored") << 8 << QList<int>{4, 42} << 5;
        QTest::newRow("nothing deleted: nothing") << 8 << QList<int>{} << 0;
    }

    void afterDeletion()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, deleted);
        QFETCH(int, successor);

        const Selection after = Selection::afterDeletion(QSet<int>(deleted.begin(), deleted.end()), cards(count));
        if (successor == 0) {
            QVERIFY(after.isEmpty());
        } else {
            QCOMPARE(sorted(after.ids), QList<int>{successor});
            QCOMPARE(orZero(after.lead), successor);
            QCOMPARE(orZero(after.anchor), successor);
        }
    }

    // Plain, control and shift clicks are played in gestures().
    void otherModifierKeys()
    {
        QCOMPARE(selectionModifier(Qt::ControlModifier | Qt::ShiftModifier), SelectionModifier::Extend);
        QCOMPARE(selectionModifier(Qt::AltModifier), SelectionModifier::Replace);
    }
};

QTEST_GUILESS_MAIN(TestShelfSelection)
#include "tst_shelfselection.moc"
