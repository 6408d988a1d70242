#pragma once
// What a screen reader meets of a page view: a document named after the page
// being read ("Page 3 of 14"), whose text is that page's, read by characters,
// words and lines, with the caret where the reading position is (the first
// line shown). The text comes from the text layer that find and selection
// use, read on a render worker: the UI thread never waits for it. Until it
// comes the document reads as empty, then the reader hears that it came. A
// page with no text that draws an image (a scan) is described as an image.
// Pages are read, and their texts kept, only while a reader is listening
// (QAccessible is active): without one the text costs nothing, and what was
// kept goes when the reader leaves.
#include "Quarn/Viewer/PageInteraction.h"
#include "QuarnKit/Viewer/ReadableText.h"

#include <QAccessible>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <utility>

namespace quarn {

class QuarnPDFView;

class PageAccessibility : public PageInteraction, private QAccessible::ActivationObserver {
public:
    explicit PageAccessibility(QuarnPDFView& view);
    ~PageAccessibility() override;

    // "Page 3 of 14"; "No pages" without one.
    QString name() const;
    // What the page is when it has no text to read: a scanned page's image.
    QString description() const;
    // The page whose text is read: the view's current page, -1 without one.
    int page() const { return page_; }
    // That page's text; empty while a worker reads it (asked for here).
    const quarnkit::ReadableText& text() const;
    // Where the reader's caret stands in the text.
    int caret() const { return caret_; }
    void setCaret(int offset);
    // A character's rectangle on the screen; empty for a line break.
    QRect characterRect(int offset) const;
    // The character drawn at a point of the screen; -1 over blank space.
    int offsetAt(QPoint screenPoint) const;

    void documentReplaced() override;
    void pagesRead(std::optional<int> page) override;
    void viewMoved() override;

    // Whether a reader listens; the kept texts of pages, the one shown among them.
    bool listening() const { return listening_; }
    int keptTexts() const { return int(pages_.size()); }

    // Expires with this object.
    std::weak_ptr<int> lifetime() const { return alive_; }

    // Runs on the worker before it reads a page's text (tests hold it there).
    std::function<void()> workerHook;

private:
    using Text = std::shared_ptr<const quarnkit::ReadableText>;
    void accessibilityActiveChanged(bool active) override;
    // Follows the view to its current page: its name, its text and the caret.
    void follow();
    // The kept text of `page`, or none.
    Text kept(int page) const;
    void read(int page) const;
    void accept(int page, quint64 reading, Text text);
    // Shows `text` as the page's (none: empty until it comes), telling the reader.
    void show(Text text);
    // The caret at the reading position: the first character shown.
    int readingCaret() const;
    void moveCaret(int offset);

    QuarnPDFView& view_;
    bool listening_ = QAccessible::isActive();
    int page_ = -1;
    Text text_;
    int caret_ = 0;
    mutable std::list<std::pair<int, Text>> pages_;          // kept texts, the latest first
    mutable std::optional<std::pair<int, quint64>> reading_; // the page a worker reads
    mutable quint64 readings_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // its end drops a text still coming
};

} // namespace quarn
