#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where Paste keeps its data, and what lies inside the data folder.

// The user's real home (from the password database, not $HOME), then Paste's data folder.
QString defaultPasteFolder();

// The database file names tried in a data folder, in order.
const QStringList &pasteDatabaseFileNames();

// The first of the database file names that exists in the folder; none when neither does.
std::optional<QString> locateDatabase(const QString &folder);

// Where the object store keeps values too large for the database, beside it:
// ".<name without extension>_SUPPORT/_EXTERNAL_DATA" (.db_SUPPORT for db.sqlite).
QString externalBlobFolder(const QString &databasePath);
