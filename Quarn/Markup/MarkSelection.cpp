#include "Quarn/Markup/MarkSelection.h"

#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/MarkEdits.h"

namespace quarn {

namespace MarkEdits = quarnkit::MarkEdits;

MarkSelection::MarkSelection(QObject* parent) : QObject(parent) {}

std::optional<MarkRef> MarkSelection::mark() const { return document_ ? mark_ : std::nullopt; }

std::optional<quarnkit::Annotation> MarkSelection::annotation() const
{
    const auto selected = mark();
    if (!selected || selected->page < 0 || selected->page >= document_->pageCount()) return std::nullopt;
    return MarkEdits::find(*document_, selected->page, selected->object);
}

void MarkSelection::select(quarnkit::QuarnDocument* document, std::optional<MarkRef> mark)
{
    if (!document || !mark) {
        document = nullptr;
        mark.reset();
    }
    if (document != document_.data()) {
        disconnect(watch_);
        if (document)
            watch_ =
                connect(document, &quarnkit::QuarnDocument::generationChanged, this, &MarkSelection::documentChanged);
    }
    const bool same = document == document_.data() && mark == mark_;
    document_ = document;
    mark_ = mark;
    if (same) return;
    run_.reset();
    emit changed();
}

std::optional<quarnkit::PageId> MarkSelection::pageId() const
{
    const auto selected = mark();
    if (!selected || selected->page < 0 || selected->page >= document_->pageCount()) return std::nullopt;
    return document_->pageId(selected->page);
}

void MarkSelection::documentChanged()
{
    if (!editing_) run_.reset(); // an undo, a redo or an edit of the page view ends any run of quick edits
    if (!mark()) return;
    if (!annotation()) {
        clear();
        return;
    }
    emit edited();
}

template <typename F>
auto MarkSelection::own(F&& edit)
{
    editing_ = true;
    struct Done {
        bool& editing;
        ~Done() { editing = false; }
    } done{editing_};
    return edit();
}

bool MarkSelection::restyle(const std::function<bool(quarnkit::Annotation&, quarnkit::MarkKind)>& change,
                            const char* runKey, const QString& name)
{
    const auto page = pageId();
    if (!page) return false;
    const int object = mark_->object;
    return own([&] { return MarkEdits::restyle(*document_, *page, object, change, runKey, name, run_); });
}

bool MarkSelection::nudge(platform::PdfPoint offset)
{
    const auto page = pageId();
    if (!page) return false;
    const int object = mark_->object;
    return own([&] { return MarkEdits::nudge(*document_, *page, object, offset, run_); });
}

bool MarkSelection::restack(bool toFront)
{
    const auto page = pageId();
    return page && MarkEdits::restack(*document_, *page, mark_->object, toFront);
}

bool MarkSelection::duplicate()
{
    const auto page = pageId();
    if (!page) return false;
    const MarkRef original = *mark_;
    const auto copy = MarkEdits::duplicate(*document_, *page, original.object);
    if (copy) select(document_, MarkRef{original.page, *copy});
    return copy.has_value();
}

bool MarkSelection::remove(const QString& name)
{
    const auto page = pageId();
    return page && MarkEdits::remove(*document_, *page, mark_->object, name);
}

} // namespace quarn
