#pragma once

#include "app/cli/Arguments.h"
#include "platform/defaults/UserDefaults.h"
#include "store/ClipItem.h"
#include "store/ClipLabel.h"

#include <QTextStream>

#include <memory>

class ClipboardCapture;
class StoreContainer;
class StoreContext;

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

    // Opens the store; on failure prints why (the store-failure texts) and returns false.
    bool openStore();
    StoreContext &view() const;
    StoreContainer &container() const { return *m_container; }
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
    std::unique_ptr<StoreContainer> m_container;
    std::unique_ptr<ClipboardCapture> m_capture;
};

int runItemCommand(CliSession &session, const QString &command, const QStringList &words);
int runLabelCommand(CliSession &session, const QString &command, const QStringList &words);
int runSettingsCommand(CliSession &session, const QStringList &words);
