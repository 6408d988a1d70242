#pragma once
// Editing the pages of a document. Every edit is one undo step on the
// document's own stack, named for the Edit menu ("Rotate 3 Pages", "Insert
// Blank Page"); the step picks its pages and makes the write in its first
// redo, in the document as it is then, and announces it and every later
// undo and redo through the document's change signals (generationChanged,
// then pagesEdited). Each returns the edit made (where its pages went), none
// when there was nothing to change, and throws what the first redo threw,
// recording no step.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Pages/PageEditCommand.h"
#include "QuarnKit/Pages/PageEditor.h"

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace quarnkit::PageEdits {

// By `degrees` (±90): "Rotate Page", "Rotate 3 Pages".
std::optional<PageEdit> rotate(QuarnDocument& document, const std::set<int>& pages, int degrees);
// "Delete 2 Pages"; throws PageEditError(lastPage) rather than remove every page.
std::optional<PageEdit> deletePages(QuarnDocument& document, const std::set<int>& pages);
// The pages as one block to the gap (0: before the first page): "Move 2 Pages".
std::optional<PageEdit> move(QuarnDocument& document, const std::set<int>& pages, int gap);
// Copies right after the last of the pages: "Duplicate Page".
std::optional<PageEdit> duplicate(QuarnDocument& document, const std::set<int>& pages);
// Pages of other files (PageEditor::pages) at the gap: "Insert 4 Pages".
std::optional<PageEdit> insert(QuarnDocument& document, const std::vector<SourcePage>& pages, int gap);
// A blank page after `index` (at the start of a document without pages): "Insert Blank Page".
std::optional<PageEdit> insertBlank(QuarnDocument& document, int index);

// Extract's file, written atomically to `file` (as its question saw it) by a job that any thread may
// run: the pages as they are now (their snapshot is taken here, and throws
// when it cannot be). The document is not changed and no step is recorded.
// The job returns false when no page came out and throws when the file
// cannot be written. Throws DocumentError(fileWriteCopyShowsLess) when the
// user must be asked first (copyNeedsLossQuestion, with `lossAccepted`).
std::function<bool()> extractInto(const QuarnDocument& document, const std::set<int>& pages, ChosenFile file,
                                  bool lossAccepted = true);

} // namespace quarnkit::PageEdits
