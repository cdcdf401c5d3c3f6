#include "platform/frontapp/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}
} // namespace

class TestDesktopEntries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void localizedName_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("name");
        QTest::newRow("country") << QStringLiteral("de_AT.UTF-8") << QStringLiteral("Texteditor (AT)");
        QTest::newRow("language only") << QStringLiteral("de_DE.UTF-8") << QStringLiteral("Texteditor");
        QTest::newRow("modifier") << QStringLiteral("sr_RS.UTF-8@latin") << QStringLiteral("Uređivač");
        QTest::newRow("no translation") << QStringLiteral("fr_FR.UTF-8") << QStringLiteral("Text Editor");
        QTest::newRow("C locale") << QStringLiteral("C.UTF-8") << QStringLiteral("Text Editor");
        QTest::newRow("none") << QString() << QStringLiteral("Text Editor");
    }

    void localizedName()
    {
        QFETCH(QString, locale);
        QFETCH(QString, name);
        const QByteArray contents = "# comment\n[Desktop Entry]\nType=Application\nName=Text Editor\n"
                                    "Name[de]=Texteditor\nName[de_AT]=Texteditor (AT)\nName[sr@latin]=Uređivač\n"
                                    "Name[sr]=Уређивач\nExec=/usr/bin/kate -b %U\n[Desktop Action new]\nName=New\n";
        const std::optional<DesktopEntry> entry = parseDesktopEntry(contents, QStringLiteral("org.kde.kate"), locale);
        QVERIFY(entry);
        QCOMPARE(entry->name, name);
        QCOMPARE(entry->program, QStringLiteral("kate"));
    }

    void programFromExec_data()
    {
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QString>("program");
        QTest::newRow("quoted path with spaces") << QByteArray(R"("/opt/My App/bin/my app" --new %U)")
                                                 << QStringLiteral("my app");
        QTest::newRow("escaped quote inside quotes") << QByteArray(R"("/opt/a\\"b\\"/run" %f)") << QStringLiteral("run");
        QTest::newRow("env with settings") << QByteArray(R"(env GDK_BACKEND=x11 "/opt/x y/z" %u)") << QStringLiteral("z");
        QTest::newRow("env with options") << QByteArray("/usr/bin/env -u FOO -i LANG=C gedit %F") << QStringLiteral("gedit");
        QTest::newRow("tabs and repeated spaces") << QByteArray("  kate\\t -b") << QStringLiteral("kate");
        QTest::newRow("only env") << QByteArray("env A=b") << QString();
    }

    void programFromExec()
    {
        QFETCH(QByteArray, exec);
        QFETCH(QString, program);
        const std::optional<DesktopEntry> entry =
            parseDesktopEntry("[Desktop Entry]\nType=Application\nName=X\nExec=" + exec + "\n", QStringLiteral("x"), QString());
        QVERIFY(entry);
        QCOMPARE(entry->program, program);
    }

    void notApplicationsAreNoEntries_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("link") << QByteArray("[Desktop Entry]\nType=Link\nName=x\n");
        QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nType=Application\nName=x\nHidden=true\n");
        QTest::newRow("no name") << QByteArray("[Desktop Entry]\nType=Application\nExec=x\n");
        QTest::newRow("other group only") << QByteArray("[Other]\nType=Application\nName=x\n");
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x00\x01\x02[Desktop Entry\n=\n", 24);
    }

    void notApplicationsAreNoEntries()
    {
        QFETCH(QByteArray, contents);
        QCOMPARE(parseDesktopEntry(contents, QStringLiteral("x"), QString()), std::nullopt);
    }

    void matchingOrder_data()
    {
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QString>("wmClass");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("id");

        QTest::newRow("StartupWMClass = instance before class")
            << QStringLiteral("navigator") << QStringLiteral("Firefox-esr") << QString() << QStringLiteral("by-instance");
        QTest::newRow("StartupWMClass = class") << QStringLiteral("xterm") << QStringLiteral("XTerm") << QString()
                                                << QStringLiteral("debian-xterm");
        QTest::newRow("id verbatim") << QStringLiteral("org.kde.kate") << QStringLiteral("kate") << QString()
                                     << QStringLiteral("org.kde.kate");
        QTest::newRow("lower case, spaces as dashes") << QStringLiteral("x") << QStringLiteral("Gnome Calculator") << QString()
                                                      << QStringLiteral("gnome-calculator");
        QTest::newRow("vendor prefix") << QStringLiteral("vim") << QStringLiteral("Vim") << QString()
                                       << QStringLiteral("debian-vim");
        QTest::newRow("program last") << QStringLiteral("unknown") << QStringLiteral("Unknown") << QStringLiteral("kate")
                                      << QStringLiteral("org.kde.kate");
        QTest::newRow("subfolder id") << QStringLiteral("old") << QStringLiteral("OldApp") << QString()
                                      << QStringLiteral("kde4-old");
        QTest::newRow("a user entry replaces the system one")
            << QStringLiteral("x") << QStringLiteral("SystemClass") << QString() << QString();
        QTest::newRow("a hidden user entry hides the system one")
            << QStringLiteral("x") << QStringLiteral("Hider") << QString() << QString();
        QTest::newRow("a program several entries start names none")
            << QStringLiteral("unknown") << QStringLiteral("Unknown") << QStringLiteral("sh") << QString();
        QTest::newRow("nothing") << QStringLiteral("unknown") << QStringLiteral("Unknown") << QStringLiteral("unknown")
                                 << QString();
    }

    void matchingOrder()
    {
        QFETCH(QString, instance);
        QFETCH(QString, wmClass);
        QFETCH(QString, program);
        QFETCH(QString, id);

        QTemporaryDir home;
        QTemporaryDir system;
        auto app = [](const QByteArray &name, const QByteArray &extra) -> QByteArray {
            return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra;
        };
        writeFile(system.filePath(QStringLiteral("by-class.desktop")), app("Firefox", "StartupWMClass=Firefox-esr\n"));
        writeFile(system.filePath(QStringLiteral("by-instance.desktop")), app("Navigator", "StartupWMClass=navigator\n"));
        writeFile(system.filePath(QStringLiteral("debian-xterm.desktop")), app("XTerm", "StartupWMClass=XTerm\nExec=xterm\n"));
        writeFile(system.filePath(QStringLiteral("org.kde.kate.desktop")), app("Kate", "Exec=kate -b %U\n"));
        writeFile(system.filePath(QStringLiteral("gnome-calculator.desktop")), app("Calculator", ""));
        writeFile(system.filePath(QStringLiteral("debian-vim.desktop")), app("Vim", "Exec=vim\n"));
        writeFile(system.filePath(QStringLiteral("kde4/old.desktop")), app("Old", "StartupWMClass=OldApp\n"));
        writeFile(home.filePath(QStringLiteral("unrelated.desktop")), app("Unrelated", "Exec=unrelated\n"));
        writeFile(system.filePath(QStringLiteral("replaced.desktop")), app("System", "StartupWMClass=SystemClass\n"));
        writeFile(home.filePath(QStringLiteral("replaced.desktop")), app("Mine", ""));
        writeFile(system.filePath(QStringLiteral("hider.desktop")), app("Hider", "StartupWMClass=Hider\n"));
        writeFile(home.filePath(QStringLiteral("hider.desktop")), app("Hider", "Hidden=true\n"));
        writeFile(system.filePath(QStringLiteral("tool-one.desktop")), app("One", "Exec=sh -c one\n"));
        writeFile(system.filePath(QStringLiteral("tool-two.desktop")), app("Two", "Exec=/bin/sh -c two\n"));

        DesktopEntryIndex index({home.path(), system.path()}, QString());
        const std::optional<DesktopEntry> entry = index.match(instance, wmClass, program);
        QCOMPARE(entry ? entry->id : QString(), id);
        // Asked again, the cached answer is the same.
        const std::optional<DesktopEntry> again = index.match(instance, wmClass, program);
        QCOMPARE(again ? again->id : QString(), id);
    }

    // The folders are read on the main thread: a link to a large tree, or back up the
    // tree, is read only so far, and does not crowd out the folders after it.
    void linkedTreesAreReadWithinBounds()
    {
        QTemporaryDir home;
        QTemporaryDir system;
        QTemporaryDir large;
        for (int i = 0; i < 250; ++i)
            QVERIFY(QDir(large.path()).mkdir(QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0'))));
        QVERIFY(QFile::link(large.path(), home.filePath(QStringLiteral("large"))));
        QVERIFY(QFile::link(home.path(), home.filePath(QStringLiteral("loop"))));
        const QByteArray entry = "[Desktop Entry]\nType=Application\nName=App\n";
        writeFile(home.filePath(QStringLiteral("wine/Programs/Vendor/App/app.desktop")), entry);
        writeFile(home.filePath(QStringLiteral("a/b/c/d/e/f/g/deep.desktop")), entry);
        writeFile(system.filePath(QStringLiteral("system.desktop")), entry);

        DesktopEntryIndex index({home.path(), system.path()}, QString());
        for (const char *id : {"wine-Programs-Vendor-App-app", "system"}) {
            const std::optional<DesktopEntry> found = index.match(QString::fromLatin1(id), QString(), QString());
            QCOMPARE(found ? found->id : QString(), QString::fromLatin1(id));
        }
        QCOMPARE(index.match(QStringLiteral("a-b-c-d-e-f-g-deep"), QString(), QString()), std::nullopt);
    }

    // Opening a pipe waits for a writer that never comes, and the front application is
    // asked for on the main thread.
    void aLinkToAPipeIsNoEntryButOneToAFileIs()
    {
        QTemporaryDir dir;
        const QByteArray pipe = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("pipe")), dir.filePath(QStringLiteral("pipe.desktop"))));
        writeFile(dir.filePath(QStringLiteral("good.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Good\nStartupWMClass=Good\n");

        // Links to entries still count.
        QTemporaryDir elsewhere;
        writeFile(elsewhere.filePath(QStringLiteral("real.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Linked\nStartupWMClass=Linked\n");
        QVERIFY(QFile::link(elsewhere.filePath(QStringLiteral("real.desktop")),
                            dir.filePath(QStringLiteral("linked.desktop"))));

        DesktopEntryIndex index({dir.path()}, QString());
        std::atomic<bool> done = false;
        std::optional<DesktopEntry> entry;
        std::thread asker([&] {
            entry = index.match(QStringLiteral("Good"), QString(), QString());
            done = true;
        });
        const auto release = qScopeGuard([&] {
            // A writer that closes at once frees a reader stuck in open().
            while (!done) {
                if (const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
                    ::close(fd);
                QTest::qWait(10);
            }
            asker.join();
        });
        QTRY_VERIFY(done);
        QCOMPARE(entry ? entry->id : QString(), QStringLiteral("good"));
        const std::optional<DesktopEntry> linked = index.match(QStringLiteral("Linked"), QString(), QString());
        QCOMPARE(linked ? linked->id : QString(), QStringLiteral("linked"));
    }
};

QTEST_MAIN(TestDesktopEntries)
#include "tst_desktopentries.moc"
