#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Markup/MarkClipboard.h"
#include "QuarnKit/Markup/Redaction.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

using namespace quarnkit;
using platform::PdfColor;
using platform::PdfDocument;
namespace annots = platform::PdfAnnotations;

namespace {

const PdfRect letterPage{0, 0, 612, 792};

PdfAnnotation typed(const std::string& subtype)
{
    PdfAnnotation a;
    a.subtype = subtype;
    a.rect = {10, 10, 20, 20};
    return a;
}

} // namespace

TEST(AnnotationFactory, SizesPaddingsAndAlphas)
{
    const auto dot = AnnotationFactory::ink({{10, 10}}, RGBA::ink, 3);
    ASSERT_TRUE(dot);
    EXPECT_EQ(dot->rect, (PdfRect{5, 5, 10.8, 10}));
    ASSERT_EQ(dot->inkList.size(), 1u);
    EXPECT_EQ(dot->inkList[0], (std::vector<PdfPoint>{{10, 10}, {10.8, 10}}));
    EXPECT_FALSE(AnnotationFactory::ink({}, RGBA::ink, 3));

    EXPECT_FALSE(AnnotationFactory::rectangle({0, 0}, {2.9, 50}, RGBA::ink, 1, false));
    EXPECT_TRUE(AnnotationFactory::rectangle({3, 3}, {0, 0}, RGBA::ink, 1, false));
    const auto filled = AnnotationFactory::ellipse({0, 0}, {10, 10}, RGBA{1, 0, 0, 0.5}, 1, true);
    EXPECT_EQ(filled->interiorOpacity, 0.22);
    EXPECT_EQ(filled->subtype, "Circle");
    EXPECT_FALSE(AnnotationFactory::rectangle({0, 0}, {10, 10}, RGBA::ink, 1, false)->interiorColor);

    EXPECT_FALSE(AnnotationFactory::line({0, 0}, {3.99, 0}, RGBA::ink, 1, false));
    EXPECT_EQ(AnnotationFactory::arrow({0, 0}, {10, 0}, RGBA::ink, 2)->rect, (PdfRect{-18, -18, 46, 36}));
    EXPECT_EQ(AnnotationFactory::line({0, 0}, {10, 0}, RGBA::ink, 5, false)->rect, (PdfRect{-12, -12, 34, 24}));
    EXPECT_EQ(AnnotationFactory::arrow({0, 0}, {10, 0}, RGBA::ink, 2)->endEnding, "ClosedArrow");

    EXPECT_EQ(AnnotationFactory::highlight({0, 0, 10, 10}, RGBA::ink)->opacity, 0.45);
    EXPECT_EQ(AnnotationFactory::textMarkup("/Underline", {0, 0, 10, 10}, RGBA::ink)->opacity, 1.0);
    EXPECT_EQ(AnnotationFactory::textMarkup("StrikeOut", {0, 0, 10, 10}, RGBA::ink)->subtype, "StrikeOut");
    EXPECT_FALSE(AnnotationFactory::highlight({0, 0, 1.9, 10}, RGBA::ink));
    const auto q = AnnotationFactory::quad(30, 10);
    EXPECT_EQ(q[0], (PdfPoint{0, 10}));
    EXPECT_EQ(q[3], (PdfPoint{30, 0}));
    EXPECT_EQ(AnnotationFactory::highlight({5, 6, 30, 10}, RGBA::ink)->quads[0].ul, (PdfPoint{5, 16}));
}

TEST(AnnotationFactory, TextBoxesOnTurnedPagesGrowAsTheirWordsRead)
{
    // A longer text widens the box along its lines and keeps its top-left
    // corner as the turned page is seen; in user space that is another edge
    // for each turn.
    const struct {
        int rotation;
        bool alongX;                                     // the lines run along user x
        std::function<double(const PdfRect&)> left, top; // the edges that stay
    } cases[] = {
        {0, true, &PdfRect::minX, &PdfRect::maxY},
        {90, false, &PdfRect::minY, &PdfRect::minX},
        {180, true, &PdfRect::maxX, &PdfRect::minY},
        {270, false, &PdfRect::maxY, &PdfRect::maxX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rotation);
        const auto box =
            AnnotationFactory::freeText({300, 400}, "short", RGBA::ink, 12, TextFont::sans, letterPage, c.rotation);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->rotation, c.rotation);
        const double length = c.alongX ? box->rect.width : box->rect.height;
        EXPECT_NEAR(length, AnnotationFactory::textBoxSize("short", TextFont::sans, 12).width, 1e-9);
        const PdfRect grown = AnnotationFactory::textBoxBounds("a much longer line of words", TextFont::sans, 12,
                                                               box->rect, letterPage, c.rotation);
        EXPECT_GT(c.alongX ? grown.width : grown.height, length + 50);
        EXPECT_NEAR(c.left(grown), c.left(box->rect), 1e-6);
        EXPECT_NEAR(c.top(grown), c.top(box->rect), 1e-6);
    }
}

