#pragma once
// The platform layer's parts whose libraries take long to load (Tesseract
// with Leptonica, libheif with its codecs, libqpdf) are libraries of their
// own beside this one, loaded the first time they are needed rather than
// when the program starts. Each offers one table of functions under a C
// name. Never included outside Platform/.
namespace platform::ondemand {

// The table that the function `entry` of our library `library` (a file name:
// the file is found beside the platform library) returns; null when the
// library cannot be loaded. A library is loaded once and kept.
const void* table(const char* library, const char* entry);

template <typename Table>
const Table* tableOf(const char* library, const char* entry)
{
    return static_cast<const Table*>(table(library, entry));
}

} // namespace platform::ondemand
