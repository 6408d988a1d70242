#pragma once
// A whole page drawn to fit a pixel size on a render worker, as the exporter
// draws it (the slideshow's page). The page is recorded and drawn on the
// worker and the image comes back on the application's thread: nothing here
// waits for the render.
#include "QuarnKit/Document/QuarnDocument.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QSizeF>

#include <functional>
#include <optional>

namespace quarnkit {

// Called on the application's thread with the page fitted into the pixels,
// its shape kept; null when the page cannot be drawn or has no size.
using FittedPageDone = std::function<void(const QImage&)>;

// Starts drawing page `page` of `document` to fit `pixels`. `done` is
// dropped when `context` has gone by the time the image is ready; the
// worker keeps the PDF it reads, so the document may go meanwhile.
void renderFittedPage(const QuarnDocument& document, int page, QSize pixels, QObject* context, FittedPageDone done);

// Called on the application's thread with the page's size as it is shown (its
// display box, turned), in points; none when the page has none or cannot be read.
using DrawnSizeDone = std::function<void(std::optional<QSizeF>)>;

// Reads the shown size of page `page` on a render worker, for laying out
// around the page before it is drawn. `done` is dropped as above.
void readDrawnSize(const QuarnDocument& document, int page, QObject* context, DrawnSizeDone done);

} // namespace quarnkit
