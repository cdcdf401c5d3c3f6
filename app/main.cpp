#include "app/KestrelnoteApp.h"
#include "app/cli/CommandLine.h"
#include "platform/log/Log.h"

#include <QCoreApplication>

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
    setIdentity();

    // Options (-platform, ...) go to the application; any other first word is a command.
    if (argc > 1 && (!QByteArray(argv[1]).startsWith('-') || isCommandLineCommand(QString::fromLocal8Bit(argv[1])))) {
        QCoreApplication app(argc, argv);
        return runCommandLine(QCoreApplication::arguments().mid(1));
    }
    return KestrelnoteApp::run(argc, argv);
}
