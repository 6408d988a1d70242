#pragma once
// Quick repeats of one kind of edit on one mark (dragging a colour, stepping a
// width, holding an arrow key) fold into one undo step. A run lasts while its
// edits follow each other within one second.
#include <chrono>
#include <optional>
#include <string>

namespace quarnkit {

struct EditBurst {
    using Clock = std::chrono::steady_clock;

    std::string key;      // "Color", "stroke", "textSize", "move"
    long long target = 0; // the mark edited (page and object number)
    Clock::time_point last;

    static constexpr std::chrono::milliseconds window{1000};

    // True when this edit continues the open run (the caller registers no undo
    // step); otherwise a new run starts with it and the caller registers one.
    // Any other undo registration, and a change of selection, closes the run
    // by resetting `burst`.
    static bool continues(std::optional<EditBurst>& burst, const std::string& key, long long target,
                          Clock::time_point now = Clock::now());
};

} // namespace quarnkit
