#include "Platform/PdfAnnotations.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextLayout>

#include <regex>

using platform::PdfAnnotation;
using platform::PdfColor;
using platform::PdfDocument;
using platform::PdfPoint;
using platform::PdfRect;
namespace annots = platform::PdfAnnotations;

namespace {

PdfAnnotation square(PdfRect r, PdfColor c, double width, bool filled)
{
    PdfAnnotation a;
    a.subtype = "Square";
    a.rect = r;
    a.color = c;
    a.borderWidth = width;
    if (filled) {
        a.interiorColor = c;
        a.interiorOpacity = 0.22;
    }
    return a;
}

// The colour at a point of user space, on a page rendered at `scale` (no crop, no rotation).
QColor pixelAt(const QImage& image, double pageHeight, double scale, PdfPoint p)
{
    return image.pixelColor(int(p.x * scale), int((pageHeight - p.y) * scale));
}

std::shared_ptr<PdfDocument> reopened(const PdfDocument& doc) { return PdfDocument::openBytes(doc.save()); }

} // namespace

TEST(PdfAnnotations, EveryKeyRoundTripsThroughASave)
{
    auto doc = PdfDocument::createBlank();
    std::vector<PdfAnnotation> made;

    made.push_back(square({100, 100, 80, 60}, {0.75, 0.28, 0.27}, 3, true));

    PdfAnnotation ink;
    ink.subtype = "Ink";
    ink.rect = {10, 10, 50, 50};
    ink.color = PdfColor{0.345, 0.478, 0.902};
    ink.borderWidth = 2.5;
    ink.inkList = {{{15, 15}, {30, 40}, {55, 20}}, {{20, 50}, {20.8, 50}}};
    made.push_back(ink);

    PdfAnnotation line;
    line.subtype = "Line";
    line.rect = {200, 200, 120, 80};
    line.color = PdfColor{0, 0, 1};
    line.borderWidth = 2;
    line.lineStart = PdfPoint{218, 218};
    line.lineEnd = PdfPoint{302, 262};
    line.endEnding = "ClosedArrow";
    made.push_back(line);

    PdfAnnotation high;
    high.subtype = "Highlight";
    high.rect = {50, 600, 200, 14};
    high.color = PdfColor{1, 0.85, 0.22};
    high.opacity = 0.45;
    high.quads = {{{50, 614}, {250, 614}, {50, 600}, {250, 600}}};
    made.push_back(high);

    PdfAnnotation text;
    text.subtype = "FreeText";
    text.rect = {300, 500, 150, 40};
    text.contents = "Grüße (and) \\ back";
    text.fontName = "TiRo";
    text.fontSize = 14;
    text.fontColor = PdfColor{0.16, 0.15, 0.14};
    text.borderWidth = 0;
    text.rotation = 90;
    made.push_back(text);

    PdfAnnotation note;
    note.subtype = "Text";
    note.rect = {500, 700, 22, 22};
    note.contents = "A note";
    note.iconName = "Comment";
    note.color = PdfColor{1, 0.85, 0.22};
    note.author = "ravlen Redaction";
    made.push_back(note);

    for (auto& a : made) a.objectNumber = annots::add(*doc, 0, a);

    const auto back = annots::list(*reopened(*doc), 0);
    ASSERT_EQ(back.size(), made.size());
    for (size_t i = 0; i < made.size(); ++i) {
        const PdfAnnotation& want = made[i];
        const PdfAnnotation& got = back[i];
        SCOPED_TRACE(want.subtype);
        EXPECT_EQ(got.objectNumber, want.objectNumber);
        EXPECT_EQ(got.subtype, want.subtype);
        EXPECT_NEAR(got.rect.x, want.rect.x, 1e-3);
        EXPECT_NEAR(got.rect.maxY(), want.rect.maxY(), 1e-3);
        EXPECT_EQ(got.color.has_value(), want.color.has_value());
        if (got.color) {
            EXPECT_NEAR(got.color->g, want.color->g, 1e-4);
        }
        EXPECT_NEAR(got.opacity, want.opacity, 1e-4);
        EXPECT_EQ(got.interiorColor.has_value(), want.interiorColor.has_value());
        EXPECT_NEAR(got.interiorOpacity, want.interiorOpacity, 1e-4);
        EXPECT_EQ(got.contents, want.contents);
        EXPECT_EQ(got.author, want.author);
        EXPECT_EQ(got.iconName, want.iconName);
        EXPECT_EQ(got.fontName, want.fontName);
        EXPECT_NEAR(got.fontSize, want.fontSize, 1e-4);
        EXPECT_EQ(got.rotation, want.rotation);
        EXPECT_EQ(got.quads.size(), want.quads.size());
        EXPECT_EQ(got.inkList.size(), want.inkList.size());
        EXPECT_EQ(got.endEnding, want.endEnding);
        EXPECT_EQ(got.lineStart.has_value(), want.lineStart.has_value());
        EXPECT_FALSE(got.hasPopup);
    }
    EXPECT_EQ(back[1].inkList[0].size(), 3u);
    EXPECT_NEAR(back[1].inkList[1][1].x, 20.8, 1e-4);
    EXPECT_NEAR(back[2].lineEnd->x, 302, 1e-4);
}

