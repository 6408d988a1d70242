// The export sheet on a shown viewer screen, driven by clicks and keys.
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/UnnamedControls.h"
#include "Platform/PdfWriting.h"
#include "support/UrlCatcher.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QProcess>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QSlider>
#include <QTest>
#include <QThreadPool>

#include <functional>
#include <set>

#include <unistd.h>

using namespace quarn;
using namespace viewertest;
using quarnkit::ExportFormat;
using quarnkit::QuarnDocument;
using Kind = ExportController::Phase::Kind;

namespace {

// A shown viewer screen of a US Letter document and its export sheet.
struct Shown {
    Settings settings;
    QString path;
    std::unique_ptr<QuarnDocument> document;
    std::unique_ptr<ViewerScreen> screen;
    ExportSheet* sheet = nullptr;

    explicit Shown(int pages, std::optional<ExportFormat> preset = std::nullopt, const std::set<int>& selected = {})
        : Shown(testsupport::makeTextPdf(pages), preset, selected)
    {}
    explicit Shown(const QByteArray& pdf, std::optional<ExportFormat> preset = std::nullopt,
                   const std::set<int>& selected = {})
        : path(writeFile(settings.dir, "Letter.pdf", pdf)), document(QuarnDocument::open(path)),
          screen(showScreen(document.get(), path, settings))
    {
        PagesModel::of(model()).setSelectedPages(selected);
        present(preset);
    }
    void present(std::optional<ExportFormat> preset = std::nullopt)
    {
        DocumentActions::of(model()).presentExport(preset);
        testsupport::waitFor([this] { return (sheet = screen->findChild<ExportSheet*>()) && sheet->isVisible(); });
    }
    ViewerModel& model() { return screen->model(); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    void chooseCard(ExportFormat format)
    {
        for (QAbstractButton* card : sheet->cards())
            if (card->text() == quarnkit::ExportFormats::title(format)) click(card);
    }
    QStringList segmentTitles(ChromeSegmented* control) const
    {
        QStringList titles;
        for (QAbstractButton* segment : control->findChildren<QAbstractButton*>()) titles << segment->accessibleName();
        return titles;
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
    // Typing before clicking a field reaches no field.
    sheet.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    shown.type("x");
    EXPECT_TRUE(sheet.openPasswordField()->text().isEmpty());
    EXPECT_TRUE(sheet.editPasswordField()->text().isEmpty());

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

// A choice that shows or hides rows (resolution, quality, passwords, the
// range field) keeps the sheet's size and place: the card clicked and the
// buttons stay under the pointer, and every row still fits.
TEST(ExportSheet, AChoiceKeepsTheSheetsSizePlaceAndButtons)
{
    Shown shown(3);
    ExportSheet& sheet = *shown.sheet;
    const QRect frame = sheet.geometry();
    // Placed explicitly, so that window managers keep it there.
    EXPECT_TRUE(sheet.testAttribute(Qt::WA_Moved));
    // The button's right end: its title, and so its width, follows the choice.
    const auto exportEnd = [&] { return sheet.exportButton()->mapToGlobal(sheet.exportButton()->rect().topRight()); };
    const QPoint exportAt = exportEnd();
    QWidget* const rows[] = {sheet.note(), sheet.passwordCaption(), sheet.searchableBox(), sheet.qualitySlider()};
    const auto keptInPlace = [&] {
        QApplication::processEvents();
        EXPECT_EQ(sheet.geometry(), frame);
        EXPECT_EQ(exportEnd(), exportAt);
        // Every row it shows fits above the footer.
        for (QWidget* row : rows)
            EXPECT_TRUE(!row->isVisible()
                        || row->mapTo(&sheet, QPoint(0, row->height())).y()
                               < sheet.exportButton()->mapTo(&sheet, QPoint()).y())
                << row->metaObject()->className();
    };
    const auto chooseScope = [&](const QString& title) {
        const QStringList titles = shown.segmentTitles(sheet.scopeControl());
        ASSERT_TRUE(titles.contains(title)) << titles.join(", ").toStdString();
        shown.chooseSegment(sheet.scopeControl(), int(titles.indexOf(title)));
    };
    for (ExportFormat format : {ExportFormat::text, ExportFormat::jpeg, ExportFormat::pdf, ExportFormat::png,
                                ExportFormat::text, ExportFormat::pdf}) {
        SCOPED_TRACE(quarnkit::ExportFormats::title(format).toStdString());
        QAbstractButton* card = nullptr;
        for (QAbstractButton* c : sheet.cards())
            if (c->text() == quarnkit::ExportFormats::title(format)) card = c;
        ASSERT_TRUE(card);
        const QPoint cardAt = card->mapToGlobal(QPoint());
        QTest::mouseClick(sheet.windowHandle(), Qt::LeftButton, {}, card->mapTo(&sheet, card->rect().center()));
        ASSERT_EQ(sheet.form().format, format);
        keptInPlace();
        EXPECT_EQ(card->mapToGlobal(QPoint()), cardAt);
        // With the range field shown too.
        chooseScope("Range");
        keptInPlace();
        EXPECT_TRUE(sheet.rangeField()->isVisible());
        chooseScope("All pages");
    }
}

TEST(ExportSheet, AChosenFormatsTitleIsNeverCutShort)
{
    // Marks summary can be chosen without marks only as a preset; the others by a click.
    Shown shown(1, ExportFormat::marksSummary);
    const QFontMetrics bold(uiFont(13, QFont::DemiBold));
    std::vector<ExportFormat> formats{ExportFormat::marksSummary}; // the preset first, while it is chosen
    formats.insert(formats.end(), quarnkit::allExportFormats.begin(), quarnkit::allExportFormats.end() - 1);
    for (ExportFormat format : formats) {
        const QString title = quarnkit::ExportFormats::title(format);
        SCOPED_TRACE(title.toStdString());
        QAbstractButton* card = nullptr;
        for (QAbstractButton* c : shown.sheet->cards())
            if (c->text() == title) card = c;
        ASSERT_TRUE(card);
        if (card->isEnabled()) shown.click(card);
        if (shown.sheet->form().format != format) continue; // unavailable, and not the preset
        const QImage image = card->grab().toImage();
        const QRgb back = image.pixel(image.width() - 2, image.height() / 2);
        const auto inked = [&](int x) {
            for (int y = 2; y < image.height() - 2; ++y)
                if (std::abs(qGray(image.pixel(x, y)) - qGray(back)) > 40) return true;
            return false;
        };
        // The title is the first run of inked columns after the radio mark.
        int first = -1, last = -1, blank = 0;
        for (int x = 30; x < image.width() && blank < 8; ++x) {
            if (inked(x)) {
                if (first < 0) first = x;
                last = x;
                blank = 0;
            } else if (first >= 0) {
                ++blank;
            }
        }
        EXPECT_GE(last - first + 1, bold.horizontalAdvance(title) - 3);
    }
}

TEST(ExportSheet, APresetIsChosenEvenWhenItHasNothingToDo)
{
    Shown shown(2, ExportFormat::redactedPDF);
    ExportSheet& sheet = *shown.sheet;
    EXPECT_EQ(sheet.form().format, ExportFormat::redactedPDF);
    EXPECT_FALSE(DocumentActions::of(shown.model()).exportPreset()); // used once
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
    sheet.controller().reveal = [&](const QString& path, ExportController::RevealTold told) {
        revealed.push_back(path);
        told(std::nullopt);
    };
    shown.chooseCard(ExportFormat::text);
    shown.chooseSegment(sheet.scopeControl(), 0); // the current page
    shown.key(Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !DocumentActions::of(shown.model()).exportPresented(); }));
    EXPECT_EQ(revealed, std::vector<QString>{target});
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Page 1");
    const auto saved = quarnkit::ExportChoices::saved(shown.settings.defaults);
    EXPECT_EQ(saved.format, ExportFormat::text);
    EXPECT_EQ(saved.scope, quarnkit::ExportScope::thisPage);
}

// Return exports from whatever control the keys are on, as the Export
// button would, and never chooses the segment it is on, though a button Tab
// brought the keys to is pressed. The format cards are a radio group: Tab
// lands on the chosen card, the arrows choose (past the formats that cannot
// be had) and take the keys along, so Return exports the card the keys show.
TEST(ExportSheet, ReturnExportsTheCardTheKeysAreOnFromAnyControl)
{
    Shown shown(3, std::nullopt, {1});
    ExportSheet& sheet = *shown.sheet;
    std::vector<std::pair<ExportFormat, std::vector<int>>> asked;
    sheet.controller().chooseDestination = [&](const quarnkit::ExportSettings& settings, const ViewerModel&) {
        asked.emplace_back(settings.format, settings.pages);
        return std::optional<QString>(); // put away: the sheet stays
    };
    const auto card = [&](ExportFormat format) -> QAbstractButton* {
        for (QAbstractButton* each : sheet.cards())
            if (each->text() == quarnkit::ExportFormats::title(format)) return each;
        return nullptr;
    };
    const auto segment = [&](ChromeSegmented* control, const QString& title) -> QWidget* {
        for (QAbstractButton* each : control->findChildren<QAbstractButton*>())
            if (each->accessibleName() == title) return each;
        return nullptr;
    };
    const auto tabTo = [&](QWidget* control) {
        for (int i = 0; i < 60 && QApplication::focusWidget() != control; ++i) shown.key(Qt::Key_Tab);
        return QApplication::focusWidget() == control;
    };
    const std::vector<int> all{0, 1, 2};
    using F = ExportFormat;
    // From the sheet as it opens, Flattened PDF chosen, with no redactions or marks to export.
    const struct {
        const char* keys;
        std::vector<Qt::Key> sent;
        ExportFormat keysOn; // the card the keys are on, chosen, and exported
    } rows[] = {
        {"Tab", {Qt::Key_Tab}, F::flattenedPDF},
        {"Tab, Up", {Qt::Key_Tab, Qt::Key_Up}, F::pdf},
        {"Tab, Left", {Qt::Key_Tab, Qt::Key_Left}, F::pdf},
        {"Tab, Down", {Qt::Key_Tab, Qt::Key_Down}, F::smallerPDF},
        {"Tab, Right, Right", {Qt::Key_Tab, Qt::Key_Right, Qt::Key_Right}, F::png},
        {"Tab, Up, Up", {Qt::Key_Tab, Qt::Key_Up, Qt::Key_Up}, F::text},
        {"Tab, Down, Up", {Qt::Key_Tab, Qt::Key_Down, Qt::Key_Up}, F::flattenedPDF},
        {"Tab, Up, Tab, Shift+Tab", {Qt::Key_Tab, Qt::Key_Up, Qt::Key_Tab, Qt::Key_Backtab}, F::pdf},
        {"Tab, Down, Space", {Qt::Key_Tab, Qt::Key_Down, Qt::Key_Space}, F::smallerPDF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keys);
        sheet.chooseFormat(F::flattenedPDF);
        sheet.setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        for (Qt::Key key : row.sent) shown.key(key);
        QApplication::processEvents();
        EXPECT_EQ(QApplication::focusWidget(), card(row.keysOn));
        EXPECT_EQ(sheet.form().format, row.keysOn);
        EXPECT_TRUE(QAccessible::queryAccessibleInterface(card(row.keysOn))->state().checked);
        asked.clear();
        shown.key(Qt::Key_Return);
        EXPECT_EQ(asked, (std::vector<std::pair<ExportFormat, std::vector<int>>>{{row.keysOn, all}}));
        EXPECT_TRUE(sheet.isVisible());
    }

    // A click chooses another card and the keys follow it.
    sheet.chooseFormat(F::flattenedPDF);
    sheet.setFocus(Qt::OtherFocusReason);
    shown.key(Qt::Key_Tab);
    shown.click(card(F::jpeg));
    EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == card(F::jpeg); }));
    EXPECT_EQ(sheet.form().format, F::jpeg);
    sheet.chooseFormat(F::flattenedPDF);
    EXPECT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == card(F::flattenedPDF); }));

    // The scopes are a radio group too, right after the cards: Tab stops on
    // the chosen scope alone, an arrow chooses the next and takes the keys
    // along; Return (or Enter) then exports it.
    ChromeSegmented* scopes = sheet.scopeControl();
    const QStringList titles = shown.segmentTitles(scopes);
    const int wanted = int(titles.indexOf("Selected pages"));
    ASSERT_GE(wanted, 0);
    ASSERT_GE(scopes->selection(), 0);
    ASSERT_NE(scopes->selection(), wanted);
    tabTo(card(F::flattenedPDF));
    shown.key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), segment(scopes, titles[scopes->selection()]));
    while (scopes->selection() != wanted) {
        const int was = scopes->selection();
        shown.key(wanted > was ? Qt::Key_Right : Qt::Key_Left);
        ASSERT_EQ(scopes->selection(), was + (wanted > was ? 1 : -1));
        EXPECT_EQ(QApplication::focusWidget(), segment(scopes, titles[scopes->selection()]));
    }
    asked.clear();
    shown.key(Qt::Key_Enter);
    EXPECT_EQ(asked, (std::vector<std::pair<ExportFormat, std::vector<int>>>{{F::flattenedPDF, {1}}}));

    // Cancel, reached by Tab, cancels.
    const auto buttons = sheet.findChildren<QAbstractButton*>();
    ASSERT_TRUE(tabTo(*std::find_if(buttons.begin(), buttons.end(),
                                    [](auto* b) { return b->text() == "Cancel" && b->isVisible(); })));
    asked.clear();
    // Cancel puts the sheet away and deletes it.
    const QPointer<ExportSheet> cancelled(&sheet);
    shown.key(Qt::Key_Return);
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(!cancelled || !cancelled->isVisible());
}

