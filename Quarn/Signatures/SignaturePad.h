#pragma once
// The drawing surface of the signature sheet: takes mouse or pen strokes and
// shows them as smoothed ink while they are drawn. Strokes are kept in the
// pad's own points with y growing upwards, as SignatureInk::drawn takes them.
//
// While a stroke is drawn, Qt's compression of high-frequency mouse and
// tablet events is off, so that every intermediate position arrives; the
// application's settings are put back when the stroke ends or the pad goes.
#include "QuarnKit/Signatures/Signature.h"

#include <QPainterPath>
#include <QWidget>

#include <optional>
#include <vector>

namespace quarn {

class SignaturePad : public QWidget {
    Q_OBJECT
public:
    explicit SignaturePad(QWidget* parent = nullptr);
    ~SignaturePad() override;

    const quarnkit::InkStrokes& strokes() const { return strokes_; }
    // Takes strokes from outside (emptying clears the pad); the display is
    // rebuilt only when they differ from the pad's own. Emits nothing.
    void setStrokes(const quarnkit::InkStrokes& strokes);
    bool isDrawing() const { return current_.has_value(); }

    // A pad point: the widget point in the pad's y-up space, kept the pen's
    // width inside the edges.
    platform::PdfPoint padPoint(QPointF widgetPoint) const;
    // The display path of a stroke (widget space), smoothed as a saved signature is.
    QPainterPath path(const std::vector<platform::PdfPoint>& stroke) const;

signals:
    // After each finished stroke, with all strokes.
    void strokeFinished(const quarnkit::InkStrokes& strokes);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void beginCompressionPause();
    void endCompressionPause();
    void rebuildPaths();
    // Abandons a stroke in progress (the pad closing mid-stroke).
    void dropStroke();

    quarnkit::InkStrokes strokes_;
    std::vector<QPainterPath> finished_;
    std::optional<std::vector<platform::PdfPoint>> current_;
    // The application's settings saved at mouse-down, while they are changed.
    std::optional<std::pair<bool, bool>> savedCompression_;
};

} // namespace quarn
