#include "../capture/StoreFixture.h"
#include "ReaderFixture.h"

#include "import/FolderChooser.h"
#include "import/PasteFolder.h"
#include "import/PasteImportController.h"
#include "platform/log/Log.h"

#include <QThread>

using namespace pasteblob;
using State = PasteImportController::State;
using Running = PasteImportController::Running;
using Finished = PasteImportController::Finished;
using Failed = PasteImportController::Failed;

namespace {

// Answers when the test says so, as a user closing the dialog would.
class ScriptedFolderChooser : public FolderChooser
{
public:
    void chooseFolder(const FolderChoiceRequest &request, Completion done) override
    {
        requests.append(request);
        pending = std::move(done);
    }
    void answer(std::optional<QString> folder)
    {
        Completion done = std::move(pending);
        pending = {};
        done(std::move(folder));
    }

    QList<FolderChoiceRequest> requests;
    Completion pending;
};

// Every state the controller published, with whether it came on the main thread.
class StateLog
{
public:
    explicit StateLog(PasteImportController &controller)
    {
        QObject::connect(&controller, &PasteImportController::stateChanged, &controller, [this](const State &state) {
            states.append(state);
            offMainThread += QThread::currentThread() != QCoreApplication::instance()->thread() ? 1 : 0;
        });
    }
    bool waitForEnd() const
    {
        return QTest::qWaitFor([this] { return !states.isEmpty() && !std::holds_alternative<Running>(states.last()); }, 60000);
    }

    QList<State> states;
    int offMainThread = 0;
};

} // namespace

