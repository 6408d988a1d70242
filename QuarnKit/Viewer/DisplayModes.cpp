#include "QuarnKit/Viewer/DisplayModes.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace quarnkit {

// ---------------------------------------------------------------- display modes

std::string rawValue(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::singlePage: return "singlePage";
    case DisplayMode::continuous: return "continuous";
    case DisplayMode::twoPages: return "twoPages";
    case DisplayMode::twoPagesContinuous: return "twoPagesContinuous";
    }
    return "continuous";
}

std::optional<DisplayMode> displayModeFromRawValue(std::string_view text)
{
    for (DisplayMode mode : allDisplayModes)
        if (rawValue(mode) == text) return mode;
    return std::nullopt;
}

DisplayMode displayModeFromPdf(int pdfMode)
{
    switch (pdfMode) {
    case 0: return DisplayMode::singlePage;
    case 1: return DisplayMode::continuous;
    case 2: return DisplayMode::twoPages;
    case 3: return DisplayMode::twoPagesContinuous;
    default: return DisplayMode::continuous;
    }
}

DisplayMode displayModeFromPdf(PdfDisplayMode pdfMode) { return displayModeFromPdf(static_cast<int>(pdfMode)); }

QString title(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::singlePage: return QStringLiteral("Single Page");
    case DisplayMode::continuous: return QStringLiteral("Continuous");
    case DisplayMode::twoPages: return QStringLiteral("Two Pages");
    case DisplayMode::twoPagesContinuous: return QStringLiteral("Two Pages Continuous");
    }
    return {};
}

QString shortTitle(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::singlePage: return QStringLiteral("Single page");
    case DisplayMode::continuous: return QStringLiteral("Continuous");
    case DisplayMode::twoPages: return QStringLiteral("Two pages");
    case DisplayMode::twoPagesContinuous: return QStringLiteral("Two continuous");
    }
    return {};
}

std::string symbol(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::singlePage: return "rectangle.portrait";
    case DisplayMode::continuous: return "rectangle.split.1x2";
    case DisplayMode::twoPages: return "rectangle.split.2x1";
    case DisplayMode::twoPagesContinuous: return "rectangle.split.2x2";
    }
    return {};
}

std::string key(DisplayMode mode) { return std::to_string(static_cast<int>(mode) + 1); }

PdfDisplayMode pdf(DisplayMode mode) { return static_cast<PdfDisplayMode>(static_cast<int>(mode)); }

bool showsSpreads(DisplayMode mode) { return mode == DisplayMode::twoPages || mode == DisplayMode::twoPagesContinuous; }

bool isContinuous(DisplayMode mode)
{
    return mode == DisplayMode::continuous || mode == DisplayMode::twoPagesContinuous;
}

// ---------------------------------------------------------------- zoom presets

std::string rawValue(ZoomPreset preset)
{
    switch (preset) {
    case ZoomPreset::fitPage: return "fitPage";
    case ZoomPreset::fitWidth: return "fitWidth";
    case ZoomPreset::actualSize: return "actualSize";
    }
    return "fitPage";
}

std::optional<ZoomPreset> zoomPresetFromRawValue(std::string_view text)
{
    for (ZoomPreset preset : allZoomPresets)
        if (rawValue(preset) == text) return preset;
    return std::nullopt;
}

QString title(ZoomPreset preset)
{
    switch (preset) {
    case ZoomPreset::fitPage: return QStringLiteral("Fit Page");
    case ZoomPreset::fitWidth: return QStringLiteral("Fit Width");
    case ZoomPreset::actualSize: return QStringLiteral("Actual Size");
    }
    return {};
}

QString shortTitle(ZoomPreset preset)
{
    switch (preset) {
    case ZoomPreset::fitPage: return QStringLiteral("Fit page");
    case ZoomPreset::fitWidth: return QStringLiteral("Fit width");
    case ZoomPreset::actualSize: return QStringLiteral("Actual size");
    }
    return {};
}

std::string key(ZoomPreset preset)
{
    switch (preset) {
    case ZoomPreset::fitPage: return "9";
    case ZoomPreset::fitWidth: return "8";
    case ZoomPreset::actualSize: return "0";
    }
    return {};
}

