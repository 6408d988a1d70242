#pragma once
// Drawing the first pages of files the user has not opened (the thumbnails
// beside search results and in the library), in the confined reader
// program (MetadataReader.h) rather than in the program: a hostile file costs
// a reader, under its memory limit and killed when it takes too long, and
// the program receives only pixels, whose size it checks.
#include "Platform/MetadataReader.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class ConfinedDrawing {
public:
    struct Settings {
        std::string program;                     // the reader; empty: nothing is drawn
        std::uint64_t memory = 1ull << 30;       // address space of a reader
        std::chrono::milliseconds timeout{5000}; // a drawing still running then is called off
    };

    explicit ConfinedDrawing(Settings settings);
    ~ConfinedDrawing();
    ConfinedDrawing(const ConfinedDrawing&) = delete;
    ConfinedDrawing& operator=(const ConfinedDrawing&) = delete;

    const Settings& settings() const { return settings_; }

    // Draws the first page of the file open at `fd` (the descriptor stays
    // the caller's) to fit `width` by `height` pixels (at most
    // maxDrawingSide each), in a reader process of its own, and waits for
    // it: for workers, never the UI thread. Several threads may draw at once.
    PageDrawing draw(int fd, int width, int height) const;
    // Calls off every drawing under way: each comes back failed at once.
    void abandonAll();

private:
    struct Running;
    Settings settings_;
    std::unique_ptr<Running> running_;
};

} // namespace platform
