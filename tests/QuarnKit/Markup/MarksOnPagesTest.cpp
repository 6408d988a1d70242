// Marks built by the factory, put on a page, saved, reopened and read back
// through the catalog; drawn by ravlen and by poppler.
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/Redaction.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>

using namespace quarnkit;
using platform::PdfDocument;
namespace annots = platform::PdfAnnotations;

namespace {

struct Expected {
    PdfAnnotation annotation;
    MarkKind kind;
    RGBA color;
    double stroke;
    bool filled;
    double textSize;
    TextFont font;
};

PdfAnnotation must(std::optional<PdfAnnotation> a)
{
    EXPECT_TRUE(a.has_value());
    return a ? *a : PdfAnnotation{};
}

// Every kind of mark with every style option, spread over a Letter page.
std::vector<Expected> everyMark()
{
    std::vector<Expected> out;
    auto add = [&](std::optional<PdfAnnotation> a, MarkKind k, RGBA c, double stroke, bool filled, double size = 12,
                   TextFont font = TextFont::sans) {
        out.push_back({must(std::move(a)), k, c, stroke, filled, size, font});
    };
    add(AnnotationFactory::ink({{40, 700}, {80, 740}, {120, 700}}, RGBA::ink, 1), MarkKind::drawing, RGBA::ink, 1,
        false);
    add(AnnotationFactory::ink({{140, 700}, {200, 700}}, RGBA::crimson, 16), MarkKind::drawing, RGBA::crimson, 16,
        false);
    add(AnnotationFactory::highlight({40, 640, 150, 14}, RGBA::highlighterGreen), MarkKind::highlight,
        RGBA::highlighterGreen, 1, false);
    add(AnnotationFactory::textMarkup("Underline", {40, 610, 150, 14}, RGBA::moss), MarkKind::underline, RGBA::moss, 1,
        false);
    add(AnnotationFactory::textMarkup("StrikeOut", {40, 580, 150, 14}, RGBA::violet), MarkKind::strikethrough,
        RGBA::violet, 1, false);
    add(AnnotationFactory::rectangle({250, 600}, {350, 680}, RGBA::ink, 4, true), MarkKind::rectangle, RGBA::ink, 4,
        true);
    add(AnnotationFactory::rectangle({380, 600}, {480, 680}, RGBA::amber, 2, false), MarkKind::rectangle, RGBA::amber,
        2, false);
    add(AnnotationFactory::ellipse({250, 480}, {350, 560}, RGBA::moss, 3, true), MarkKind::ellipse, RGBA::moss, 3,
        true);
    add(AnnotationFactory::ellipse({380, 480}, {480, 560}, RGBA::slate, 8, false), MarkKind::ellipse, RGBA::slate, 8,
        false);
    add(AnnotationFactory::line({40, 500}, {200, 540}, RGBA::graphite, 5, false), MarkKind::line, RGBA::graphite, 5,
        false);
    add(AnnotationFactory::arrow({40, 420}, {200, 460}, RGBA::crimson, 2), MarkKind::arrow, RGBA::crimson, 2, false);
    add(AnnotationFactory::freeText({40, 360}, "Sans words", RGBA::graphite, 16, TextFont::sans, {0, 0, 612, 792}),
        MarkKind::text, RGBA::graphite, 0, false, 16, TextFont::sans);
    add(AnnotationFactory::freeText({240, 360}, "Serif words\nover two lines", RGBA::crimson, 20, TextFont::serif,
                                    {0, 0, 612, 792}),
        MarkKind::text, RGBA::crimson, 0, false, 20, TextFont::serif);
    add(AnnotationFactory::freeText({40, 300}, "Mono on dark", RGBA::white, 12, TextFont::mono, {0, 0, 612, 792}),
        MarkKind::text, RGBA::white, 0, true, 12, TextFont::mono);
    add(AnnotationFactory::note({520, 700}, "  A note\n", RGBA::highlighterPink, {0, 0, 612, 792}), MarkKind::note,
        RGBA::highlighterPink, 1, false);
    add(Redaction::mark({400, 250}, {500, 300}), MarkKind::redaction, RGBA{0, 0, 0, 1}, 0, true);
    return out;
}

void expectColor(const RGBA& got, const RGBA& want)
{
    EXPECT_NEAR(got.r, want.r, 1e-4);
    EXPECT_NEAR(got.g, want.g, 1e-4);
    EXPECT_NEAR(got.b, want.b, 1e-4);
    EXPECT_EQ(got.a, 1);
}

QColor at(const QImage& image, PdfPoint p) { return image.pixelColor(int(p.x), int(792 - p.y)); }

// The 0..255 value of a colour channel painted at `alpha` over white.
double tint(double channel, double alpha) { return 255 * (1 - alpha + alpha * channel); }

QImage popplerRender(const QString& pdf, const QTemporaryDir& dir)
{
    const QString prefix = dir.filePath("poppler");
    const QString command = "pdftoppm -r 72 -png -singlefile '" + pdf + "' '" + prefix + "'";
    if (std::system(command.toUtf8().constData()) != 0) return {};
    return QImage(prefix + ".png");
}

} // namespace

