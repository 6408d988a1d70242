#pragma once
// The selected text of one page view and the selections drawn in colours of
// their own (find's matches), as one of the view's interactions: a drag
// selects from character to character, a double click a word, Shift and a
// click extend the selection, Copy puts its words on the clipboard. The text
// of the pages last used is kept, read in reading order from the document on
// a render worker: a gesture on a page whose text has not come yet takes
// effect when it comes.
#include "Quarn/Viewer/PageInteraction.h"
#include "QuarnKit/Markup/PageText.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QColor>

#include <functional>
#include <list>
#include <map>
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

    // Runs on the worker before it reads a page's text (tests hold it there).
    std::function<void()> workerHook;

private:
    struct Char;
    struct PageChars;
    struct Anchor {
        int page = -1;
        int index = 0; // caret position in the page's characters, in reading order
    };
    // A point on a page, in the page's own coordinates: it stays put while
    // the view scrolls.
    struct PagePoint {
        int page = -1;
        platform::PdfPoint point;
    };

    // The page's text, or null while a worker reads it (asked for here).
    const PageChars* charsOf(int page) const;
    void accept(int page, quint64 reading, const quarnkit::PageTextLayout& text);
    std::optional<PagePoint> pointAt(QPointF viewportPoint, bool nearest) const;
    // The caret nearest the point; none while the page's text is being read.
    std::optional<Anchor> charAt(const PagePoint& at, bool nearest) const;
    // Carries out what waits for text: the press's anchor, the drag's end, the word.
    void resume();
    // False while the text of a page it spans is still being read.
    bool selectBetween(const Anchor& from, const Anchor& to);
    void selectTo(const PagePoint& end);
    void selectWordAt(const PagePoint& at);
    // A gesture starts: forgets what the last one waited for, and the text
    // of pages it no longer needs.
    void startGesture();
    void paintSelection(QPainter& painter, const quarnkit::PageSelection& selection, const QColor& color) const;

    QuarnPDFView& view_;
    mutable std::list<std::pair<int, std::unique_ptr<PageChars>>> pages_; // front: most recent
    mutable std::map<int, quint64> reading_;                              // pages a worker reads, by reading
    mutable quint64 readings_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // its end drops the text still coming
    // What waits for a page's text: the press to anchor, the drag's end, the word clicked twice.
    std::optional<PagePoint> pressAt_;
    std::optional<PagePoint> dragTo_;
    std::optional<PagePoint> wordAt_;
    quarnkit::PageSelection selection_;
    std::vector<PageHighlight> highlights_;
    std::optional<Anchor> anchor_; // where the drag in progress started
    std::optional<Anchor> start_;  // where the current selection started
    bool selecting_ = false;
    QPointF pressPoint_;
};

} // namespace quarn