TEST(AnnotationFactory, NotesAndTextBoxesStayOnThePage)
{
    EXPECT_FALSE(AnnotationFactory::note({100, 100}, " \n\t ", RGBA::highlighter, letterPage));
    const auto corner = AnnotationFactory::note({611, 791}, "corner", RGBA::highlighter, letterPage);
    EXPECT_EQ(corner->rect, (PdfRect{590, 770, 22, 22}));
    EXPECT_EQ(corner->contents, "corner");

    const auto tiny = AnnotationFactory::freeText({100, 400}, "hi", RGBA::graphite, 2, TextFont::sans, letterPage);
    EXPECT_EQ(tiny->fontSize, 6);
    EXPECT_FALSE(AnnotationFactory::freeText({100, 400}, "  \n ", RGBA::graphite, 12, TextFont::sans, letterPage));

    const auto white = AnnotationFactory::freeText({100, 400}, "pale", RGBA::white, 12, TextFont::sans, letterPage);
    EXPECT_EQ(white->fontColor, (PdfColor{1, 1, 1}));
    EXPECT_EQ(white->interiorColor, (PdfColor{0.12, 0.12, 0.12}));
    EXPECT_EQ(white->interiorOpacity, 0.92);
    const auto dark = AnnotationFactory::freeText({100, 400}, "dark", RGBA::crimson, 12, TextFont::serif, letterPage);
    EXPECT_FALSE(dark->interiorColor);
    EXPECT_FALSE(dark->color); // a transparent box
    EXPECT_EQ(dark->fontName, "TiRo");
    EXPECT_EQ(dark->borderWidth, 0);

    // Near the right edge the box narrows to the room left, at least 28, and stays 4 inside.
    const auto edge =
        AnnotationFactory::freeText({600, 400}, "a long line of words", RGBA::graphite, 12, TextFont::sans, letterPage);
    EXPECT_EQ(edge->rect.width, 28);
    EXPECT_EQ(edge->rect.maxX(), 608);
    // The narrowed box wraps its five words onto five lines and grows to show them all.
    EXPECT_NEAR(edge->rect.height, 72 + 10, 1e-9);
    const auto roomy =
        AnnotationFactory::freeText({100, 400}, "a long line of words", RGBA::graphite, 12, TextFont::sans, letterPage);
    EXPECT_NEAR(roomy->rect.height, 15 + 10, 1e-9); // one line of 14.4, rounded up
    const auto top = AnnotationFactory::freeText({100, 791}, "top", RGBA::graphite, 12, TextFont::sans, letterPage);
    EXPECT_LE(top->rect.maxY(), 788);

    // The box fits the words as the drawing font measures them.
    const auto size = AnnotationFactory::textBoxSize("abcde", TextFont::mono, 10);
    EXPECT_EQ(size.width, 30 + 14);
    EXPECT_EQ(size.height, 12 + 10);
    EXPECT_EQ(AnnotationFactory::textBoxSize("a\nb", TextFont::mono, 10).height, 24 + 10);
    EXPECT_EQ(AnnotationFactory::textBoxSize("", TextFont::sans, 10).width, 28);
    const PdfRect refit =
        AnnotationFactory::textBoxBounds("abcde\nabcde", TextFont::mono, 10, {100, 100, 200, 50}, letterPage);
    EXPECT_EQ(refit, (PdfRect{100, 116, 44, 34})); // left and top edges kept
}

