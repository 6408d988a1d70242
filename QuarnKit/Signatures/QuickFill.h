#pragma once
// The quick-fill stamps: today's date, a checkmark and a cross, each built as
// a mark centred on a point of a page and reading upright on the shown page.
// Each says what it is in its contents (the date's text, "Checkmark",
// "Cross"), as the marks list and summary show it.
// The date is a text box on an upright page and lettered ink on a turned one;
// on a page too narrow for it the box narrows and its words wrap. A page 8
// points or less across, where nothing fits inside the 4-point margin, gets
// no stamp.
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Shell/RGBA.h"

#include <QDate>
#include <QLocale>
#include <QString>

#include <optional>
#include <string>

namespace quarnkit {

using platform::PdfAnnotation;
using platform::PdfPoint;
using platform::PdfRect;

namespace QuickFill {

inline constexpr double dateSize = 12;        // point size of the date's text
inline constexpr double dateInkHeight = 8.64; // height of the lettered date on a turned page
inline constexpr double checkmarkSize = 16;   // side of the checkmark's square
inline constexpr double crossSize = 14;       // side of the cross's square

// The locale's short numeric date.
QString dateString(const QDate& date, const QLocale& locale);

std::optional<PdfAnnotation> date(const std::string& text, PdfPoint center, const PdfRect& pageBounds, int rotation,
                                  const RGBA& color);
std::optional<PdfAnnotation> checkmark(PdfPoint center, const PdfRect& pageBounds, int rotation, const RGBA& color);
std::optional<PdfAnnotation> cross(PdfPoint center, const PdfRect& pageBounds, int rotation, const RGBA& color);

} // namespace QuickFill

} // namespace quarnkit