class TestPasteImportController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void importsOnAWorkerAndReportsOnTheMainThread()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(130, QStringLiteral("item "));
        PasteImportController controller(*store.container, store.defaults);
        StateLog log(controller);
        QCOMPARE(controller.state(), State(PasteImportController::Idle{}));
        controller.startImport(paste.folder());
        // startImport returned while the worker runs; a second start is ignored.
        QCOMPARE(controller.state(), State(Running{0, 0}));
        controller.startImport(paste.folder());
        QVERIFY(log.waitForEnd());

        QCOMPARE(log.offMainThread, 0);
        QCOMPARE(log.states, (QList<State>{Running{0, 0}, Running{20, 130}, Running{40, 130}, Running{60, 130}, Running{80, 130},
                                           Running{100, 130}, Running{120, 130}, Running{130, 130},
                                           Finished{PasteImportSummary{130, 0, 0, 0, 0, false}}}));
        QCOMPARE(store.items().size(), 130);
        QCOMPARE(paste.leftovers(), QStringList());

        // Finished may start again: everything is already here.
        controller.startImport(paste.folder());
        QVERIFY(QTest::qWaitFor([&] { return std::holds_alternative<Finished>(controller.state()); }, 60000));
        QCOMPARE(std::get<Finished>(controller.state()).summary, (PasteImportSummary{0, 130, 0, 0, 0, false}));
    }

    // A missing database fails before any worker starts; a damaged one fails on the worker,
    // and only that is logged. Neither writes anything.
    void failuresArePublishedAndLogged_data()
    {
        QTest::addColumn<QByteArray>("database"); // empty: none
        QTest::addColumn<QList<State>>("expected");
        QTest::addColumn<bool>("logged");
        QTest::newRow("no database") << QByteArray()
                                     << QList<State>{Failed{QStringLiteral("That folder doesn't contain Paste's database (db.sqlite).")}}
                                     << false;
        QTest::newRow("garbage") << QByteArray(4096, '\x07')
                                 << QList<State>{Running{0, 0}, Failed{QStringLiteral("This Paste database uses a format Kestrelnote "
                                                                                      "can't read (Paste 3 or newer is required).")}}
                                 << true;
    }
    void failuresArePublishedAndLogged()
    {
        QFETCH(QByteArray, database);
        QFETCH(QList<State>, expected);
        QFETCH(bool, logged);
        StoreFixture store;
        ReaderFixture paste;
        if (!database.isEmpty()) {
            QFile file(paste.databasePath());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(database) == database.size());
        }
        klog::Recorder recorder;
        PasteImportController controller(*store.container, store.defaults);
        StateLog log(controller);
        controller.startImport(paste.folder());
        QVERIFY(log.waitForEnd());
        QCOMPARE(log.states, expected);
        const QString reason = std::get<Failed>(expected.last()).message;
        QCOMPARE(recorder.messages(klog::Category::Import, klog::Level::Error),
                 logged ? QStringList{QStringLiteral("paste import failed: ") + reason} : QStringList());
        QVERIFY(recorder.messages(klog::Category::Import, klog::Level::Default).isEmpty()); // no summary line
        QVERIFY(store.items().isEmpty());
        QCOMPARE(paste.leftovers(), QStringList());
        // Failed may start again.
        controller.startImport(paste.folder());
        QVERIFY(QTest::qWaitFor([&] { return log.states.size() == 2 * expected.size(); }, 60000));
    }

    void cancelStopsAfterTheCurrentRow()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(3000, QStringLiteral("item "));
        PasteImportController controller(*store.container, store.defaults);
        store.defaults.setInteger(SettingsKey::historyLimit, 5000);
        StateLog log(controller);
        QObject::connect(&controller, &PasteImportController::stateChanged, &controller, [&](const State &state) {
            if (const auto *running = std::get_if<Running>(&state); running && running->done == 20)
                controller.cancel();
        });
        controller.startImport(paste.folder());
        QVERIFY(log.waitForEnd());
        const auto *finished = std::get_if<Finished>(&log.states.last());
        QVERIFY(finished && finished->summary.cancelled);
        QVERIFY(finished->summary.imported >= 20);
        QVERIFY(finished->summary.imported < 3000);
        QCOMPARE(store.items().size(), finished->summary.imported);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    void chooseFolderAsksThenImports()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(3, QStringLiteral("item "));
        ScriptedFolderChooser chooser;
        PasteImportController controller(*store.container, store.defaults, &chooser);
        StateLog log(controller);

        controller.chooseFolderAndImport();
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(chooser.requests.first().startFolder, defaultPasteFolder());
        QCOMPARE(chooser.requests.first().prompt, QStringLiteral("Import"));
        QCOMPARE(chooser.requests.first().message,
                 QStringLiteral("Choose Paste's data folder. It's usually Library \u203A Containers \u203A com.wiheads.paste "
                                "\u203A Data \u203A Library \u203A Application Support \u203A Paste."));
        chooser.answer(std::nullopt);
        QVERIFY(log.states.isEmpty());

        controller.chooseFolderAndImport();
        chooser.answer(paste.folder());
        QVERIFY(controller.isRunning());
        controller.chooseFolderAndImport(); // ignored while running
        QCOMPARE(chooser.requests.size(), 2);
        QVERIFY(log.waitForEnd());
        QCOMPARE(log.states.last(), State(Finished{PasteImportSummary{3, 0, 0, 0, 0, false}}));
    }

    void anAnswerAfterTheControllerIsGoneDoesNothing()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(3, QStringLiteral("item "));
        ScriptedFolderChooser chooser;
        {
            PasteImportController controller(*store.container, store.defaults, &chooser);
            controller.chooseFolderAndImport();
        }
        chooser.answer(paste.folder());
        QVERIFY(store.items().isEmpty());
    }

    void destroyingWhileRunningCancelsAndWaits()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(5000, QStringLiteral("item "));
        store.defaults.setInteger(SettingsKey::historyLimit, 10000);
        {
            PasteImportController controller(*store.container, store.defaults);
            StateLog log(controller);
            controller.startImport(paste.folder());
            // Gone once the first items are in: a fixed wait let a fast machine finish first.
            QVERIFY(QTest::qWaitFor([&log] {
                const auto *running = log.states.isEmpty() ? nullptr : std::get_if<Running>(&log.states.last());
                return running && running->done > 0;
            }, 60000));
        }
        QVERIFY(store.items().size() < 5000);
        QCOMPARE(paste.leftovers(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPasteImportController)
#include "tst_pasteimportcontroller.moc"
