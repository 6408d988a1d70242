#pragma once
// Sentences the updater's window and status share.
#include "QuarnKit/Update/UpdateFeed.h"
#include "QuarnKit/Update/VersionNumber.h"

#include <QString>

namespace quarn::updatetexts {

// A release's minimum system is a C library version, so the sentence names
// it as one: "ravlen 2.0 needs glibc 2.38 or later."
inline QString needsNewerSystem(const QString& app, const quarnkit::UpdateFeed& feed)
{
    return app + u' ' + feed.version + QStringLiteral(" needs glibc ") + feed.minimumSystemVersion
           + QStringLiteral(" or later.");
}

// "This computer has Debian GNU/Linux 12 (bookworm) with glibc 2.36."
inline QString thisSystem(const QString& systemName, const quarnkit::OSVersion& system)
{
    return QStringLiteral("This computer has ") + systemName + QStringLiteral(" with glibc ")
           + quarnkit::SystemVersion::string(system) + u'.';
}

} // namespace quarn::updatetexts
