#pragma once
// Marks on the clipboard from a page view's mark editor: Copy, Cut, Paste
// and Duplicate of the selected mark, each edit one undo step of the
// document. Copy and Cut do nothing (false) without a selected mark.
namespace quarn {

class MarkEditor;

bool copySelectedMark(MarkEditor& marks);
bool cutSelectedMark(MarkEditor& marks);
// Whether the clipboard holds marks and the view can take them now.
bool canPasteMarks(const MarkEditor& marks);
// Puts the clipboard's marks on the page in the middle of the view as one
// undo step ("Paste") and selects the last of them.
void pasteMarks(MarkEditor& marks);
// A copy of the selected mark beside it ("Duplicate"), then selected.
void duplicateSelection(MarkEditor& marks);

} // namespace quarn
