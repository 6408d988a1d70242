#pragma once
// What the text recognition library (libravlen-ocr, with Tesseract) offers
// the platform layer, which loads it on first use. Never included outside
// Platform/.
#include "Platform/TextRecognition.h"

namespace platform {

struct TextRecognitionEngine {
    // The text lines of a non-empty image with Tesseract's data in `dataPath`;
    // throws TextRecognitionError.
    std::vector<RecognizedLine> (*recognize)(const QImage& image, const std::vector<std::string>& languages,
                                             const std::string& dataPath, int dpi);
};

} // namespace platform

// Returns the library's TextRecognitionEngine.
extern "C" const void* ravlenTextRecognitionEngine();
