#include "Platform/TextRecognition.h"

#include "Platform/OnDemand.h"
#include "Platform/TextRecognitionEngine.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace platform {
namespace {

// Locale language tags and Tesseract's codes for the languages Tesseract
// ships trained data for.
struct LanguagePair {
    std::string_view tag;
    std::string_view code;
};
constexpr LanguagePair languagePairs[] = {
    {"zh-Hans", "chi_sim"},  {"zh-Hant", "chi_tra"}, {"az-Cyrl", "aze_cyrl"}, {"sr-Latn", "srp_latn"},
    {"uz-Cyrl", "uzb_cyrl"}, {"af", "afr"},          {"am", "amh"},           {"ar", "ara"},
    {"as", "asm"},           {"az", "aze"},          {"be", "bel"},           {"bg", "bul"},
    {"bn", "ben"},           {"bo", "bod"},          {"br", "bre"},           {"bs", "bos"},
    {"ca", "cat"},           {"ceb", "ceb"},         {"chr", "chr"},          {"co", "cos"},
    {"cs", "ces"},           {"cy", "cym"},          {"da", "dan"},           {"de", "deu"},
    {"dv", "div"},           {"dz", "dzo"},          {"el", "ell"},           {"en", "eng"},
    {"eo", "epo"},           {"es", "spa"},          {"et", "est"},           {"eu", "eus"},
    {"fa", "fas"},           {"fi", "fin"},          {"fil", "fil"},          {"fo", "fao"},
    {"fr", "fra"},           {"fy", "fry"},          {"ga", "gle"},           {"gd", "gla"},
    {"gl", "glg"},           {"gu", "guj"},          {"he", "heb"},           {"hi", "hin"},
    {"hr", "hrv"},           {"ht", "hat"},          {"hu", "hun"},           {"hy", "hye"},
    {"id", "ind"},           {"is", "isl"},          {"it", "ita"},           {"iu", "iku"},
    {"ja", "jpn"},           {"jv", "jav"},          {"ka", "kat"},           {"kk", "kaz"},
    {"km", "khm"},           {"kn", "kan"},          {"ko", "kor"},           {"ku", "kmr"},
    {"ky", "kir"},           {"la", "lat"},          {"lb", "ltz"},           {"lo", "lao"},
    {"lt", "lit"},           {"lv", "lav"},          {"mi", "mri"},           {"mk", "mkd"},
    {"ml", "mal"},           {"mn", "mon"},          {"mr", "mar"},           {"ms", "msa"},
    {"mt", "mlt"},           {"my", "mya"},          {"ne", "nep"},           {"nl", "nld"},
    {"no", "nor"},           {"oc", "oci"},          {"or", "ori"},           {"pa", "pan"},
    {"pl", "pol"},           {"ps", "pus"},          {"pt", "por"},           {"qu", "que"},
    {"ro", "ron"},           {"ru", "rus"},          {"sa", "san"},           {"sd", "snd"},
    {"si", "sin"},           {"sk", "slk"},          {"sl", "slv"},           {"sq", "sqi"},
    {"sr", "srp"},           {"su", "sun"},          {"sv", "swe"},           {"sw", "swa"},
    {"syr", "syr"},          {"ta", "tam"},          {"te", "tel"},           {"tg", "tgk"},
    {"th", "tha"},           {"ti", "tir"},          {"to", "ton"},           {"tr", "tur"},
    {"tt", "tat"},           {"ug", "uig"},          {"uk", "ukr"},           {"ur", "urd"},
    {"uz", "uzb"},           {"vi", "vie"},          {"yi", "yid"},           {"yo", "yor"},
};

std::optional<std::string_view> codeForTag(std::string_view tag)
{
    for (const auto& p : languagePairs)
        if (p.tag == tag) return p.code;
    return std::nullopt;
}

} // namespace

std::string TextRecognition::dataPath()
{
    if (const char* env = std::getenv("TESSDATA_PREFIX"); env && *env) {
        // Older Tesseract releases wanted the folder above tessdata here; accept both.
        const QDir dir(QString::fromLocal8Bit(env));
        const bool hasModels = !dir.entryList({QStringLiteral("*.traineddata")}, QDir::Files).isEmpty();
        if (!hasModels && dir.exists(QStringLiteral("tessdata")))
            return dir.filePath(QStringLiteral("tessdata")).toStdString();
        return env;
    }
    for (const char* candidate : {"/usr/share/tesseract-ocr/5/tessdata", "/usr/share/tesseract-ocr/4.00/tessdata",
                                  "/usr/share/tessdata", "/usr/local/share/tessdata"})
        if (QFileInfo(QString::fromUtf8(candidate)).isDir()) return candidate;
    return {};
}

std::vector<std::string> TextRecognition::availableLanguages()
{
    const std::string path = dataPath();
    if (path.empty()) return {};
    std::vector<std::string> languages;
    const QDir dir(QString::fromStdString(path));
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("*.traineddata")}, QDir::Files | QDir::Readable, QDir::Name)) {
        const std::string code = info.completeBaseName().toStdString();
        if (code != "osd" && code != "equ") languages.push_back(code);
    }
    return languages;
}

std::optional<std::string> TextRecognition::tesseractLanguage(const std::string& localeTag)
{
    std::string tag = localeTag;
    std::replace(tag.begin(), tag.end(), '_', '-');
    // Language, then an optional four-letter script: "zh-Hans-CN" → "zh-Hans".
    const auto first = tag.find('-');
    const std::string language = tag.substr(0, first);
    if (language.empty()) return std::nullopt;
    if (first != std::string::npos) {
        const auto second = tag.find('-', first + 1);
        const std::string subtag =
            tag.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (subtag.size() == 4) {
            if (auto code = codeForTag(language + "-" + subtag)) return std::string(*code);
        }
        // Chinese by region when no script is named.
        if (language == "zh") {
            const bool traditional = subtag == "TW" || subtag == "HK" || subtag == "MO";
            return std::string(traditional ? "chi_tra" : "chi_sim");
        }
    }
    if (language == "zh") return std::string("chi_sim");
    if (language == "nb" || language == "nn") return std::string("nor");
    if (auto code = codeForTag(language)) return std::string(*code);
    return std::nullopt;
}

std::optional<std::string> TextRecognition::localeTag(const std::string& tesseractCode)
{
    for (const auto& p : languagePairs)
        if (p.code == tesseractCode) return std::string(p.tag);
    return std::nullopt;
}

std::vector<RecognizedLine> TextRecognition::recognize(const QImage& image, const std::vector<std::string>& languages,
                                                       int dpi)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1) throw TextRecognitionError("the image is empty");
    const std::string path = dataPath();
    if (path.empty()) throw TextRecognitionError("Tesseract's language data is not installed");
    const auto* engine = ondemand::tableOf<TextRecognitionEngine>("libravlen-ocr.so", "ravlenTextRecognitionEngine");
    if (!engine) throw TextRecognitionError("ravlen's text recognition library is missing");
    return engine->recognize(image, languages, path, dpi);
}

} // namespace platform