TEST(AnnotationFactory, WhatCountsAsAMark)
{
    EXPECT_TRUE(AnnotationFactory::isMarkup(typed("FreeText")));
    EXPECT_TRUE(AnnotationFactory::isMarkup(typed("/FreeText")));
    for (const char* other : {"Link", "Widget", "Stamp", "Popup", ""})
        EXPECT_FALSE(AnnotationFactory::isMarkup(typed(other))) << other;
}

TEST(MarkCatalog, KindsByAuthorSubtypeAndLineEndings)
{
    PdfAnnotation square = typed("Square");
    square.author = Redaction::author;
    EXPECT_EQ(MarkCatalog::kind(square), MarkKind::redaction);
    square.author = "Quarn Redaction";
    EXPECT_EQ(MarkCatalog::kind(square), MarkKind::redaction);
    square.author = "ravlen redaction";
    EXPECT_EQ(MarkCatalog::kind(square), MarkKind::rectangle);
    square.author.reset();
    EXPECT_EQ(MarkCatalog::kind(square), MarkKind::rectangle);
    PdfAnnotation circle = typed("Circle");
    circle.author = Redaction::author;
    EXPECT_EQ(MarkCatalog::kind(circle), MarkKind::ellipse);
    EXPECT_FALSE(Redaction::isRedaction(circle));

    EXPECT_EQ(MarkCatalog::kind(typed("/Ink")), MarkKind::drawing);
    EXPECT_EQ(MarkCatalog::kind(typed("Ink")), MarkKind::drawing);
    PdfAnnotation line = typed("Line");
    EXPECT_EQ(MarkCatalog::kind(line), MarkKind::line);
    line.startEnding = "OpenArrow";
    EXPECT_EQ(MarkCatalog::kind(line), MarkKind::arrow);
    EXPECT_FALSE(MarkCatalog::kind(typed("Link")));
    EXPECT_FALSE(MarkCatalog::style(typed("Link")));

    EXPECT_FALSE(Redaction::mark({0, 0}, {2, 40}));
    const auto r = Redaction::mark({3, 3}, {0, 0});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->contents, "Redaction");
    EXPECT_EQ(MarkCatalog::kind(*r), MarkKind::redaction);
}

TEST(MarkCatalog, StylesReadBack)
{
    const auto white = *AnnotationFactory::freeText({100, 400}, "pale", RGBA::white, 12, TextFont::mono, letterPage);
    const auto whiteStyle = MarkCatalog::style(white);
    EXPECT_EQ(whiteStyle->color, RGBA::white);
    EXPECT_TRUE(whiteStyle->filled);
    EXPECT_EQ(whiteStyle->font, TextFont::mono);
    const auto crimson = MarkCatalog::style(
        *AnnotationFactory::freeText({100, 400}, "red", RGBA::crimson, 12, TextFont::sans, letterPage));
    EXPECT_EQ(crimson->color, RGBA::crimson);
    EXPECT_FALSE(crimson->filled);
    const auto highlight = MarkCatalog::style(*AnnotationFactory::highlight({0, 0, 10, 10}, RGBA::highlighter));
    EXPECT_EQ(highlight->color, RGBA::highlighter);
    EXPECT_EQ(highlight->stroke, 1);
    EXPECT_EQ(highlight->textSize, 12);
    PdfAnnotation colourless = typed("Square");
    EXPECT_EQ(MarkCatalog::style(colourless)->color, RGBA::ink);
}

TEST(MarkCatalog, SnippetsAndEntryColours)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(1, "alpha  beta gamma"));
    PdfRect line;
    for (const auto& block : doc->textPage(0).blocks)
        for (const auto& l : block.lines)
            if (l.text().find("alpha") != std::string::npos) line = l.bounds;
    ASSERT_FALSE(line.isEmpty());
    PdfAnnotation high = *AnnotationFactory::highlight(line, RGBA{1, 0.85, 0.22, 0.5});
    annots::add(*doc, 0, high);
    PdfAnnotation spaces =
        *AnnotationFactory::freeText({300, 300}, "x", RGBA::graphite, 12, TextFont::sans, letterPage);
    spaces.contents = "   ";
    annots::add(*doc, 0, spaces);
    const auto entries = MarkCatalog::entries(*doc, 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].snippet, "alpha beta gamma");
    EXPECT_EQ(entries[0].color, RGBA::highlighter);
    EXPECT_EQ(entries[1].snippet, "Text");
    EXPECT_EQ(MarkCatalog::collapsed(QStringLiteral(" a\u2028b\n\nc\u0085d ")), "a b c d");
}

