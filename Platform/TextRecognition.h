#pragma once
// Text recognition on images through Tesseract. Languages are named here in
// Tesseract's codes ("eng", "deu", "chi_sim"); the mapping to and from the
// locale's language tags ("en", "de", "zh-Hans") lives here as well.
#include <QImage>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class TextRecognitionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RecognizedLine {
    std::string text;     // UTF-8, without the line end
    QRect box;            // in image pixels
    float confidence = 0; // 0 to 100
};

class TextRecognition {
public:
    // Tesseract's data folder: TESSDATA_PREFIX when set, else the first of
    // Tesseract's usual install folders that exists; empty when none does.
    static std::string dataPath();
    // The languages whose trained data is installed, sorted; never the
    // script-detection data "osd".
    static std::vector<std::string> availableLanguages();

    // The Tesseract code of a locale language tag ("de", "de-CH", "de_CH",
    // "zh-Hans-CN", "sr-Latn"); none for a language Tesseract does not know.
    static std::optional<std::string> tesseractLanguage(const std::string& localeTag);
    // The language tag of a Tesseract code ("deu" → "de", "chi_sim" → "zh-Hans").
    static std::optional<std::string> localeTag(const std::string& tesseractCode);

    // The text lines of an image, top to bottom as Tesseract reads them.
    // `languages` are Tesseract codes (empty: English); `dpi` is the image's
    // resolution (0 when unknown). Throws TextRecognitionError when Tesseract
    // cannot start with those languages or fails on the image.
    static std::vector<RecognizedLine> recognize(const QImage& image, const std::vector<std::string>& languages,
                                                 int dpi = 0);
};

} // namespace platform
