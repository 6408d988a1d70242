// Text boxes as a user meets them in the page view: typed in any script,
// retyped when another program made them, and read back from the saved file.
#include "Quarn/Markup/InlineEditor.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/RestyleMark.h"
#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "support/PageViewSupport.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

using namespace quarn;
using platform::PdfAnnotation;
using platform::PdfPoint;
using quarnkit::MarkupTool;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct TextView {
    QuarnPDFView view;
    QUndoStack& stack() { return view.quarnDocument()->undoStack(); }

    explicit TextView(const QByteArray& pdf = testsupport::makeTextPdf(1))
    {
        MarkEditor::of(view); // marks are edited on these pages
        view.resize(800, 900);
        testsupport::showPdf(view, platform::PdfDocument::openBytes(pdf));
        view.show();
        QApplication::processEvents();
    }
    void use(MarkupTool tool, quarnkit::RGBA color = {0, 0, 0.6, 1}, double size = 16)
    {
        quarnkit::ToolStyle style;
        style.color = color;
        style.textSize = size;
        view.setTool(tool, style);
    }
    QPoint at(PdfPoint p, int page = 0) const { return view.placement().convertFromPage(p, page).toPoint(); }
    InlineEditor* editor() const
    {
        return qobject_cast<InlineEditor*>(view.interactions().find<MarkEditor>()->editor());
    }
    std::vector<PdfAnnotation> marks(int page = 0) const
    {
        std::vector<PdfAnnotation> out;
        for (const auto& a : PdfAnnotations::list(*pdfOf(*view.quarnDocument()), page))
            if (quarnkit::MarkCatalog::kind(a)) out.push_back(a);
        return out;
    }
};

// Types into the window, which hands the keys to its focused widget; each
// character comes as the text of a key, as an input method sends what no key
// of the keyboard carries.
void typeInto(QWindow* window, const QString& words)
{
    for (const QChar c : words) QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QString run(const QString& command)
{
    QProcess p;
    p.startCommand(command);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

} // namespace

TEST(TextBoxesOnThePage, ForeignBoxKeepsItsFlagsAndRichTextUntilItsWordsChange)
{
    // A text box another program made, with its own flags (/F 28: print,
    // no zoom, no rotate) and rich text.
    const QByteArray pdf = testsupport::writePdf({
        "<</Type/Catalog/Pages 2 0 R>>",
        "<</Type/Pages/Kids[3 0 R]/Count 1>>",
        "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Annots[4 0 R]>>",
        "<</Type/Annot/Subtype/FreeText/Rect[100 600 300 640]/F 28/Contents(Hello there)"
        "/DA(/Helv 12 Tf 0 0 1 rg)/DS(font: 12pt Helvetica)"
        "/RC(<?xml version=\"1.0\"?><body><p>Hello <b>there</b></p></body>)/NM(foreign-1)>>",
    });
    TextView v(pdf);
    v.use(MarkupTool::select);
    QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({200, 620}));
    ASSERT_TRUE(MarkEditor::of(v.view).selected());
    QTest::keyClick(&v.view, Qt::Key_Right); // nudged: its words stay
    QApplication::processEvents();
    platform::PdfSaveOptions plain;
    plain.compress = false;
    const QByteArray moved = pdfOf(*v.view.quarnDocument())->save(plain);
    EXPECT_GT(PdfAnnotations::find(*platform::PdfDocument::openBytes(moved), 0, 4)->rect.x, 100);
    EXPECT_TRUE(moved.contains("/F 28")) << moved.toStdString();
    EXPECT_TRUE(moved.contains("<b>there</b>"));
    EXPECT_TRUE(moved.contains("foreign-1"));

    // Retyped: the old rich text would show the old words in other readers.
    QTest::mouseDClick(v.view.viewport(), Qt::LeftButton, {}, v.at({205, 620}));
    ASSERT_TRUE(v.editor());
    QTest::keyClicks(v.editor(), QStringLiteral("Goodbye"));
    QTest::keyClick(&v.view, Qt::Key_Return);
    const QByteArray retyped = pdfOf(*v.view.quarnDocument())->save(plain);
    EXPECT_TRUE(retyped.contains("/F 28"));
    EXPECT_FALSE(retyped.contains("<b>there</b>"));
    EXPECT_EQ(PdfAnnotations::find(*platform::PdfDocument::openBytes(retyped), 0, 4)->contents, "Goodbye");
}

