#include "QuarnKit/Markup/EditBurst.h"
#include "QuarnKit/Markup/MarkupGeometry.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Markup/ToolMemory.h"

#include "Platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

using namespace quarnkit;
using nlohmann::json;

TEST(RGBA, NamesComeFromTheFirstExactRow)
{
    EXPECT_EQ(RGBA::black.name(), "Graphite");
    EXPECT_EQ(RGBA::redaction.name(), "Black");
    EXPECT_EQ(RGBA::white.name(), "Cream");
    EXPECT_EQ(RGBA::highlighter.name(), "Yellow");
    EXPECT_EQ((RGBA{0.75, 0.28, 0.27, 0.5}).name(), "Color");
    EXPECT_EQ((RGBA{0.75, 0.28, 0.27, 0.5}).opaque().name(), "Crimson");
    const RGBA near{0.7501, 0.28, 0.27, 1};
    EXPECT_EQ(near.name(), "Color");
    EXPECT_TRUE(near.matchesRGB(RGBA::crimson));
    EXPECT_FALSE((RGBA{0.79, 0.28, 0.27, 1}).matchesRGB(RGBA::crimson)); // 0.04 apart is not a match
    EXPECT_TRUE(RGBA::white.isNearWhite());
    EXPECT_FALSE(RGBA::highlighterGray.isNearWhite());
    EXPECT_TRUE(RGBA::black.isDark());
    EXPECT_FALSE(RGBA::slate.isDark());
}

TEST(RGBA, JsonNeedsAllFourNumbersAndNeverClamps)
{
    EXPECT_EQ(json(RGBA{1.5, -0.25, 0.5, 1}).get<RGBA>(), (RGBA{1.5, -0.25, 0.5, 1}));
    EXPECT_THROW(json::parse(R"({"r":1,"g":0,"b":0})").get<RGBA>(), json::exception);
    EXPECT_THROW(json::parse(R"({"r":1,"g":0,"b":"0","a":1})").get<RGBA>(), json::exception);
    EXPECT_THROW(json::parse(R"([1,0,0,1])").get<RGBA>(), json::exception);
    EXPECT_EQ(json::parse(R"({"r":1,"g":0,"b":0,"a":1,"x":5})").get<RGBA>(), (RGBA{1, 0, 0, 1}));
}

TEST(RGBA, PalettesFollowTheTool)
{
    EXPECT_TRUE(RGBA::palette(MarkupTool::eraser).empty());
    EXPECT_TRUE(RGBA::palette(MarkupTool::redact).empty());
    EXPECT_EQ(RGBA::palette(MarkupTool::note).front(), RGBA::highlighter);
    EXPECT_EQ(RGBA::palette(MarkupTool::text).size(), 8u);
    EXPECT_EQ(RGBA::palette(MarkupTool::text)[1], RGBA::ink);
    EXPECT_EQ(RGBA::from(QColor(Qt::red)), (RGBA{1, 0, 0, 1}));
    EXPECT_FALSE(RGBA::from(QColor()).has_value());
}

TEST(MarkupTool, RawValuesTitlesAndGroups)
{
    EXPECT_FALSE(markupToolFromRaw("Pen"));
    EXPECT_EQ(markupToolFromRaw("eraser"), MarkupTool::eraser);
    EXPECT_EQ(allTools.front(), MarkupTool::select);
    EXPECT_EQ(allTools.back(), MarkupTool::eraser);
    EXPECT_EQ(title(MarkupTool::strikethrough), "Strikethrough");
    EXPECT_EQ(letter(MarkupTool::ellipse), "O");
    EXPECT_TRUE(hint(MarkupTool::text).contains(QChar(0x2011)));
    EXPECT_EQ(group(MarkupTool::line), ToolGroup::shapes);
    EXPECT_FALSE(group(MarkupTool::text));
    EXPECT_FALSE(group(MarkupTool::select));
    EXPECT_FALSE(usesColor(MarkupTool::select));
    EXPECT_FALSE(usesColor(MarkupTool::redact));
    EXPECT_TRUE(usesColor(MarkupTool::note));
    EXPECT_TRUE(usesFill(MarkupTool::ellipse));
    EXPECT_FALSE(usesStroke(MarkupTool::text));
    EXPECT_EQ(kind(MarkupTool::redact), MarkKind::redaction);
    EXPECT_FALSE(kind(MarkupTool::eraser));
    for (MarkKind k : allMarkKinds) EXPECT_EQ(kind(tool(k)), k);
    EXPECT_EQ(members(ToolGroup::shapes).back(), MarkupTool::arrow);
    EXPECT_EQ(std::get<ToolGroup>(toolBar()[3]), ToolGroup::shapes);
    EXPECT_EQ(json(MarkupTool::strikethrough), json("strikethrough"));
    EXPECT_THROW(json("marker").get<MarkupTool>(), json::exception);
}

