// Copies like another application would: owns the clipboard with the given entries until
// it is killed. Each argument is TYPE=TEXT. Prints "ready" once it owns the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    auto *data = new QMimeData;
    for (const QString &argument : QGuiApplication::arguments().mid(1))
        data->setData(argument.section(QLatin1Char('='), 0, 0), argument.section(QLatin1Char('='), 1).toUtf8());
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    QTimer::singleShot(0, [] { QTextStream(stdout) << "ready" << Qt::endl; });
    return QGuiApplication::exec();
}
