#pragma once
// A path taken apart for a walk one name at a time (each step opened without
// following a link, so that what is checked or written is what the walk saw).
#include <algorithm>
#include <deque>
#include <string>

namespace platform {

// The names of `path` between its slashes; empty names (//, a last /) left out.
inline std::deque<std::string> pathNames(const std::string& path)
{
    std::deque<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace platform
