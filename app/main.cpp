#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

#include <QApplication>

#include <sys/stat.h>

int main(int argc, char *argv[])
{
    // The history and everything beside it is private to the user.
    umask(077);
    klog::installQtMessageHandler();

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("marrowfieldco"));
    QApplication::setApplicationName(QStringLiteral("kestrelnote"));
    QApplication::setQuitOnLastWindowClosed(false);

    UserDefaults defaults;
    defaults.registerApplicationDefaults();
    klog::notice(klog::Category::App, QStringLiteral("Kestrelnote started"));
    return QApplication::exec();
}
