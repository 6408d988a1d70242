#pragma once
// The transparent layer over the pages that shows feedback rather than
// document content: the mark being drawn, the text-markup preview, the
// selected mark's frame and handles, and the outline of the mark under the
// pointer (or the eraser's trail). It holds only what it is told to draw, in
// the coordinates of the widget it paints on, and never takes mouse events.
#include "QuarnKit/Markup/MarkupTool.h"

#include <QColor>
#include <QObject>
#include <QPainterPath>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QPainter;
class QWidget;

namespace quarn {

class MarkupOverlay : public QObject {
    Q_OBJECT

public:
    // The mark being drawn; for shapes the drag's start and current point.
    struct Stroke {
        quarnkit::MarkupTool tool = quarnkit::MarkupTool::pen;
        std::vector<QPointF> points;
        QColor color;
        double lineWidth = 1;
        bool filled = false;
    };
    // The text lines a highlight, underline or strike-through drag covers.
    struct TextLines {
        quarnkit::MarkupTool tool = quarnkit::MarkupTool::highlight;
        std::vector<QRectF> rects;
        QColor color;
        double weight = 1; // bar thickness of underline and strike-through
    };
    struct Selection {
        std::optional<QRectF> frame;
        std::optional<std::pair<QPointF, QPointF>> line;
        std::vector<QPointF> handles;
    };
    // The hovered mark's outline, or the eraser's trail over the mark it would take.
    struct Hover {
        std::optional<QRectF> outline;
        std::optional<QPainterPath> erase;
        double eraseWidth = 1.5;
    };

    // A note's text shown beside the note.
    struct Bubble {
        QRectF anchor; // the note's box
        QString text;
        QColor tint; // the note's colour
    };

    // Paints on `target` (made transparent to the mouse) above its own content.
    explicit MarkupOverlay(QWidget* target);

    std::optional<Stroke> stroke;
    std::optional<TextLines> textLines;
    std::optional<Selection> selection;
    std::optional<Hover> hover;
    std::optional<Bubble> bubble;

    // Called before each paint so the owner can bring the fields up to date:
    // what the view shows moves with scrolling and zooming.
    std::function<void()> beforePaint;

    void update();
    void paint(QPainter& painter) const;

    static constexpr double handleSize = 8;
    // Where a bubble of `size` opens beside `anchor` inside `area`: right of
    // the note, else left of it, top-aligned, kept 8 points inside the area.
    static QRectF bubbleRect(const QRectF& anchor, QSizeF size, const QRectF& area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> target_;
};

} // namespace quarn