TEST(MarkClipboard, CarriesMarksAndTheirWords)
{
    const auto first = *AnnotationFactory::freeText({100, 100}, "x", RGBA::graphite, 12, TextFont::sans, letterPage);
    PdfAnnotation spaced = first;
    spaced.contents = "  word  ";
    PdfAnnotation second = first;
    second.contents = "another";
    const auto oval = *AnnotationFactory::ellipse({10, 10}, {50, 50}, RGBA::moss, 2, true);
    PdfAnnotation blankNote = *AnnotationFactory::note({300, 300}, "n", RGBA::highlighter, letterPage);
    blankNote.contents = "   ";

    EXPECT_EQ(MarkClipboard::plainText({spaced, oval, second, blankNote}), "word\n\nanother");
    EXPECT_TRUE(MarkClipboard::plainText({oval}).isEmpty());

    const auto mime = MarkClipboard::mimeData({spaced, oval, second}, {0, 0, 0, 0});
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->text(), "word\n\nanother");
    EXPECT_TRUE(MarkClipboard::canRead(mime.get()));
    const auto clip = PdfDocument::openBytes(mime->data(MarkClipboard::mimeType));
    EXPECT_EQ(clip->pageGeometry(0).mediaBox, letterPage); // zero-size bounds give a Letter page
    const auto back = MarkClipboard::read(mime.get());
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].contents, "  word  ");
    EXPECT_EQ(back[1].subtype, "Circle");
    EXPECT_EQ(back[1].rect, oval.rect); // coordinates kept
    for (const auto& a : back) {
        EXPECT_EQ(a.objectNumber, 0);
        EXPECT_FALSE(a.hasPopup);
    }
    EXPECT_FALSE(MarkClipboard::mimeData({}, letterPage));
}

TEST(MarkClipboard, ForeignAndDamagedDataCarryNoMarks)
{
    QMimeData textOnly;
    textOnly.setText("just words");
    EXPECT_FALSE(MarkClipboard::canRead(&textOnly));
    EXPECT_TRUE(MarkClipboard::read(&textOnly).empty());
    EXPECT_TRUE(MarkClipboard::annotations("not a pdf").empty());
    EXPECT_TRUE(MarkClipboard::annotations({}).empty());

    // A clipboard PDF edited elsewhere to hold a link and a widget.
    PdfAnnotation link = typed("Link");
    PdfAnnotation widget = typed("Widget");
    const auto mark = *AnnotationFactory::rectangle({0, 0}, {10, 10}, RGBA::ink, 1, false);
    const auto marks = MarkClipboard::annotations(annots::clipboardPdf({link, mark, widget}, letterPage));
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].subtype, "Square");
}

TEST(MarkClipboard, WritingNothingLeavesTheClipboardAlone)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_TRUE(clipboard);
    clipboard->setText("before");
    EXPECT_FALSE(MarkClipboard::write({}, letterPage, clipboard));
    EXPECT_EQ(clipboard->text(), "before");
    const auto mark = *AnnotationFactory::note({50, 50}, "pinned", RGBA::highlighter, letterPage);
    ASSERT_TRUE(MarkClipboard::write({mark}, letterPage, clipboard));
    EXPECT_TRUE(MarkClipboard::canRead(clipboard->mimeData()));
    EXPECT_EQ(MarkClipboard::read(clipboard->mimeData()).size(), 1u);
}

TEST(Redaction, CountsOverPages)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    annots::add(*doc, 0, *Redaction::mark({10, 10}, {50, 50}));
    annots::add(*doc, 0, *Redaction::mark({60, 10}, {90, 50}));
    annots::add(*doc, 0, *AnnotationFactory::rectangle({10, 10}, {50, 50}, RGBA::ink, 1, true));
    EXPECT_EQ(Redaction::count(*doc, {}), 0);
    EXPECT_EQ(Redaction::count(*doc, {0, 0}), 4);
    EXPECT_EQ(Redaction::count(*doc, {1, 7, -1}), 0);
    EXPECT_EQ(Redaction::redactions(*doc, 0).size(), 2u);
}
