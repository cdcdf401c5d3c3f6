#include "import/PasteDatabaseReader.h"

#include "import/PasteFolder.h"
#include "import/PasteItemQuery.h"
#include "import/PastePayloadDecoder.h"
#include "import/PrivateDatabaseCopy.h"

#include <QFile>

#include <sqlite3.h>

namespace {

// The object store counts time from 2001-01-01 00:00:00 UTC.
const QDateTime referenceDate = QDateTime::fromSecsSinceEpoch(978307200, Qt::UTC);
// Dates past 9999-12-31 are garbage, and far enough out they would overflow.
constexpr double maxSecondsAfterReference = 253402300799.0 - 978307200.0;

class Database
{
public:
    ~Database() { sqlite3_close_v2(handle); }
    sqlite3 *handle = nullptr;
};

class Statement
{
public:
    ~Statement() { sqlite3_finalize(handle); }
    sqlite3_stmt *handle = nullptr;
};

QString sqliteMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

Expected<qint64, PasteReadError> scalarQuery(sqlite3 *db, const QByteArray &sql)
{
    Statement statement;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement.handle, nullptr) != SQLITE_OK || !statement.handle)
        return unexpected(PasteReadError::query(sqliteMessage(db)));
    return sqlite3_step(statement.handle) == SQLITE_ROW ? sqlite3_column_int64(statement.handle, 0) : 0;
}

// On the private copy only; a failure (an odd schema, a full disk) just leaves the plan slower.
void addStreamingIndexes(sqlite3 *db, const PasteSchema &schema)
{
    for (const QByteArray &statement : streamingIndexes(schema))
        sqlite3_exec(db, statement.constData(), nullptr, nullptr, nullptr);
}

bool hasTable(sqlite3 *db, const char *table)
{
    const auto count = scalarQuery(db, tableExistsQuery(table));
    return count && *count > 0;
}

// Generated columns are computed as rows are read, and the object store never makes them:
// one could make every row as large as SQLite allows out of a file of a few kilobytes.
bool hasGeneratedColumns(sqlite3 *db, const char *table)
{
    QByteArray query = "SELECT COUNT(*) FROM pragma_table_xinfo('";
    query += table;
    query += "') WHERE hidden IN (2, 3)";
    const auto count = scalarQuery(db, query);
    return !count || *count > 0;
}

// Rows are outside input: a column may hold any type, whatever the schema says.
std::optional<QDateTime> dateColumn(sqlite3_stmt *row, int column)
{
    if (sqlite3_column_type(row, column) == SQLITE_NULL)
        return std::nullopt;
    const double seconds = sqlite3_column_double(row, column);
    if (!(seconds > 0) || seconds > maxSecondsAfterReference) // NaN fails the first test
        return std::nullopt;
    return referenceDate.addMSecs(qint64(seconds * 1000.0));
}

std::optional<QByteArray> blobColumn(sqlite3_stmt *row, int column)
{
    const void *bytes = sqlite3_column_blob(row, column);
    const int size = sqlite3_column_bytes(row, column);
    if (size <= 0 || !bytes)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(bytes), size);
}

std::optional<QString> textColumn(sqlite3_stmt *row, int column)
{
    if (sqlite3_column_type(row, column) == SQLITE_NULL)
        return std::nullopt;
    const unsigned char *text = sqlite3_column_text(row, column);
    const int size = sqlite3_column_bytes(row, column);
    if (!text)
        return std::nullopt;
    return QString::fromUtf8(reinterpret_cast<const char *>(text), size);
}

// Item types outside 0...5 read as 0; a 64-bit value is never cut down to a valid one.
int itemTypeColumn(sqlite3_stmt *row, int column)
{
    const sqlite3_int64 type = sqlite3_column_int64(row, column);
    return type < 0 || type > 5 ? 0 : int(type);
}

