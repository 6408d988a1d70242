#include "QuarnKit/Markup/MarkEdits.h"

#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkClipboard.h"
#include "QuarnKit/Markup/MarkCommands.h"
#include "QuarnKit/Markup/MarkGeometry.h"
#include "QuarnKit/Markup/MarkOrder.h"

namespace quarnkit::MarkEdits {

using platform::PdfPoint;
using platform::PdfRect;

namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

constexpr double pasteStep = 12; // pasted copies and stamps step this far right and down off marks there

bool onDocument(const QuarnDocument& document, int page) { return page >= 0 && page < document.pageCount(); }

// The boxes of the marks already on a page, which pasted copies keep off.
std::vector<PdfRect> markBounds(const QuarnDocument& document, int page)
{
    std::vector<PdfRect> result;
    for (const Annotation& a : marks(document, page)) result.push_back(a.rect);
    return result;
}

PdfRect cropBox(const QuarnDocument& document, int page) { return pdfOf(document)->pageGeometry(page).cropBox; }

// A text box copied from a page shown turned another way reads sideways here:
// it is turned about its centre to read upright on this page.
void turnUpright(Annotation& mark, int pageRotation)
{
    if (mark.subtype != "FreeText") return;
    const int from = platform::normalizedRotation(mark.rotation), to = platform::normalizedRotation(pageRotation);
    if (from == to) return;
    if ((from - to + 360) % 180 == 90) {
        const PdfRect r = mark.rect;
        mark.rect = {r.midX() - r.height / 2, r.midY() - r.width / 2, r.height, r.width};
    }
    mark.rotation = to;
}

// The mark a run of quick edits follows: its page and object number.
long long runTarget(int page, int object) { return (static_cast<long long>(page) << 32) | unsigned(object); }

// One step from `before` to `after`, folded into the step before it when it continues that one's run.
bool record(QuarnDocument& document, PageId page, const Annotation& before, const Annotation& after,
            const QString& name, bool continuesRun)
{
    return DocumentCommand::push(new MarkChangeCommand(document, page, before, after, name, continuesRun));
}

// Runs the edits of `body` as one step named `name`; the step is closed also
// when an edit throws, and taken off the stack when it holds no edit (the
// first one failed), so that nothing counts as changed.
template <typename F>
void asOneStep(QuarnDocument& document, const QString& name, F&& body)
{
    QUndoStack& stack = document.undoStack();
    stack.beginMacro(name);
    try {
        body();
    } catch (...) {
        stack.endMacro();
        if (auto* step = const_cast<QUndoCommand*>(stack.command(stack.index() - 1)); step && step->childCount() == 0) {
            step->setObsolete(true); // undoing an obsolete step deletes it
            stack.undo();
        }
        throw;
    }
    stack.endMacro();
}

} // namespace

DamagedPage::DamagedPage(int page)
    : std::runtime_error("Page " + std::to_string(page + 1)
                         + " of this PDF is damaged, so ravlen can't add marks to it.")
{}

PageId pageTakingMarks(const QuarnDocument& document, int index)
{
    const auto page = onDocument(document, index) ? document.pageId(index) : std::nullopt;
    if (!page) throw DamagedPage(index);
    return *page;
}

// ---------------------------------------------------------------- reading

std::optional<Annotation> find(const QuarnDocument& document, int page, int object)
{
    if (!onDocument(document, page)) return std::nullopt;
    // Windows ask while painting: a page that cannot be read any more (its
    // file rewritten in place by another program) holds no mark to draw.
    try {
        return PdfAnnotations::find(*pdfOf(document), page, object);
    } catch (const platform::PdfError&) {
        return std::nullopt;
    }
}

std::vector<Annotation> marks(const QuarnDocument& document, int page)
{
    if (!onDocument(document, page)) return {};
    std::vector<Annotation> all = PdfAnnotations::list(*pdfOf(document), page);
    std::erase_if(all, [](const Annotation& a) { return !AnnotationFactory::isMarkup(a); });
    return all;
}