TEST(MarksOnPages, EveryKindAndStyleSurvivesSaveAndReopen)
{
    auto doc = PdfDocument::createBlank();
    const auto marks = everyMark();
    for (const auto& m : marks) annots::add(*doc, 0, m.annotation);

    QTemporaryDir dir;
    const QString path = dir.filePath("every-mark.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const auto reopened = PdfDocument::openFile(path.toStdString());
    const auto entries = MarkCatalog::entries(*reopened, 0);
    ASSERT_EQ(entries.size(), marks.size());

    for (const auto& m : marks) {
        // Entries come in reading order; find each mark by its place.
        const auto it = std::find_if(entries.begin(), entries.end(), [&](const MarkEntry& e) {
            return std::abs(e.annotation.rect.x - m.annotation.rect.x) < 0.01
                   && std::abs(e.annotation.rect.y - m.annotation.rect.y) < 0.01;
        });
        ASSERT_NE(it, entries.end());
        SCOPED_TRACE(title(m.kind).toStdString());
        EXPECT_EQ(it->kind, m.kind);
        const auto style = MarkCatalog::style(it->annotation);
        ASSERT_TRUE(style);
        EXPECT_EQ(style->kind, m.kind);
        expectColor(style->color, m.color);
        EXPECT_EQ(style->color.name(), m.color.name()); // palette colours read back exactly
        EXPECT_NEAR(style->stroke, m.stroke, 1e-4);
        EXPECT_EQ(style->filled, m.filled);
        EXPECT_NEAR(style->textSize, m.textSize, 1e-4);
        EXPECT_EQ(style->font, m.font);
        EXPECT_EQ(style->head, m.kind == MarkKind::arrow);
    }
    const auto highlight =
        std::find_if(entries.begin(), entries.end(), [](const MarkEntry& e) { return e.kind == MarkKind::highlight; });
    EXPECT_NEAR(highlight->annotation.opacity, 0.45, 1e-4);
    const auto note =
        std::find_if(entries.begin(), entries.end(), [](const MarkEntry& e) { return e.kind == MarkKind::note; });
    EXPECT_EQ(note->snippet, "A note");
    EXPECT_EQ(note->annotation.iconName, "Comment");
    EXPECT_EQ(Redaction::count(*reopened, {0, 0, 5}), 2);
}

TEST(MarksOnPages, PopplerDrawsEachMarkWhereRavlenDoes)
{
    auto doc = PdfDocument::createBlank();
    for (const auto& m : everyMark()) annots::add(*doc, 0, m.annotation);
    QTemporaryDir dir;
    const QString path = dir.filePath("every-mark.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const QImage ours = PdfDocument::openFile(path.toStdString())->render(0, 1.0);
    const QImage theirs = popplerRender(path, dir);
    ASSERT_FALSE(theirs.isNull());
    ASSERT_EQ(theirs.size(), ours.size());

    for (const QImage* image : {&ours, &theirs}) {
        SCOPED_TRACE(image == &ours ? "ravlen" : "poppler");
        auto near = [](const QColor& c, double r, double g, double b, double slack = 10) {
            EXPECT_NEAR(c.red(), r, slack);
            EXPECT_NEAR(c.green(), g, slack);
            EXPECT_NEAR(c.blue(), b, slack);
        };
        const RGBA ink = RGBA::ink;
        // Filled rectangle (250,600)-(350,680), border 4: inside at a 22 % tint, border at full colour.
        near(at(*image, {300, 640}), tint(ink.r, 0.22), tint(ink.g, 0.22), tint(ink.b, 0.22));
        near(at(*image, {251.5, 640}), 255 * ink.r, 255 * ink.g, 255 * ink.b, 25);
        near(at(*image, {245, 640}), 255, 255, 255, 3);
        // Unfilled rectangle: clear inside.
        near(at(*image, {430, 640}), 255, 255, 255, 3);
        // Highlight at 45 %.
        const RGBA green = RGBA::highlighterGreen;
        near(at(*image, {100, 647}), tint(green.r, 0.45), tint(green.g, 0.45), tint(green.b, 0.45), 14);
        // The thick ink stroke along y = 700.
        near(at(*image, {170, 700}), 255 * RGBA::crimson.r, 255 * RGBA::crimson.g, 255 * RGBA::crimson.b, 25);
        // The arrow's head just behind its tip at (200, 460).
        const QColor head = at(*image, {195, 458.5});
        EXPECT_LT(head.green(), 150);
        // The note's bubble in the note's colour.
        const PdfRect noteBox{509, 689, 22, 22};
        near(at(*image, {noteBox.x + 10, noteBox.y + 18.5}), 255 * RGBA::highlighterPink.r,
             255 * RGBA::highlighterPink.g, 255 * RGBA::highlighterPink.b, 25);
        // The redaction is opaque black.
        near(at(*image, {450, 275}), 0, 0, 0, 3);
        // White words on the dark backing: a dark box with light pixels in it.
        int dark = 0, light = 0;
        for (int y = 290; y < 310; ++y) // the box spans y 287.8 to 312.2, its words from x 47
            for (int x = 45; x < 120; ++x) {
                const QColor c = at(*image, {double(x), double(y)});
                if (c.red() < 70) ++dark;
                if (c.red() > 150) ++light;
            }
        EXPECT_GT(dark, 300);
        EXPECT_GT(light, 20);
    }
}

TEST(MarksOnPages, DragAcrossTwoLinesOfCorpusTextMarksEachLine)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    const auto text = doc->textPage(0);
    ASSERT_GE(text.blocks.size(), 1u);
    ASSERT_GE(text.blocks[0].lines.size(), 2u);
    const PdfRect first = text.blocks[0].lines[0].bounds, second = text.blocks[0].lines[1].bounds;

    const PdfPoint from{first.x + 50, first.midY()}, to{second.x + 300, second.midY()};
    const auto marks = AnnotationFactory::textMarkups("Highlight", *doc, 0, from, to, RGBA::highlighter);
    ASSERT_EQ(marks.size(), 2u);
    for (const auto& m : marks) {
        EXPECT_EQ(m.quads.size(), 1u);
        EXPECT_NEAR(m.opacity, 0.45, 1e-9);
    }
    EXPECT_NEAR(marks[0].rect.midY(), first.midY(), 1);
    EXPECT_NEAR(marks[1].rect.midY(), second.midY(), 1);
    EXPECT_NEAR(marks[0].rect.maxX(), first.maxX(), 1); // from the start point to the end of the first line
    EXPECT_NEAR(marks[1].rect.x, second.x, 1);          // and from the start of the second to the end point
    EXPECT_LT(marks[1].rect.maxX(), second.maxX() - 50);

    // The words under the marks are what the catalog lists.
    for (const auto& m : marks) annots::add(*doc, 0, m);
    const auto entries = MarkCatalog::entries(*doc, 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(QString::fromStdString(text.blocks[0].lines[0].text())
                    .simplified()
                    .endsWith(entries[0].snippet.split(' ').last()));
    EXPECT_FALSE(entries[1].snippet.isEmpty());
}

TEST(MarksOnPages, AClickMarksOneWordAndBlankSpaceNothing)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    const PdfRect line = doc->textPage(0).blocks[0].lines[0].bounds;
    const PdfPoint click{line.x + 60, line.midY()};
    const auto word = AnnotationFactory::textLines(*doc, 0, click, {click.x + 1, click.y});
    ASSERT_EQ(word.size(), 1u);
    EXPECT_LT(word[0].width, 60);
    EXPECT_TRUE(word[0].intersects(MarkupGeometry::rect(click, click).insetBy(-3, -3)));
    EXPECT_TRUE(AnnotationFactory::textLines(*doc, 0, {500, 60}, {500.5, 60}).empty());
    EXPECT_TRUE(AnnotationFactory::textHighlights(*doc, 0, {10, 10, 1.5, 50}, RGBA::highlighter).empty());
    EXPECT_EQ(AnnotationFactory::textHighlights(*doc, 0, line, RGBA::highlighter).size(), 1u);
}

TEST(MarksOnPages, CatalogOrdersByRowsAndSkipsNonMarks)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libre-office-link.pdf"));
    // Tops 1 point apart share a row (left to right); 10 points apart go top to bottom.
    annots::add(*doc, 0, must(AnnotationFactory::rectangle({300, 500}, {350, 600}, RGBA::ink, 1, false)));
    annots::add(*doc, 0, must(AnnotationFactory::rectangle({100, 501}, {150, 601}, RGBA::ink, 1, false)));
    annots::add(*doc, 0, must(AnnotationFactory::rectangle({50, 400}, {90, 590}, RGBA::ink, 1, false)));
    const auto entries = MarkCatalog::entries(*doc, 0);
    ASSERT_EQ(entries.size(), 3u); // the link is no mark
    EXPECT_EQ(entries[0].annotation.rect.x, 100);
    EXPECT_EQ(entries[1].annotation.rect.x, 300);
    EXPECT_EQ(entries[2].annotation.rect.x, 50);
    EXPECT_EQ(entries[0].snippet, "Rectangle");
    EXPECT_NE(entries[0].id(), entries[1].id());
}