std::optional<QString> nonEmpty(const QString &text)
{
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

// Spaces and tabs only: a line break in a pinboard name stays.
QString trimmedOfSpaces(const QString &text)
{
    const auto isSpace = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpace(text.at(begin)))
        ++begin;
    while (end > begin && isSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<QString> pinboardOf(sqlite3_stmt *row)
{
    const std::optional<QString> listName = textColumn(row, PasteColumn::listName);
    const bool isPinboard = sqlite3_column_type(row, PasteColumn::listType) == SQLITE_NULL
        || sqlite3_column_int64(row, PasteColumn::listType) == 2;
    if (!isPinboard || !listName)
        return std::nullopt;
    return nonEmpty(trimmedOfSpaces(*listName));
}

std::optional<ClipboardPayload::Content> decodeContent(sqlite3_stmt *row, const QString &blobFolder)
{
    QList<PastePayloadDecoder::Entry> entries;
    if (const auto payload = blobColumn(row, PasteColumn::pasteboardItems)) {
        // A payload that cannot be decoded leaves the preview to go by.
        if (auto decoded = PastePayloadDecoder::decodeItems(*payload, blobFolder))
            entries = std::move(decoded).value();
    }
    std::optional<QVariantMap> preview;
    if (const auto bytes = blobColumn(row, PasteColumn::preview))
        preview = PastePayloadDecoder::decodePreview(*bytes);
    return PastePayloadDecoder::makeContent(itemTypeColumn(row, PasteColumn::itemType), entries, preview);
}

PasteClip clipFromRow(sqlite3_stmt *row, ClipboardPayload::Content content, std::optional<QString> pinboard)
{
    PasteClip clip{std::move(content), {}, {}, {}, std::move(pinboard), {}};
    if (const auto created = dateColumn(row, PasteColumn::createdAt))
        clip.createdAt = *created;
    else if (const auto stamped = dateColumn(row, PasteColumn::timestamp))
        clip.createdAt = *stamped;
    else
        clip.createdAt = QDateTime::currentDateTimeUtc();
    clip.sourceAppName = textColumn(row, PasteColumn::appName);
    clip.sourceBundleID = textColumn(row, PasteColumn::bundleIdentifier);
    if (const auto title = textColumn(row, PasteColumn::title))
        clip.title = nonEmpty(title->trimmed());
    return clip;
}

} // namespace

std::optional<QString> PasteDatabaseReader::locateDatabase() const
{
    return ::locateDatabase(m_folder);
}

Expected<ReadOutcome, PasteReadFailure> PasteDatabaseReader::readClips(std::optional<qint64> limit,
                                                                       const CancelCheck &isCancelled,
                                                                       const ProgressHandler &progress,
                                                                       const ClipHandler &onClip) const
{
    const std::optional<QString> source = locateDatabase();
    if (!source)
        return unexpected(PasteReadFailure(PasteReadError::databaseNotFound()));
    const QString blobFolder = externalBlobFolder(*source);

    // Declared first, so the database and the statement are closed before it goes.
    PrivateDatabaseCopy copy;
    if (auto failed = copy.make(*source))
        return unexpected(PasteReadFailure(*failed));

    Database db;
    // Read-write without create: SQLite applies the copied write-ahead log to the copy.
    if (sqlite3_open_v2(QFile::encodeName(copy.databasePath()).constData(), &db.handle, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK
        || !db.handle) {
        const QString message = db.handle ? sqliteMessage(db.handle) : QStringLiteral("unknown error");
        return unexpected(PasteReadFailure(PasteReadError::cannotOpen(message)));
    }
    // The file is outside input: no schema-defined functions, no writes to its internals.
    sqlite3_db_config(db.handle, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.handle, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

    if (!hasTable(db.handle, "ZITEMENTITY"))
        return unexpected(PasteReadFailure(PasteReadError::unsupportedSchema()));
    PasteSchema schema;
    schema.hasList = hasTable(db.handle, "ZLISTENTITY");
    schema.hasApps = hasTable(db.handle, "ZAPPLICATIONENTITY");
    schema.hasData = hasTable(db.handle, "ZITEMDATAENTITY");
    for (const char *table : {"ZITEMENTITY", "ZLISTENTITY", "ZAPPLICATIONENTITY", "ZITEMDATAENTITY"}) {
        if (hasGeneratedColumns(db.handle, table))
            return unexpected(PasteReadFailure(PasteReadError::unsupportedSchema()));
    }

    const auto counted = scalarQuery(db.handle, "SELECT COUNT(*) FROM ZITEMENTITY");
    if (!counted)
        return unexpected(PasteReadFailure(counted.error()));
    ReadOutcome outcome;
    outcome.total = *counted;

    addStreamingIndexes(db.handle, schema);
    Statement items;
    if (sqlite3_prepare_v2(db.handle, pasteItemQuery(schema).constData(), -1, &items.handle, nullptr) != SQLITE_OK
        || !items.handle)
        return unexpected(PasteReadFailure(PasteReadError::query(sqliteMessage(db.handle))));

    outcome.cancelled = true;
    qint64 done = 0;
    qint64 historySeen = 0;
    if (isCancelled())
        return outcome;
    for (;;) {
        const int stepped = sqlite3_step(items.handle);
        if (stepped == SQLITE_DONE) {
            outcome.cancelled = false;
            break;
        }
        if (stepped != SQLITE_ROW)
            return unexpected(PasteReadFailure(PasteReadError::query(sqliteMessage(db.handle))));

        ++done;
        std::optional<QString> pinboard = pinboardOf(items.handle);
        // Pinboard items are kept whatever their age; only history counts against the limit.
        const bool isHistory = !pinboard;
        if (isHistory)
            ++historySeen;
        if (isHistory && limit && historySeen > *limit) {
            ++outcome.skippedBeyondLimit;
        } else if (auto content = decodeContent(items.handle, blobFolder)) {
            if (auto refused = onClip(clipFromRow(items.handle, std::move(*content), std::move(pinboard))))
                return unexpected(PasteReadFailure(*refused));
            ++outcome.delivered;
        } else {
            ++outcome.undecodable;
        }
        progress({done, outcome.total});
        if (isCancelled())
            break;
    }
    return outcome;
}
