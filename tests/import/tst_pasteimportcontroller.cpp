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
            offMainThread += QThread::currentThread() != qApp->thread() ? 1 : 0;
        });
    }
    bool ended() const
    {
        return !states.isEmpty()
            && (std::holds_alternative<Finished>(states.last()) || std::holds_alternative<Failed>(states.last()));
    }
    bool waitForEnd() const { return QTest::qWaitFor([this] { return ended(); }, 60000); }
    QList<Running> progress() const
    {
        QList<Running> reports;
        for (const State &state : states) {
            if (const auto *running = std::get_if<Running>(&state))
                reports.append(*running);
        }
        return reports;
    }

    QList<State> states;
    int offMainThread = 0;
};

const QString notFound = QStringLiteral("That folder doesn't contain Paste's database (db.sqlite).");

} // namespace

class TestPasteImportController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aFolderWithoutTheDatabaseFailsAtOnce()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteImportController controller(*store.container, store.defaults);
        StateLog log(controller);
        QCOMPARE(controller.state(), State(PasteImportController::Idle{}));
        controller.startImport(paste.folder());
        QCOMPARE(log.states, QList<State>{State(Failed{notFound})});
        QCOMPARE(paste.leftovers(), QStringList());
        // Failed may start again; a second empty folder fails the same way.
        controller.startImport(paste.folder());
        QCOMPARE(log.states.size(), 2);
    }

    void importsOnAWorkerAndReportsOnTheMainThread()
    {
        StoreFixture store;
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(130, QStringLiteral("item "));
        PasteImportController controller(*store.container, store.defaults);
        StateLog log(controller);
        controller.startImport(paste.folder());
        // startImport returned while the worker runs; a second start is ignored.
        QCOMPARE(controller.state(), State(Running{0, 0}));
        controller.startImport(paste.folder());
        QVERIFY(log.waitForEnd());

        QCOMPARE(log.offMainThread, 0);
        QCOMPARE(log.progress(), (QList<Running>{{0, 0}, {20, 130}, {40, 130}, {60, 130}, {80, 130}, {100, 130},
                                                 {120, 130}, {130, 130}}));
        QCOMPARE(log.states.last(), State(Finished{PasteImportSummary{130, 0, 0, 0, 0, false}}));
        QCOMPARE(store.items().size(), 130);
        QCOMPARE(paste.leftovers(), QStringList());

        // Finished may start again: everything is already here.
        controller.startImport(paste.folder());
        QVERIFY(QTest::qWaitFor([&] { return std::holds_alternative<Finished>(controller.state()); }, 60000));
        QCOMPARE(std::get<Finished>(controller.state()).summary, (PasteImportSummary{0, 130, 0, 0, 0, false}));
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
        QVERIFY(finished);
        QVERIFY(finished->summary.cancelled);
        QVERIFY(finished->summary.imported >= 20);
        QVERIFY(finished->summary.imported < 3000);
        QCOMPARE(store.items().size(), finished->summary.imported);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    void aReaderFailureIsPublishedAndLoggedAndWritesNothing()
    {
        StoreFixture store;
        ReaderFixture paste;
        QFile garbage(paste.databasePath());
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, '\x07'));
        garbage.close();
        klog::Recorder recorder;
        PasteImportController controller(*store.container, store.defaults);
        StateLog log(controller);
        controller.startImport(paste.folder());
        QVERIFY(log.waitForEnd());
        const QString unsupported =
            QStringLiteral("This Paste database uses a format Kestrelnote can't read (Paste 3 or newer is required).");
        QCOMPARE(log.states, (QList<State>{Running{0, 0}, Failed{unsupported}}));
        QCOMPARE(recorder.messages(klog::Category::Import, klog::Level::Error),
                 QStringList{QStringLiteral("paste import failed: ") + unsupported});
        QVERIFY(recorder.messages(klog::Category::Import, klog::Level::Default).isEmpty()); // no summary line
        QVERIFY(store.items().isEmpty());
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
            controller.startImport(paste.folder());
            QTest::qWait(50);
        }
        QVERIFY(store.items().size() < 5000);
        QCOMPARE(paste.leftovers(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPasteImportController)
#include "tst_pasteimportcontroller.moc"