TEST(PdfAnnotations, OwnAppearanceSurvivesPageLoadsAndOtherReaders)
{
    // A filled rectangle: inside at a 22 % tint, border at full colour, in
    // MuPDF (which would otherwise synthesise its own look) and in poppler.
    auto doc = PdfDocument::createBlank();
    annots::add(*doc, 0, square({100, 100, 200, 100}, {0, 0, 1}, 6, true));
    const auto check = [](const QImage& image, double scale) {
        const QColor inside = pixelAt(image, 792, scale, {200, 150});
        const QColor border = pixelAt(image, 792, scale, {102, 150});
        const QColor outside = pixelAt(image, 792, scale, {90, 150});
        EXPECT_NEAR(inside.red(), 255 * 0.78, 8);
        EXPECT_NEAR(inside.blue(), 255, 3);
        EXPECT_LT(border.red(), 20);
        EXPECT_GT(border.blue(), 235);
        EXPECT_GT(outside.red(), 245);
    };
    check(doc->render(0, 1.0), 1.0);
    check(reopened(*doc)->render(0, 1.0), 1.0);

    QTemporaryDir dir;
    const QString pdf = dir.filePath("marks.pdf");
    doc->saveToFile(testsupport::chosen(pdf.toStdString()));
    const QString prefix = dir.filePath("page");
    ASSERT_EQ(std::system(("pdftoppm -r 72 -png -singlefile " + pdf + " " + prefix).toUtf8().constData()), 0);
    const QImage image(prefix + ".png");
    ASSERT_FALSE(image.isNull());
    check(image, 1.0);
}

TEST(PdfAnnotations, RemoveAndInsertKeepTheDictionaryAndItsPlace)
{
    auto doc = PdfDocument::createBlank();
    const int a = annots::add(*doc, 0, square({10, 10, 20, 20}, {1, 0, 0}, 1, false));
    const int b = annots::add(*doc, 0, square({40, 10, 20, 20}, {0, 1, 0}, 1, false));
    const int c = annots::add(*doc, 0, square({70, 10, 20, 20}, {0, 0, 1}, 1, false));
    EXPECT_EQ(annots::remove(*doc, 0, b), 1);
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{a, c}));
    EXPECT_FALSE(annots::remove(*doc, 0, b).has_value());
    EXPECT_TRUE(annots::insert(*doc, 0, b, 1));
    EXPECT_FALSE(annots::insert(*doc, 0, b, 0)); // already there
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{a, b, c}));
    const auto back = annots::find(*reopened(*doc), 0, b);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->color, (PdfColor{0, 1, 0}));

    EXPECT_FALSE(annots::insert(*doc, 0, 99999, 0)); // no such object
    PdfAnnotation unknown;
    unknown.objectNumber = 99999;
    unknown.subtype = "Square";
    EXPECT_FALSE(annots::update(*doc, 0, unknown));
}

TEST(PdfAnnotations, ReorderingLeavesOtherAnnotationsInPlace)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libre-office-link.pdf"));
    const auto original = annots::order(*doc, 0);
    ASSERT_FALSE(original.empty());
    const int a = annots::add(*doc, 0, square({10, 10, 20, 20}, {1, 0, 0}, 1, false));
    const int b = annots::add(*doc, 0, square({40, 10, 20, 20}, {0, 1, 0}, 1, false));
    annots::replaceTail(*doc, 0, {b, a});
    auto expected = original;
    expected.push_back(b);
    expected.push_back(a);
    EXPECT_EQ(annots::order(*doc, 0), expected);
    EXPECT_EQ(annots::order(*reopened(*doc), 0), expected);
}

