#pragma once
// What windows read of a document's pages: their page objects, geometries,
// labels, links and pictures. The application reads pages only through here
// and the other parts of QuarnKit, never through the PDF layer.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QImage>
#include <QString>

#include <optional>
#include <vector>

namespace quarnkit {

// A page's boxes in user space, its rotation and the transform to its display space.
using PageGeometry = platform::PdfPageGeometry;
// A link on a page: an internal target or an external address.
using PageLink = platform::PdfLink;

namespace DocumentPages {

// Every page's object in order; empty while locked.
std::vector<PageId> ids(const QuarnDocument& document);
// One page's geometry, read afresh. Throws on a page that cannot be read.
PageGeometry geometry(const QuarnDocument& document, int page);
// Every page's geometry, none for a page whose object cannot be read. Before
// a long file's pages are all read, the first `first` pages are read and
// page 1 stands in for every other. Empty while locked.
std::vector<std::optional<PageGeometry>> geometries(const QuarnDocument& document, int first);
// Every page's label as the file names it ("iv", "A-1"), trimmed; empty
// where the file gives none, or one that only repeats the page's number.
std::vector<QString> labels(const QuarnDocument& document);
// Throws on a page that cannot be read.
std::vector<PageLink> links(const QuarnDocument& document, int page);
// The page drawn on the calling thread at `scale` pixels per point, on white.
// Throws on a page that cannot be read; null when it cannot be drawn.
QImage image(const QuarnDocument& document, int page, double scale);

} // namespace DocumentPages

} // namespace quarnkit
