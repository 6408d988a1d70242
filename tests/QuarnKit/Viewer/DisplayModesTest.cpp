#include "QuarnKit/Viewer/DisplayModes.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>
#include <limits>

using namespace quarnkit;

TEST(DisplayModeTest, RawValuesRoundTripAndAreCaseSensitive)
{
    for (DisplayMode mode : allDisplayModes) EXPECT_EQ(displayModeFromRawValue(rawValue(mode)), mode);
    EXPECT_EQ(rawValue(DisplayMode::twoPagesContinuous), "twoPagesContinuous");
    EXPECT_FALSE(displayModeFromRawValue("Continuous"));
    EXPECT_FALSE(displayModeFromRawValue(""));
    EXPECT_EQ(displayModeFromRawValue("continuous"), DisplayMode::continuous);
}

TEST(DisplayModeTest, PlatformModesMapByPositionAndUnknownGivesContinuous)
{
    EXPECT_EQ(pdf(DisplayMode::singlePage), PdfDisplayMode::singlePage);
    EXPECT_EQ(pdf(DisplayMode::continuous), PdfDisplayMode::singlePageContinuous);
    EXPECT_EQ(pdf(DisplayMode::twoPages), PdfDisplayMode::twoUp);
    EXPECT_EQ(pdf(DisplayMode::twoPagesContinuous), PdfDisplayMode::twoUpContinuous);
    for (DisplayMode mode : allDisplayModes) EXPECT_EQ(displayModeFromPdf(pdf(mode)), mode);
    EXPECT_EQ(displayModeFromPdf(7), DisplayMode::continuous);
    EXPECT_EQ(displayModeFromPdf(-1), DisplayMode::continuous);
}

TEST(DisplayModeTest, TextsKeysAndFlags)
{
    EXPECT_EQ(title(DisplayMode::twoPagesContinuous), "Two Pages Continuous");
    EXPECT_EQ(shortTitle(DisplayMode::twoPagesContinuous), "Two continuous");
    EXPECT_EQ(shortTitle(DisplayMode::singlePage), "Single page");
    EXPECT_EQ(symbol(DisplayMode::twoPages), "rectangle.split.2x1");
    EXPECT_EQ(key(DisplayMode::singlePage), "1");
    EXPECT_EQ(key(DisplayMode::twoPagesContinuous), "4");
    EXPECT_FALSE(showsSpreads(DisplayMode::continuous));
    EXPECT_TRUE(showsSpreads(DisplayMode::twoPages));
    EXPECT_TRUE(isContinuous(DisplayMode::twoPagesContinuous));
    EXPECT_FALSE(isContinuous(DisplayMode::twoPages));
}

TEST(ZoomPresetTest, RawValuesTitlesAndKeys)
{
    for (ZoomPreset preset : allZoomPresets) EXPECT_EQ(zoomPresetFromRawValue(rawValue(preset)), preset);
    EXPECT_FALSE(zoomPresetFromRawValue("FitPage"));
    EXPECT_EQ(title(ZoomPreset::fitWidth), "Fit Width");
    EXPECT_EQ(shortTitle(ZoomPreset::actualSize), "Actual size");
    EXPECT_EQ(key(ZoomPreset::fitPage), "9");
    EXPECT_EQ(key(ZoomPreset::fitWidth), "8");
    EXPECT_EQ(key(ZoomPreset::actualSize), "0");
}

TEST(ZoomLevelTest, StepsAlongTheLadderWithTolerance)
{
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.997, true), 1.25);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.994, true), 1);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(10, true), 10);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(12, true), 10);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.05, false), 0.05);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.1, false), 0.05);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.104, false), 0.05);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(0.05, true), 0.1);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(1.004, false), 0.75);
    EXPECT_DOUBLE_EQ(ZoomLevel::step(1.006, false), 1);
    // Walking the whole ladder up and down visits every step once.
    double scale = ZoomLevel::minimum;
    std::vector<double> up;
    while (scale < ZoomLevel::maximum) up.push_back(scale = ZoomLevel::step(scale, true));
    EXPECT_EQ(up, std::vector<double>(ZoomLevel::ladder.begin(), ZoomLevel::ladder.end()));
    int downSteps = 0;
    while (scale > ZoomLevel::minimum) scale = ZoomLevel::step(scale, false), ++downSteps;
    EXPECT_EQ(downSteps, 13);
}

TEST(ZoomLevelTest, ClampPercentAndLabel)
{
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(0.05), 0.05);
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(0.01), 0.05);
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(10), 10);
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(12), 10);
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(2.5), 2.5);
    EXPECT_DOUBLE_EQ(ZoomLevel::clamp(std::numeric_limits<double>::quiet_NaN()), 0.05);
    EXPECT_EQ(ZoomLevel::percent(0.333), 33);
    EXPECT_EQ(ZoomLevel::percent(1), 100);
    EXPECT_EQ(ZoomLevel::percent(0.125), 13);
    EXPECT_EQ(ZoomLevel::label(1), "100%");
    EXPECT_EQ(ZoomLevel::label(0.333), "33%");
}

