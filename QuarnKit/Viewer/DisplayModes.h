#pragma once
// How a document window lays out and scales its pages: the display modes, the
// zoom presets, the zoom ladder with its fit arithmetic, and the places the
// page view can be sent to (destinations and text selections).
#include "Platform/PdfDocument.h"
#include "Platform/PdfGeometry.h"

#include <QSizeF>
#include <QString>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnkit {

// ---------------------------------------------------------------- display modes

enum class DisplayMode { singlePage, continuous, twoPages, twoPagesContinuous };

// The page view's own layout modes, numbered 0 to 3 in this order.
enum class PdfDisplayMode { singlePage = 0, singlePageContinuous = 1, twoUp = 2, twoUpContinuous = 3 };

inline constexpr std::array<DisplayMode, 4> allDisplayModes{DisplayMode::singlePage, DisplayMode::continuous,
                                                            DisplayMode::twoPages, DisplayMode::twoPagesContinuous};

// The stored name ("singlePage", …), also the mode's identifier.
std::string rawValue(DisplayMode mode);
// Exact, case-sensitive match of a stored name.
std::optional<DisplayMode> displayModeFromRawValue(std::string_view text);
// The mode of a page-view layout mode; any unknown value gives continuous.
DisplayMode displayModeFromPdf(int pdfMode);
DisplayMode displayModeFromPdf(PdfDisplayMode pdfMode);

QString title(DisplayMode mode);      // "Single Page" — menus, status bar
QString shortTitle(DisplayMode mode); // "Single page" — settings
std::string symbol(DisplayMode mode); // symbol name of the icon table
std::string key(DisplayMode mode);    // "1" … "4", with Ctrl in the View menu
PdfDisplayMode pdf(DisplayMode mode);
bool showsSpreads(DisplayMode mode);
bool isContinuous(DisplayMode mode);

// ---------------------------------------------------------------- zoom presets

enum class ZoomPreset { fitPage, fitWidth, actualSize };

inline constexpr std::array<ZoomPreset, 3> allZoomPresets{ZoomPreset::fitPage, ZoomPreset::fitWidth,
                                                          ZoomPreset::actualSize};

std::string rawValue(ZoomPreset preset);
std::optional<ZoomPreset> zoomPresetFromRawValue(std::string_view text);
QString title(ZoomPreset preset);      // "Fit Page"
QString shortTitle(ZoomPreset preset); // "Fit page"
std::string key(ZoomPreset preset);    // "9", "8", "0"

// ---------------------------------------------------------------- zoom ladder

// Scales: 1 is 100 %.
namespace ZoomLevel {

inline constexpr double minimum = 0.05;
inline constexpr double maximum = 10.0;
inline constexpr std::array<double, 13> ladder{0.1, 0.25, 0.5, 0.75, 1, 1.25, 1.5, 2, 3, 4, 6, 8, 10};
inline constexpr std::array<int, 7> presets{50, 75, 100, 125, 150, 200, 400};
// Room left around a fitted page, in view points.
inline constexpr double fitMarginWidth = 36;
inline constexpr double fitMarginHeight = 24;
// The gap between the two pages of a spread, in page points.
inline constexpr double spreadGap = 8;

// The next step of the ladder up or down; a scale within 0.005 of a step
// counts as that step. The ends are 10 and 0.05.
double step(double scale, bool up);
// Into 0.05 … 10.
double clamp(double scale);
// Whole percent, halves away from zero.
int percent(double scale);
// "100%".
QString label(double scale);
// Reads a typed zoom: "150%", "150", "2x", "2×", "12,5"; none for anything
// that is not a positive finite number. The result is clamped.
std::optional<double> scale(const QString& text);

// Width of one row of pages: a spread is two pages and the gap.
double rowWidth(double pageWidth, bool spreads);
// The scale at which one row of pages (content, in page points) fits the
// container (view points). pageBreak: the page-break margin of the continuous
// modes, 0 otherwise.
double fitScale(QSizeF content, QSizeF container, double pageBreak);
// The scale at which one row fits the container's width.
double fitWidthScale(QSizeF content, QSizeF container);

} // namespace ZoomLevel

// ---------------------------------------------------------------- destinations

// A place in a document: a page and a point on it in PDF user space.
struct PageDestination {
    int page = 0;
    platform::PdfPoint point;
    friend bool operator==(const PageDestination&, const PageDestination&) = default;
};

namespace PageJump {

// The destination at the top left of a page as shown: the corner of `bounds`
// (the page's display box, user space) that the page's rotation turns to the
// top left.
PageDestination top(int page, const platform::PdfRect& bounds, int rotation);
// The same for a page's crop box, which is what the page view shows.
PageDestination top(int page, const platform::PdfPageGeometry& geometry);

} // namespace PageJump

// ---------------------------------------------------------------- selections

// A run of text on one or more pages: what a drag selects in the page view and
// what find reports as a match. Quads are in the user space of their page.
struct PageSelection {
    struct Piece {
        int page = 0;
        std::vector<platform::PdfQuad> quads;
        friend bool operator==(const Piece&, const Piece&) = default;
    };
    std::vector<Piece> pieces; // in reading order
    std::string text;          // UTF-8

    bool isEmpty() const { return pieces.empty(); }
    // The first page the selection touches, or -1.
    int firstPage() const { return pieces.empty() ? -1 : pieces.front().page; }
    // Bounds of the selection on one page (empty when it does not touch it).
    platform::PdfRect bounds(int page) const;
    friend bool operator==(const PageSelection&, const PageSelection&) = default;
};

} // namespace quarnkit
