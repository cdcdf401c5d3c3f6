#include "import/PasteImportSummary.h"

#include <QStringList>

namespace {

QString counted(qint64 count, const QString &noun)
{
    return QString::number(count) + QLatin1Char(' ') + noun + (count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

QString sentence(const PasteImportSummary &summary)
{
    QString text = QStringLiteral("Imported ") + counted(summary.imported, QStringLiteral("item"));
    if (summary.pinboardsCreated > 0)
        text += QStringLiteral(" and ") + counted(summary.pinboardsCreated, QStringLiteral("pinboard"))
            + QStringLiteral(" as labels");

    QStringList skipped;
    if (summary.duplicates > 0)
        skipped.append(QString::number(summary.duplicates) + QStringLiteral(" already here"));
    if (summary.skippedBeyondLimit > 0)
        skipped.append(QString::number(summary.skippedBeyondLimit) + QStringLiteral(" older than your Keep items limit"));
    if (summary.undecodable > 0)
        skipped.append(QString::number(summary.undecodable) + QStringLiteral(" unreadable"));
    if (!skipped.isEmpty())
        text += QStringLiteral(" (skipped ") + skipped.join(QStringLiteral(", ")) + QLatin1Char(')');

    if (summary.cancelled)
        text += QStringLiteral(" \u2014 stopped early");
    return text + QLatin1Char('.');
}
