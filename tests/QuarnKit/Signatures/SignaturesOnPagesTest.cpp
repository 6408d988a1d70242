// Signatures and stamps put on upright and turned pages, saved, and drawn by
// ravlen and by poppler's pdftoppm. Set RAVLEN_TEST_PICTURES to a folder to
// keep the pictures for a look.
#include "QuarnKit/Export/MarksSummary.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Signatures/SignatureInk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>

using namespace quarnkit;
using platform::PdfDocument;
namespace annots = platform::PdfAnnotations;

namespace {

// An upright Letter page and one turned a quarter clockwise.
std::shared_ptr<PdfDocument> uprightAndTurned()
{
    return PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 >>",
    }));
}

QImage popplerRender(const QString& pdf, int page, const QTemporaryDir& dir)
{
    const QString prefix = dir.filePath(QStringLiteral("poppler-%1").arg(page));
    const QString command =
        QStringLiteral("pdftoppm -r 72 -png -singlefile -f %1 -l %1 '%2' '%3'").arg(page + 1).arg(pdf, prefix);
    if (std::system(command.toUtf8().constData()) != 0) return {};
    return QImage(prefix + ".png").convertToFormat(QImage::Format_RGB32);
}

void keep(const QImage& image, const QString& name)
{
    const QByteArray folder = qgetenv("RAVLEN_TEST_PICTURES");
    if (!folder.isEmpty()) image.save(QDir(QString::fromUtf8(folder)).filePath(name));
}

void keep(const QString& pdf)
{
    const QByteArray folder = qgetenv("RAVLEN_TEST_PICTURES");
    if (!folder.isEmpty()) QFile::copy(pdf, QDir(QString::fromUtf8(folder)).filePath(QFileInfo(pdf).fileName()));
}

bool dark(QRgb c) { return qGray(c) < 128; }

