#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// How X selection targets map onto the clipboard's MIME type names.
namespace ClipboardTargets {

// Protocol targets such as TARGETS, MULTIPLE or SAVE_TARGETS are all upper case; they are
// not types of the contents.
bool isProtocolTarget(const QByteArray &target);

// The types that a list of offered targets stands for, in the owner's order: protocol
// targets dropped, UTF8_STRING read as "text/plain;charset=utf-8", STRING as "text/plain".
QStringList typesForTargets(const QList<QByteArray> &targets);

// The offered target to ask for a type, or empty when the contents do not offer it.
QByteArray targetForType(const QString &type, const QList<QByteArray> &offered);

// Bytes as delivered for a target, in the encoding the type promises (STRING is Latin-1,
// every text type we hand out is UTF-8).
QByteArray toTypeEncoding(const QByteArray &bytes, const QByteArray &target);

} // namespace ClipboardTargets
