#include "Platform/TextRecognitionEngine.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <memory>
#include <mutex>

namespace platform {
namespace {

// Owns a Tesseract engine; End() frees its models before the object goes.
struct Engine {
    tesseract::TessBaseAPI api;
    ~Engine() { api.End(); }
};

std::string joinedCodes(const std::vector<std::string>& languages)
{
    std::string out;
    for (const auto& code : languages) {
        if (!out.empty()) out += '+';
        out += code;
    }
    return out.empty() ? std::string("eng") : out;
}

std::vector<RecognizedLine> recognize(const QImage& image, const std::vector<std::string>& languages,
                                      const std::string& path, int dpi)
{
    // Tesseract's messages would go to the terminal; the program keeps no log.
    // `debug_file` is one setting for the whole process: written by every
    // recognition, two at once raced on it. It is set once, before the first.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
    });
    auto engine = std::make_unique<Engine>();
    const std::string codes = joinedCodes(languages);
    if (engine->api.Init(path.c_str(), codes.c_str(), tesseract::OEM_DEFAULT) != 0)
        throw TextRecognitionError("Tesseract cannot load the languages " + codes + " from " + path);

    // Grey pixels are what Tesseract binarises first; converting here keeps
    // every QImage format acceptable.
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    engine->api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    engine->api.SetSourceResolution(dpi > 0 ? dpi : 300);
    if (engine->api.Recognize(nullptr) != 0) throw TextRecognitionError("Tesseract could not read the image");

    std::vector<RecognizedLine> lines;
    std::unique_ptr<tesseract::ResultIterator> it(engine->api.GetIterator());
    if (!it) return lines;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (!text) continue;
        std::string line(text.get());
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty()) continue;
        int left = 0, top = 0, right = 0, bottom = 0;
        it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
        lines.push_back({std::move(line), QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)),
                         it->Confidence(tesseract::RIL_TEXTLINE)});
    } while (it->Next(tesseract::RIL_TEXTLINE));
    return lines;
}

const TextRecognitionEngine engine{recognize};

} // namespace
} // namespace platform

extern "C" const void* ravlenTextRecognitionEngine() { return &platform::engine; }
