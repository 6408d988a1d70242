#pragma once
// The desktop's font configuration (fontconfig): its files and font caches
// are read the first time any text is measured, which at start is the first
// window's. Reading them on a worker as soon as the program starts lets that
// window find them ready.
namespace platform::FontConfiguration {

// Starts reading the configuration on a thread of its own; harmless when it
// has been read already, or is being read by the interface at the same time.
void loadInBackground();

} // namespace platform::FontConfiguration
