#include "Quarn/Signatures/SignaturePad.h"

#include "QuarnKit/Signatures/SignatureInk.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace quarn {

using platform::PdfPoint;
namespace SignatureInk = quarnkit::SignatureInk;

namespace {
constexpr double inset = SignatureInk::padPenWidth; // points stay the pen's width inside the edges
constexpr double minimumStep = 0.4;                 // closer points add nothing to the ink
constexpr double displayStep = 1.2;                 // the smoothing of the shown and the saved ink
} // namespace

SignaturePad::SignaturePad(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMouseTracking(false);
    setAccessibleName(tr("Signature pad"));
}

SignaturePad::~SignaturePad() { endCompressionPause(); }

void SignaturePad::setStrokes(const quarnkit::InkStrokes& strokes)
{
    if (strokes == strokes_) return;
    strokes_ = strokes;
    rebuildPaths();
}

PdfPoint SignaturePad::padPoint(QPointF widgetPoint) const
{
    const double w = width(), h = height();
    const double x = std::clamp(widgetPoint.x(), inset, std::max(inset, w - inset));
    const double y = std::clamp(h - widgetPoint.y(), inset, std::max(inset, h - inset));
    return {x, y};
}

QPainterPath SignaturePad::path(const std::vector<PdfPoint>& stroke) const
{
    QPainterPath result;
    const std::vector<PdfPoint> smooth = SignatureInk::smooth(stroke, displayStep);
    const double h = height();
    for (size_t i = 0; i < smooth.size(); ++i) {
        const QPointF at(smooth[i].x, h - smooth[i].y);
        if (i == 0) result.moveTo(at);
        else result.lineTo(at);
    }
    return result;
}

void SignaturePad::rebuildPaths()
{
    finished_.clear();
    for (const auto& stroke : strokes_) finished_.push_back(path(stroke));
    update();
}

// ---------------------------------------------------------------- event compression

void SignaturePad::beginCompressionPause()
{
    if (savedCompression_) return;
    savedCompression_ = {QCoreApplication::testAttribute(Qt::AA_CompressHighFrequencyEvents),
                         QCoreApplication::testAttribute(Qt::AA_CompressTabletEvents)};
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
}

void SignaturePad::endCompressionPause()
{
    if (!savedCompression_) return;
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, savedCompression_->first);
    QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, savedCompression_->second);
    savedCompression_.reset();
}

// ---------------------------------------------------------------- strokes

void SignaturePad::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    beginCompressionPause();
    current_ = std::vector<PdfPoint>{padPoint(event->position())};
    update();
}

void SignaturePad::mouseMoveEvent(QMouseEvent* event)
{
    if (!current_) return;
    const PdfPoint at = padPoint(event->position());
    const PdfPoint& last = current_->back();
    if (std::hypot(at.x - last.x, at.y - last.y) < minimumStep) return;
    current_->push_back(at);
    update();
}

void SignaturePad::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    endCompressionPause();
    if (!current_) return;
    // A click without movement stays as a one-point stroke: a dot.
    strokes_.push_back(std::move(*current_));
    current_.reset();
    rebuildPaths();
    emit strokeFinished(strokes_);
}

void SignaturePad::dropStroke()
{
    endCompressionPause();
    if (!current_) return;
    current_.reset();
    update();
}

void SignaturePad::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    dropStroke();
}

void SignaturePad::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    rebuildPaths(); // the paths are flipped about the height
}

void SignaturePad::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(
        QPen(SignatureInk::color.toQColor(), SignatureInk::padPenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (const QPainterPath& stroke : finished_) p.drawPath(stroke);
    if (current_) p.drawPath(path(*current_));
}

} // namespace quarn
