#pragma once

#include "app/cli/Arguments.h"
#include "platform/defaults/UserDefaults.h"
#include "store/ClipItem.h"
#include "store/ClipLabel.h"

#include <QTextStream>

#include <memory>

class ClipboardCapture;
class PersistenceController;
class StoreContainer;
class StoreContext;
class StoreFailureAlert;

// Exit codes of the command line.
namespace ExitCode {
inline constexpr int ok = 0;
inline constexpr int failure = 1;
inline constexpr int usage = 2;
}

// What every command works with: the user's settings and store, opened on demand, and
// the capture that every write goes through (so heals and limits apply as in the app).
class CliSession
{
public:
    CliSession();
    ~CliSession();

    QTextStream &out() { return m_out; }
    QTextStream &err() { return m_err; }
    UserDefaults &defaults() { return m_defaults; }

    // Opens the store as the application does (a damaged store is moved aside and
    // recreated); on failure prints the store failure alert's texts and returns false.
    bool openStore();
    StoreContext &view() const;
    StoreContainer &container() const;
    ClipboardCapture &capture();
    // Waits until the capture queue has finished what was scheduled (heals included).
    void settle();

    // The item whose id is `key`, or whose id starts with it (at least four characters,
    // case-insensitive). Prints why and returns none when there is not exactly one.
    ClipItemPtr findItem(const QString &key);
    // The label with this id (or id prefix) or, failing that, this name (case-insensitive).
    ClipLabelPtr findLabel(const QString &key);

    int usageError(const QString &message);

private:
    QTextStream m_out;
    QTextStream m_err;
    UserDefaults m_defaults;
    std::unique_ptr<StoreFailureAlert> m_storeFailureAlert;
    std::unique_ptr<PersistenceController> m_persistence;
    std::unique_ptr<ClipboardCapture> m_capture;
};

int runItemCommand(CliSession &session, const QString &command, const QStringList &words);
int runLabelCommand(CliSession &session, const QString &command, const QStringList &words);
int runSettingsCommand(CliSession &session, const QStringList &words);
int runImportCommand(CliSession &session, const QStringList &words);
