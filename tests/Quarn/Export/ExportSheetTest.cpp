// The export sheet on a shown viewer screen, driven by clicks and keys.
#include "Quarn/Export/ExportSheet.h"

#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Viewer/ViewerScreenHarness.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QThreadPool>

using namespace quarn;
using namespace viewertest;
using quarnkit::ExportFormat;
using quarnkit::QuarnDocument;
using Kind = ExportController::Phase::Kind;

namespace {

// A shown viewer screen of a US Letter document and its export sheet.
struct Shown {
    Settings settings;
    QUndoStack stack;
    QString path;
    std::unique_ptr<QuarnDocument> document;
    std::unique_ptr<ViewerScreen> screen;
    ExportSheet* sheet = nullptr;

    explicit Shown(int pages, std::optional<ExportFormat> preset = std::nullopt)
        : path(writeFile(settings.dir, "Letter.pdf", testsupport::makeTextPdf(pages))),
          document(QuarnDocument::open(path)), screen(showScreen(document.get(), path, stack, settings))
    {
        screen->model().presentExport(preset);
        testsupport::waitFor([this] { return (sheet = screen->findChild<ExportSheet*>()) && sheet->isVisible(); });
    }
    ViewerModel& model() { return screen->model(); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    void chooseCard(ExportFormat format)
    {
        for (QAbstractButton* card : sheet->cards())
            if (card->text() == quarnkit::ExportFormats::title(format)) click(card);
    }
    void chooseSegment(ChromeSegmented* control, int index)
    {
        const auto segments = control->findChildren<QAbstractButton*>();
        ASSERT_GT(segments.size(), index);
        click(segments[index]);
    }
    // Keys go to the sheet's window, which hands them to the focused field.
    void key(Qt::Key k) { QTest::keyClick(sheet->windowHandle(), k); }
    void type(const QString& text)
    {
        for (QChar c : text) QTest::keyClick(sheet->windowHandle(), c.toLatin1());
    }
};

} // namespace

TEST(ExportSheet, ShowsPagesPixelsNotesAndPasswordCaptions)
{
    Shown shown(3);
    ASSERT_TRUE(shown.sheet);
    ExportSheet& sheet = *shown.sheet;
    EXPECT_EQ(sheet.form().format, ExportFormat::flattenedPDF);
    EXPECT_EQ(sheet.pagesLine()->text(), "3 pages");
    EXPECT_EQ(sheet.note()->text(), "Marks are painted in, so they look the same everywhere.");

    shown.chooseCard(ExportFormat::png);
    EXPECT_EQ(sheet.form().format, ExportFormat::png);
    EXPECT_EQ(sheet.pixelSize()->text(), "1275 \u00D7 1650 px");
    EXPECT_EQ(sheet.exportButton()->text(), "Choose Folder");
    EXPECT_TRUE(sheet.note()->isVisible());
    EXPECT_FALSE(sheet.openPasswordField()->isVisible());

    // Range: the field takes the focus; an empty range only hints, a bad one is an error.
    shown.chooseSegment(sheet.scopeControl(), 2);
    ASSERT_TRUE(sheet.rangeField()->isVisible());
    EXPECT_EQ(sheet.focusWidget(), sheet.rangeField());
    EXPECT_EQ(sheet.pagesLine()->text(), "Type pages like 1-3, 5, 8-. A trailing dash runs to the end.");
    EXPECT_FALSE(sheet.exportButton()->isEnabled());
    shown.type("5");
    EXPECT_EQ(sheet.pagesLine()->text(), "Page 5 doesn't exist. This PDF has 3 pages.");
    EXPECT_FALSE(sheet.exportButton()->isEnabled());
    shown.key(Qt::Key_Backspace);
    shown.type("2");
    EXPECT_EQ(sheet.pagesLine()->text(), "1 page: 2");
    EXPECT_EQ(sheet.exportButton()->text(), "Export");
    EXPECT_TRUE(sheet.exportButton()->isEnabled());

    shown.chooseCard(ExportFormat::jpeg);
    EXPECT_TRUE(sheet.qualitySlider()->isVisible());
    shown.chooseCard(ExportFormat::pdf);
    ASSERT_TRUE(sheet.openPasswordField()->isVisible());
    EXPECT_FALSE(sheet.passwordCaption()->isVisible());
    ASSERT_TRUE(sheet.searchableBox()->isVisible());
    QTest::mouseClick(sheet.searchableBox(), Qt::LeftButton, {}, QPoint(8, sheet.searchableBox()->height() / 2));
    EXPECT_TRUE(sheet.form().searchable);
    shown.click(sheet.editPasswordField());
    shown.type("owner");
    EXPECT_EQ(sheet.passwordCaption()->text(), "The copy opens freely, but changing it takes this password.");
}

TEST(ExportSheet, APresetIsChosenEvenWhenItHasNothingToDo)
{
    Shown shown(2, ExportFormat::redactedPDF);
    ExportSheet& sheet = *shown.sheet;
    EXPECT_EQ(sheet.form().format, ExportFormat::redactedPDF);
    EXPECT_FALSE(shown.model().exportPreset()); // used once
    EXPECT_EQ(sheet.validation()->text(), "This PDF has no redactions yet.");
    EXPECT_FALSE(sheet.exportButton()->isEnabled());
}

TEST(ExportSheet, ExportingWritesTheFileRemembersTheChoicesAndCloses)
{
    Shown shown(3);
    ExportSheet& sheet = *shown.sheet;
    const QString target = shown.settings.dir.filePath("Out.txt");
    std::vector<QString> revealed;
    sheet.controller().chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(target);
    };
    sheet.controller().reveal = [&](const QString& path) { revealed.push_back(path); };
    shown.chooseCard(ExportFormat::text);
    shown.chooseSegment(sheet.scopeControl(), 0); // the current page
    shown.key(Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !shown.model().exportPresented(); }));
    EXPECT_EQ(revealed, std::vector<QString>{target});
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Page 1");
    const auto saved = quarnkit::ExportChoices::saved(shown.settings.defaults);
    EXPECT_EQ(saved.format, ExportFormat::text);
    EXPECT_EQ(saved.scope, quarnkit::ExportScope::thisPage);
}

