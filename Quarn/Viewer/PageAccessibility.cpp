#include "Quarn/Viewer/PageAccessibility.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Viewer/PagePlacement.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/PageText.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QCoreApplication>

#include <algorithm>

namespace quarn {

namespace {

constexpr int keptPages = 4;

// The page view as a reader's document: the text interface over the page
// being read, the rest as for any widget (its scroll bars and the editors
// over its pages are its children).
class PageViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit PageViewAccessible(QuarnPDFView* view) : QAccessibleWidget(view, QAccessible::Document) {}

    QuarnPDFView* view() const { return static_cast<QuarnPDFView*>(widget()); }
    // What the view reads out; none while the view is being built or taken down.
    PageAccessibility* page() const
    {
        if (const auto alive = lifetime_.lock()) return &view()->interactions().accessibility();
        if (bound_ || !view() || !view()->interactionsMade()) return nullptr;
        lifetime_ = view()->interactions().accessibility().lifetime();
        bound_ = true; // from now on it answers only while that lives
        return &view()->interactions().accessibility();
    }
    const quarnkit::ReadableText& readable() const
    {
        static const quarnkit::ReadableText none;
        return page() ? page()->text() : none;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty() && page()) return page()->name();
        if (t == QAccessible::Description && page() && !page()->description().isEmpty()) return page()->description();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        return state;
    }

    // The text's own selection is not told: the selection on the page is
    // the view's, and Copy puts it on the clipboard.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}

    int cursorPosition() const override { return page() ? page()->caret() : 0; }
    void setCursorPosition(int position) override
    {
        if (page()) page()->setCaret(position);
    }
    // Qt finds characters, words, sentences and lines in this text by its
    // own rules: each line ends at a line break of the page's layout.
    int characterCount() const override { return readable().size(); }
    QString text(int start, int end) const override
    {
        const QString& all = readable().text();
        if (end < 0 || end > all.size()) end = int(all.size());
        start = std::clamp(start, 0, end);
        return all.mid(start, end - start);
    }
    QRect characterRect(int offset) const override { return page() ? page()->characterRect(offset) : QRect(); }
    int offsetAtPoint(const QPoint& point) const override { return page() ? page()->offsetAt(point) : -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    mutable std::weak_ptr<int> lifetime_;
    mutable bool bound_ = false;
};

// Where a scroll area draws (the view's pages, the words of a note or of a
// field of several lines typed over them): Qt tells it focused with the
// area, whose keys it hands on, and a reader would meet two objects focused.
class ViewportAccessible : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = false;
        return state;
    }
};

bool isViewport(const QObject* object)
{
    const auto* area = object ? qobject_cast<const QAbstractScrollArea*>(object->parent()) : nullptr;
    return area && area->viewport() == object;
}

// Asked with the most derived class name first.
QAccessibleInterface* pageViewAccessible(const QString& className, QObject* object)
{
    if (isViewport(object)) return new ViewportAccessible(static_cast<QWidget*>(object));
    auto* view = qobject_cast<QuarnPDFView*>(object);
    return view && className == QLatin1String(QuarnPDFView::staticMetaObject.className()) ? new PageViewAccessible(view)
                                                                                          : nullptr;
}

} // namespace

PageAccessibility::PageAccessibility(QuarnPDFView& view) : view_(view)
{
    static const bool installed = (QAccessible::installFactory(pageViewAccessible), true);
    Q_UNUSED(installed);
    remakeAccessible<ViewportAccessible>(view.viewport());
    QAccessible::installActivationObserver(this);
}

PageAccessibility::~PageAccessibility() { QAccessible::removeActivationObserver(this); }

void PageAccessibility::accessibilityActiveChanged(bool active)
{
    if (active == listening_) return;
    listening_ = active;
    if (active) {
        if (page_ >= 0 && !text_ && !reading_) read(page_);
        return;
    }
    // The reader left: nothing is read or kept for it any more.
    pages_.clear();
    reading_.reset();
    show(nullptr);
}

QString PageAccessibility::name() const
{
    const int count = view_.pageCount();
    if (page_ < 0 || count == 0) return QCoreApplication::translate("PageAccessibility", "No pages");
    return QCoreApplication::translate("PageAccessibility", "Page %1 of %2").arg(page_ + 1).arg(count);
}

QString PageAccessibility::description() const
{
    if (!text_ || !text_->isImageOnly()) return {};
    return QCoreApplication::translate("PageAccessibility", "This page is an image, with no text to read.");
}

const quarnkit::ReadableText& PageAccessibility::text() const
{
    static const quarnkit::ReadableText none;
    if (text_) return *text_;
    // Asked before the text came: a worker reads it, and the reader hears when it comes.
    if (page_ >= 0 && !reading_ && listening_) read(page_);
    return none;
}