// A screen reader finds every control of the sheet by its name, those shown
// for one format or scope only too.
TEST(ExportSheet, EveryControlHasAName)
{
    Shown shown(3);
    ExportSheet& sheet = *shown.sheet;
    EXPECT_EQ(accessibletest::unnamedControls(&sheet), QStringList());
    const auto name = [](QWidget* control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    EXPECT_EQ(name(sheet.qualitySlider()), "Quality");
    EXPECT_EQ(name(sheet.rangeField()), "Page range");
    EXPECT_EQ(name(sheet.openPasswordField()), "Password to open");
    EXPECT_EQ(name(sheet.editPasswordField()), "Password to edit");
}

TEST(ExportSheet, SelectedPagesExportThosePagesInDocumentOrder)
{
    Shown shown(4, std::nullopt, {2, 0});
    ExportSheet& sheet = *shown.sheet;
    ASSERT_EQ(shown.segmentTitles(sheet.scopeControl()),
              (QStringList{"Current page", "All pages", "Selected pages", "Range"}));
    shown.chooseSegment(sheet.scopeControl(), 2);
    EXPECT_EQ(sheet.form().scope, quarnkit::ExportScope::selectedPages);
    EXPECT_EQ(sheet.pagesLine()->text(), "2 pages: 1, 3");

    // PDF into a file, then PNG into a folder, each from a fresh sheet.
    QTemporaryDir out;
    struct Case {
        ExportFormat format;
        QString target;
    };
    for (const Case& c : {Case{ExportFormat::pdf, out.filePath("Two.pdf")}, Case{ExportFormat::png, out.path()}}) {
        if (!shown.sheet) shown.present();
        ASSERT_TRUE(shown.sheet);
        EXPECT_EQ(shown.sheet->form().scope, quarnkit::ExportScope::selectedPages); // remembered
        shown.sheet->controller().chooseDestination = [&](const quarnkit::ExportSettings& settings,
                                                          const ViewerModel&) {
            EXPECT_EQ(settings.pages, (std::vector<int>{0, 2}));
            return std::optional<QString>(c.target);
        };
        shown.sheet->controller().reveal = [](const QString&, ExportController::RevealTold told) {
            told(std::nullopt);
        };
        shown.chooseCard(c.format);
        shown.key(Qt::Key_Return);
        ASSERT_TRUE(testsupport::waitFor([&] { return !DocumentActions::of(shown.model()).exportPresented(); }));
        shown.sheet = nullptr;
        QApplication::processEvents();
    }
    const QString pdf = out.filePath("Two.pdf");
    EXPECT_EQ(quarnkit::QuarnDocument::open(pdf)->pageCount(), 2);
    for (const auto& [page, text] : {std::pair{"1", "Page 1"}, std::pair{"2", "Page 3"}}) {
        QProcess reader;
        reader.start("pdftotext", {"-f", page, "-l", page, pdf, "-"});
        ASSERT_TRUE(reader.waitForFinished());
        EXPECT_EQ(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(), text);
    }
    EXPECT_EQ(QDir(out.filePath("Letter")).entryList(QDir::Files, QDir::Name),
              (QStringList{"Letter-01.png", "Letter-03.png"}));

    // Without a selection the segment is gone and the remembered scope opens as all pages.
    PagesModel::of(shown.model()).setSelectedPages({});
    shown.present();
    ASSERT_TRUE(shown.sheet);
    EXPECT_EQ(shown.segmentTitles(shown.sheet->scopeControl()), (QStringList{"Current page", "All pages", "Range"}));
    EXPECT_EQ(shown.sheet->form().scope, quarnkit::ExportScope::allPages);
    EXPECT_EQ(shown.sheet->pagesLine()->text(), "4 pages");
}

// The toolbar's Export button and File > Export... present the sheet without
// looking at the document, so it must say what is wrong rather than fail.
TEST(ExportSheet, CopesWithNoDocumentALockedOneAndOneWithoutPages)
{
    Settings settings;
    const auto locked = QuarnDocument::open(corpus("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(locked->isLocked());
    const auto empty = QuarnDocument::open(writeFile(
        settings.dir, "Empty.pdf",
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"})));
    ASSERT_EQ(empty->pageCount(), 0);
    // Only an open, unlocked document is looked at for marks.
    struct Case {
        QuarnDocument* document;
        QString validation;
        int cardsOff;
    };
    for (const Case& c : {Case{nullptr, "There is no document to export.", 0},
                          Case{locked.get(), "Unlock the PDF to export it.", 0}, Case{empty.get(), "", 2}}) {
        SCOPED_TRACE(c.validation.toStdString());
        ViewerModel model(&settings.defaults, &settings.positions);
        QWidget window;
        window.resize(600, 700);
        model.setDocument(c.document);
        PagesModel::of(model).setSelectedPages({1});
        ExportSheet::follow(&model, &window);
        window.show();
        DocumentActions::of(model).setExportPresented(true);
        ExportSheet* sheet = nullptr;
        ASSERT_TRUE(
            testsupport::waitFor([&] { return (sheet = window.findChild<ExportSheet*>()) && sheet->isVisible(); }));
        EXPECT_EQ(sheet->pagesLine()->text(), "There is nothing to export.");
        EXPECT_EQ(sheet->validation()->text(), c.validation);
        EXPECT_FALSE(sheet->exportButton()->isEnabled());
        const auto cards = sheet->cards();
        EXPECT_EQ(std::count_if(cards.begin(), cards.end(), [](QAbstractButton* card) { return !card->isEnabled(); }),
                  c.cardsOff);
        for (int scope = 0; scope < sheet->scopeControl()->count(); ++scope) {
            sheet->scopeControl()->findChildren<QAbstractButton*>()[scope]->click();
            for (ExportFormat format : {ExportFormat::png, ExportFormat::marksSummary, ExportFormat::redactedPDF}) {
                sheet->chooseFormat(format);
                EXPECT_TRUE(sheet->pixelSize()->text().isEmpty());
                EXPECT_FALSE(sheet->exportButton()->isEnabled());
                QTest::keyClick(sheet->windowHandle(), Qt::Key_Return); // nothing to run
                EXPECT_EQ(sheet->controller().phase().kind, Kind::idle);
            }
        }
        QTest::keyClick(sheet->windowHandle(), Qt::Key_Escape);
        EXPECT_TRUE(testsupport::waitFor([&] { return !DocumentActions::of(model).exportPresented(); }));
        model.setDocument(nullptr);
    }
}

TEST(ExportController, ALateResultAfterCancelIsIgnored)
{
    Shown shown(40);
    ExportController& controller = shown.sheet->controller();
    std::vector<QString> revealed;
    controller.reveal = [&](const QString& path, ExportController::RevealTold told) {
        revealed.push_back(path);
        told(std::nullopt);
    };
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
    controller.reveal = [](const QString&, ExportController::RevealTold told) { told(std::nullopt); };
    controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(shown.settings.dir.filePath("Small.pdf"));
    };
    bool done = false;
    quarnkit::ExportSettings settings;
    settings.format = ExportFormat::smallerPDF;
    settings.pages = {0}; // a page of text alone: nothing to gain
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

// A finished export that has something to say keeps the sheet open with
// Done: a Smaller PDF says what it saved, and a file that cannot be shown in
// its folder is told there, quietly, under what the export found; one with
// nothing else to say closes the sheet once the file shows. No alert over the
// window takes the first Return, which closes the sheet, sent where the
// keyboard sends it; the file is written all the same.
TEST(ExportSheet, AFinishedExportSaysWhatItFoundAndTheFirstReturnClosesIt)
{
    const struct {
        const char* opener;
        std::optional<QByteArray> script; // none: no xdg-open
        QString told;                     // what the sheet adds; empty: the folder showed
    } openers[] = {
        {"none", std::nullopt,
         "ravlen couldn't show it in its folder. No file manager answered, and xdg-open, "
         "which opens folders, isn't installed."},
        {"one that fails", QByteArray("exit 3"),
         "ravlen couldn't show it in its folder. No file manager answered, "
         "and xdg-open couldn't open the folder"},
        {"one that shows it", QByteArray("exit 0"), QString()},
    };
    const struct {
        ExportFormat format;
        const char* name;
        bool summary; // it has more to say than where the file went
    } exports[] = {
        // Smaller PDF of pages of text alone, which has little to gain; the keys past the cards.
        {ExportFormat::smallerPDF, "Small.pdf", true},
        {ExportFormat::text, "Out.txt", false},
    };
    for (const auto& row : openers)
        for (const auto& made : exports) {
            SCOPED_TRACE(std::string(row.opener) + ", " + made.name);
            const testsupport::XdgOpenStandIn opener(row.script);
            Shown shown(2);
            ExportSheet& sheet = *shown.sheet;
            const QString target = shown.settings.dir.filePath(made.name);
            sheet.controller().chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
                return std::optional<QString>(target);
            };
            bool alerted = false;
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (qobject_cast<QMessageBox*>(widget) && widget->isVisible()) alerted = true;
            });
            watch.start(5);
            shown.chooseCard(made.format);
            if (made.summary) shown.key(Qt::Key_Tab);
            shown.key(Qt::Key_Return);
            if (row.told.isEmpty() && !made.summary) {
                EXPECT_TRUE(
                    testsupport::waitFor([&] { return !DocumentActions::of(shown.model()).exportPresented(); }));
            } else {
                ASSERT_TRUE(testsupport::waitFor([&] { return sheet.controller().phase().kind == Kind::finished; }));
                EXPECT_TRUE(sheet.summary()->isVisible());
                if (!made.summary) {
                    EXPECT_TRUE(sheet.summary()->text().startsWith(
                        QStringLiteral("“%1” was exported. %2").arg(QString::fromUtf8(made.name), row.told)))
                        << sheet.summary()->text().toStdString();
                } else if (!row.told.isEmpty()) {
                    EXPECT_TRUE(testsupport::waitFor([&] { return sheet.summary()->text().contains(row.told); }))
                        << sheet.summary()->text().toStdString();
                }
                EXPECT_TRUE(DocumentActions::of(shown.model()).exportPresented());
                QApplication::processEvents();
                QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
                EXPECT_TRUE(
                    testsupport::waitFor([&] { return !DocumentActions::of(shown.model()).exportPresented(); }));
            }
            QTest::qWait(50); // a late word from the opener would come now
            EXPECT_FALSE(alerted);
            EXPECT_TRUE(QFile::exists(target));
        }
}

TEST(ExportSheet, ASearchableCopyShowsTextRecognitionPageByPage)
{
    // A page of text and a scanned page without any.
    auto doc = platform::PdfDocument::openBytes(testsupport::makeTextPdf(1));
    QImage scan(10, 10, QImage::Format_RGB888);
    scan.fill(Qt::white);
    platform::PdfWriting::appendImagePage(*doc, scan, {612, 792});
    Shown shown(doc->save(), ExportFormat::pdf);
    ExportSheet& sheet = *shown.sheet;
    sheet.controller().reveal = [](const QString&, ExportController::RevealTold told) { told(std::nullopt); };
    sheet.controller().chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(shown.settings.dir.filePath("Searchable.pdf"));
    };
    QStringList shownSteps;
    QObject::connect(&sheet.controller(), &ExportController::phaseChanged, &sheet, [&] {
        if (sheet.controller().phase().kind == Kind::working) shownSteps << sheet.stepLabel()->text();
    });
    QCheckBox* searchable = nullptr;
    for (QCheckBox* box : sheet.findChildren<QCheckBox*>())
        if (box->text() == "Make scanned text searchable") searchable = box;
    ASSERT_TRUE(searchable);
    // On the box itself: the check box is as wide as the sheet.
    QTest::mouseClick(searchable, Qt::LeftButton, {}, QPoint(6, searchable->height() / 2));
    ASSERT_TRUE(searchable->isChecked());
    shown.key(Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return !DocumentActions::of(shown.model()).exportPresented(); }));
    EXPECT_TRUE(shownSteps.contains("Reading page 1 of 2")) << shownSteps.join(", ").toStdString();
    EXPECT_TRUE(shownSteps.contains("Reading page 2 of 2"));
    EXPECT_EQ(shownSteps.indexOf("Saving", 1), shownSteps.size() - 1); // saving only once recognition is done
}