TEST(ExportController, ALateResultAfterCancelIsIgnored)
{
    Shown shown(40);
    ExportController& controller = shown.sheet->controller();
    std::vector<QString> revealed;
    controller.reveal = [&](const QString& path) { revealed.push_back(path); };
    QTemporaryDir out;
    controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(out.path());
    };
    quarnkit::ExportSettings settings;
    settings.format = ExportFormat::png;
    settings.baseName = "Letter";
    for (int i = 0; i < 40; ++i) settings.pages.push_back(i);
    bool done = false;
    controller.start(settings, shown.model(), [&] { done = true; });
    EXPECT_EQ(controller.phase().kind, Kind::working);
    controller.start(settings, shown.model(), [&] { done = true; }); // ignored while working
    controller.cancel();
    EXPECT_EQ(controller.phase().kind, Kind::idle);
    // Let the stopped worker end and its late messages arrive.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(controller.phase().kind, Kind::idle);
    EXPECT_FALSE(done);
    EXPECT_TRUE(revealed.empty());
    EXPECT_TRUE(QDir(out.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST(ExportController, ASummaryKeepsTheSheetOpenAndFailuresAreShown)
{
    Shown shown(2);
    ExportSheet& sheet = *shown.sheet;
    ExportController& controller = sheet.controller();
    controller.reveal = [](const QString&) {};
    controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(shown.settings.dir.filePath("Small.pdf"));
    };
    bool done = false;
    quarnkit::ExportSettings settings;
    settings.format = ExportFormat::smallerPDF;
    settings.pages = {0, 1};
    controller.start(settings, shown.model(), [&] { done = true; });
    ASSERT_TRUE(testsupport::waitFor([&] { return controller.phase().kind == Kind::finished; }));
    EXPECT_FALSE(done);
    EXPECT_TRUE(sheet.summary()->text().startsWith("This PDF is already compact"));

    controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(shown.settings.dir.filePath("missing/Out.pdf"));
    };
    settings.format = ExportFormat::pdf;
    controller.start(settings, shown.model(), {});
    ASSERT_TRUE(testsupport::waitFor([&] { return controller.phase().kind == Kind::failed; }));
    EXPECT_TRUE(sheet.failure()->isVisible());
    EXPECT_TRUE(sheet.failure()->text().startsWith("ravlen couldn't save \"Out.pdf\"."));
    controller.clearResult();
    EXPECT_EQ(controller.phase().kind, Kind::idle);
    EXPECT_FALSE(sheet.failure()->isVisible());
}
