#include "app/KestrelnoteApp.h"

#include "app/AppDelegate.h"
#include "app/InstanceChannel.h"
#include "app/TerminationSignals.h"
#include "platform/PlatformServices.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

void showStoreFailureAlert(const QString &reason)
{
    QMessageBox alert(QMessageBox::Critical, QStringLiteral("Kestrelnote"),
                      QStringLiteral("Kestrelnote can't open its clipboard history"));
    alert.setInformativeText(QStringLiteral("The history database couldn't be opened (%1). Try freeing disk space or "
                                            "restarting your Mac; if this keeps happening, reinstall Kestrelnote.")
                                 .arg(reason));
    alert.addButton(QStringLiteral("Quit"), QMessageBox::AcceptRole);
    alert.exec();
}

} // namespace

int KestrelnoteApp::run(int &argc, char **argv)
{
    const QString platformNote = choosePlatformBeforeStart();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!platformNote.isEmpty())
        klog::notice(klog::Category::App, platformNote);

    UserDefaults defaults;
    defaults.registerApplicationDefaults();

    // One application per store: a second start wakes the first and leaves.
    InstanceChannel channel(InstanceChannel::socketNameFor(StoreContainer::defaultDirectory()));
    if (!channel.listen()) {
        channel.send({{QStringLiteral("command"), QStringLiteral("activate")}});
        std::fprintf(stderr, "Kestrelnote is already running.\n");
        return 0;
    }

    StoreContainer store(QStringLiteral("Kestrelnote"));
    store.storeDescription().path = store.defaultStorePath();
    if (const auto loaded = store.loadPersistentStore(); !loaded) {
        klog::error(klog::Category::Persistence,
                    QStringLiteral("store load failed: %1").arg(loaded.error().localizedDescription()));
        showStoreFailureAlert(loaded.error().localizedDescription());
        return 1;
    }
    store.viewContext()->setAutomaticallyMergesChanges(true);
    store.viewContext()->setName(QStringLiteral("viewContext"));
    store.viewContext()->setTransactionAuthor(QStringLiteral("app"));

    PlatformServices platform = makePlatformServices();
    if (!platform.pasteboard || !platform.frontApplication || !platform.keystrokePoster) {
        klog::fault(klog::Category::App, QStringLiteral("the clipboard of this display cannot be reached"));
        return 1;
    }
    AppDelegate delegate(platform, defaults, store);
    channel.setHandler([&delegate](const QJsonObject &request) { return delegate.handleRequest(request); });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [](int signalNumber) {
        klog::notice(klog::Category::App, QStringLiteral("quitting on signal %1").arg(signalNumber));
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &delegate, &AppDelegate::launch);
    return QApplication::exec();
}
