#pragma once
// Writing a PDF again in fewer bytes, through libqpdf: its objects packed into
// compressed object streams, every Flate stream compressed again (at zlib's
// highest level or its usual one, whichever gives the smaller file), and what
// nothing refers to left out. The pages, their
// content and the file's encryption stay as they were.
#include <QByteArray>

#include <string>

namespace platform::PdfCompaction {

// The compacted file, or `pdf` itself when libqpdf cannot read it, finds
// another number of pages in it than `pages`, or makes it no smaller.
// `password` opens an encrypted file (the owner's keeps every permission).
QByteArray compact(const QByteArray& pdf, int pages, const std::string& password = {});

} // namespace platform::PdfCompaction