// The box of the dark pixels of an image; empty when there are none.
QRect inked(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (dark(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
    return box;
}

int darkPixels(const QImage& image, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += dark(image.pixel(x, y));
    return n;
}

// Places a signature on a page as the viewer does: around a point, upright on the shown page.
std::optional<PdfAnnotation> placed(const Signature& s, PdfPoint at, const PdfDocument& doc, int page)
{
    const auto g = doc.pageGeometry(page);
    const auto rect = SignatureInk::placement(s.placedSize(), at, g.cropBox, g.rotation);
    if (!rect) return std::nullopt;
    return SignatureInk::annotation(s, *rect, g.rotation, SignatureInk::color);
}

Signature scribble()
{
    // A loop and a dot, as a mouse would give them.
    std::vector<PdfPoint> loop;
    for (int i = 0; i <= 60; ++i) {
        const double t = i / 60.0 * 6.283;
        loop.push_back({40 * t, 20 * std::sin(2 * t) + 30});
    }
    return *SignatureInk::drawn({loop, {{260, 60}}}, Signature::Kind::signature);
}

} // namespace

TEST(SignaturesOnPages, ATypedNameInEveryFontIsInk)
{
    auto doc = PdfDocument::createBlank(612, 792);
    const auto fonts = SignatureFont::installed();
    ASSERT_FALSE(fonts.empty());
    std::vector<PdfRect> places;
    double y = 720;
    for (const auto& font : fonts) {
        SCOPED_TRACE(font.name);
        const auto s = SignatureInk::typed("Ada Lovelace", font, Signature::Kind::signature);
        ASSERT_TRUE(s);
        EXPECT_GT(s->strokes.size(), 10u);
        const auto mark = placed(*s, {306, y}, *doc, 0);
        ASSERT_TRUE(mark);
        annots::add(*doc, 0, *mark);
        places.push_back(mark->rect);
        y -= 110;
    }
    const auto initials = SignatureInk::typed("A.L.", fonts.back(), Signature::Kind::initials);
    ASSERT_TRUE(initials);
    annots::add(*doc, 0, *placed(*initials, {306, y}, *doc, 0));

    QTemporaryDir dir;
    const QString path = dir.filePath("typed.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const QImage theirs = popplerRender(path, 0, dir);
    ASSERT_FALSE(theirs.isNull());
    keep(theirs, "typed-names.png");
    keep(path);
    for (size_t i = 0; i < places.size(); ++i) {
        SCOPED_TRACE(fonts[i].name);
        const PdfRect& r = places[i];
        const QRect area(int(r.x), int(792 - r.maxY()), int(r.width), int(r.height));
        // Letters are ink with paper between them: neither empty nor a solid block.
        const double cover = double(darkPixels(theirs, area)) / (area.width() * area.height());
        EXPECT_GT(cover, 0.04);
        EXPECT_LT(cover, 0.6);
    }
}

TEST(SignaturesOnPages, PopplerDrawsSignaturesAndStampsAsRavlenDoes)
{
    auto doc = uprightAndTurned();
    const auto fonts = SignatureFont::installed();
    ASSERT_FALSE(fonts.empty());
    const auto typed = SignatureInk::typed("Grace Hopper", fonts.front(), Signature::Kind::signature);
    ASSERT_TRUE(typed);
    const Signature drawn = scribble();
    for (int page : {0, 1}) {
        const auto g = doc->pageGeometry(page);
        std::vector<std::optional<PdfAnnotation>> marks{
            placed(*typed, {306, 600}, *doc, page),
            placed(drawn, {306, 400}, *doc, page),
            QuickFill::date("7/12/26", {150, 200}, g.cropBox, g.rotation, SignatureInk::color),
            QuickFill::checkmark({300, 200}, g.cropBox, g.rotation, SignatureInk::color),
            QuickFill::cross({450, 200}, g.cropBox, g.rotation, SignatureInk::color),
        };
        for (const auto& m : marks) {
            ASSERT_TRUE(m);
            annots::add(*doc, page, *m);
        }
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("signed.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const auto reopened = PdfDocument::openFile(path.toStdString());

    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        const QImage ours = reopened->render(page, 1.0).convertToFormat(QImage::Format_RGB32);
        const QImage theirs = popplerRender(path, page, dir);
        ASSERT_FALSE(theirs.isNull());
        ASSERT_EQ(ours.size(), theirs.size());
        keep(ours, QStringLiteral("signed-%1-ravlen.png").arg(page));
        keep(theirs, QStringLiteral("signed-%1-poppler.png").arg(page));

        // The same pixels are ink in both, give or take anti-aliasing at the edges.
        int inkOurs = 0, disagree = 0;
        for (int y = 0; y < ours.height(); ++y)
            for (int x = 0; x < ours.width(); ++x) {
                const int a = qGray(ours.pixel(x, y)), b = qGray(theirs.pixel(x, y));
                inkOurs += a < 128;
                disagree += (a < 100 && b > 200) || (b < 100 && a > 200);
            }
        EXPECT_GT(inkOurs, 1000);
        EXPECT_LT(disagree, inkOurs / 20);
    }
}

TEST(SignaturesOnPages, OnATurnedPageASignatureReadsUpright)
{
    const auto fonts = SignatureFont::installed();
    ASSERT_FALSE(fonts.empty());
    const auto typed = SignatureInk::typed("Grace Hopper", fonts.front(), Signature::Kind::signature);
    ASSERT_TRUE(typed);
    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        auto doc = uprightAndTurned();
        const auto mark = placed(*typed, {306, 396}, *doc, page);
        ASSERT_TRUE(mark);
        annots::add(*doc, page, *mark);
        QTemporaryDir dir;
        const QString path = dir.filePath("one.pdf");
        doc->saveToFile(testsupport::chosen(path.toStdString()));
        const QImage shown = popplerRender(path, page, dir);
        ASSERT_FALSE(shown.isNull());
        // Wide on the shown page, as the signature is, whichever way the page is turned.
        const QRect box = inked(shown);
        EXPECT_NEAR(double(box.width()) / box.height(), typed->aspect, 0.6);
        // The first letter (a capital G) is at the shown page's left end of the ink.
        const QRect left(box.left(), box.top(), box.width() / 8, box.height());
        const QRect right(box.right() - box.width() / 8, box.top(), box.width() / 8, box.height());
        EXPECT_GT(darkPixels(shown, left), darkPixels(shown, right)) << "the words read backwards";
    }
}

TEST(SignaturesOnPages, StampsAndSignaturesSayWhatTheyAreInTheMarksListAndSummary)
{
    auto doc = uprightAndTurned();
    Signature initials = scribble();
    initials.kind = Signature::Kind::initials;
    const auto turned = doc->pageGeometry(1);
    const struct {
        std::optional<PdfAnnotation> mark;
        int page;
        const char* snippet;
        MarkKind kind;
    } cases[] = {
        {placed(scribble(), {306, 700}, *doc, 0), 0, "Signature", MarkKind::drawing},
        {placed(initials, {306, 500}, *doc, 0), 0, "Initials", MarkKind::drawing},
        {QuickFill::date("7/12/26", {150, 300}, doc->pageGeometry(0).cropBox, 0, SignatureInk::color), 0, "7/12/26",
         MarkKind::text},
        {QuickFill::checkmark({300, 300}, doc->pageGeometry(0).cropBox, 0, SignatureInk::color), 0, "Checkmark",
         MarkKind::drawing},
        {QuickFill::cross({450, 300}, doc->pageGeometry(0).cropBox, 0, SignatureInk::color), 0, "Cross",
         MarkKind::drawing},
        {QuickFill::date("7/12/26", {306, 400}, turned.cropBox, turned.rotation, SignatureInk::color), 1, "7/12/26",
         MarkKind::drawing}, // lettered ink on a turned page
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.mark) << c.snippet;
        annots::add(*doc, c.page, *c.mark);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("signed.pdf");
    doc->saveToFile(testsupport::chosen(path.toStdString()));
    const auto reopened = PdfDocument::openFile(path.toStdString());

    std::vector<std::tuple<int, QString, MarkKind>> listed, expected;
    for (const MarkEntry& entry : MarkCatalog::entries(*reopened))
        listed.emplace_back(entry.pageIndex, entry.snippet, entry.kind);
    for (const auto& c : cases) expected.emplace_back(c.page, c.snippet, c.kind);
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    const QString summary = MarksSummary::markdown(*reopened, {0, 1}, "Form");
    for (const char* entry : {"- **Drawing**, Graphite\n  > Signature\n", "- **Drawing**, Graphite\n  > Checkmark\n",
                              "- **Text**, Graphite\n  > 7/12/26\n"})
        EXPECT_TRUE(summary.contains(entry)) << entry << "\n" << summary.toStdString();
}

TEST(SignaturesOnPages, AStoredSignatureWithAbsurdNumbersStillPlacesWithinThePage)
{
    // Numbers no pad or font writes, as a damaged or hand-edited file holds them.
    const double huge = 1e300, tiny = 1e-300, inf = std::numeric_limits<double>::infinity();
    const struct {
        double aspect, lineWidth;
        Signature::Source source;
    } cases[] = {
        {1e308, huge, Signature::Source::drawn}, {1e308, huge, Signature::Source::typed},
        {tiny, tiny, Signature::Source::drawn},  {-3, -1, Signature::Source::drawn},
        {inf, inf, Signature::Source::typed},    {std::nan(""), std::nan(""), Signature::Source::drawn},
    };
    const platform::PdfRect page{0, 0, 612, 792};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.aspect) + " " + std::to_string(c.lineWidth));
        Signature signature;
        signature.source = c.source;
        signature.aspect = c.aspect;
        signature.lineWidth = c.lineWidth;
        signature.strokes = {{{0.1, 0.2}, {0.5, 0.8}, {0.9, 0.3}}};
        const auto rect = SignatureInk::placement(signature.placedSize(), {306, 396}, page, 0);
        ASSERT_TRUE(rect);
        EXPECT_GE(rect->width, 1);
        EXPECT_GE(rect->height, 1);
        const auto mark = SignatureInk::annotation(signature, *rect, 0, SignatureInk::color);
        ASSERT_TRUE(mark);
        EXPECT_TRUE(page.contains({mark->rect.minX(), mark->rect.minY()})
                    && page.contains({mark->rect.maxX(), mark->rect.maxY()}));
        EXPECT_GT(mark->borderWidth, 0);
        EXPECT_LE(mark->borderWidth, rect->width);
    }
}
