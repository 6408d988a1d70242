#include "QuarnKit/Pages/PageRows.h"

#include <algorithm>

namespace quarnkit {

namespace {

// The rows of `longer` that are not in `shorter`, when `shorter` is `longer`
// with some pages taken out and the rest in the same order.
std::optional<std::vector<int>> takenOut(const std::vector<platform::PdfPageId>& longer,
                                         const std::vector<platform::PdfPageId>& shorter)
{
    std::vector<int> rows;
    size_t next = 0;
    for (size_t i = 0; i < longer.size(); ++i) {
        if (next < shorter.size() && longer[i] == shorter[next]) ++next;
        else rows.push_back(int(i));
    }
    if (next != shorter.size()) return std::nullopt;
    return rows;
}

} // namespace

PageRowsChange pageRowsChange(const std::vector<platform::PdfPageId>& before,
                              const std::vector<platform::PdfPageId>& after, std::optional<platform::PdfPageId> edited)
{
    using Kind = PageRowsChange::Kind;
    if (before == after) {
        if (edited) {
            const auto at = std::find(after.begin(), after.end(), *edited);
            if (at != after.end()) return {Kind::onePage, int(at - after.begin()), {}};
        }
        return {Kind::allPages, -1, {}};
    }
    if (after.size() < before.size())
        if (auto rows = takenOut(before, after)) return {Kind::removed, -1, std::move(*rows)};
    if (after.size() > before.size())
        if (auto rows = takenOut(after, before)) return {Kind::inserted, -1, std::move(*rows)};
    return {Kind::reloaded, -1, {}};
}

} // namespace quarnkit
