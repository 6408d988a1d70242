#pragma once
// A mark (annotation) on a page, known by its PDF object number.
namespace quarn {

struct MarkRef {
    int page = -1;
    int object = 0;
    friend bool operator==(const MarkRef&, const MarkRef&) = default;
};

} // namespace quarn