PageAccessibility::Text PageAccessibility::kept(int page) const
{
    for (auto it = pages_.begin(); it != pages_.end(); ++it)
        if (it->first == page) {
            pages_.splice(pages_.begin(), pages_, it);
            return it->second;
        }
    return nullptr;
}

void PageAccessibility::read(int page) const
{
    const quarnkit::QuarnDocument* document = view_.quarnDocument();
    if (!document || page < 0 || page >= document->pageCount()) return;
    const quint64 reading = ++readings_;
    reading_ = {page, reading};
    auto* self = const_cast<PageAccessibility*>(this);
    // Put in reading order on the worker too: a long page takes a while.
    quarnkit::PageText::readOnWorker(
        *document, page, alive_,
        [self, page, reading](quarnkit::PageTextLayout&& layout) -> std::function<void()> {
            auto text = std::make_shared<const quarnkit::ReadableText>(layout);
            return [self, page, reading, text] { self->accept(page, reading, text); };
        },
        workerHook);
}

void PageAccessibility::accept(int page, quint64 reading, Text text)
{
    // A page read again since (an edit), another page or another document: stale.
    if (!reading_ || *reading_ != std::pair(page, reading)) return;
    reading_.reset();
    pages_.emplace_front(page, text);
    while (int(pages_.size()) > keptPages) pages_.pop_back();
    if (page == page_) show(std::move(text));
}

void PageAccessibility::show(Text text)
{
    const QString before = text_ ? text_->text() : QString();
    const QString described = description();
    text_ = std::move(text);
    caret_ = readingCaret();
    if (description() != described) {
        QAccessibleEvent redescribed(&view_, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&redescribed);
    }
    const QString after = text_ ? text_->text() : QString();
    if (before == after) return;
    if (before.isEmpty()) {
        QAccessibleTextInsertEvent inserted(&view_, 0, after);
        QAccessible::updateAccessibility(&inserted);
    } else if (after.isEmpty()) {
        QAccessibleTextRemoveEvent removed(&view_, 0, before);
        QAccessible::updateAccessibility(&removed);
    } else {
        QAccessibleTextUpdateEvent updated(&view_, 0, before, after);
        QAccessible::updateAccessibility(&updated);
    }
    QAccessibleTextCursorEvent moved(&view_, caret_);
    QAccessible::updateAccessibility(&moved);
}

void PageAccessibility::follow()
{
    const int page = view_.currentPageIndex();
    if (page == page_) return;
    page_ = page;
    QAccessibleEvent renamed(&view_, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    Text text = kept(page);
    if (!text && page >= 0) {
        if (reading_ && reading_->first != page) reading_.reset(); // that page is left
        // Read at once for a reader that listens.
        if (!reading_ && listening_) read(page);
    }
    show(std::move(text));
}

int PageAccessibility::readingCaret() const
{
    if (!text_ || page_ < 0) return 0;
    const PagePlacement& placement = view_.placement();
    // The first character whose middle is not above the top of the view.
    for (int i = 0; i < text_->size(); ++i)
        if (const auto box = text_->box(i); box && placement.convertFromPage(*box, page_).center().y() >= 0) return i;
    return text_->size();
}

void PageAccessibility::setCaret(int offset) { caret_ = std::clamp(offset, 0, text_ ? text_->size() : 0); }

void PageAccessibility::moveCaret(int offset)
{
    if (offset == caret_) return;
    caret_ = offset;
    QAccessibleTextCursorEvent moved(&view_, caret_);
    QAccessible::updateAccessibility(&moved);
}

QRect PageAccessibility::characterRect(int offset) const
{
    const auto box = text_ ? text_->box(offset) : std::nullopt;
    if (!box) return {};
    const QRectF shown = view_.placement().convertFromPage(*box, page_);
    return QRect(view_.viewport()->mapToGlobal(shown.topLeft().toPoint()), shown.size().toSize());
}

int PageAccessibility::offsetAt(QPoint screenPoint) const
{
    if (!text_ || page_ < 0) return -1;
    const QPointF at = view_.viewport()->mapFromGlobal(QPointF(screenPoint));
    return text_->offsetAt(view_.placement().convertToPage(at, page_));
}

void PageAccessibility::documentReplaced()
{
    pages_.clear();
    reading_.reset();
    page_ = -1;
    show(nullptr);
}

void PageAccessibility::pagesRead(std::optional<int> page)
{
    // An edit: the text kept of the pages it touched is out of date.
    if (page) pages_.remove_if([&](const auto& entry) { return entry.first == *page; });
    else pages_.clear();
    if (reading_ && (!page || reading_->first == *page)) reading_.reset();
    if (page && *page != page_) return;
    // The page being read keeps its text until the new one comes; another
    // page may stand at its index now.
    if (listening_) read(page_);
}

void PageAccessibility::viewMoved()
{
    follow();
    if (text_) moveCaret(readingCaret());
}

} // namespace quarn