std::optional<int> markAt(QuarnDocument& document, int page, PdfPoint at, double tolerance, bool claim,
                          std::optional<int> held)
{
    if (!onDocument(document, page)) return std::nullopt;
    platform::PdfDocument& pdf = *pdfOf(document);
    const std::vector<Annotation> annotations = PdfAnnotations::list(pdf, page);
    // The mark drawn on top is the one hit.
    for (size_t i = annotations.size(); i-- > 0;) {
        const Annotation& a = annotations[i];
        if (!AnnotationFactory::isMarkup(a)) continue;
        if (held && a.objectNumber == *held && a.rect.contains(at)) return a.objectNumber;
        if (!MarkEditing::hits(a, at, tolerance)) continue;
        if (a.objectNumber > 0 || !claim) return a.objectNumber;
        // Numbering changes neither the drawing nor the order of the list.
        if (PdfAnnotations::numberDirect(pdf, page) == 0) return std::nullopt;
        const std::vector<Annotation> numbered = PdfAnnotations::list(pdf, page);
        if (i >= numbered.size() || numbered[i].objectNumber <= 0) return std::nullopt;
        document.noteEditOfPage(page); // lists of marks learn the new number
        return numbered[i].objectNumber;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- edits

std::optional<int> add(QuarnDocument& document, PageId page, const Annotation& mark, const QString& name)
{
    auto* command = new MarkAddCommand(document, page, mark, name);
    try {
        if (!DocumentCommand::push(command)) return std::nullopt;
    } catch (const platform::PdfError&) {
        // Whatever failed (the page's dictionary, the page itself, its
        // marks), the page took no mark and the stack holds no step.
        throw DamagedPage(document.pageIndex(page).value_or(0));
    }
    return command->object(); // on the stack now
}

std::vector<int> add(QuarnDocument& document, PageId page, const std::vector<Annotation>& marks, const QString& name)
{
    std::vector<int> objects;
    if (marks.empty()) return objects;
    asOneStep(document, name, [&] {
        for (const Annotation& mark : marks)
            if (const auto object = add(document, page, mark, name)) objects.push_back(*object);
    });
    return objects;
}

bool remove(QuarnDocument& document, PageId page, int object, const QString& name)
{
    return DocumentCommand::push(new MarkRemoveCommand(document, page, object, name));
}

void remove(QuarnDocument& document, const std::vector<std::pair<PageId, int>>& marks, const QString& name)
{
    if (marks.empty()) return;
    asOneStep(document, name, [&] {
        for (const auto& [page, object] : marks) {
            try {
                remove(document, page, object, name);
            } catch (const std::exception&) {
                // A page that cannot be read keeps its marks.
            }
        }
    });
}

bool change(QuarnDocument& document, PageId page, const Annotation& before, const Annotation& after,
            const QString& name)
{
    return record(document, page, before, after, name, false);
}

bool restyle(QuarnDocument& document, PageId page, int object, const std::function<bool(Annotation&, MarkKind)>& change,
             const char* runKey, const QString& name, std::optional<EditBurst>& run)
{
    const auto index = document.pageIndex(page);
    const auto before = index ? find(document, *index, object) : std::nullopt;
    const auto kind = before ? MarkCatalog::kind(*before) : std::nullopt;
    if (!kind) return false;
    Annotation after = *before;
    if (!change(after, *kind) || after == *before) return false;
    bool continues = false;
    if (runKey) continues = EditBurst::continues(run, runKey, runTarget(*index, object));
    else run.reset();
    return record(document, page, *before, after, name, continues);
}

bool nudge(QuarnDocument& document, PageId page, int object, PdfPoint offset, std::optional<EditBurst>& run)
{
    const auto index = document.pageIndex(page);
    const auto before = index ? find(document, *index, object) : std::nullopt;
    if (!before) return false;
    const PdfRect bounds = before->rect;
    PdfRect moved{bounds.x + offset.x, bounds.y + offset.y, bounds.width, bounds.height};
    const PdfRect area = cropBox(document, *index);
    // A mark on the page stays on it; one already partly off moves freely.
    if (area.contains({bounds.minX(), bounds.minY()}) && area.contains({bounds.maxX(), bounds.maxY()}))
        moved = MarkupGeometry::clamp(moved, area);
    const PdfPoint delta{moved.x - bounds.x, moved.y - bounds.y};
    if (delta.x == 0 && delta.y == 0) return false;
    const bool continues = EditBurst::continues(run, "move", runTarget(*index, object));
    Annotation after = *before;
    MarkFrame::of(after).offset(delta).apply(after);
    return record(document, page, *before, after, QStringLiteral("Move"), continues);
}

bool restack(QuarnDocument& document, PageId page, int object, bool toFront)
{
    const auto index = document.pageIndex(page);
    if (!index) return false;
    const std::vector<Annotation> stack = MarkOrder::stack(*pdfOf(document), *index);
    const auto after = toFront ? MarkOrder::toFront(stack, object) : MarkOrder::toBack(stack, object);
    if (!after) return false;
    return DocumentCommand::push(
        new MarkOrderCommand(document, page, MarkOrder::numbers(stack), *after,
                             toFront ? QStringLiteral("Bring to Front") : QStringLiteral("Send to Back")));
}

std::optional<int> paste(QuarnDocument& document, PageId page, std::vector<Annotation> marks, const QString& name)
{
    const auto index = document.pageIndex(page);
    if (!index || marks.empty()) return std::nullopt;
    const int rotation = pdfOf(document)->pageGeometry(*index).rotation;
    std::vector<PdfRect> rects;
    for (Annotation& m : marks) {
        turnUpright(m, rotation);
        rects.push_back(m.rect);
    }
    const PdfPoint offset =
        MarkupGeometry::pasteOffset(rects, markBounds(document, *index), pasteStep, cropBox(document, *index));
    for (Annotation& m : marks) MarkFrame::of(m).offset(offset).apply(m);
    const std::vector<int> added = add(document, page, marks, name);
    return added.empty() ? std::nullopt : std::optional<int>(added.back());
}

std::optional<int> addStamp(QuarnDocument& document, PageId page, Annotation stamp, const QString& name)
{
    const auto index = document.pageIndex(page);
    if (!index) return std::nullopt;
    // Signatures and stamps are drawings and text boxes; a highlight or a
    // shape under the spot is meant to be stamped over.
    std::vector<PdfRect> taken;
    for (const Annotation& a : marks(document, *index)) {
        const auto kind = MarkCatalog::kind(a);
        if (kind == MarkKind::drawing || kind == MarkKind::text) taken.push_back(a.rect);
    }
    const PdfPoint offset = MarkupGeometry::clearOffset(stamp.rect, taken, pasteStep, cropBox(document, *index));
    MarkFrame::of(stamp).offset(offset).apply(stamp);
    return add(document, page, stamp, name);
}

std::optional<int> duplicate(QuarnDocument& document, PageId page, int object)
{
    const auto index = document.pageIndex(page);
    const auto mark = index ? find(document, *index, object) : std::nullopt;
    if (!mark) return std::nullopt;
    const PdfRect media = pdfOf(document)->pageGeometry(*index).mediaBox;
    // Through the clipboard format, so the copy carries only the keys a mark needs.
    std::vector<Annotation> copies = MarkClipboard::annotations(MarkClipboard::data({*mark}, media));
    if (copies.empty()) return std::nullopt;
    Annotation copy = copies.front();
    const PdfPoint offset =
        MarkupGeometry::pasteOffset({copy.rect}, markBounds(document, *index), pasteStep, cropBox(document, *index));
    MarkFrame::of(copy).offset(offset).apply(copy);
    return add(document, page, copy, QStringLiteral("Duplicate"));
}

void preview(QuarnDocument& document, PageId page, const Annotation& mark)
{
    const auto index = document.pageIndex(page);
    if (!index || !PdfAnnotations::update(*pdfOf(document), *index, mark)) return;
    document.noteEdit(page);
}

} // namespace quarnkit::MarkEdits