TEST(PdfAnnotations, UpdateRewritesGeometryAndAppearance)
{
    auto doc = PdfDocument::createBlank();
    PdfAnnotation a = square({100, 100, 100, 100}, {0, 0, 0}, 4, false);
    a.objectNumber = annots::add(*doc, 0, a);
    a.rect = {300, 300, 100, 100};
    a.interiorColor = PdfColor{0, 0, 0};
    a.interiorOpacity = 1;
    ASSERT_TRUE(annots::update(*doc, 0, a));
    const QImage image = doc->render(0, 1.0);
    EXPECT_GT(pixelAt(image, 792, 1, {150, 150}).red(), 245); // the old place is empty
    EXPECT_LT(pixelAt(image, 792, 1, {350, 350}).red(), 10);  // the new box is filled black
    const auto back = annots::find(*doc, 0, a.objectNumber);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rect, a.rect);
    EXPECT_TRUE(back->interiorColor.has_value());
}

TEST(PdfAnnotations, DamagedAnnotationArraysReadAsWhatCanBeRead)
{
    // /Annots holds a number, a dangling reference and a dictionary without a subtype.
    const std::string pdf =
        "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
        "2 0 obj <</Type/Pages/Kids[3 0 R]/Count 1>> endobj\n"
        "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]/Annots[42 77 0 R <</Foo 1>> 4 0 R]>> endobj\n"
        "4 0 obj <</Type/Annot/Subtype/Square/Rect[10 10 50 50]/C[1]/Border[0 0 2]/QuadPoints[1 2 3]/InkList 5>> "
        "endobj\n"
        "trailer <</Root 1 0 R>>\n%%EOF\n";
    auto doc = PdfDocument::openBytes(QByteArray::fromStdString(pdf));
    const auto list = annots::list(*doc, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].subtype, "Square");
    EXPECT_EQ(list[0].color, (PdfColor{1, 1, 1}));
    EXPECT_EQ(list[0].borderWidth, 2.0);
    EXPECT_TRUE(list[0].quads.empty());
    EXPECT_TRUE(list[0].inkList.empty());
    EXPECT_THROW(annots::list(*doc, 3), platform::PdfError);
}

TEST(PdfAnnotations, TextIsMeasuredWithTheFontThatDrawsIt)
{
    using platform::PdfBaseFont;
    // Courier advances 0.6 em per character; Helvetica's "i" is narrower than its "m".
    EXPECT_NEAR(annots::textWidth(PdfBaseFont::courier, 10, "abcde"), 30, 0.01);
    EXPECT_LT(annots::textWidth(PdfBaseFont::helvetica, 10, "iiii"),
              annots::textWidth(PdfBaseFont::helvetica, 10, "mmmm"));
    EXPECT_EQ(annots::textWidth(PdfBaseFont::times, 12, ""), 0);
    // A character outside the face's Latin set is measured in the face that
    // draws it: Han a full em, Greek and Cyrillic in DejaVu's widths.
    EXPECT_NEAR(annots::textWidth(PdfBaseFont::courier, 10, "\xe4\xb8\xad"), 10, 0.01);
    EXPECT_NE(annots::textWidth(PdfBaseFont::helvetica, 18, "Привет"),
              annots::textWidth(PdfBaseFont::helvetica, 18, "??????"));
    EXPECT_EQ(annots::baseFontNamed("Cour"), PdfBaseFont::courier);
    EXPECT_EQ(annots::baseFontNamed("TiRo"), PdfBaseFont::times);
    EXPECT_EQ(annots::baseFontNamed("Arial"), PdfBaseFont::helvetica);
}

TEST(PdfAnnotations, ClipboardPdfCarriesOnlyTheKnownKeys)
{
    auto source = PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf"));
    const auto marks = annots::list(*source, 0);
    ASSERT_FALSE(marks.empty());
    const QByteArray bytes = annots::clipboardPdf(marks, {0, 0, 300, 400});
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_EQ(bytes.indexOf("/JavaScript"), -1);
    EXPECT_EQ(bytes.indexOf("/Popup"), -1);
    auto clip = PdfDocument::openBytes(bytes);
    EXPECT_EQ(clip->pageGeometry(0).mediaBox, (PdfRect{0, 0, 300, 400}));
    const auto back = annots::list(*clip, 0);
    ASSERT_EQ(back.size(), marks.size());
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(back[i].subtype, marks[i].subtype);
        EXPECT_EQ(back[i].contents, marks[i].contents);
    }
    EXPECT_TRUE(annots::clipboardPdf({}, {0, 0, 100, 100}).isEmpty());
    EXPECT_EQ(PdfDocument::openBytes(annots::clipboardPdf(marks, {0, 0, 0, 0}))->pageGeometry(0).mediaBox,
              (PdfRect{0, 0, 612, 792}));
}

