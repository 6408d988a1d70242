#include "QuarnKit/Export/ExportForm.h"

#include "Platform/PdfAnnotations.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/Redaction.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace quarnkit;
using platform::PdfDocument;

TEST(ExportChoices, RememberedChoicesReadBackWithTheirChecks)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    EXPECT_EQ(ExportChoices::saved(defaults),
              (ExportChoices{ExportFormat::flattenedPDF, ExportScope::allPages, 150, 0.85, false}));

    const ExportChoices jpeg{ExportFormat::jpeg, ExportScope::thisPage, 300, 0.5, true};
    jpeg.save(defaults);
    EXPECT_EQ(ExportChoices::saved(defaults), jpeg);

    struct Case {
        const char* key;
        nlohmann::json stored;
        ExportChoices expected;
    };
    const std::vector<Case> cases = {
        {"ravlenExportScope", "range", {ExportFormat::jpeg, ExportScope::allPages, 300, 0.5, true}},
        {"ravlenExportScope", "everything", {ExportFormat::jpeg, ExportScope::allPages, 300, 0.5, true}},
        {"ravlenExportDPI", 96, {ExportFormat::jpeg, ExportScope::thisPage, 150, 0.5, true}},
        {"ravlenExportJPEGQuality", 0.1, {ExportFormat::jpeg, ExportScope::thisPage, 300, 0.3, true}},
        {"ravlenExportJPEGQuality", 1.5, {ExportFormat::jpeg, ExportScope::thisPage, 300, 1.0, true}},
        {"ravlenExportFormat", "gif", {ExportFormat::flattenedPDF, ExportScope::thisPage, 300, 0.5, true}},
        {"ravlenExportSearchable", "yes", {ExportFormat::jpeg, ExportScope::thisPage, 300, 0.5, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        jpeg.save(defaults);
        defaults.set(c.key, c.stored);
        EXPECT_EQ(ExportChoices::saved(defaults), c.expected);
    }
}

namespace {

struct Fixture {
    QuarnDocument document{PdfDocument::openBytes(testsupport::makeTextPdf(12))};
    std::shared_ptr<PdfDocument> doc = pdfOf(document);
    ExportSource source{&document, 3, {}, QString("/home/u/Plan.pdf")};
    ExportForm form;
};

} // namespace

TEST(ExportForm, PagesLineNamesThePagesOrWhatIsWrong)
{
    Fixture f;
    struct Case {
        ExportScope scope;
        QString range;
        std::set<int> selected;
        QString line;
        bool error;
    };
    const std::vector<Case> cases = {
        {ExportScope::thisPage, {}, {}, "Page 4", false},
        {ExportScope::allPages, {}, {}, "12 pages", false},
        {ExportScope::selectedPages, {}, {3}, "1 page: 4", false},
        {ExportScope::selectedPages, {}, {20}, "No pages are selected. Pick pages in the sidebar first.", true},
        {ExportScope::range, "1-3, 7", {}, "4 pages: 1-3, 7", false},
        {ExportScope::range, " \t ", {}, "Type pages like 1-3, 5, 8-. A trailing dash runs to the end.", false},
        {ExportScope::range, "13", {}, "Page 13 doesn't exist. This PDF has 12 pages.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        f.form.scope = c.scope;
        f.form.rangeText = c.range;
        f.source.selectedPages = c.selected;
        const ExportForm::Line line = f.form.pagesLine(f.source);
        EXPECT_EQ(line.text, c.line);
        EXPECT_EQ(line.isError, c.error);
        const bool emptyRange = c.scope == ExportScope::range && c.range.trimmed().isEmpty();
        EXPECT_EQ(f.form.canExport(f.source, false), !c.error && !emptyRange);
    }
    f.source.selectedPages = {3};
    EXPECT_EQ(ExportForm::scopes(f.source).size(), 4u);
    f.source.selectedPages.clear();
    EXPECT_EQ(ExportForm::scopes(f.source),
              (std::vector<ExportScope>{ExportScope::thisPage, ExportScope::allPages, ExportScope::range}));
}

TEST(ExportForm, ImageOptionsShowPixelsButtonAndNotes)
{
    Fixture f;
    f.form.format = ExportFormat::png;
    EXPECT_EQ(f.form.pixelSize(f.source), "1275 \u00D7 1650 px");
    f.form.dpi = 72;
    EXPECT_EQ(f.form.pixelSize(f.source), "612 \u00D7 792 px");
    EXPECT_EQ(f.form.actionTitle(f.source), "Choose Folder");
    EXPECT_EQ(f.form.formatNote(f.source), "One image per page, in a new folder named after the PDF.");
    f.form.scope = ExportScope::thisPage;
    EXPECT_EQ(f.form.actionTitle(f.source), "Export");
    EXPECT_FALSE(f.form.formatNote(f.source));
    f.form.format = ExportFormat::tiff;
    f.form.scope = ExportScope::allPages;
    EXPECT_EQ(f.form.actionTitle(f.source), "Export");
    EXPECT_EQ(f.form.formatNote(f.source), "All pages go into one TIFF file.");

    struct Quality {
        double value;
        QString text;
    };
    for (const Quality& q : std::vector<Quality>{{0.85, "85%"}, {0.3, "30%"}, {1.0, "100%"}, {0.555, "56%"}}) {
        f.form.quality = q.value;
        EXPECT_EQ(f.form.qualityText(), q.text);
    }
    EXPECT_TRUE(ExportForm().pixelSize({}).isEmpty());
}

TEST(ExportForm, PasswordCaptionsAndSettingsFollowTheFormat)
{
    Fixture f;
    f.form.format = ExportFormat::pdf;
    EXPECT_FALSE(f.form.passwordCaption());
    f.form.openPassword = "a";
    EXPECT_EQ(f.form.passwordCaption(),
              "The copy won't open without this password. ravlen can't recover it if it's lost.");
    f.form.editPassword = "b";
    EXPECT_EQ(f.form.passwordCaption(),
              "Readers need the first password. Changes need the second. ravlen can't recover a lost password.");
    f.form.openPassword.clear();
    EXPECT_EQ(f.form.passwordCaption(), "The copy opens freely, but changing it takes this password.");

    f.form.openPassword = "a";
    f.form.searchable = true;
    ExportSettings s = f.form.settings(f.source);
    EXPECT_EQ(s.baseName, "Plan");
    EXPECT_EQ(s.pages.size(), 12u);
    EXPECT_EQ(s.openPassword, "a");
    EXPECT_TRUE(s.makeSearchable);
    // The passwords stay typed but are not used for a picture.
    f.form.format = ExportFormat::png;
    s = f.form.settings(f.source);
    EXPECT_TRUE(s.openPassword.isEmpty() && s.editPassword.isEmpty());
    EXPECT_FALSE(s.makeSearchable);
    EXPECT_EQ(f.form.openPassword, "a");
}

TEST(ExportForm, MarksAndRedactionsDecideWhatCanBeExported)
{
    Fixture f;
    f.form.census = MarkCensus(*f.doc);
    EXPECT_EQ(f.form.unavailableReason(ExportFormat::marksSummary), "No marks yet");
    EXPECT_EQ(f.form.unavailableReason(ExportFormat::redactedPDF), "No redactions yet");
    EXPECT_FALSE(f.form.unavailableReason(ExportFormat::png));
    f.form.format = ExportFormat::redactedPDF;
    EXPECT_EQ(f.form.validationMessage(f.source), "This PDF has no redactions yet.");
    EXPECT_FALSE(f.form.canExport(f.source, false));

    platform::PdfAnnotations::add(*f.doc, 1, *Redaction::mark({60, 600}, {300, 700}));
    platform::PdfAnnotations::add(*f.doc, 1, *Redaction::mark({60, 300}, {300, 400}));
    platform::PdfAnnotations::add(*f.doc, 5, *Redaction::mark({60, 600}, {300, 700}));
    platform::PdfAnnotations::add(*f.doc, 5, *AnnotationFactory::rectangle({10, 10}, {90, 90}, RGBA::ink, 2, false));
    f.form.census = MarkCensus(*f.doc);
    EXPECT_EQ(f.form.formatNote(f.source),
              "3 redactions on 2 pages will be applied. Those pages become images, so the covered text is gone. "
              "Document details are removed.");
    EXPECT_TRUE(f.form.canExport(f.source, false));
    EXPECT_FALSE(f.form.canExport(f.source, true)); // not while an export runs
    // A flattened copy removes what the boxes cover too, and says so.
    f.form.format = ExportFormat::flattenedPDF;
    EXPECT_EQ(f.form.formatNote(f.source), "Marks are painted in, so they look the same everywhere. 3 redactions on "
                                           "2 pages remove what they cover; those pages become images.");
    f.form.format = ExportFormat::redactedPDF;
    f.form.scope = ExportScope::thisPage;
    EXPECT_EQ(f.form.validationMessage(f.source), "These pages have no redactions.");

    f.form.format = ExportFormat::marksSummary;
    f.form.scope = ExportScope::range;
    f.form.rangeText = "6";
    EXPECT_EQ(f.form.formatNote(f.source),
              "2 marks on 1 page, listed by page as Markdown with highlighted words and note text.");
    f.form.rangeText = "1";
    EXPECT_EQ(f.form.validationMessage(f.source), "These pages have no marks.");

    const QuarnDocument locked(PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf")));
    ExportSource lockedSource;
    lockedSource.document = &locked;
    EXPECT_EQ(ExportForm().validationMessage(lockedSource), "Unlock the PDF to export it.");
    EXPECT_EQ(ExportForm().validationMessage({}), "There is no document to export.");
}
