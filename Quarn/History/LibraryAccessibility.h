#pragma once
// What a screen reader sees of a library list: the list, and in it one
// element per row. A row that opens is a button (selected when it is the
// window's own document) whose default action opens it, with the panel's
// named actions beside; a section header is a heading.
class QAccessibleInterface;

namespace quarn {

class LibraryList;

// Makes the library lists' elements from now on; later calls do nothing.
void installLibraryAccessibility();
// A new element for one row of `list` (the list keeps it).
QAccessibleInterface* makeLibraryRowAccessible(LibraryList* list, int row);

} // namespace quarn