TEST(ZoomLevelTest, ReadsTypedZoom)
{
    const auto read = [](const char* text) { return ZoomLevel::scale(QString::fromUtf8(text)); };
    EXPECT_EQ(read("150%"), 1.5);
    EXPECT_EQ(read("150"), 1.5);
    EXPECT_EQ(read("  150 %  "), 1.5);
    EXPECT_EQ(read("2x"), 2.0);
    EXPECT_EQ(read("2X"), 2.0);
    EXPECT_EQ(read("2×"), 2.0);
    EXPECT_EQ(read("12,5"), 0.125);
    EXPECT_EQ(read("5000"), 10.0);
    EXPECT_EQ(read("1"), 0.05);
    EXPECT_EQ(read("1e3"), 10.0);
    EXPECT_EQ(read("1e2"), 1.0);
    for (const char* bad : {"0", "-50", "abc", "", "%", "x", "   ", "inf", "nan", "5 0", "150%%", "1.5.2", "5\n%"})
        EXPECT_FALSE(read(bad)) << bad;
}

TEST(ZoomLevelTest, ReadsDecimalPointWhateverTheLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    // Any locale with a decimal comma that the machine has; the C locale otherwise.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(ZoomLevel::scale(QStringLiteral("1.5x")), 1.5);
    EXPECT_EQ(ZoomLevel::scale(QStringLiteral("1,5x")), 1.5);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ZoomLevelTest, FitArithmetic)
{
    EXPECT_DOUBLE_EQ(ZoomLevel::rowWidth(612, false), 612);
    EXPECT_DOUBLE_EQ(ZoomLevel::rowWidth(612, true), 1232);
    // A spread of two 612-point pages in a view 1000 points wide.
    EXPECT_NEAR(ZoomLevel::fitWidthScale({1232, 792}, {1000, 700}), 964.0 / 1232, 1e-9);
    EXPECT_DOUBLE_EQ(ZoomLevel::fitScale({0, 0}, {800, 600}, 0), 1);
    EXPECT_DOUBLE_EQ(ZoomLevel::fitWidthScale({1, 500}, {800, 600}), 1);
    // A narrow container still offers 40 points.
    EXPECT_DOUBLE_EQ(ZoomLevel::fitWidthScale({400, 500}, {50, 600}), 0.1);
    // Height bound, without and with a page break.
    EXPECT_DOUBLE_EQ(ZoomLevel::fitScale({612, 792}, {2000, 816}, 0), 1);
    EXPECT_DOUBLE_EQ(ZoomLevel::fitScale({612, 792}, {2000, 808}, 8), 1);
    // Width bound.
    EXPECT_DOUBLE_EQ(ZoomLevel::fitScale({612, 792}, {342, 5000}, 0), 0.5);
    // Clamped into the range.
    EXPECT_DOUBLE_EQ(ZoomLevel::fitScale({2, 2}, {5000, 5000}, 0), 10);
    EXPECT_DOUBLE_EQ(ZoomLevel::fitWidthScale({100000, 2}, {500, 500}), 0.05);
}

TEST(PageJumpTest, TopLeftCornerFollowsRotation)
{
    const platform::PdfRect box{10, 20, 100, 200};
    EXPECT_EQ(PageJump::top(3, box, 0), (PageDestination{3, {10, 220}}));
    EXPECT_EQ(PageJump::top(3, box, 90), (PageDestination{3, {10, 20}}));
    EXPECT_EQ(PageJump::top(3, box, 180), (PageDestination{3, {110, 20}}));
    EXPECT_EQ(PageJump::top(3, box, 270), (PageDestination{3, {110, 220}}));
    EXPECT_EQ(PageJump::top(3, box, -90), (PageDestination{3, {110, 220}}));
    EXPECT_EQ(PageJump::top(3, box, 450), (PageDestination{3, {10, 20}}));
    platform::PdfPageGeometry geometry;
    geometry.mediaBox = {0, 0, 612, 792};
    geometry.cropBox = {5, 5, 600, 780};
    geometry.rotation = 180;
    EXPECT_EQ(PageJump::top(0, geometry), (PageDestination{0, {605, 5}}));
}

TEST(PageSelectionTest, BoundsPerPage)
{
    PageSelection selection;
    EXPECT_TRUE(selection.isEmpty());
    EXPECT_EQ(selection.firstPage(), -1);
    const platform::PdfQuad a{{0, 10}, {5, 10}, {0, 0}, {5, 0}};
    const platform::PdfQuad b{{20, 30}, {25, 30}, {20, 15}, {25, 15}};
    selection.pieces = {{2, {a, b}}, {3, {a}}};
    EXPECT_EQ(selection.firstPage(), 2);
    EXPECT_EQ(selection.bounds(2), (platform::PdfRect{0, 0, 25, 30}));
    EXPECT_EQ(selection.bounds(3), (platform::PdfRect{0, 0, 5, 10}));
    EXPECT_TRUE(selection.bounds(4).isEmpty());
}
