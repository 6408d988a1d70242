#pragma once
// Page views of PDFs that no window holds, for the tests of the page view and
// of the parts it hosts.
#include "Platform/PdfDocument.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/TestSupport.h"

#include <QBackingStore>
#include <QColor>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// Shows `pdf` in `view` through a document of the view's own (a child of the
// view); none clears the view.
inline quarnkit::QuarnDocument* showPdf(quarn::QuarnPDFView& view, std::shared_ptr<platform::PdfDocument> pdf)
{
    auto* document = pdf ? new quarnkit::QuarnDocument(std::move(pdf), &view) : nullptr;
    view.load(document);
    return document;
}

// Moves the pointer over `widget` to `point` through its window, as the window
// system does. (QTest::mouseMove on a widget moves it with QCursor::setPos,
// which the offscreen platform misplaces on a scaled screen.)
inline void hover(QWidget* widget, QPoint point)
{
    QWidget* window = widget->window();
    QTest::mouseMove(window->windowHandle(), widget->mapTo(window, point));
}

// The device pixels per view pixel the tests run at: the QT_SCALE_FACTOR of
// their environment (a second run of the page view's tests sets 2), else 1.
inline double testPixelRatio()
{
    const double factor =
        qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1;
    return factor > 0 ? factor : 1;
}

// What a widget shows, grabbed at its device pixels and read at points of the
// widget (view pixels): at two device pixels per view pixel, a point covers four.
class Shot {
public:
    explicit Shot(QWidget& widget) : image_(widget.grab().toImage()) {}
    explicit Shot(QImage image) : image_(std::move(image)) {}
    // What the widget's window holds to show of it, in the window's device
    // pixels: its backing store, as painted last (null when it has none).
    static Shot fromWindow(QWidget& widget)
    {
        QWidget* window = widget.window();
        QBackingStore* store = window->backingStore();
        QPaintDevice* device = store ? store->paintDevice() : nullptr;
        if (!device || device->devType() != QInternal::Image) return Shot(QImage());
        const double ratio = window->devicePixelRatioF();
        const QRect part(widget.mapTo(window, QPoint(0, 0)) * ratio, widget.size() * ratio);
        QImage image = static_cast<QImage*>(device)->copy(part);
        image.setDevicePixelRatio(ratio);
        return Shot(image);
    }
    const QImage& image() const { return image_; }
    double ratio() const { return image_.devicePixelRatio(); }
    // The device pixel at the top left of a view point; invalid outside.
    QColor at(QPointF point) const
    {
        const QPoint pixel(int(std::floor(point.x() * ratio())), int(std::floor(point.y() * ratio())));
        return image_.rect().contains(pixel) ? image_.pixelColor(pixel) : QColor();
    }
    // The darkest grey level of the device pixels inside an area of view pixels.
    int darkest(const QRectF& area) const
    {
        const QRectF device(area.topLeft() * ratio(), area.size() * ratio());
        const QRect r = device.toAlignedRect().intersected(image_.rect());
        int result = 255;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) result = std::min(result, qGray(image_.pixel(x, y)));
        return result;
    }

private:
    QImage image_;
};

// One page of `cells` × `cells` squares of `side` points, each of its own
// colour (checkerboardColor), the first row at the top of the page.
inline QColor checkerboardColor(int column, int row)
{
    return QColor(column * 85, row * 85, (column + row) % 2 ? 255 : 0);
}
inline QByteArray makeCheckerboardPdf(int cells = 4, int side = 100)
{
    std::string content;
    for (int row = 0; row < cells; ++row)
        for (int column = 0; column < cells; ++column) {
            const QColor colour = checkerboardColor(column, row);
            const auto part = [](int value) { return std::to_string(value / 255.0); };
            content += part(colour.red()) + " " + part(colour.green()) + " " + part(colour.blue()) + " rg "
                       + std::to_string(column * side) + " " + std::to_string((cells - 1 - row) * side) + " "
                       + std::to_string(side) + " " + std::to_string(side) + " re f\n";
        }
    const std::string extent = std::to_string(cells * side);
    return writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + extent + " " + extent
                         + "] /Contents 4 0 R /Resources << >> >>",
                     pdfStream("", content)});
}

// The squares of a checkerboard page as the view shows them: how many show
// (in part), and those that do not show their colour where the view places
// them (within `tolerance` in each channel), read at their centre and near
// their corners; "column,row" each.
struct SquaresShown {
    int seen = 0;
    std::vector<std::string> misplaced;
};
inline SquaresShown checkSquares(const quarn::QuarnPDFView& view, const Shot& shot, int tolerance = 6, int cells = 4,
                                 int side = 100)
{
    SquaresShown result;
    const QRectF shown = QRectF(view.viewport()->rect()).adjusted(1, 1, -1, -1);
    for (int row = 0; row < cells; ++row)
        for (int column = 0; column < cells; ++column) {
            const QColor expected = checkerboardColor(column, row);
            bool right = true, seen = false;
            for (const auto& [fx, fy] : {std::pair{0.5, 0.5}, {0.15, 0.15}, {0.85, 0.15}, {0.15, 0.85}, {0.85, 0.85}}) {
                const platform::PdfPoint point{(column + fx) * side, (cells - row - fy) * side};
                const QPointF at = view.placement().convertFromPage(point, 0);
                if (!shown.contains(at)) continue;
                seen = true;
                const QColor got = shot.at(at);
                if (std::abs(got.red() - expected.red()) > tolerance
                    || std::abs(got.green() - expected.green()) > tolerance
                    || std::abs(got.blue() - expected.blue()) > tolerance)
                    right = false;
            }
            result.seen += seen;
            if (seen && !right) result.misplaced.push_back(std::to_string(column) + "," + std::to_string(row));
        }
    return result;
}

} // namespace testsupport
