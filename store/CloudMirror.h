#pragma once

#include <QString>

// Whether this build can mirror the store to a cloud database. No mirror exists in this
// build: the store stays local, with history tracking and remote-change notices still on.
namespace cloudmirror {

inline const QString containerIdentifier = QStringLiteral("iCloud.com.marrowfieldco.kestrelnote");

constexpr bool isAvailable()
{
#ifdef KESTRELNOTE_CLOUD_MIRROR
    return true;
#else
    return false;
#endif
}

} // namespace cloudmirror
