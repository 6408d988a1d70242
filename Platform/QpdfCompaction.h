#pragma once
// What the compaction library (libravlen-qpdf, with libqpdf) offers the
// platform layer, which loads it on first use. Never included outside
// Platform/.
#include "Platform/PdfObjectDigest.h"

#include <QByteArray>

#include <string>
#include <unordered_map>

namespace platform {

struct Compacted {
    QByteArray pdf; // empty when the file cannot be read or written again
    // What was meant to be written, for the read-back (PdfReadBack.h): each
    // object by the number it was written as, summed up with its references
    // renumbered so; and the file's encryption, kept.
    std::unordered_map<int, objectdigest::Digest> objects;
    bool encrypted = false;
    bool needsPassword = false;
};

struct QpdfCompaction {
    // The file written again by libqpdf; empty bytes when it cannot be read
    // or holds another number of pages than `pages`. Never throws.
    Compacted (*compact)(const QByteArray& pdf, int pages, const std::string& password);
};

} // namespace platform

// Returns the library's QpdfCompaction.
extern "C" const void* ravlenQpdfCompaction();
