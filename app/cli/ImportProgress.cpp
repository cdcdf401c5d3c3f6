#include "app/cli/ImportProgress.h"

#include <algorithm>

namespace {

constexpr int barWidth = 30;
constexpr qint64 redrawIntervalMs = 100;
constexpr qint64 percentStep = 5;

QString duration(double seconds)
{
    const qint64 whole = qint64(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ImportProgress::ImportProgress(QTextStream &stream, bool isTerminal)
    : m_stream(stream)
    , m_isTerminal(isTerminal)
{
    m_clock.start();
}

QString ImportProgress::figures(qint64 done, qint64 total) const
{
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    const double rate = seconds > 0 ? double(done) / seconds : 0.0;
    QString text = QStringLiteral("%1 of %2 items").arg(done).arg(total);
    if (rate >= 1.0) {
        text += QStringLiteral(", %1 items/s").arg(qint64(rate));
        text += QStringLiteral(", %1 left").arg(duration(double(total - done) / rate));
    }
    return text;
}

void ImportProgress::update(qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    const qint64 percent = std::clamp<qint64>(done * 100 / total, 0, 100);
    if (!m_isTerminal) {
        const qint64 step = percent / percentStep;
        if (step == m_lastPercentStep)
            return;
        m_lastPercentStep = step;
        m_stream << "Importing: " << percent << "% (" << figures(done, total) << ")\n";
        m_stream.flush();
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (done != total && m_lastDrawMs >= 0 && now - m_lastDrawMs < redrawIntervalMs)
        return;
    m_lastDrawMs = now;
    const int filled = int(done * barWidth / total);
    const QString bar = QString(filled, QLatin1Char('#')) + QString(barWidth - filled, QLatin1Char('.'));
    // \r and a clear to the end of the line: the bar is redrawn in place.
    m_stream << "\r[" << bar << "] " << percent << "% " << figures(done, total) << "\x1b[K";
    m_stream.flush();
    m_drawn = true;
}

void ImportProgress::finish()
{
    if (m_drawn) {
        m_stream << "\n";
        m_stream.flush();
        m_drawn = false;
    }
}