namespace {

PdfAnnotation textBox(const std::string& words, const std::string& font, PdfRect rect = {0, 0, 500, 60})
{
    PdfAnnotation box;
    box.subtype = "FreeText";
    box.rect = rect;
    box.contents = words;
    box.fontName = font;
    box.fontSize = 20;
    box.fontColor = PdfColor{0, 0, 0};
    box.borderWidth = 0;
    return box;
}

QString run(const QString& command)
{
    QProcess p;
    p.startCommand(command);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString words(const QString& s) { return s.simplified(); }

// The rightmost column with ink, -1 for a blank image.
int rightmostInk(const QImage& image)
{
    int right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = right + 1; x < image.width(); ++x)
            if (image.pixelColor(x, y).red() < 128) right = x;
    return right;
}

} // namespace

TEST(PdfAnnotations, TextBoxesShowEveryScriptInEveryReader)
{
    // Latin stays in the base-14 face; Greek, Cyrillic, Han, Kana and Hangul
    // come from embedded subsets. MuPDF, pdftotext and pdftoppm all see the
    // typed words, never "?".
    const struct {
        std::string words, font;
    } cases[] = {
        {"café α Ωμέγα Кириллица 日本語", "Helv"},
        {"Grüße Ελλάδα Москва ひらがな 한국어", "TiRo"},
        {"mono Ωμέγα Кириллица 中文", "Cour"},
        {"plain Latin only", "Helv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        auto doc = PdfDocument::createBlank(500, 60);
        annots::add(*doc, 0, textBox(c.words, c.font));
        QTemporaryDir dir;
        const QString pdf = dir.filePath("words.pdf");
        doc->saveToFile(testsupport::chosen(pdf.toStdString()));
        const QString expected = QString::fromStdString(c.words);

        auto back = PdfDocument::openFile(pdf.toStdString());
        const PdfAnnotation saved = annots::list(*back, 0).at(0);
        EXPECT_EQ(saved.contents, c.words);
        EXPECT_EQ(words(QString::fromStdString(annots::drawnText(*back, 0, saved.objectNumber))), expected);
        EXPECT_EQ(annots::drawnText(*back, 0, 99999), ""); // no such mark
        EXPECT_EQ(words(run("mutool draw -q -F txt " + pdf)), expected);
        EXPECT_EQ(words(run("pdftotext -q " + pdf + " -")), expected);

        // Embedded faces are subsets: the page stays small beside the font files.
        const QString fonts = run("pdffonts " + pdf);
        const bool latin = c.words == "plain Latin only";
        EXPECT_EQ(fonts.contains("CID TrueType"), !latin) << fonts.toStdString();
        EXPECT_LT(QFileInfo(pdf).size(), 60000);

        // Poppler draws every word where MuPDF draws it (the fonts' widths agree).
        ASSERT_EQ(
            std::system(("pdftoppm -r 72 -png -singlefile " + pdf + " " + dir.filePath("page")).toUtf8().constData()),
            0);
        const QImage poppler(dir.filePath("page.png"));
        const QImage ours = back->render(0, 1.0);
        EXPECT_GT(rightmostInk(ours), 100);
        EXPECT_NEAR(rightmostInk(poppler), rightmostInk(ours), 8);
        // Question marks in place of the words would look different.
        auto unknown = PdfDocument::createBlank(500, 60);
        annots::add(*unknown, 0, textBox(std::string(size_t(expected.size()), '?'), c.font));
        if (!latin) {
            EXPECT_NE(unknown->render(0, 1.0), ours);
        }
    }
}

TEST(PdfAnnotations, LinesBreakAtSpacesAndBetweenCjkCharacters)
{
    using platform::PdfBaseFont;
    const struct {
        std::string text;
        int lines; // in a box 100 points wide at 20 points
    } cases[] = {
        {"中文句子没有空格也能换行", 3},
        {"한국어문장도길게이어집니다", 3},
        {"well-known and widely-used words", 4}, // at spaces only, never after a hyphen
        {"Kurz", 1},
        {"Überlangeswortohnejedenumbruch", 1}, // a longer word stays whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(annots::wrappedLineCount(PdfBaseFont::helvetica, 20, c.text, 100), c.lines);
    }

    // A long line of Han is drawn inside its narrow box, every character of it.
    const std::string words = "日本語の文章は空白なしで書かれます";
    auto doc = PdfDocument::createBlank(300, 300);
    const int box = annots::add(*doc, 0, textBox(words, "Helv", {50, 50, 114, 200}));
    const auto back = reopened(*doc);
    std::string drawn = annots::drawnText(*back, 0, box);
    std::erase(drawn, '\n');
    EXPECT_EQ(drawn, words);
    QImage image = back->render(0, 1.0);
    int right = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).red() < 128) right = std::max(right, x);
    EXPECT_LT(right, 50 + 114);
}

