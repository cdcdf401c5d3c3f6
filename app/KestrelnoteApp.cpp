#include "app/KestrelnoteApp.h"

#include "app/AppDelegate.h"
#include "app/InstanceChannel.h"
#include "app/TerminationSignals.h"
#include "platform/PlatformServices.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/PersistenceController.h"
#include "store/alert/MessageBoxStoreFailureAlert.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

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

    MessageBoxStoreFailureAlert storeFailureAlert;
    PersistenceController::Options persistenceOptions;
    persistenceOptions.alert = &storeFailureAlert;
    PersistenceController persistence(false, std::nullopt, persistenceOptions);
    if (!persistence.isLoaded()) {
        // Nothing may capture into a store that is not there: only the queued alert runs,
        // and it quits.
        return QApplication::exec();
    }

    PlatformServices platform = makePlatformServices();
    if (!platform.pasteboard || !platform.frontApplication || !platform.keystrokePoster) {
        klog::fault(klog::Category::App, QStringLiteral("the clipboard of this display cannot be reached"));
        return 1;
    }
    AppDelegate delegate(platform, defaults, persistence.container());
    channel.setHandler([&delegate](const QJsonObject &request) { return delegate.handleRequest(request); });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [](int signalNumber) {
        klog::notice(klog::Category::App, QStringLiteral("quitting on signal %1").arg(signalNumber));
        QCoreApplication::quit();
    });
    QTimer::singleShot(0, &delegate, &AppDelegate::launch);
    return QApplication::exec();
}
