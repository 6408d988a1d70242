#pragma once
// A container whose hidden children a screen reader does not meet: a page of
// a stack that is not shown, the cards of an earlier search, a banner put
// away. Qt lists hidden children as invisible elements, so their stale texts
// would still be read out by a reader that walks the tree.
class QWidget;

namespace quarn {

// From now on `container` shows a screen reader only the children that are
// not hidden.
void exposeShownChildrenOnly(QWidget* container);

} // namespace quarn
