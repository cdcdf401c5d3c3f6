#include "app/PasteFolderDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

class TestPasteFolderDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void asksForOneFolderWithTheRequestsTextsAndAnswersOnce()
    {
        QTemporaryDir home;
        QDir(home.path()).mkpath(QStringLiteral(".hidden/Paste"));
        PasteFolderDialog chooser;
        std::optional<std::optional<QString>> answer;
        chooser.chooseFolder({home.path(), QStringLiteral("Import"), QStringLiteral("Choose the folder.")},
                             [&](std::optional<QString> folder) { answer = folder; });
        QFileDialog *dialog = chooser.openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Import"));
        QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(home.path()).canonicalPath());
        QVERIFY(dialog->filter().testFlag(QDir::Hidden));
        const auto *message = dialog->findChild<QLabel *>(QStringLiteral("pasteFolderMessage"));
        QVERIFY(message);
        QCOMPARE(message->text(), QStringLiteral("Choose the folder."));

        // A second request while it is open brings it forward instead of a second dialog.
        chooser.chooseFolder({home.path(), QStringLiteral("Import"), QString()}, [](std::optional<QString>) { QFAIL("second"); });
        QCOMPARE(chooser.openDialog(), dialog);

        const QString chosen = home.filePath(QStringLiteral(".hidden/Paste"));
        dialog->setDirectory(chosen);
        dialog->selectFile(chosen);
        // QFileDialog's accept() checks the selection; it is public only through QDialog.
        static_cast<QDialog *>(dialog)->accept();
        QVERIFY(answer.has_value());
        QVERIFY(answer->has_value());
        QCOMPARE(QDir(**answer).canonicalPath(), QDir(chosen).canonicalPath());

        // A request right after the answer, before the closed dialog is gone, is not lost
        // on it; cancelling answers none.
        QVERIFY(!chooser.openDialog());
        chooser.chooseFolder({home.path(), QStringLiteral("Import"), QString()},
                             [&](std::optional<QString> folder) { answer = folder; });
        QVERIFY(chooser.openDialog() && chooser.openDialog() != dialog);
        chooser.openDialog()->reject();
        QCOMPARE(*answer, std::nullopt);
    }
};

QTEST_MAIN(TestPasteFolderDialog)
#include "tst_pastefolderdialog.moc"
