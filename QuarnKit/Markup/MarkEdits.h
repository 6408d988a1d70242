#pragma once
// Reading and editing the marks of a document. Every edit is one undo step on
// the document's own stack, named for the Edit menu ("Rectangle", "Move",
// "Color"); the step makes the write in its first redo and announces it
// through the document's change signal, so views repaint from that signal
// alone. Edits name their page by its page object: undo and redo still land
// on the page after pages moved. The rules of marks live here as well: a
// nudged mark stays on its page, pasted copies step off identical marks, and
// restacking leaves links and form fields where they are.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Markup/EditBurst.h"
#include "QuarnKit/Markup/MarkupTool.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quarnkit::MarkEdits {

// ---------------------------------------------------------------- reading (pages by index)

// The mark of that object on the page; none as well on a page that cannot be read.
std::optional<Annotation> find(const QuarnDocument& document, int page, int object);
// The marks of a page in stacking order, bottom first; links, form fields and popups left out.
std::vector<Annotation> marks(const QuarnDocument& document, int page);
// The mark drawn on top at a point, hit within `tolerance`: its object number.
// A mark written straight into /Annots has no number to be known by: with
// `claim` (for an edit to come) it is given an object of its own first, which
// the document announces; without, it is reported as 0, which no edit takes.
// The mark `held` (the selected one) is hit anywhere inside its frame, so a
// signature is taken between its strokes too, unless a mark stacked above it
// is hit there.
std::optional<int> markAt(QuarnDocument& document, int page, platform::PdfPoint at, double tolerance, bool claim,
                          std::optional<int> held = std::nullopt);

// ---------------------------------------------------------------- edits, one undo step each

// A page whose dictionary cannot be read or changed takes no mark; nothing
// was changed. Its message is the sentence shown to the user, whichever way
// the page turned out to be damaged.
struct DamagedPage : std::runtime_error {
    explicit DamagedPage(int page);
};

// The page at `index` that a new mark goes on. Throws DamagedPage when the
// page is one the document cannot name (its object lost or its tree looping:
// the page shows blank), as a mark added there would go nowhere.
PageId pageTakingMarks(const QuarnDocument& document, int index);

// A new mark on top of the page: its object number, none when it could not be made.
// Throws DamagedPage, recording no step, when the page cannot take it: its
// dictionary cannot be read or written.
std::optional<int> add(QuarnDocument& document, PageId page, const Annotation& mark, const QString& name);
// Several new marks as one step (a highlight across lines): the object numbers made.
std::vector<int> add(QuarnDocument& document, PageId page, const std::vector<Annotation>& marks, const QString& name);
// False when the mark is not on the page.
bool remove(QuarnDocument& document, PageId page, int object, const QString& name);
// Several marks as one step; those no longer on their page are passed over.
void remove(QuarnDocument& document, const std::vector<std::pair<PageId, int>>& marks, const QString& name);
// A mark's keys from `before` to `after`.
bool change(QuarnDocument& document, PageId page, const Annotation& before, const Annotation& after,
            const QString& name);
// Changes a mark through `change` (one of Restyle.h's rules), which says
// whether the mark takes it. Quick repeats of the change named `runKey` on the
// same mark fold into the step their run began with; `run` keeps the run
// between calls (a change without a key ends it). False when nothing changed.
bool restyle(QuarnDocument& document, PageId page, int object, const std::function<bool(Annotation&, MarkKind)>& change,
             const char* runKey, const QString& name, std::optional<EditBurst>& run);
// Moves a mark by `offset` points as a "Move" step; quick repeats fold into
// one step as `restyle`'s do. A mark wholly on its page stays on it; one
// already partly off moves freely. False when it would not move.
bool nudge(QuarnDocument& document, PageId page, int object, platform::PdfPoint offset, std::optional<EditBurst>& run);
// "Bring to Front" or "Send to Back"; false when the mark stands there already.
bool restack(QuarnDocument& document, PageId page, int object, bool toFront);
// Marks from the clipboard onto a page as one step, stepped off identical
// marks already there and kept on the page: the last one's object number.
std::optional<int> paste(QuarnDocument& document, PageId page, std::vector<Annotation> marks, const QString& name);
// A new stamp (a date, checkmark or cross) on top of the page as `add` puts
// it, stepped off the signatures, stamps and other drawings and text boxes
// whose frames it would cover there, so that each can be seen and picked, and
// kept on the page: its object number.
std::optional<int> addStamp(QuarnDocument& document, PageId page, Annotation stamp, const QString& name);
// A copy of a mark beside it, as a "Duplicate" step: the copy's object number.
std::optional<int> duplicate(QuarnDocument& document, PageId page, int object);

// A mark's keys while a gesture is still under way (a drag): written and
// announced, but recorded by no step; the gesture's end records the whole
// change with `change`.
void preview(QuarnDocument& document, PageId page, const Annotation& mark);

} // namespace quarnkit::MarkEdits
