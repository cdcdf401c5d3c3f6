#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

// Shows how far an import is on the command line: on a terminal a bar redrawn in place
// (done of total, rows per second, time left); elsewhere a plain line every few percent,
// so that logs of scripted runs stay short.
class ImportProgress
{
public:
    ImportProgress(QTextStream &stream, bool isTerminal);

    void update(qint64 done, qint64 total);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void finish();

private:
    QString figures(qint64 done, qint64 total) const;

    QTextStream &m_stream;
    bool m_isTerminal;
    QElapsedTimer m_clock;
    qint64 m_lastDrawMs = -1;
    qint64 m_lastPercentStep = -1;
    bool m_drawn = false;
};