TEST(TextBoxesOnThePage, TypedWordsKeepTheirSizeWhenReturnIsPressed)
{
    // The editor shows the words as wide as the page draws them after Return,
    // at any zoom.
    for (const double zoom : {0.75, 1.0, 1.5}) {
        SCOPED_TRACE(zoom);
        TextView v;
        v.view.setScaleFactor(zoom);
        QApplication::processEvents();
        v.use(MarkupTool::text, {0, 0, 0.6, 1}, 18);
        QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({100, 500}));
        ASSERT_TRUE(v.editor());
        const QString words = QStringLiteral("Words typed in place");
        typeInto(v.view.windowHandle(), words);
        const double typed = QFontMetricsF(v.editor()->font()).horizontalAdvance(words);
        QTest::keyClick(v.view.windowHandle(), Qt::Key_Return);
        ASSERT_EQ(v.marks().size(), 1u);
        const double drawn =
            PdfAnnotations::textWidth(platform::PdfBaseFont::helvetica, 18, words.toStdString()) * zoom;
        EXPECT_NEAR(typed / drawn, 1.0, 0.08);
    }

    // A note's words are typed at the interface's 13 pixels.
    TextView v;
    v.use(MarkupTool::note, quarnkit::RGBA::highlighter);
    QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({300, 500}));
    ASSERT_TRUE(v.editor());
    EXPECT_EQ(QFontInfo(v.editor()->font()).pixelSize(), 13);
}

TEST(TextBoxesOnThePage, MixedScriptsAreSavedExactlyAsTyped)
{
    const QString words = QStringLiteral("café α Ωμέγα Кириллица 日本語");
    TextView v;
    v.use(MarkupTool::text);
    QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({100, 500}));
    ASSERT_TRUE(v.editor());
    typeInto(v.view.windowHandle(), words);
    QTest::keyClick(v.view.windowHandle(), Qt::Key_Return);
    ASSERT_EQ(v.marks().size(), 1u);

    QTemporaryDir dir;
    const QString pdf = dir.filePath("typed.pdf");
    pdfOf(*v.view.quarnDocument())->saveToFile(testsupport::chosen(pdf.toStdString()));
    const auto reopened = platform::PdfDocument::openFile(pdf.toStdString());
    EXPECT_EQ(QString::fromStdString(quarnkit::MarkCatalog::entries(*reopened, 0).at(0).annotation.contents), words);
    // The page's own text is "Page 1"; the box's words follow it.
    EXPECT_TRUE(run("mutool draw -q -F txt " + pdf).contains(words));
    EXPECT_TRUE(run("pdftotext -q " + pdf + " -").contains(words));
}

TEST(TextBoxesOnThePage, DarkWordsSitInATransparentBox)
{
    TextView v;
    v.use(MarkupTool::text, quarnkit::RGBA::crimson);
    QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, v.at({100, 500}));
    typeInto(v.view.windowHandle(), QStringLiteral("dark words"));
    QTest::keyClick(v.view.windowHandle(), Qt::Key_Return);
    ASSERT_EQ(v.marks().size(), 1u);
    const auto saved = [&] {
        return PdfAnnotations::list(*platform::PdfDocument::openBytes(pdfOf(*v.view.quarnDocument())->save()), 0);
    };
    // No box colour: a reader that rebuilds the look would fill the box with it.
    const auto typed = saved().at(0);
    EXPECT_FALSE(typed.color);
    EXPECT_FALSE(typed.interiorColor);
    EXPECT_TRUE(typed.fontColor);

    // Recoloured white it gets its dark plate, and dark again it loses it.
    MarkEditor::of(v.view).select(MarkRef{0, typed.objectNumber});
    applyColor(MarkEditor::of(v.view).selection(), quarnkit::RGBA::white);
    EXPECT_TRUE(saved().at(0).interiorColor);
    applyColor(MarkEditor::of(v.view).selection(), quarnkit::RGBA::moss);
    const auto recoloured = saved().at(0);
    EXPECT_FALSE(recoloured.color);
    EXPECT_FALSE(recoloured.interiorColor);
}

