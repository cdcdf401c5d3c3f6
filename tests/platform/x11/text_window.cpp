// A window with one text field, the target of paste tests and the front application of
// the front-application tests. Prints "ready" once shown, then "text:<contents>" on every
// change of the field. "--class NAME" sets the WM_CLASS class (RESOURCE_NAME the instance).
#include <QApplication>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--class")); at >= 0 && at + 1 < arguments.size())
        QApplication::setApplicationName(arguments.at(at + 1));
    QLineEdit field;
    field.setWindowTitle(QStringLiteral("kn-text-window"));
    field.resize(400, 40);
    QTextStream out(stdout);
    QObject::connect(&field, &QLineEdit::textChanged, [&out](const QString &text) {
        out << "text:" << text << Qt::endl;
    });
    field.show();
    field.activateWindow();
    QTimer::singleShot(0, [&out] { out << "ready" << Qt::endl; });
    return QApplication::exec();
}
