#include "import/PasteReadError.h"

QString PasteReadError::localizedDescription() const
{
    switch (code) {
    case Code::cannotOpen:
        return QStringLiteral("Couldn't open Paste's database: ") + message;
    case Code::query:
        return QStringLiteral("Couldn't read Paste's database: ") + message;
    case Code::databaseNotFound:
        return QStringLiteral("That folder doesn't contain Paste's database (db.sqlite).");
    case Code::unsupportedSchema:
        return QStringLiteral("This Paste database uses a format Kestrelnote can't read (Paste 3 or newer is required).");
    }
    return QString();
}

QString localizedDescription(const PasteReadFailure &failure)
{
    if (const auto *error = std::get_if<PasteReadError>(&failure))
        return error->localizedDescription();
    if (const auto *error = std::get_if<FileSystemError>(&failure))
        return error->description;
    return std::get<ClipError>(failure).description;
}