namespace {

// The text poppler extracts, without the marks it puts around runs of the
// other direction.
QString popplerText(const QString& pdf)
{
    QString text = run("pdftotext -q " + pdf + " -");
    text.removeIf(
        [](QChar c) { return (c >= QChar(0x202A) && c <= QChar(0x202E)) || c == QChar(0x200E) || c == QChar(0x200F); });
    return words(text);
}

// The ink of an image (dark pixels) cut to its bounding box.
QImage inkOf(const QImage& image)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    QRect box;
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x)
            if (qGray(gray.pixel(x, y)) < 128) box |= QRect(x, y, 1, 1);
    return gray.copy(box);
}

// How much of `a`'s ink has ink of `b` within two pixels, the two laid over
// each other at their right ends (where a right-to-left word starts).
double covered(const QImage& a, const QImage& b)
{
    const int shift = b.width() - a.width();
    int ink = 0, found = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (qGray(a.pixel(x, y)) >= 128) continue;
            ++ink;
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx) {
                    const QPoint q(x + shift + dx, y + dy);
                    near = b.rect().contains(q) && qGray(b.pixel(q)) < 128;
                }
            found += near;
        }
    return ink ? double(found) / ink : 0;
}

// The words as Qt's text layout, which the editor uses, sets them in DejaVu
// Sans: shaped and ordered by the bidirectional algorithm.
QImage qtWords(const QString& text, double pixelSize)
{
    static const int id = QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    QFont font(QFontDatabase::applicationFontFamilies(id).value(0));
    font.setPixelSize(int(pixelSize));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::NoFontMerging);
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(10000);
    layout.endLayout();
    QImage image(int(line.naturalTextWidth()) + 40, int(line.height()) + 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    line.draw(&painter, {20 - line.x(), 20});
    return image;
}

} // namespace

