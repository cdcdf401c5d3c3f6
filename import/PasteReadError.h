#pragma once

#include <QString>

#include <variant>

// Why Paste's database could not be read, as the user is told.
struct PasteReadError {
    enum class Code {
        cannotOpen,        // SQLite's message
        query,             // SQLite's message
        databaseNotFound,
        unsupportedSchema,
    };

    Code code;
    QString message; // SQLite's message for cannotOpen and query; empty otherwise

    static PasteReadError cannotOpen(const QString &message) { return {Code::cannotOpen, message}; }
    static PasteReadError query(const QString &message) { return {Code::query, message}; }
    static PasteReadError databaseNotFound() { return {Code::databaseNotFound, {}}; }
    static PasteReadError unsupportedSchema() { return {Code::unsupportedSchema, {}}; }

    QString localizedDescription() const;
    bool operator==(const PasteReadError &) const = default;
};

// The private copy of the database could not be made: the file system's own reason.
struct FileSystemError {
    QString description;
    bool operator==(const FileSystemError &) const = default;
};

// The caller's per-clip step refused a clip; the read stops with its reason.
struct ClipError {
    QString description;
    bool operator==(const ClipError &) const = default;
};

using PasteReadFailure = std::variant<PasteReadError, FileSystemError, ClipError>;

// The text shown to the user for any of them.
QString localizedDescription(const PasteReadFailure &failure);
