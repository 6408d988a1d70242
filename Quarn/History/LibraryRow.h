#pragma once
// One row of a library list (History or Explore): a thumbnail, the
// title, the folder, a line of details and, under them, optional links. The
// rows are drawn by the lists' delegates from this value; the geometry here
// is what both the drawing and the clicks use.
#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

namespace quarn {

struct LibraryRowLink {
    QString title;
    QColor tint;
};

struct LibraryRowData {
    QString title;
    QString folder;
    QString detail;                    // empty: no third line
    QString path;                      // the file behind the thumbnail; empty shows the placeholder
    std::optional<QDateTime> version;  // versions the thumbnail
    bool dimmed = false;               // unavailable: fainter, a question mark for a picture
    bool current = false;              // the document this window shows
    std::vector<LibraryRowLink> links; // under the text lines
};

// How a row is drawn beyond its data, as the list eases it.
struct LibraryRowLook {
    double lit = 0;            // how strongly the hover fill shows, 0 … 1
    QImage thumbnail;          // null: the placeholder
    double pictureShown = 1;   // how far the picture has come in over the placeholder, 0 … 1
    std::vector<double> links; // how lit each link is, 0 … 1; missing ones are not
};

namespace LibraryRow {

inline constexpr int thumbnailWidth = 36;
inline constexpr int thumbnailHeight = 46;

// The row's height, padding included.
int height(const LibraryRowData& row);
// Where each link stands when the row is drawn in `rect`.
std::vector<QRectF> linkRects(const QRectF& rect, const LibraryRowData& row);
// Draws the row in `rect`.
void paint(QPainter& painter, const QRectF& rect, const LibraryRowData& row, const LibraryRowLook& look);
// The 36 × 46 picture: the first page on a dark plate, else "doc" (or
// "questionmark" when dimmed); `shown` of the way from the placeholder to the page.
void paintThumbnail(QPainter& painter, const QRectF& frame, const QImage& image, bool dimmed, double shown = 1);
// The side of the square the thumbnail is drawn to fit, in pixels at `scale`.
int thumbnailPixels(double scale);

} // namespace LibraryRow

} // namespace quarn
