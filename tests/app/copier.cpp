// Copies like another application would: owns the clipboard with the given entries until
// it is killed. Each argument is TYPE=TEXT or TYPE=@FILE. "--then" starts a second set of
// entries, copied a moment after the first. Prints "ready" once it owns the clipboard.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    auto *data = new QMimeData;
    const QStringList arguments = QGuiApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--then")) {
            QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
            QGuiApplication::processEvents();
            data = new QMimeData;
            continue;
        }
        const QString type = argument.section(QLatin1Char('='), 0, 0);
        const QString value = argument.section(QLatin1Char('='), 1);
        if (value.startsWith(QLatin1Char('@'))) {
            QFile file(value.mid(1));
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            data->setData(type, file.readAll());
        } else {
            data->setData(type, value.toUtf8());
        }
    }
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    QTimer::singleShot(0, [] { QTextStream(stdout) << "ready" << Qt::endl; });
    return QGuiApplication::exec();
}