namespace {

// The box around the red pixels of an image (the typed words; the corpus
// page's own text is black), empty when there are none.
QRect redInk(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 140 && c.green() < 110 && c.blue() < 110) box |= QRect(x, y, 1, 1);
        }
    return box;
}

// How far two equally sized crops of words differ, 0 to 1.
double difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull()) return 1;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) / 255.0;
    return sum / (a.width() * a.height());
}

} // namespace

TEST(TextBoxesOnThePage, WordsTypedOnATurnedPageReadUprightWhereTyped)
{
    const QString words = QStringLiteral("Upright words");
    // What the words look like typed on a page that is not turned.
    QImage reference;
    {
        TextView plain;
        plain.use(MarkupTool::text, quarnkit::RGBA::crimson);
        QTest::mouseClick(plain.view.viewport(), Qt::LeftButton, {}, plain.at({100, 500}));
        typeInto(plain.view.windowHandle(), words);
        QTest::keyClick(plain.view.windowHandle(), Qt::Key_Return);
        const QImage page = pdfOf(*plain.view.quarnDocument())->render(0, 3.0);
        reference = page.copy(redInk(page));
    }
    ASSERT_FALSE(reference.isNull());

    QFile corpus(QString::fromStdString(testsupport::corpusPath("habibi-rotated.pdf")));
    ASSERT_TRUE(corpus.open(QIODevice::ReadOnly));
    TextView v(corpus.readAll());
    v.use(MarkupTool::text, quarnkit::RGBA::crimson);
    std::vector<platform::PdfPoint> typedAt; // display space, points
    for (int page = 0; page < 4; ++page) {
        SCOPED_TRACE(page);
        v.view.goToPage(page);
        QApplication::processEvents();
        const QPointF click = v.view.placement().pageRect(page).center() - QPointF(60, 0);
        QTest::mouseClick(v.view.viewport(), Qt::LeftButton, {}, click.toPoint());
        ASSERT_TRUE(v.editor());
        typeInto(v.view.windowHandle(), words);
        QTest::keyClick(v.view.windowHandle(), Qt::Key_Return);
        ASSERT_EQ(v.marks(page).size(), 1u);
        const platform::PdfPageGeometry g = pdfOf(*v.view.quarnDocument())->pageGeometry(page);
        typedAt.push_back(g.userToDisplay.map(v.view.placement().convertToPage(click, page)));

        // On screen: the words start at the click, their first line through it, upright.
        const QImage shown = pdfOf(*v.view.quarnDocument())->render(page, 3.0); // 3 pixels a point
        const QRect ink = redInk(shown);
        EXPECT_NEAR(ink.left() / 3.0, typedAt.back().x + 7, 4);
        EXPECT_NEAR(ink.center().y() / 3.0, typedAt.back().y, 8);
        EXPECT_LE(std::abs(ink.width() - reference.width()) + std::abs(ink.height() - reference.height()), 3);
        const QImage seen = shown.copy(ink).scaled(reference.size());
        EXPECT_LT(difference(seen, reference), 0.06); // upside down: 0.19
    }

    // Saved and drawn by poppler: the same place, the same upright words.
    QTemporaryDir dir;
    const QString pdf = dir.filePath("turned.pdf");
    pdfOf(*v.view.quarnDocument())->saveToFile(testsupport::chosen(pdf.toStdString()));
    ASSERT_EQ(std::system(("pdftoppm -r 216 -png " + pdf + " " + dir.filePath("page")).toUtf8().constData()), 0);
    for (int page = 0; page < 4; ++page) {
        SCOPED_TRACE(page);
        const QImage shown(dir.filePath(QStringLiteral("page-%1.png").arg(page + 1)));
        ASSERT_FALSE(shown.isNull());
        const QRect ink = redInk(shown);
        EXPECT_NEAR(ink.left() / 3.0, typedAt[size_t(page)].x + 7, 4);
        EXPECT_NEAR(ink.center().y() / 3.0, typedAt[size_t(page)].y, 8);
        const QImage seen = shown.copy(ink).scaled(reference.size());
        EXPECT_LT(difference(seen, reference), 0.06);
    }
}

