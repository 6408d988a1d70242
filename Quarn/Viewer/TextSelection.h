#pragma once
// The selected text of one page view and the selections drawn in colours of
// their own (find's matches), as one of the view's interactions: a drag
// selects from character to character, a double click a word, Shift and a
// click extend the selection, Copy puts its words on the clipboard. The text
// of the pages last used is kept, read in reading order from the document.
#include "Quarn/Viewer/PageInteraction.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QColor>

#include <list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quarn {

class QuarnPDFView;

// A selection drawn in its own colour.
struct PageHighlight {
    quarnkit::PageSelection selection;
    QColor color;
};

class TextSelection : public PageInteraction {
public:
    explicit TextSelection(QuarnPDFView& view);
    ~TextSelection() override;

    const quarnkit::PageSelection& current() const { return selection_; }
    void set(const quarnkit::PageSelection& selection);
    void clear() { set({}); }
    // Puts the selected text on the clipboard; nothing without a selection.
    void copy() const;

    const std::vector<PageHighlight>& highlights() const { return highlights_; }
    void setHighlights(std::vector<PageHighlight> highlights);

    bool mousePress(QMouseEvent* event) override;
    bool mouseDoubleClick(QMouseEvent* event) override;
    bool mouseMove(QMouseEvent* event) override;
    bool mouseRelease(QMouseEvent* event) override;
    bool key(QKeyEvent* event) override;
    // The I-beam over text already read (hovering reads nothing).
    std::optional<Qt::CursorShape> cursor(QPointF viewportPoint) const override;
    void pagesRead(std::optional<int> page) override;
    void documentReplaced() override;
    void paint(QPainter& painter) override;

private:
    struct Char;
    struct PageChars;
    struct Anchor {
        int page = -1;
        int index = 0; // caret position in the page's characters, in reading order
    };

    const PageChars& charsOf(int page) const;
    std::optional<Anchor> charAt(QPointF viewportPoint, bool nearest) const;
    void selectBetween(const Anchor& from, const Anchor& to);
    void selectWordAt(QPointF viewportPoint);
    void paintSelection(QPainter& painter, const quarnkit::PageSelection& selection, const QColor& color) const;

    QuarnPDFView& view_;
    mutable std::list<std::pair<int, std::unique_ptr<PageChars>>> pages_; // front: most recent
    quarnkit::PageSelection selection_;
    std::vector<PageHighlight> highlights_;
    std::optional<Anchor> anchor_; // where the drag in progress started
    std::optional<Anchor> start_;  // where the current selection started
    bool selecting_ = false;
    QPointF pressPoint_;
};

} // namespace quarn