TEST(ExportController, TheDialogProposesTheFormatsOwnNameOrSaysWhereImagesGo)
{
    const struct {
        ExportFormat format;
        int count; // pages of the document
        std::vector<int> pages;
        const char* name;    // proposed in the save dialog
        const char* message; // shown in the folder chooser
    } cases[] = {
        {ExportFormat::tiff, 1, {0}, "Letter.tiff", nullptr},
        {ExportFormat::jpeg, 2, {0}, "Letter page 1.jpg", nullptr},
        {ExportFormat::marksSummary, 1, {0}, "Letter marks.md", nullptr},
        {ExportFormat::png, 2, {0, 1}, nullptr, "ravlen saves one image per page into a new folder named Letter."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(quarnkit::ExportFormats::title(c.format).toStdString());
        Shown shown(c.count);
        QString proposed, message;
        bool messageShown = false;
        // The dialog runs its own loop: read it there, then close it.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            if (auto* field = dialog->findChild<QLineEdit*>("fileNameEdit"); field && field->isVisible())
                proposed = field->text();
            if (auto* line = dialog->findChild<QLabel*>("panelMessage")) {
                message = line->text();
                messageShown = line->isVisible() && line->width() >= line->sizeHint().width() / 2;
            }
            dialog->reject();
        });
        poll.start(20);
        quarnkit::ExportSettings settings;
        settings.format = c.format;
        settings.baseName = "Letter";
        settings.pages = c.pages;
        shown.sheet->controller().start(settings, shown.model(), {});
        EXPECT_EQ(proposed, c.name ? QString(c.name) : QString());
        EXPECT_EQ(message, c.message ? QString(c.message) : QString());
        EXPECT_EQ(messageShown, c.message != nullptr);
        EXPECT_EQ(shown.sheet->controller().phase().kind, Kind::idle); // cancelled: nothing said
    }
}