TEST(TextFont, FaceOfAFontName)
{
    EXPECT_EQ(textFontOf("Courier"), TextFont::mono);
    EXPECT_EQ(textFontOf("Cour"), TextFont::mono);
    EXPECT_EQ(textFontOf("Helvetica"), TextFont::sans);
    EXPECT_EQ(textFontOf("TimesNewRomanPSMT Times New Roman"), TextFont::serif);
    EXPECT_EQ(textFontOf("TiRo"), TextFont::serif);
    EXPECT_EQ(textFontOf("DejaVu Sans Serif"), TextFont::sans);
    EXPECT_EQ(textFontOf("Avenir"), TextFont::sans);
    EXPECT_EQ(pdfFontName(TextFont::mono), "Cour");
}

TEST(ToolStyle, JsonNeedsEveryKey)
{
    const ToolStyle style{RGBA::crimson, 5, true, 100, TextFont::serif};
    EXPECT_EQ(json(style).get<ToolStyle>(), style); // 100 stays 100: no clamping
    json missing = json(style);
    missing.erase("font");
    EXPECT_THROW(missing.get<ToolStyle>(), json::exception);
}

TEST(ToolMemory, DefaultsChoicesAndTheFixedRedactionStyle)
{
    ToolMemory memory;
    EXPECT_EQ(memory.style(MarkupTool::pen), (ToolStyle{RGBA::ink, 3, false, 16, TextFont::sans}));
    EXPECT_EQ(memory.style(MarkupTool::text).color, RGBA::graphite);
    EXPECT_EQ(memory.choice(ToolGroup::shapes), MarkupTool::rectangle);

    memory.setStyle({RGBA::moss, 9, true, 20, TextFont::mono}, MarkupTool::redact);
    EXPECT_EQ(memory.style(MarkupTool::redact), (ToolStyle{RGBA::redaction, 0, true, 16, TextFont::sans}));
    EXPECT_FALSE(memory.toJson()["styles"].contains("redact"));

    memory.setStyle({RGBA::moss, 40, false, 16, TextFont::sans}, MarkupTool::pen);
    EXPECT_EQ(memory.style(MarkupTool::pen).stroke, 40);

    memory.choose(MarkupTool::text);
    EXPECT_TRUE(memory.choices.empty());
    memory.choose(MarkupTool::arrow);
    EXPECT_EQ(memory.choices.at("shapes"), "arrow");
    EXPECT_EQ(memory.choice(ToolGroup::shapes), MarkupTool::arrow);

    memory.choices["shapes"] = "highlight";
    EXPECT_EQ(memory.choice(ToolGroup::shapes), MarkupTool::rectangle);
    memory.choices["textMarkup"] = "marker";
    EXPECT_EQ(memory.choice(ToolGroup::textMarkup), MarkupTool::highlight);
}

