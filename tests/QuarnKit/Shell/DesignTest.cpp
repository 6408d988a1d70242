#include "QuarnKit/Shell/Design.h"

#include <gtest/gtest.h>

#include <QFontInfo>

#include <thread>
#include <vector>

namespace Design = quarnkit::Design;

TEST(Design, ColoursAreTheDarkPalette)
{
    EXPECT_EQ(Design::accent().rgb(), qRgb(88, 122, 230));
    EXPECT_NEAR(Design::record().redF(), 0.75, 1e-4);
    EXPECT_NEAR(Design::canvas().greenF(), 0.059, 1e-4);
    // Backgrounds get lighter from canvas to window to chrome; paper is light.
    EXPECT_LT(Design::canvas().lightnessF(), Design::window().lightnessF());
    EXPECT_LT(Design::window().lightnessF(), Design::chrome().lightnessF());
    EXPECT_GT(Design::paper().lightnessF(), 0.9);
    for (const QColor* c : {&Design::accent(), &Design::record(), &Design::window(), &Design::chrome(),
                            &Design::canvas(), &Design::paper()})
        EXPECT_EQ(c->alphaF(), 1.0f);
}

TEST(Design, HairlineIsPaperAtLowOpacity)
{
    const QColor h = Design::hairline(), p = Design::paper();
    EXPECT_EQ(h.rgb(), p.rgb());
    EXPECT_NEAR(h.alphaF(), 0.12, 1e-4);
}

TEST(Design, FontsHaveTheirSizesAndWeights)
{
    EXPECT_EQ(Design::font().pixelSize(), 13);
    EXPECT_EQ(Design::font().weight(), QFont::Medium);
    EXPECT_EQ(Design::fontBold().pixelSize(), 13);
    EXPECT_EQ(Design::fontBold().weight(), QFont::DemiBold);
    EXPECT_EQ(Design::title().pixelSize(), 18);
    EXPECT_EQ(Design::title().weight(), QFont::DemiBold);
    EXPECT_EQ(Design::mono().pixelSize(), 12);
    EXPECT_EQ(Design::mono().styleHint(), QFont::Monospace);
}

TEST(Design, EveryReaderGetsTheSameToken)
{
    std::vector<const QColor*> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &Design::hairline(); });
    for (auto& t : threads) t.join();
    for (const QColor* c : seen) EXPECT_EQ(c, &Design::hairline());
    EXPECT_EQ(&Design::title(), &Design::title());
}
