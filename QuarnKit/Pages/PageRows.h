#pragma once
// How the rows of a page list follow a change of the document: the pages it
// showed and the pages there are now, by page object, tell whether one page
// needs a new thumbnail, every page does (heights may change: a rotation),
// rows went away, rows came in, or the list must be read again.
#include "Platform/PdfPageIdentity.h"

#include <optional>
#include <vector>

namespace quarnkit {

struct PageRowsChange {
    enum class Kind {
        onePage,  // the same pages; only `row`'s page changed (a mark on it)
        allPages, // the same pages; any of them may have changed
        removed,  // `rows` (old rows, ascending) went away, the rest stayed in order
        inserted, // `rows` (new rows, ascending) came in, the rest stayed in order
        reloaded, // anything else
    };
    Kind kind = Kind::reloaded;
    int row = -1;
    std::vector<int> rows;
    friend bool operator==(const PageRowsChange&, const PageRowsChange&) = default;
};

// `edited`: the page the document named for the change; none for a change of
// the whole document.
PageRowsChange pageRowsChange(const std::vector<platform::PdfPageId>& before,
                              const std::vector<platform::PdfPageId>& after, std::optional<platform::PdfPageId> edited);

} // namespace quarnkit
