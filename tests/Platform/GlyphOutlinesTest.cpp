// Fonts loaded from the system's font files and the base-14 faces, and the
// outlines of lines of text set in them.
#include "Platform/GlyphOutlines.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace platform;

namespace {

const char* const kristi = "/usr/share/fonts/truetype/kristi/Kristi.ttf";

// How many subpaths (contours) a path holds.
int contours(const OutlinePath& path)
{
    return int(std::count_if(path.elements.begin(), path.elements.end(),
                             [](const PathElement& e) { return e.verb == PathVerb::move; }));
}

} // namespace

TEST(GlyphOutlines, FontsLoadFromFilesAndBase14NamesOnly)
{
    struct Case {
        std::optional<OutlineFont> font;
        bool loads;
        const char* name;
    };
    QTemporaryDir dir;
    const QString bogus = dir.filePath("not-a-font.ttf");
    QFile f(bogus);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is no font at all");
    f.close();

    const Case cases[] = {
        {OutlineFont::fromFile(kristi), true, "Kristi"},
        {OutlineFont::fromFile("/usr/share/fonts/opentype/dancingscript/DancingScript-Regular.otf"), true,
         "Dancing Script"},
        {OutlineFont::base14("Helvetica"), true, "Helvetica"},
        {OutlineFont::base14("Times-Bold"), true, "Times-Bold"},
        {OutlineFont::base14("HelveticaNeue-Medium"), false, ""},
        {OutlineFont::fromFile("/no/such/font.ttf"), false, ""},
        {OutlineFont::fromFile(bogus.toStdString()), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.font.has_value(), c.loads);
        if (c.font) {
            EXPECT_NE(c.font->name().find(c.name), std::string::npos) << c.font->name();
        }
    }
}

TEST(GlyphOutlines, LineSitsOnTheBaselineAndGrowsRightwards)
{
    const auto helvetica = OutlineFont::base14("Helvetica");
    ASSERT_TRUE(helvetica);
    const OutlinePath h = helvetica->line("H", 100);
    const OutlinePath hh = helvetica->line("H H", 100);
    const OutlinePath g = helvetica->line("g", 100);

    // Helvetica's H: 72.2 units wide, 72.9 high, standing on the baseline with y up.
    EXPECT_EQ(contours(h), 1);
    EXPECT_NEAR(h.bounds().minY(), 0, 0.5);
    EXPECT_NEAR(h.bounds().maxY(), 72.9, 0.5);
    EXPECT_GT(h.bounds().minX(), 0);
    // The second H follows an H and a space: 72.2 + 27.8 units further right.
    EXPECT_EQ(contours(hh), 2);
    EXPECT_NEAR(hh.bounds().maxX() - h.bounds().maxX(), 100, 0.5);
    // A descender goes below the baseline.
    EXPECT_LT(g.bounds().minY(), -15);
    // Scaled with the size.
    EXPECT_NEAR(helvetica->line("H", 50).bounds().height, h.bounds().height / 2, 0.5);
}

TEST(GlyphOutlines, MissingCharactersComeFromFallbackFonts)
{
    const auto font = OutlineFont::fromFile(kristi);
    ASSERT_TRUE(font);
    ASSERT_FALSE(font->covers(U'\u03A9')); // the handwriting font has no Greek
    EXPECT_TRUE(font->covers(U'A'));

    const OutlinePath latin = font->line("A", 100);
    const OutlinePath mixed = font->line("A\u03A9", 100);
    EXPECT_FALSE(latin.empty());
    EXPECT_GT(mixed.elements.size(), latin.elements.size());
    EXPECT_GT(mixed.bounds().maxX(), latin.bounds().maxX() + 20);
}

TEST(GlyphOutlines, BlankTextHasNoOutline)
{
    const auto font = OutlineFont::base14("Helvetica");
    ASSERT_TRUE(font);
    for (const char* text : {"", " ", "   \t"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(font->line(text, 100).empty());
    }
}
