#pragma once
// How the process keeps its memory in check over a long session: the budget
// of the PDF engine's store, the C allocator's settings, and handing memory
// that caches dropped back to the system.
#include <cstddef>

namespace platform {

class PdfDocument;

// What MuPDF's store may hold of resources no page holds any more (decoded
// images, fonts, shadings); above it the least recently used go first. The
// size of the page view's tile cache: enough for the pages around the view.
inline constexpr std::size_t engineStoreBudget = 64u << 20;

// The largest block the PDF engine may ask for at once. Pages need far less
// (MuPDF decodes large images a tile and a subsampling step at a time; a
// recording of millions of drawing commands fits). A decompression bomb (a
// few bytes of JBIG2 or Flate that claim a bitmap of gigabytes) asks for more:
// it fails at once and the page draws without it, rather than filling the
// machine's memory and keeping a decoder busy for minutes.
inline constexpr std::size_t engineBlockLimit = std::size_t(256) << 20;

// Sets the C allocator up for threads that make and drop large blocks: blocks
// of a quarter megabyte and more (decoded images, rendered pages) are mapped
// on their own and unmapped when freed, rather than left behind in a
// worker's arena. Called once when the PDF engine starts; harmless again.
void tuneAllocator();

// Hands the free memory inside the allocator's arenas back to the system.
// Takes a few milliseconds: call it from a worker, after dropping caches.
void releaseFreedMemory();

// How many of a document's objects the engine holds parsed now: what reading
// it has left in memory beyond its cross-reference table. Reading a long
// document whole (settling it, mapping its pages) leaves only what is in use.
int parsedObjectCount(const PdfDocument& document);

} // namespace platform