TEST(PdfAnnotations, RightToLeftTextBoxesReadAndJoinAsTheEditorShowsThem)
{
    const struct {
        std::string typed;
        std::string drawn; // the characters left to right, as the line is drawn
        bool alone;        // one script only: it looks as Qt's layout sets it
    } cases[] = {
        {"שלום עולם", "םלוע םולש", true},
        {"مرحبا بالعالم", "ملاعلاب ابحرم", true},
        {"سلام", "مالس", true}, // lam and alef join into one glyph
        {"Order 66 שלום עולם 2024 ok", "Order 66 2024 םלוע םולש ok", false},
        {"سلام 123 hello", "hello 123 مالس", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        auto doc = PdfDocument::createBlank(400, 60);
        annots::add(*doc, 0, textBox(c.typed, "Helv", {0, 0, 400, 60}));
        QTemporaryDir dir;
        const QString pdf = dir.filePath("words.pdf");
        doc->saveToFile(testsupport::chosen(pdf.toStdString()));
        auto back = PdfDocument::openFile(pdf.toStdString());
        const PdfAnnotation saved = annots::list(*back, 0).at(0);
        EXPECT_EQ(saved.contents, c.typed);
        // MuPDF reports the characters in the order they are drawn, poppler
        // in reading order again.
        EXPECT_EQ(words(QString::fromStdString(annots::drawnText(*back, 0, saved.objectNumber))),
                  QString::fromStdString(c.drawn));
        if (c.alone) {
            EXPECT_EQ(popplerText(pdf), QString::fromStdString(c.typed));
        }

        ASSERT_EQ(
            std::system(("pdftoppm -r 288 -png -singlefile " + pdf + " " + dir.filePath("page")).toUtf8().constData()),
            0);
        const QImage page(dir.filePath("page.png"));
        // A paragraph that starts right to left starts at the box's right edge.
        const bool rightToLeft = c.typed[0] & 0x80;
        if (rightToLeft) EXPECT_NEAR(rightmostInk(page), (400 - annots::textBoxPaddingX) * 4, 16);
        else EXPECT_LT(rightmostInk(page), 300 * 4);
        if (!c.alone) continue;
        const QImage ours = inkOf(page), qt = inkOf(qtWords(QString::fromStdString(c.typed), 20 * 4));
        // Helvetica's space is a little narrower than DejaVu's.
        EXPECT_NEAR(ours.width(), qt.width(), 0.02 * qt.width());
        EXPECT_NEAR(ours.height(), qt.height(), 4);
        EXPECT_GT(covered(ours, qt), 0.9);
        EXPECT_GT(covered(qt, ours), 0.9);
    }
}

TEST(PdfAnnotations, TextBoxFontsAreSharedObjectsNotInlineDictionaries)
{
    auto doc = PdfDocument::createBlank(500, 60);
    annots::add(*doc, 0, textBox("café 日本語", "Helv"));
    platform::PdfSaveOptions plain;
    plain.compress = false;
    const std::string saved = doc->save(plain).toStdString();
    // "/Font <</Helv 7 0 R/Fb2 9 0 R>>": every entry a reference.
    const std::regex fontDict(R"(/Font\s*<<((?:\s*/\w+\s+\d+\s+0\s+R)+)\s*>>)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(saved, m, fontDict)) << saved.substr(0, 2000);
    EXPECT_NE(m[1].str().find("/Helv"), std::string::npos);
    EXPECT_NE(m[1].str().find("/Fb"), std::string::npos);
}

TEST(PdfAnnotations, ForeignMarksKeepTheirOtherKeysAndPopups)
{
    const std::string pdf =
        "%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
        "2 0 obj <</Type/Pages/Kids[3 0 R]/Count 1>> endobj\n"
        "3 0 obj <</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Annots[4 0 R 5 0 R]>> endobj\n"
        "4 0 obj <</Type/Annot/Subtype/Text/Rect[20 20 42 42]/Contents(old)/NM(keep-me)/C[0 0 1]/Popup 5 0 R>> endobj\n"
        "5 0 obj <</Type/Annot/Subtype/Popup/Rect[50 50 200 120]/Parent 4 0 R>> endobj\n"
        "trailer <</Root 1 0 R>>\n%%EOF\n";
    auto doc = PdfDocument::openBytes(QByteArray::fromStdString(pdf));
    auto note = annots::find(*doc, 0, 4);
    ASSERT_TRUE(note);
    EXPECT_TRUE(note->hasPopup);
    note->contents = "new words";
    ASSERT_TRUE(annots::update(*doc, 0, *note));
    platform::PdfSaveOptions plain;
    plain.compress = false;
    const QByteArray saved = doc->save(plain);
    EXPECT_NE(saved.indexOf("keep-me"), -1);
    EXPECT_EQ(annots::find(*PdfDocument::openBytes(saved), 0, 4)->contents, "new words");

    // Removing the note takes its popup along; putting it back restores both.
    EXPECT_EQ(annots::remove(*doc, 0, 4), 0);
    EXPECT_TRUE(annots::order(*doc, 0).empty());
    EXPECT_TRUE(annots::insert(*doc, 0, 4, 0));
    EXPECT_EQ(annots::order(*doc, 0), (std::vector<int>{4, 5}));
}

namespace {

// Where poppler draws anything in `area` (user space) of page 1 of the PDF
// at `path`, 792 points tall or `pageHeight`: the bounds of its non-white
// pixels, in points; empty when it draws nothing there.
PdfRect popplerInk(const QString& path, const PdfRect& area, double pageHeight)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath("page");
    testsupport::runProgram("pdftoppm", {"-r", "144", "-png", "-singlefile", "-f", "1", "-l", "1", path, prefix});
    const QImage image(prefix + ".png");
    EXPECT_FALSE(image.isNull()) << "poppler drew no page of " << path.toStdString();
    int x0 = image.width(), y0 = image.height(), x1 = -1, y1 = -1;
    for (int y = std::max(0, int((pageHeight - area.maxY()) * 2));
         y < std::min(image.height(), int((pageHeight - area.y) * 2)); ++y)
        for (int x = std::max(0, int(area.x * 2)); x < std::min(image.width(), int(area.maxX() * 2)); ++x)
            if (qGray(image.pixel(x, y)) < 200) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    if (x1 < 0) return {};
    return {x0 / 2.0, pageHeight - (y1 + 1) / 2.0, (x1 + 1 - x0) / 2.0, (y1 + 1 - y0) / 2.0};
}

} // namespace

TEST(PdfAnnotations, ANoteKeepsItsIconAsReadersDrawItWhenItChanges)
{
    // Readers draw a note that holds no drawing as their icon, from the top
    // left of its box however small the box; a drawing, though, is fitted to
    // the box. A note changed (its text, colour or icon) is drawn where and
    // about as large as poppler drew it, never as a speck.
    const QByteArray point = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Text /Rect [300 500 300 500] /Contents (A point) /F 4 >>",
    });
    const QByteArray narrow = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Text /Rect [300 470 302 500] /Contents (Narrow) /F 4 >>",
    });
    const QByteArray ownSize = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>",
        "<< /Type /Annot /Subtype /Text /Rect [300 478 322 500] /Contents (Drawn) /F 4 /AP << /N 5 0 R >> >>",
        testsupport::pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 22 22]", "0 g 2 2 18 18 re f"),
    });
    const QByteArray corpus =
        testsupport::readFile(QString::fromStdString(testsupport::corpusPath("annotated_pdf.pdf")));
    enum Change { text, colour, icon };
    const struct {
        const char* what;
        QByteArray bytes;
        Change change;
        double pageHeight = 792;
    } cases[] = {
        {"a note of a box 2.8 points wide, its text changed", corpus, text, 841.89},
        {"a note of a box 2.8 points wide, its colour changed", corpus, colour, 841.89},
        {"a note of a box 2.8 points wide, its icon changed", corpus, icon, 841.89},
        {"a note of a box of no size, its text changed", point, text},
        {"a note 2 points wide and 30 high, its text changed", narrow, text},
        {"a note drawn in a box of the icon's size, its text changed", ownSize, text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString original = testsupport::writeFile(dir, "note.pdf", c.bytes);
        auto doc = PdfDocument::openFile(original.toStdString());
        annots::numberDirect(*doc, 0);
        std::optional<PdfAnnotation> note;
        for (const PdfAnnotation& a : annots::list(*doc, 0))
            if (a.subtype == "Text") note = a;
        ASSERT_TRUE(note.has_value());
        // Around the box's top-left corner, where readers draw the icon.
        const PdfRect area{note->rect.x - 30, note->rect.maxY() - 40, 70, 70};
        const PdfRect before = popplerInk(original, area, c.pageHeight);
        ASSERT_GT(before.width, 10);
        PdfAnnotation changed = *note;
        if (c.change == text) changed.contents = "Words of another note";
        if (c.change == colour) changed.color = PdfColor{0.2, 0.5, 0.9};
        if (c.change == icon) changed.iconName = "Comment";
        ASSERT_TRUE(annots::update(*doc, 0, changed));
        const QString saved = dir.filePath("saved.pdf");
        doc->saveToFile(testsupport::chosen(saved.toStdString()));
        const PdfRect after = popplerInk(saved, area, c.pageHeight);
        // Readers' icons differ a little from ravlen's.
        for (const auto& [now, was] : {std::pair{after.width, before.width}, std::pair{after.height, before.height}}) {
            EXPECT_GT(now, was * 2 / 3) << "drawn " << after.width << " by " << after.height;
            EXPECT_LT(now, was * 3 / 2) << "drawn " << after.width << " by " << after.height;
        }
        EXPECT_NEAR(after.x, before.x, 5);
        EXPECT_NEAR(after.maxY(), before.maxY(), 5);
        // The window draws it as the saved file holds it.
        const auto back = annots::find(*PdfDocument::openFile(saved.toStdString()), 0, note->objectNumber);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->contents, changed.contents);
        EXPECT_GE(std::min(back->rect.width, back->rect.height), 11);
        EXPECT_NEAR(back->rect.x, note->rect.x, 1e-3);
        EXPECT_NEAR(back->rect.maxY(), note->rect.maxY(), 1e-3);
    }
}
