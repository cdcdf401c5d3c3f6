#pragma once

// Builds Paste-like databases for the tests: the four tables the object store would have
// written (ZITEMENTITY, ZITEMDATAENTITY, ZAPPLICATIONENTITY, ZLISTENTITY), in a real
// SQLite file. Column values are QVariants so that a test can put any type anywhere:
// invalid = NULL, QByteArray = blob, QString = text, double = real, integers = integer.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QFileInfo>
#include <QVariant>

#include "PasteBlobs.h"

#include <sqlite3.h>

class PasteDatabaseBuilder
{
public:
    enum Table { Items = 1, Data = 2, Apps = 4, Lists = 8, AllTables = 15 };

    explicit PasteDatabaseBuilder(const QString &path, int tables = AllTables, bool wal = true)
    {
        QDir().mkpath(QFileInfo(path).path());
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            qFatal("cannot create %s", qPrintable(path));
        if (wal)
            exec("PRAGMA journal_mode=WAL");
        static const std::pair<Table, const char *> schema[] = {
            {Items, "CREATE TABLE ZITEMENTITY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZRAWTYPE INTEGER, "
                    "ZCREATEDAT TIMESTAMP, ZTIMESTAMP TIMESTAMP, ZRAWPREVIEW BLOB, ZTITLE VARCHAR, ZLIST INTEGER, "
                    "ZSOURCEAPPLICATION INTEGER)"},
            {Data, "CREATE TABLE ZITEMDATAENTITY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZITEM INTEGER, "
                   "ZRAWPASTEBOARDITEMS BLOB)"},
            {Apps, "CREATE TABLE ZAPPLICATIONENTITY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                   "ZBUNDLEIDENTIFIER VARCHAR, ZNAME VARCHAR)"},
            {Lists, "CREATE TABLE ZLISTENTITY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNAME VARCHAR, "
                    "ZRAWTYPE INTEGER)"},
        };
        for (const auto &[table, sql] : schema) {
            if (tables & table)
                exec(sql);
        }
    }

    ~PasteDatabaseBuilder() { close(); }

    // Closes the file; with keepLog the write-ahead log keeps what was written since the
    // last checkpoint instead of being folded into the database.
    void close(bool keepLog = false)
    {
        if (!m_db)
            return;
        if (keepLog)
            sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_close(m_db);
        m_db = nullptr;
    }

    // Stops automatic checkpoints, so that what follows stays in the -wal file.
    void holdInLog() { exec("PRAGMA wal_autocheckpoint=0"); }

    void exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const QByteArray message(error ? error : "?");
            sqlite3_free(error);
            qFatal("%s: %s", sql, message.constData());
        }
    }

    void begin() { exec("BEGIN"); }
    void commit() { exec("COMMIT"); }

    qint64 addApp(const QVariant &bundle, const QVariant &name)
    {
        return insert("INSERT INTO ZAPPLICATIONENTITY (Z_ENT, Z_OPT, ZBUNDLEIDENTIFIER, ZNAME) VALUES (1, 1, ?, ?)",
                      {bundle, name});
    }

    qint64 addList(const QVariant &name, const QVariant &type = 2)
    {
        return insert("INSERT INTO ZLISTENTITY (Z_ENT, Z_OPT, ZNAME, ZRAWTYPE) VALUES (2, 1, ?, ?)", {name, type});
    }

    struct Item {
        QVariant type = 0;
        QVariant createdAt;      // seconds since 2001, or anything
        QVariant timestamp;
        QVariant preview;        // the preview record's bytes
        QVariant title;
        QVariant list;           // a list's key
        QVariant app;            // an application's key
        QVariant pasteboard;     // one data row with these bytes; invalid: none
        QVariant key;            // the item's own key; invalid: the next one
    };

    qint64 addItem(const Item &item)
    {
        const qint64 key = insert("INSERT INTO ZITEMENTITY (Z_PK, Z_ENT, Z_OPT, ZRAWTYPE, ZCREATEDAT, ZTIMESTAMP, "
                                  "ZRAWPREVIEW, ZTITLE, ZLIST, ZSOURCEAPPLICATION) VALUES (?, 3, 1, ?, ?, ?, ?, ?, ?, ?)",
                                  {item.key, item.type, item.createdAt, item.timestamp, item.preview, item.title,
                                   item.list, item.app});
        if (item.pasteboard.isValid())
            addData(key, item.pasteboard);
        return key;
    }

    // Texts "<prefix>0", "<prefix>1", ... a second apart, newest first, in one transaction;
    // every `pinEvery`-th (counting from 1) on the list `pinboard`.
    void addTexts(int count, const QString &prefix, const QVariant &pinboard = {}, int pinEvery = 0)
    {
        begin();
        for (int i = 0; i < count; ++i) {
            Item item;
            item.createdAt = 100000.0 - i;
            item.pasteboard = pasteblob::textArchive(prefix + QString::number(i));
            if (pinEvery > 0 && i % pinEvery == pinEvery - 1)
                item.list = pinboard;
            addItem(item);
        }
        commit();
    }

    qint64 addData(qint64 itemKey, const QVariant &blob)
    {
        return insert("INSERT INTO ZITEMDATAENTITY (Z_ENT, Z_OPT, ZITEM, ZRAWPASTEBOARDITEMS) VALUES (4, 1, ?, ?)",
                      {itemKey, blob});
    }

private:
    qint64 insert(const char *sql, const QVariantList &values)
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
            qFatal("%s: %s", sql, sqlite3_errmsg(m_db));
        for (int i = 0; i < values.size(); ++i)
            bind(statement, i + 1, values.at(i));
        if (sqlite3_step(statement) != SQLITE_DONE)
            qFatal("%s: %s", sql, sqlite3_errmsg(m_db));
        sqlite3_finalize(statement);
        return sqlite3_last_insert_rowid(m_db);
    }

    static void bind(sqlite3_stmt *statement, int index, const QVariant &value)
    {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            sqlite3_bind_null(statement, index);
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            sqlite3_bind_blob64(statement, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QString: {
            const QByteArray text = value.toString().toUtf8();
            sqlite3_bind_text64(statement, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
            break;
        }
        case QMetaType::Double:
            sqlite3_bind_double(statement, index, value.toDouble());
            break;
        default:
            sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        }
    }

    sqlite3 *m_db = nullptr;
};
