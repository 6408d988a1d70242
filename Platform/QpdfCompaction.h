#pragma once
// What the compaction library (libravlen-qpdf, with libqpdf) offers the
// platform layer, which loads it on first use. Never included outside
// Platform/.
#include <QByteArray>

#include <string>

namespace platform {

struct QpdfCompaction {
    // The file written again by libqpdf, or empty bytes when it cannot be
    // read or holds another number of pages than `pages`. Never throws.
    QByteArray (*compact)(const QByteArray& pdf, int pages, const std::string& password);
};

} // namespace platform

// Returns the library's QpdfCompaction.
extern "C" const void* ravlenQpdfCompaction();
