#pragma once
// How often the PDF engine was asked for a page by its place in the page
// tree. Each such look-up walks the tree down to the page, which in one flat
// /Kids array (as many producers write it) passes every page before it: work
// that asks it of every page grows with the square of their number. A test
// reads the count across an operation whose cost must not grow with the pages.
#include <cstdint>

namespace platform {

// Look-ups of a page by its index (its object, its loading) or of an index
// by its page, on every thread, since the process started.
std::uint64_t pageLookups();

} // namespace platform
