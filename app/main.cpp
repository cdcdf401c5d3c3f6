#include "app/cli/CommandLine.h"
#include "platform/PlatformServices.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

#include <QApplication>

#include <sys/stat.h>

namespace {

void setIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("marrowfieldco"));
    QCoreApplication::setApplicationName(QStringLiteral("kestrelnote"));
}

} // namespace

int main(int argc, char *argv[])
{
    // The history and everything beside it is private to the user.
    umask(077);
    klog::installQtMessageHandler();
    const QString platformNote = choosePlatformBeforeStart();

    // Options (-platform, ...) go to the application; any other first word is a command.
    if (argc > 1 && (!QByteArray(argv[1]).startsWith('-') || isCommandLineCommand(QString::fromLocal8Bit(argv[1])))) {
        QCoreApplication app(argc, argv);
        setIdentity();
        return runCommandLine(QCoreApplication::arguments().mid(1));
    }

    QApplication app(argc, argv);
    setIdentity();
    QApplication::setQuitOnLastWindowClosed(false);

    UserDefaults defaults;
    defaults.registerApplicationDefaults();
    klog::notice(klog::Category::App, QStringLiteral("Kestrelnote started"));
    if (!platformNote.isEmpty())
        klog::notice(klog::Category::App, platformNote);
    const PlatformServices platform = makePlatformServices();
    return QApplication::exec();
}
