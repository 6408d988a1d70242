#include "QuarnKit/Document/TextRecognizer.h"

#include "Platform/TextRecognition.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace quarnkit {

// ---------------------------------------------------------------- TextRecognizerError

TextRecognizerError::TextRecognizerError(Kind kind, const QString& detail)
    : std::runtime_error(std::string("Text recognition isn't available. ") + detail.toStdString()), kind_(kind),
      detail_(detail)
{}

TextRecognizerError TextRecognizerError::unavailable(const QString& detail)
{
    return TextRecognizerError(Kind::unavailable, detail);
}

QString TextRecognizerError::message() const { return QStringLiteral("Text recognition isn't available. ") + detail_; }

// ---------------------------------------------------------------- TextRecognizer

namespace TextRecognizer {
namespace {

QString baseLanguage(const QString& tag)
{
    const qsizetype dash = tag.indexOf(QLatin1Char('-'));
    return dash < 0 ? tag : tag.left(dash);
}

} // namespace

QString existingText(const platform::PdfDocument& doc, int page)
{
    return QString::fromStdString(doc.textPage(page).text()).trimmed();
}

bool needsRecognition(const platform::PdfDocument& doc, int page) { return existingText(doc, page).isEmpty(); }

platform::PdfSize displayedSize(const platform::PdfPageGeometry& geometry)
{
    const platform::PdfRect box =
        geometry.cropBox.width > 1 && geometry.cropBox.height > 1 ? geometry.cropBox : geometry.mediaBox;
    const bool sideways = geometry.rotation == 90 || geometry.rotation == 270;
    return sideways ? platform::PdfSize{box.height, box.width} : platform::PdfSize{box.width, box.height};
}

double renderScale(platform::PdfSize displayed)
{
    const double longer = std::max(displayed.width, displayed.height);
    if (!(longer > 1)) return 4;
    return std::clamp(2600.0 / longer, 2.0, 4.0);
}

QString recognize(const platform::PdfDocument& doc, int page)
{
    const double scale = renderScale(displayedSize(doc.pageGeometry(page)));
    const QImage image = doc.render(page, scale);
    if (image.isNull())
        throw platform::PdfError(platform::PdfErrorCode::general,
                                 "page " + std::to_string(page + 1) + " could not be rendered");
    return recognize(image, int(std::lround(72 * scale)));
}

std::vector<std::string> tesseractLanguages()
{
    std::vector<std::string> codes;
    for (const QString& tag : recognitionLanguages(supportedLanguages(), preferredLanguages()))
        if (auto code = platform::TextRecognition::tesseractLanguage(tag.toStdString())) codes.push_back(*code);
    if (codes.empty()) {
        // Tesseract's own default, when the user's languages are not installed.
        const auto installed = platform::TextRecognition::availableLanguages();
        if (std::find(installed.begin(), installed.end(), "eng") != installed.end()) codes.push_back("eng");
        else if (!installed.empty()) codes.push_back(installed.front());
    }
    return codes;
}

QString recognize(const QImage& image, int dpi)
{
    try {
        QStringList lines;
        for (const auto& line : platform::TextRecognition::recognize(image, tesseractLanguages(), dpi))
            lines.append(QString::fromStdString(line.text));
        return joinLines(lines);
    } catch (const platform::TextRecognitionError& error) {
        throw TextRecognizerError::unavailable(QString::fromStdString(error.what()));
    }
}

QString joinLines(const QStringList& lines) { return lines.join(QLatin1Char('\n')).trimmed(); }

QStringList recognitionLanguages(const QStringList& supported, const QStringList& preferred)
{
    QStringList chosen;
    for (const QString& wanted : preferred) {
        QString match;
        if (supported.contains(wanted)) {
            match = wanted;
        } else {
            const QString base = baseLanguage(wanted);
            const auto it = std::find_if(supported.begin(), supported.end(),
                                         [&](const QString& s) { return baseLanguage(s) == base; });
            if (it != supported.end()) match = *it;
        }
        if (!match.isEmpty() && !chosen.contains(match)) chosen.append(match);
    }
    return chosen;
}

QStringList supportedLanguages()
{
    QStringList tags;
    for (const auto& code : platform::TextRecognition::availableLanguages())
        if (auto tag = platform::TextRecognition::localeTag(code)) tags.append(QString::fromStdString(*tag));
    return tags;
}

QStringList preferredLanguages()
{
    QStringList tags;
    for (QString tag : QLocale::system().uiLanguages()) {
        tag.replace(QLatin1Char('_'), QLatin1Char('-'));
        if (!tag.isEmpty() && tag != QLatin1String("C") && !tags.contains(tag)) tags.append(tag);
    }
    return tags;
}

} // namespace TextRecognizer
} // namespace quarnkit