// A double click on a text box or a note that is not selected opens its
// editor, though the first click, which selects it, brings the inspector,
// which narrows the pages and rescales them under the pointer at a fitted
// zoom. A mark dragged
// meanwhile follows the pointer's travel, not the pages' move.
TEST(TextBoxesOnThePage, ADoubleClickOpensAMarkThatTheFirstClickMoved)
{
    const PdfPoint where{250, 600};
    const struct {
        const char* row;
        quarnkit::MarkKind kind;
        QPoint travel; // of the pointer while the first click holds the button
    } rows[] = {
        {"text box", quarnkit::MarkKind::text, {}},
        {"note", quarnkit::MarkKind::note, {}},
        {"text box, the pointer moving a little", quarnkit::MarkKind::text, {1, 1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        viewertest::Settings settings;
        auto document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(1));
        const auto mark = row.kind == quarnkit::MarkKind::text
                              ? quarnkit::AnnotationFactory::freeText(where, "Words", {0, 0, 0.6, 1}, 16,
                                                                      quarnkit::TextFont::sans, {0, 0, 612, 792})
                              : quarnkit::AnnotationFactory::note(where, "A note", {1, 0.8, 0, 1}, {0, 0, 612, 792});
        const MarkRef ref{0, PdfAnnotations::add(*pdfOf(*document), 0, *mark)};
        auto screen = viewertest::showScreen(document.get(), QString(), settings);
        QApplication::setActiveWindow(screen.get());
        (void)QTest::qWaitForWindowActive(screen.get());
        ASSERT_TRUE(viewertest::waitForPages(*screen));
        QuarnPDFView& view = *screen->model().pdfView();
        QApplication::processEvents();
        const PdfAnnotation placed = *PdfAnnotations::find(*pdfOf(*document), 0, ref.object);
        const PdfPoint centre{placed.rect.x + placed.rect.width / 2, placed.rect.y + placed.rect.height / 2};
        const auto onWindow = [&] {
            return view.viewport()->mapTo(screen.get(), view.placement().convertFromPage(centre, 0).toPoint());
        };
        const QPoint pointer = onWindow();
        QWindow* window = screen->windowHandle();
        // As the window system sends them: the second press comes soon
        // enough and near enough to make a double click.
        int time = QTest::lastMouseTimestamp + 1000;
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
            qt_handleMouseEvent(window, at, window->mapToGlobal(at), held, Qt::LeftButton, type, {}, time += 40);
        };
        send(QEvent::MouseButtonPress, pointer, Qt::LeftButton);
        ASSERT_EQ(MarkEditor::of(view).selected(), ref);
        // The inspector comes; the pages take their new place before the pointer moves.
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QApplication::processEvents();
        EXPECT_NE(onWindow(), pointer) << "the pages stayed where they were";
        if (!row.travel.isNull()) send(QEvent::MouseMove, pointer + row.travel, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, pointer + row.travel, Qt::NoButton);
        // It follows the pointer's travel, not the pages' move under it.
        const platform::PdfRect after = PdfAnnotations::find(*pdfOf(*document), 0, ref.object)->rect;
        EXPECT_LE(std::hypot(after.x - placed.rect.x, after.y - placed.rect.y), 1.5 / view.scaleFactor());
        send(QEvent::MouseButtonPress, pointer + row.travel, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, pointer + row.travel, Qt::NoButton);
        QTest::lastMouseTimestamp = time + QTest::mouseDoubleClickInterval;
        EXPECT_TRUE(MarkEditor::of(view).hasEditor());
        EXPECT_EQ(MarkEditor::of(view).selected(), ref);
    }
}
