#pragma once

#include <QStringList>

// The command-line face of kestrelnote: scripting and tests work on the same store and
// settings as the running application, which notices their changes.
bool isCommandLineCommand(const QString &word);
// Runs one command; the words follow the program name. Returns the exit code.
int runCommandLine(const QStringList &words);
QString commandLineUsage();