TEST(ToolMemory, JsonRoundTripAndDamagedData)
{
    ToolMemory memory;
    memory.setStyle({RGBA::crimson, 5, false, 16, TextFont::sans}, MarkupTool::pen);
    memory.choose(MarkupTool::arrow);
    EXPECT_EQ(ToolMemory::fromJson(json::parse(memory.toJson().dump())), memory);

    EXPECT_EQ(ToolMemory::fromJson(json::parse(R"({"styles":{}})")), ToolMemory{}); // no "choices"
    EXPECT_EQ(ToolMemory::fromJson(json::parse(R"({"styles":{"pen":{"color":{"r":1}}},"choices":{}})")), ToolMemory{});
    EXPECT_EQ(ToolMemory::fromJson(json::parse(R"("garbage")")), ToolMemory{});
    EXPECT_EQ(ToolMemory::fromJson(json::parse(R"({"styles":[],"choices":{}})")), ToolMemory{});
}

TEST(MarkupGeometry, SnappingAndBounds)
{
    const PdfPoint flat = MarkupGeometry::snapAngle({0, 0}, {10, 4});
    EXPECT_NEAR(flat.x, std::hypot(10, 4), 1e-9);
    EXPECT_NEAR(flat.y, 0, 1e-9);
    const PdfPoint diagonal = MarkupGeometry::snapAngle({0, 0}, {10, 6});
    EXPECT_NEAR(diagonal.x, diagonal.y, 1e-9);
    EXPECT_NEAR(std::hypot(diagonal.x, diagonal.y), 11.66, 0.01);
    EXPECT_EQ(MarkupGeometry::snapAngle({1, 1}, {1.0005, 1}), (PdfPoint{1.0005, 1}));
    EXPECT_EQ(MarkupGeometry::snapSquare({0, 0}, {-3, 5}), (PdfPoint{-5, 5}));
    EXPECT_EQ(MarkupGeometry::snapSquare({0, 0}, {0, -2}), (PdfPoint{2, -2}));
    EXPECT_EQ(MarkupGeometry::bounds({}, 4), PdfRect{});
    EXPECT_EQ(MarkupGeometry::bounds({{1, 1}}, 4), (PdfRect{-3, -3, 8, 8}));
    EXPECT_EQ(MarkupGeometry::rect({5, 9}, {1, 2}), (PdfRect{1, 2, 4, 7}));
}

TEST(EditBurst, RunsLastWhileEditsFollowWithinASecond)
{
    using namespace std::chrono_literals;
    const auto t0 = EditBurst::Clock::time_point{} + 100s;
    std::optional<EditBurst> burst;
    // Three colour changes 0.5 s apart: one step.
    EXPECT_FALSE(EditBurst::continues(burst, "Color", 1, t0));
    EXPECT_TRUE(EditBurst::continues(burst, "Color", 1, t0 + 500ms));
    EXPECT_TRUE(EditBurst::continues(burst, "Color", 1, t0 + 1000ms)); // measured from the latest edit
    // Exactly one second later: a new step.
    EXPECT_FALSE(EditBurst::continues(burst, "Color", 1, t0 + 2000ms));
    // Another mark, then back: three steps.
    EXPECT_FALSE(EditBurst::continues(burst, "Color", 2, t0 + 2200ms));
    EXPECT_FALSE(EditBurst::continues(burst, "Color", 1, t0 + 2400ms));
    // Another key starts its own run.
    EXPECT_FALSE(EditBurst::continues(burst, "stroke", 1, t0 + 2500ms));
    burst.reset(); // an undo registration elsewhere closes the run
    EXPECT_FALSE(EditBurst::continues(burst, "stroke", 1, t0 + 2600ms));
}

TEST(ToolMemory, LoadsAndSavesThroughTheUserDefaults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    ToolMemory memory;
    memory.setStyle({RGBA::violet, 7, true, 24, TextFont::serif}, MarkupTool::ellipse);
    memory.choose(MarkupTool::ellipse);
    {
        platform::UserDefaults defaults(path);
        EXPECT_EQ(ToolMemory::load(defaults), ToolMemory{}); // nothing stored yet
        memory.save(defaults);
        ASSERT_TRUE(defaults.synchronize());
    }
    platform::UserDefaults reread(path);
    EXPECT_EQ(ToolMemory::load(reread), memory);
    reread.set(ToolMemory::key, "not a memory");
    EXPECT_EQ(ToolMemory::load(reread), ToolMemory{});
}
