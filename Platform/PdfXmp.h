#pragma once
// The document's XMP metadata packet: the catalog's /Metadata stream, which
// readers show beside (or before) the Info dictionary's entries.
#include "Platform/PdfDocument.h"

#include <QByteArray>

#include <optional>

namespace platform::PdfXmp {

// The packet's bytes, decoded; none when the catalog has no metadata stream.
// Throws PdfError.
std::optional<QByteArray> read(const PdfDocument& doc);
// Replaces the bytes of the existing metadata stream, stored uncompressed as
// XMP readers expect; false, and nothing written, when there is none.
// Throws PdfError.
bool write(PdfDocument& doc, const QByteArray& packet);

} // namespace platform::PdfXmp
