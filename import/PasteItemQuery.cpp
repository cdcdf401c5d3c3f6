#include "import/PasteItemQuery.h"

QByteArray pasteItemQuery(const PasteSchema &schema)
{
    const QByteArray nextColumns = ",\n       ";
    QByteArray query = "SELECT i.ZRAWTYPE, i.ZCREATEDAT, i.ZTIMESTAMP, i.ZRAWPREVIEW, i.ZTITLE,\n       ";
    // An item may have several data rows; the latest one counts.
    query += schema.hasData
        ? "(SELECT d.ZRAWPASTEBOARDITEMS FROM ZITEMDATAENTITY d WHERE d.ZITEM = i.Z_PK ORDER BY d.Z_PK DESC LIMIT 1)"
        : "NULL";
    query += nextColumns;
    query += schema.hasApps ? "a.ZBUNDLEIDENTIFIER, a.ZNAME" : "NULL, NULL";
    query += nextColumns;
    query += schema.hasList ? "l.ZNAME, l.ZRAWTYPE" : "NULL, NULL";
    query += "\nFROM ZITEMENTITY i\n";
    // One row per key: a file whose keys are not unique must not repeat its items, once
    // for each application row and again for each list row with the key.
    if (schema.hasApps)
        query += "LEFT JOIN (SELECT Z_PK, ZBUNDLEIDENTIFIER, ZNAME FROM ZAPPLICATIONENTITY GROUP BY Z_PK) a "
                 "ON a.Z_PK = i.ZSOURCEAPPLICATION";
    query += "\n";
    if (schema.hasList)
        query += "LEFT JOIN (SELECT Z_PK, ZNAME, ZRAWTYPE FROM ZLISTENTITY GROUP BY Z_PK) l ON l.Z_PK = i.ZLIST";
    query += "\nORDER BY COALESCE(i.ZCREATEDAT, i.ZTIMESTAMP, 0) DESC, i.Z_PK DESC";
    return query;
}

QList<QByteArray> streamingIndexes(const PasteSchema &schema)
{
    // The expression is the query's ORDER BY term, written the same way so SQLite matches it.
    QList<QByteArray> statements = {"CREATE INDEX kestrelnote_item_order ON ZITEMENTITY "
                                    "(COALESCE(ZCREATEDAT, ZTIMESTAMP, 0), Z_PK)"};
    if (schema.hasData)
        statements.append("CREATE INDEX kestrelnote_item_data ON ZITEMDATAENTITY (ZITEM, Z_PK)");
    return statements;
}

QByteArray tableExistsQuery(const char *table)
{
    QByteArray query = "SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name='";
    query += table;
    query += "'";
    return query;
}