TEST(MarksOnPages, GroupsListOnlyPagesWithMarks)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(6));
    annots::add(*doc, 1, must(AnnotationFactory::note({100, 100}, "second", RGBA::highlighter, {0, 0, 612, 792})));
    annots::add(*doc, 4,
                must(AnnotationFactory::note({100, 100}, std::string(300, 'x'), RGBA::highlighter, {0, 0, 612, 792})));
    const auto groups = MarkCatalog::groups(*doc);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].pageIndex, 1);
    EXPECT_EQ(groups[1].pageIndex, 4);
    EXPECT_EQ(groups[1].entries[0].snippet.size(), 240);
    EXPECT_EQ(MarkCatalog::entries(*doc).size(), 2u);
}

TEST(MarksOnPages, CorpusAnnotationsReadAsMarks)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf"));
    const auto entries = MarkCatalog::entries(*doc, 0);
    std::set<MarkKind> kinds;
    for (const auto& e : entries) kinds.insert(e.kind);
    EXPECT_TRUE(kinds.count(MarkKind::note));
    EXPECT_TRUE(kinds.count(MarkKind::highlight));
    EXPECT_TRUE(kinds.count(MarkKind::drawing));
    for (const auto& e : entries) EXPECT_EQ(e.color.a, 1);
}
