#pragma once
// Edit ▸ Cut, Copy and Paste of a document window: while a text field or the
// in-place editor of a text box or note has the focus they act on its words;
// otherwise on the page view, which takes the selected mark or else the
// selected text. Each is enabled only when it would do something.
class QWidget;

namespace quarn {

class QuarnPDFView;

namespace Pasteboard {

enum class Command { cut, copy, paste };

// The text field or text editor that has the focus now, if any.
QWidget* typingTarget();
bool canRun(Command command, const QuarnPDFView* view);
void run(Command command, QuarnPDFView* view);

} // namespace Pasteboard

} // namespace quarn
