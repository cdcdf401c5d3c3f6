// Prints how long the shelf takes to list 100,000 stored items under a new filter or search,
// and to select them all.
#include "shelf/ShelfState.h"
#include "shelf/ShelfViewModel.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int itemCount = 100000;

const QStringList &words()
{
    static const QStringList list = QStringLiteral(
        "the quick brown fox jumps over lazy dog meeting notes résumé café budget report draft "
        "kestrel shelf copy paste window linux terminal build error warning function value")
        .split(QLatin1Char(' '));
    return list;
}

QString sentence(QRandomGenerator &random, int length)
{
    QStringList picked;
    for (int i = 0; i < length; ++i)
        picked.append(words()[int(random.bounded(qsizetype(words().size())))]);
    return picked.join(QLatin1Char(' '));
}

// A history like a busy user's: mostly texts, some links, images and files, a few pinned,
// titled or labelled items.
void fill(StoreContext *context)
{
    QRandomGenerator random(7);
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-365);
    const QString label = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    for (int i = 0; i < itemCount; ++i) {
        auto item = context->insert<ClipItem>();
        item->setId(QUuid::createUuid());
        item->setCreatedAt(start.addSecs(i * 60));
        item->setSourceAppName(i % 3 ? QStringLiteral("Firefox") : QStringLiteral("Terminal"));
        const int roll = int(random.bounded(100));
        if (roll < 10) {
            item->setKind(ClipKind::Image);
        } else if (roll < 15) {
            item->setKind(ClipKind::File);
            item->setPlainText(QStringLiteral("/home/user/Documents/file%1.txt").arg(i));
            item->setFileName(QStringLiteral("file%1.txt").arg(i));
        } else if (roll < 30) {
            item->setKind(ClipKind::Text);
            item->setPlainText(QStringLiteral("https://example.com/%1/").arg(i) + sentence(random, 3));
        } else {
            item->setKind(ClipKind::Text);
            item->setPlainText(sentence(random, 5 + int(random.bounded(40))));
        }
        if (roll % 50 == 0)
            item->setPinned(true);
        if (roll % 20 == 1)
            item->setTitle(sentence(random, 2));
        if (roll % 25 == 2)
            item->setLabelID(label);
        if (i % 5000 == 4999 && !context->save().ok())
            qFatal("could not save the sample history");
    }
    if (!context->save().ok())
        qFatal("could not save the sample history");
    context->reset();
}

template<typename Step>
double millisecondsOf(Step step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e6;
}

constexpr int rounds = 5;

// The machine is shared, so each figure is the best and the median of several rounds; `undo`
// (untimed) brings the list back before the next round.
void timeChange(ShelfViewModel &model, const char *what, const std::function<void()> &change,
                const std::function<void()> &undo)
{
    QList<double> times;
    int listed = 0;
    for (int round = 0; round < rounds; ++round) {
        times.append(millisecondsOf(change));
        listed = model.itemCount();
        undo();
    }
    std::sort(times.begin(), times.end());
    std::printf("  %-40s best %7.1f ms, median %7.1f ms  (%d items listed)\n", what, times.first(),
                times[rounds / 2], listed);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
    if (!container.loadPersistentStore().ok())
        qFatal("could not open the store");
    StoreContext *view = container.viewContext();

    QElapsedTimer timer;
    timer.start();
    fill(view);
    std::printf("stored %d items in %.1f s\n", itemCount, double(timer.elapsed()) / 1000);

    ShelfState state;
    std::unique_ptr<ShelfViewModel> model;
    const double opening = millisecondsOf([&] { model = std::make_unique<ShelfViewModel>(&state, view); });
    std::printf("first listing of everything: %.1f ms\n", opening);

    const auto filter = [&](ShelfFilter::Kind kind) { return [&model, kind] { model->setFilter(ShelfFilter(kind)); }; };
    const auto search = [&](const QString &text) { return [&model, text] { model->setSearchText(text); }; };
    std::printf("applying a change to the live list of all items (goal: under 50 ms each):\n");
    timeChange(*model, "filter: links", filter(ShelfFilter::Kind::Links), filter(ShelfFilter::Kind::All));
    timeChange(*model, "filter: texts", filter(ShelfFilter::Kind::Texts), filter(ShelfFilter::Kind::All));
    timeChange(*model, "filter: pinned", filter(ShelfFilter::Kind::Pinned), filter(ShelfFilter::Kind::All));
    const auto timeSearches = [&] {
        timeChange(*model, "search: one letter \"e\"", search(QStringLiteral("e")), search(QString()));
        timeChange(*model, "search: one letter \"q\"", search(QStringLiteral("q")), search(QString()));
        timeChange(*model, "search: two letters \"qu\"", search(QStringLiteral("qu")), search(QString()));
        timeChange(*model, "search: ten letters \"copy paste\"", search(QStringLiteral("copy paste")), search(QString()));
        timeChange(*model, "search: ten letters \"kestrelnot\"", search(QStringLiteral("kestrelnot")), search(QString()));
        model->setSearchText(QStringLiteral("e"));
        timeChange(*model, "back to all from \"e\"", search(QString()), search(QStringLiteral("e")));
        model->setSearchText(QString());
    };
    // Right after the items arrived (as after an import) the search index has not taken them
    // in yet and searches read their folded texts; it does so once saving pauses.
    std::printf("searching before the search index has taken the new items in:\n");
    timeSearches();
    const double indexing = millisecondsOf([&] {
        if (!container.indexWaitingRows().ok())
            qFatal("could not index the sample history");
    });
    std::printf("searching once the search index has taken them in (after %.1f s):\n", indexing / 1000);
    timeSearches();

    std::printf("selecting every listed item:\n");
    QList<ClipItemPtr> selected;
    const auto deselect = [&] { model->setSelection({}); };
    timeChange(*model, "selectAll", [&] { model->selectAll(); }, deselect);
    model->selectAll();
    timeChange(*model, "selectedItems", [&] { selected = model->selectedItems(); }, [&] { selected.clear(); });
    timeChange(*model, "selectedRows", [&] { model->selectedRows(); }, [] { });
    selected = model->selectedItems();
    std::printf("  (%lld items selected)\n", qlonglong(selected.size()));
    return 0;
}
