#include "QuarnKit/Document/PaperSize.h"

#include <array>
#include <cmath>
#include <utility>

namespace quarnkit::PaperSize {
namespace {

constexpr double tolerance = 2.5;
constexpr double pointsPerMillimetre = 72.0 / 25.4;

struct StandardSize {
    const char* name;
    double shortSide, longSide; // points
    double shownShort, shownLong;
    const char* unit;
};

constexpr StandardSize inches(const char* name, double shortIn, double longIn)
{
    return {name, shortIn * 72, longIn * 72, shortIn, longIn, "in"};
}

constexpr StandardSize millimetres(const char* name, double shortMm, double longMm)
{
    return {name, shortMm * pointsPerMillimetre, longMm * pointsPerMillimetre, shortMm, longMm, "mm"};
}

// Tried in this order; the first within tolerance names the size.
constexpr std::array<StandardSize, 9> standardSizes{
    inches("Letter", 8.5, 11),       inches("Legal", 8.5, 14),    inches("Tabloid", 11, 17),
    inches("Executive", 7.25, 10.5), millimetres("A3", 297, 420), millimetres("A4", 210, 297),
    millimetres("A5", 148, 210),     millimetres("A6", 105, 148), millimetres("B5", 176, 250),
};

// Rounded to hundredths; whole numbers without a decimal part.
QString number(double value)
{
    const double rounded = std::round(value * 100) / 100;
    if (rounded == std::floor(rounded)) return QString::number(qint64(rounded));
    return QString::number(rounded, 'g', 6);
}

bool differs(platform::PdfSize a, platform::PdfSize b)
{
    return std::fabs(a.width - b.width) > tolerance || std::fabs(a.height - b.height) > tolerance;
}

} // namespace

QString describe(platform::PdfSize size)
{
    const double width = std::fabs(size.width);
    const double height = std::fabs(size.height);
    const double shortSide = std::min(width, height);
    const double longSide = std::max(width, height);
    for (const StandardSize& standard : standardSizes) {
        if (std::fabs(shortSide - standard.shortSide) > tolerance
            || std::fabs(longSide - standard.longSide) > tolerance)
            continue;
        const bool landscape = height < width;
        const double first = landscape ? standard.shownLong : standard.shownShort;
        const double second = landscape ? standard.shownShort : standard.shownLong;
        return QString::fromLatin1(standard.name) + QStringLiteral(", ") + number(first) + QStringLiteral(" \u00D7 ")
               + number(second) + QLatin1Char(' ') + QString::fromLatin1(standard.unit);
    }
    return QString::number(std::llround(width)) + QStringLiteral(" \u00D7 ") + QString::number(std::llround(height))
           + QStringLiteral(" pt");
}

platform::PdfSize displayedSize(const platform::PdfPageGeometry& geometry)
{
    const platform::PdfRect& crop = geometry.cropBox;
    const platform::PdfRect& box = (crop.width > 1 && crop.height > 1) ? crop : geometry.mediaBox;
    platform::PdfSize size{std::fabs(box.width), std::fabs(box.height)};
    if (geometry.rotation == 90 || geometry.rotation == 270) std::swap(size.width, size.height);
    return size;
}

QString describe(const platform::PdfDocument& document)
{
    const int count = document.pageCount();
    std::optional<platform::PdfSize> first;
    for (int page = 0; page < count; ++page) {
        platform::PdfSize size;
        try {
            size = displayedSize(document.pageGeometry(page));
        } catch (const platform::PdfError&) {
            continue; // a page that cannot be read has no size to compare
        }
        if (!first) {
            first = size;
        } else if (differs(size, *first)) {
            return describe(*first) + QStringLiteral(", and other sizes");
        }
    }
    return first ? describe(*first) : QStringLiteral("No pages");
}

} // namespace quarnkit::PaperSize