// ---------------------------------------------------------------- zoom ladder

namespace ZoomLevel {

namespace {
constexpr double stepTolerance = 0.005;
constexpr double smallestRoom = 40; // a view never counts as narrower than this when fitting

// strtod in the C locale, whatever the user's locale is: a typed "1.5" must
// not depend on whether libc was switched to a decimal comma.
std::optional<double> readNumber(const std::string& text)
{
    // strtod would skip leading white space; a typed zoom may not have any.
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char* end = nullptr;
    const double value = cLocale ? strtod_l(text.c_str(), &end, cLocale) : std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }
} // namespace

double step(double scale, bool up)
{
    if (up) {
        const double x = scale + stepTolerance;
        for (double level : ladder)
            if (level > x) return level;
        return maximum;
    }
    const double x = scale - stepTolerance;
    for (auto it = ladder.rbegin(); it != ladder.rend(); ++it)
        if (*it < x) return *it;
    return minimum;
}

double clamp(double scale)
{
    if (!(scale > minimum)) return minimum; // also catches NaN
    if (scale > maximum) return maximum;
    return scale;
}

int percent(double scale) { return static_cast<int>(std::round(scale * 100)); }

QString label(double scale) { return QString::number(percent(scale)) + QLatin1Char('%'); }

std::optional<double> scale(const QString& typed)
{
    QString text = typed.trimmed().toLower();
    bool isFactor = false;
    if (text.endsWith(QLatin1Char('%'))) {
        text.chop(1);
    } else if (text.endsWith(QLatin1Char('x')) || text.endsWith(QChar(0x00D7))) {
        text.chop(1);
        isFactor = true;
    }
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    text = text.mid(begin, end - begin).replace(QLatin1Char(','), QLatin1Char('.'));

    const auto number = readNumber(text.toStdString());
    if (!number || !std::isfinite(*number) || !(*number > 0)) return std::nullopt;
    return clamp(isFactor ? *number : *number / 100);
}

double rowWidth(double pageWidth, bool spreads) { return spreads ? 2 * pageWidth + spreadGap : pageWidth; }

double fitScale(QSizeF content, QSizeF container, double pageBreak)
{
    if (!(content.width() > 1) || !(content.height() > 1)) return 1;
    const double widthScale = std::max(container.width() - fitMarginWidth, smallestRoom) / content.width();
    const double heightScale = pageBreak > 0
                                   ? std::max(container.height(), smallestRoom) / (content.height() + 2 * pageBreak)
                                   : std::max(container.height() - fitMarginHeight, smallestRoom) / content.height();
    return clamp(std::min(widthScale, heightScale));
}

double fitWidthScale(QSizeF content, QSizeF container)
{
    if (!(content.width() > 1)) return 1;
    return clamp(std::max(container.width() - fitMarginWidth, smallestRoom) / content.width());
}

} // namespace ZoomLevel

// ---------------------------------------------------------------- destinations

namespace PageJump {

PageDestination top(int page, const platform::PdfRect& bounds, int rotation)
{
    int turns = (rotation / 90) % 4; // truncated toward zero, then taken as 0 … 3
    if (turns < 0) turns += 4;
    switch (turns) {
    case 1: return {page, {bounds.minX(), bounds.minY()}};
    case 2: return {page, {bounds.maxX(), bounds.minY()}};
    case 3: return {page, {bounds.maxX(), bounds.maxY()}};
    default: return {page, {bounds.minX(), bounds.maxY()}};
    }
}

PageDestination top(int page, const platform::PdfPageGeometry& geometry)
{
    return top(page, geometry.cropBox, geometry.rotation);
}

} // namespace PageJump

// ---------------------------------------------------------------- selections

platform::PdfRect PageSelection::bounds(int page) const
{
    platform::PdfRect result;
    for (const Piece& piece : pieces) {
        if (piece.page != page) continue;
        for (const platform::PdfQuad& quad : piece.quads) result = result.united(quad.bounds());
    }
    return result;
}

} // namespace quarnkit