TEST(ExportController, AnExportOverTheOpenDocumentsOwnFileIsRefused)
{
    Shown shown(3);
    ExportController& controller = shown.sheet->controller();
    controller.reveal = [](const QString&, ExportController::RevealTold told) { told(std::nullopt); };
    QFile original(shown.path);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    // The file under its own name, through a link, and under a second name
    // (a hard link): the same device and inode each time.
    const QString link = shown.settings.dir.filePath("Link.pdf"), second = shown.settings.dir.filePath("Second.pdf");
    ASSERT_TRUE(QFile::link(shown.path, link));
    ASSERT_EQ(::link(QFile::encodeName(shown.path).constData(), QFile::encodeName(second).constData()), 0);
    for (const QString& target : {shown.path, link, second}) {
        SCOPED_TRACE(target.toStdString());
        controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
            return std::optional<QString>(target);
        };
        shown.chooseCard(ExportFormat::pdf);
        shown.chooseSegment(shown.sheet->scopeControl(), 0); // the current page only
        shown.key(Qt::Key_Return);
        ASSERT_TRUE(testsupport::waitFor([&] { return controller.phase().kind == Kind::failed; }));
        EXPECT_TRUE(shown.sheet->failure()->text().startsWith("That is the PDF open in this window"));
        controller.clearResult();
    }
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), before);
    EXPECT_EQ(shown.document->pageCount(), 3);
}
