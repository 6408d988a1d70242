// The export job driven as the export sheet drives it, its output read back
// by other programs.
#include "QuarnKit/Viewer/PrintLayout.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Document/HeldDocument.h"
#include "QuarnKit/Document/ShareFolder.h"
#include "QuarnKit/Export/ExportJob.h"

#include "Platform/FileReplacement.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfWriting.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Markup/Redaction.h"

#include "QuarnKit/Export/ExportTestSupport.h"
#include "support/ExportSupport.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>
#include <numeric>

#include <sys/stat.h>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

std::shared_ptr<PdfDocument> textDocument(int pages)
{
    return PdfDocument::openBytes(ExportSnapshot::data(*PdfDocument::openBytes(testsupport::makeTextPdf(pages))));
}

ExportSettings settingsFor(ExportFormat format, std::vector<int> pages, QString base = "Doc")
{
    ExportSettings s;
    s.format = format;
    s.pages = std::move(pages);
    s.baseName = std::move(base);
    return s;
}

ExportError::Kind failureOf(const ExportSettings& s, const std::shared_ptr<PdfDocument>& doc, const QString& to)
{
    try {
        testsupport::exportTo(s, doc, to, {});
    } catch (const ExportError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "the export succeeded";
    return ExportError::Kind::empty;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Three pages of text; the second hangs from a page-tree node that names
// itself as its parent. MuPDF shows and reads that page, but cannot copy it:
// copying looks up the page's inherited keys, and the loop stops it.
// `unreadable` leaves the page's own resources out too, so that it cannot be
// shown or read either.
QByteArray loopedPagePdf(bool unreadable)
{
    const auto content = [](int n) {
        const std::string text = "BT /F1 24 Tf 20 200 Td (Page " + std::to_string(n) + ") Tj ET";
        return "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    };
    const std::string page = "<< /Type /Page /MediaBox [0 0 300 300] /CropBox [0 0 300 300] /Rotate 0 ";
    const std::string resources = "/Resources << /Font << /F1 9 0 R >> >> ";
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 10 0 R 5 0 R] /Count 3 >>",
        page + "/Parent 2 0 R " + resources + "/Contents 6 0 R >>",
        page + "/Parent 10 0 R " + (unreadable ? "" : resources) + "/Contents 7 0 R >>",
        page + "/Parent 2 0 R " + resources + "/Contents 8 0 R >>",
        content(1),
        content(2),
        content(3),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 /Parent 10 0 R >>",
    });
}

// The first page as poppler draws it, and as ravlen does, at 50 dpi.
std::pair<QImage, QImage> firstPageDrawn(const QString& pdf)
{
    QTemporaryDir dir;
    exporttest::output("pdftoppm", {"-r", "50", "-png", "-singlefile", "-l", "1", pdf, dir.path() + "/p"});
    return {QImage(dir.path() + "/p.png").convertToFormat(QImage::Format_RGB888),
            Exporter::bitmap(*PdfDocument::openFile(pdf.toStdString()), 0, 50.0 / 72)
                .convertToFormat(QImage::Format_RGB888)};
}

// Mean difference of the colour values of two images of one size, 0 to 255.
double meanDifference(const QImage& a, const QImage& b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 3; ++x)
            sum += std::abs(int(a.constScanLine(y)[x]) - int(b.constScanLine(y)[x]));
    return double(sum) / (double(a.width()) * a.height() * 3);
}

// The colour space, size and encoding pdfimages gives for each picture of a
// file (soft masks left out): "rgb 300x200 jpeg".
std::string pictures(const QString& pdf)
{
    QStringList found;
    for (const QString& line : exporttest::output("pdfimages", {"-list", pdf}).split('\n').mid(2)) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() > 8 && fields[2] == "image")
            found << fields[5] + " " + fields[3] + "x" + fields[4] + " " + fields[8];
    }
    return found.join(", ").toStdString();
}

// A page covered by a 300 × 300 picture in a spot colour, stored uncompressed.
QByteArray spotColourPdf()
{
    std::string pixels(300 * 300, '\0');
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = char((i % 300) * (i / 300) % 251);
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Resources << /XObject << /Im 5 0 R >> >> "
        "/Contents 4 0 R >>",
        "<< /Length 29 >>\nstream\nq 300 0 0 300 0 0 cm /Im Do Q\nendstream",
        "<< /Type /XObject /Subtype /Image /Width 300 /Height 300 /BitsPerComponent 8 /ColorSpace [/Separation "
        "/PANTONE#20185#20C /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.91 0.76 0] /N 1 >>] "
        "/Length 90000 >>\nstream\n"
            + pixels + "\nendstream",
    });
}

} // namespace

TEST(ExportJob, ThreePageTiffHasThreeFullFramesAndReplacesTheChosenFile)
{
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc.tiff";
    testsupport::writeFile(to, "an older file");
    ExportSettings s = settingsFor(ExportFormat::tiff, {0, 1, 2});
    s.dpi = 150;
    std::vector<ExportStep> steps;
    const ExportReport report =
        testsupport::exportTo(s, textDocument(3), to, [&](const ExportStep& step) { steps.push_back(step); });
    EXPECT_EQ(report, ExportReport(to));
    const QString info = exporttest::output("tiffinfo", {to});
    EXPECT_EQ(info.count("Image Width: 1275 Image Length: 1650"), 3) << info.toStdString();
    EXPECT_EQ(info.count("Resolution: 150, 150 pixels/inch"), 3);
    EXPECT_EQ(entries(dir.path()), QStringList{"Doc.tiff"}); // no work folder left
    using Kind = ExportStep::Kind;
    EXPECT_EQ(steps,
              (std::vector<ExportStep>{
                  {Kind::rendering, 0, 3}, {Kind::rendering, 1, 3}, {Kind::rendering, 2, 3}, {Kind::saving, 0, 0}}));

    // One page is a plain single-page file.
    testsupport::exportTo(settingsFor(ExportFormat::tiff, {1}), textDocument(3), to, {});
    EXPECT_EQ(exporttest::output("tiffinfo", {to}).count("TIFF Directory"), 1);
}

TEST(ExportJob, EveryWriterKeepsTheModeOfTheFileItReplaces)
{
    // A private file (0600) stays private whatever the export writes over it;
    // a new file would be 0644 under the usual umask.
    const struct {
        ExportFormat format;
        std::vector<int> pages;
        const char* name;
    } cases[] = {
        {ExportFormat::pdf, {0, 1}, "Doc.pdf"},
        {ExportFormat::flattenedPDF, {0, 1, 2}, "Doc flattened.pdf"},
        {ExportFormat::smallerPDF, {0, 1, 2}, "Doc smaller.pdf"},
        {ExportFormat::png, {1}, "Doc.png"},
        {ExportFormat::jpeg, {1}, "Doc.jpg"},
        {ExportFormat::tiff, {1}, "Doc.tiff"},
        {ExportFormat::tiff, {0, 1, 2}, "Doc pages.tiff"},
        {ExportFormat::text, {0, 2}, "Doc.txt"},
    };
    struct Umask {
        mode_t saved = ::umask(022);
        ~Umask() { ::umask(saved); }
    } keptUmask;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString to = dir.filePath(c.name);
        ASSERT_TRUE(testsupport::writeFile(to, "an older file", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        ExportSettings s = settingsFor(c.format, c.pages);
        s.dpi = 36;
        testsupport::exportTo(s, textDocument(3), to, {});
        struct stat written = {};
        ASSERT_EQ(::stat(QFile::encodeName(to).constData(), &written), 0);
        EXPECT_EQ(written.st_mode & 07777, 0600u);
        EXPECT_GT(written.st_size, 13);
        EXPECT_EQ(entries(dir.path()), QStringList{c.name}); // no work folder left
    }
}

TEST(ExportJob, PagesGoIntoTheNextFreeFolderAndACancelLeavesNone)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("Doc");
    const auto doc = textDocument(150);
    const ExportReport report = testsupport::exportTo(settingsFor(ExportFormat::png, {0, 1, 149}), doc, dir.path(), {});
    EXPECT_EQ(report.path, dir.path() + "/Doc 2");
    EXPECT_EQ(entries(report.path), (QStringList{"Doc-001.png", "Doc-002.png", "Doc-150.png"}));
    EXPECT_EQ(QImage(report.path + "/Doc-150.png").size(), QSize(1275, 1650));
    EXPECT_EQ(entries(dir.path()), (QStringList{"Doc", "Doc 2"}));

    std::stop_source stop;
    auto cancelOnSecondPage = [&](const ExportStep& step) {
        if (step.done == 1) stop.request_stop();
    };
    EXPECT_THROW(testsupport::exportTo(settingsFor(ExportFormat::jpeg, {0, 1, 2}), doc, dir.path(), cancelOnSecondPage,
                                       stop.get_token()),
                 ExportCancelled);
    EXPECT_EQ(entries(dir.path()), (QStringList{"Doc", "Doc 2"}));
}

// Pages as images into a folder on another volume than the private folder
// go through a hidden work folder beside them. Another member of a team
// folder renames it aside while the pages are drawn, and renames a folder
// of the user's onto its name: that folder is left whole, and the export
// says what happened; ravlen's own work folder is left where it went, empty.
TEST(ExportJob, AFolderRenamedOntoTheWorkFolderIsLeftWhole)
{
    QTemporaryDir dir(QStringLiteral("/dev/shm/ravlen-export-XXXXXX"));
    struct stat destination {
    }, privateRoot{};
    if (!dir.isValid() || ::stat(QFile::encodeName(dir.path()).constData(), &destination) != 0
        || ::stat(QFile::encodeName(ShareFolder().privateRoot()).constData(), &privateRoot) != 0
        || destination.st_dev == privateRoot.st_dev)
        GTEST_SKIP() << "needs a folder on another volume than the private folder";
    ASSERT_TRUE(QDir(dir.path()).mkpath("project/notes"));
    testsupport::writeFile(dir.filePath("project/notes/plan.txt"), "plan");
    QString work;
    const auto swap = [&](const ExportStep& step) {
        if (step.kind != ExportStep::Kind::rendering || step.done < 1 || !work.isEmpty()) return;
        work = QDir(dir.path()).entryList({".ravlen Export *"}, QDir::Dirs | QDir::Hidden).value(0);
        EXPECT_TRUE(QDir(dir.path()).rename(work, "aside") && QDir(dir.path()).rename("project", work));
    };
    const ExportReport report =
        testsupport::exportTo(settingsFor(ExportFormat::png, {0, 1, 2, 3, 4, 5}), textDocument(6), dir.path(), swap);
    ASSERT_FALSE(work.isEmpty());
    EXPECT_EQ(testsupport::readFile(dir.filePath(work + "/notes/plan.txt")), "plan");
    EXPECT_EQ(entries(dir.filePath("aside")), QStringList());
    EXPECT_EQ(entries(report.path).size(), 6);
    EXPECT_TRUE(report.summary().value_or(QString()).contains(work)) << report.summary().value_or("").toStdString();
}

// Where a rename cannot be told to leave a name that is taken alone (NFS,
// 9p, many FUSE file systems), pages as images still land in a new folder
// of the usual mode, beside one of that name that stays as it was.
TEST(ExportJob, PagesAsImagesWhereRenamesTakeNoFlag)
{
    struct Row {
        const char* name;
        const char* volume; // another volume than the private folder's: the work folder lies beside
        bool taken;         // a folder "Doc" is there already
        bool swapped;       // once its name is taken, another member puts an empty private folder of the user's there
    } rows[] = {{"same volume", nullptr, false, false},
                {"same volume, the name taken", nullptr, true, false},
                {"another volume", "/dev/shm/ravlen-export-XXXXXX", false, false},
                {"a private folder put at the name", nullptr, false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir = row.volume ? QTemporaryDir(row.volume) : QTemporaryDir();
        ASSERT_TRUE(dir.isValid() && QDir(dir.path()).mkdir("usual"));
        if (row.taken) {
            ASSERT_TRUE(QDir(dir.path()).mkpath("Doc"));
            testsupport::writeFile(dir.filePath("Doc/notes.txt"), "notes");
        }
        platform::writeSeams().noExclusiveRename = true;
        struct stat theirs {};
        if (row.swapped)
            platform::writeSeams().afterFolderNameTaken = [&] {
                QDir(dir.path()).rename("Doc", "aside");
                QDir(dir.path()).mkdir("Doc");
                ::chmod(QFile::encodeName(dir.filePath("Doc")).constData(), 0700);
                ::stat(QFile::encodeName(dir.filePath("Doc")).constData(), &theirs);
            };
        std::optional<ExportReport> report;
        EXPECT_NO_THROW(
            report = testsupport::exportTo(settingsFor(ExportFormat::png, {0, 1, 2}), textDocument(3), dir.path(), {}));
        platform::writeSeams() = {};
        if (!report) continue;
        EXPECT_EQ(QFileInfo(report->path).fileName(), row.taken ? "Doc 2" : "Doc");
        const QStringList pages = entries(report->path);
        ASSERT_EQ(pages.size(), 3);
        EXPECT_FALSE(QImage(report->path + "/" + pages.last()).isNull());
        EXPECT_EQ(QFileInfo(report->path).permissions(), QFileInfo(dir.filePath("usual")).permissions());
        EXPECT_EQ(entries(dir.filePath("Doc")), row.taken ? QStringList{"notes.txt"} : pages);
        EXPECT_EQ(entries(dir.path()).filter(".ravlen Export").size(), 0);
        // The pages never fill a folder the export did not make.
        struct stat now {};
        if (row.swapped && ::stat(QFile::encodeName(report->path).constData(), &now) == 0) {
            EXPECT_FALSE(now.st_ino == theirs.st_ino && now.st_dev == theirs.st_dev);
        }
    }
}

// Pages as images into a team's setgid folder take what a folder made there
// takes: the pages' folder its group and setgid bit, each page its group. A
// user who is no member of the group, and so may not give it, still gets them.
TEST(ExportJob, PagesAsImagesInASetgidFolderTakeItsGroup)
{
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "a folder of another group needs root to make";
    const auto groupAndMode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return std::pair(st.st_gid, st.st_mode);
    };
    const auto team = [](const QTemporaryDir& dir, gid_t group, mode_t mode) {
        const QByteArray native = QFile::encodeName(dir.path());
        return ::chown(native.constData(), uid_t(-1), group) == 0 && ::chmod(native.constData(), mode) == 0;
    };
    const auto exportInto = [](const QTemporaryDir& dir) {
        return testsupport::exportTo(settingsFor(ExportFormat::png, {0, 1}), textDocument(2), dir.path(), {}).path;
    };
    // On the private folder's volume, where the pages' folder is made in it.
    QTemporaryDir dir(ShareFolder().privateRoot() + "/team-XXXXXX");
    ASSERT_TRUE(team(dir, 4343, 02770) && QDir(dir.path()).mkdir("usual"));
    const QString pages = exportInto(dir);
    EXPECT_EQ(groupAndMode(pages), groupAndMode(dir.filePath("usual")));
    for (const QString& page : entries(pages)) EXPECT_EQ(groupAndMode(pages + '/' + page).first, 4343u);

    QTemporaryDir shared("/tmp/team-XXXXXX"), temporary("/tmp/tmp-XXXXXX");
    ASSERT_TRUE(team(shared, testsupport::kOtherUser, 02777));
    ASSERT_EQ(::chown(QFile::encodeName(temporary.path()).constData(), testsupport::kUser, gid_t(-1)), 0);
    EXPECT_TRUE(testsupport::asUser(testsupport::kUser, [&] {
        qunsetenv("XDG_RUNTIME_DIR"); // the private folder on /tmp's volume too
        qputenv("TMPDIR", QFile::encodeName(temporary.path()));
        EXPECT_EQ(entries(exportInto(shared)).size(), 2);
    }));
}

TEST(ExportJob, PngPagesHoldMutoolsPixelsInNoMoreBytes)
{
    const std::string source = testsupport::corpusPath("pdflatex-4-pages.pdf");
    QTemporaryDir dir;
    ExportSettings s = settingsFor(ExportFormat::png, {0, 2});
    s.dpi = 150;
    const ExportReport report = testsupport::exportTo(s, PdfDocument::openFile(source), dir.path(), {});
    exporttest::output("mutool", {"draw", "-q", "-r", "150", "-o", dir.path() + "/mutool-%d.png",
                                  QString::fromStdString(source), "1,3"});
    for (const auto& [ours, theirs] :
         {std::pair{"Doc-01.png", "mutool-1.png"}, std::pair{"Doc-03.png", "mutool-3.png"}}) {
        SCOPED_TRACE(ours);
        const QString path = report.path + "/" + ours, other = dir.path() + "/" + theirs;
        const QImage a = QImage(path).convertToFormat(QImage::Format_RGB888);
        const QImage b = QImage(other).convertToFormat(QImage::Format_RGB888);
        ASSERT_FALSE(a.isNull() || b.isNull());
        // mutool rounds the page's width up a pixel; the pixels both have are the same.
        const QSize common = a.size().boundedTo(b.size());
        EXPECT_LE((b.size() - common).width() + (b.size() - common).height(), 1);
        for (int y = 0; y < common.height(); ++y)
            ASSERT_EQ(std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(common.width()) * 3), 0)
                << "row " << y;
        EXPECT_LE(QFileInfo(path).size(), QFileInfo(other).size());
    }
}

TEST(ExportJob, SmallerPdfShrinksPicturesAndKeepsTheText)
{
    // A page of text and a page holding a large, smooth picture.
    auto doc = textDocument(1);
    QImage picture(2400, 2400, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 251));
    platform::PdfWriting::appendImagePage(*doc, picture, {612, 612});
    doc = PdfDocument::openBytes(Exporter::pdfBytes(*doc, {}));

    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc smaller.pdf";
    const ExportReport report = testsupport::exportTo(settingsFor(ExportFormat::smallerPDF, {0, 1}), doc, to, {});
    ASSERT_TRUE(report.bytesBefore && report.bytesAfter);
    EXPECT_FALSE(report.keptOriginal);
    EXPECT_LT(*report.bytesAfter * 2, *report.bytesBefore);
    EXPECT_EQ(QFileInfo(to).size(), *report.bytesAfter);
    EXPECT_EQ(pictures(to), "rgb 1600x1600 jpeg");
    EXPECT_TRUE(exporttest::output("pdftotext", {to, "-"}).contains("Page 1"));
    const auto back = PdfDocument::openFile(to.toStdString());
    ASSERT_EQ(back->pageCount(), 2);
    const QImage shown = back->render(1, 0.25);
    EXPECT_NEAR(qRed(shown.pixel(20, 20)), qRed(Exporter::bitmap(*doc, 1, 0.25).pixel(20, 20)), 24);
}

TEST(ExportJob, EditPasswordWritesAes256WithPrintingAndCopyingOnly)
{
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc.pdf";
    ExportSettings s = settingsFor(ExportFormat::flattenedPDF, {0});
    s.editPassword = "secret";
    testsupport::exportTo(s, textDocument(2), to, {});
    const QString info = exporttest::output("qpdf", {"--show-encryption", to});
    // qpdf names AES-256 by its handler revision and method.
    EXPECT_TRUE(info.contains("R = 6")) << info.toStdString();
    EXPECT_TRUE(info.contains("file encryption method: AESv3"));
    for (const char* line :
         {"print low resolution: allowed", "print high resolution: allowed", "extract for accessibility: allowed",
          "extract for any purpose: allowed", "modify document assembly: not allowed", "modify forms: not allowed",
          "modify annotations: not allowed", "modify other: not allowed"})
        EXPECT_TRUE(info.contains(line)) << line << "\n" << info.toStdString();
}

TEST(ExportJob, RefusesWhatItCannotExport)
{
    QTemporaryDir dir;
    const auto doc = textDocument(5);
    EXPECT_EQ(failureOf(settingsFor(ExportFormat::pdf, {7}), doc, dir.path() + "/a.pdf"), ExportError::Kind::empty);
    EXPECT_EQ(failureOf(settingsFor(ExportFormat::redactedPDF, {0, 1}), doc, dir.path() + "/a.pdf"),
              ExportError::Kind::noRedactions);
    EXPECT_EQ(failureOf(settingsFor(ExportFormat::marksSummary, {0}), doc, dir.path() + "/a.md"),
              ExportError::Kind::noMarks);
    EXPECT_TRUE(entries(dir.path()).isEmpty()); // nothing was written

    const auto locked = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(locked->isLocked());
    EXPECT_EQ(failureOf(settingsFor(ExportFormat::png, {0}), locked, dir.path() + "/a.png"), ExportError::Kind::locked);
    EXPECT_TRUE(ExportSnapshot::data(*locked).isEmpty());
}

TEST(ExportJob, PagesOutsideTheDocumentAreLeftOut)
{
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc.pdf";
    testsupport::exportTo(settingsFor(ExportFormat::pdf, {1, 9}), textDocument(5), to, {});
    const auto back = PdfDocument::openFile(to.toStdString());
    ASSERT_EQ(back->pageCount(), 1);
    EXPECT_EQ(back->textPage(0).text().substr(0, 6), "Page 2");
}

TEST(ExportJob, SelectedPagesComeOutInDocumentOrder)
{
    // Pages 3 and 1 chosen in the sidebar, in that order.
    QTemporaryDir dir;
    ExportSettings s = settingsFor(ExportFormat::pdf, Exporter::pages(ExportScope::selectedPages, 4, 0, {2, 0}, {}));
    const QString pdf = dir.path() + "/Doc pages 1, 3.pdf";
    testsupport::exportTo(s, textDocument(4), pdf, {});
    EXPECT_NE(exporttest::output("pdfinfo", {pdf}).indexOf(QRegularExpression("Pages: +2\\n")), -1);
    for (const auto& [page, text] : {std::pair{"1", "Page 1"}, std::pair{"2", "Page 3"}})
        EXPECT_EQ(exporttest::output("pdftotext", {"-f", page, "-l", page, pdf, "-"}).trimmed(), text) << page;

    s.format = ExportFormat::png;
    const ExportReport report = testsupport::exportTo(s, textDocument(4), dir.path(), {});
    EXPECT_EQ(entries(report.path), (QStringList{"Doc-01.png", "Doc-03.png"}));
    // A folder named by a path that ends in "..": the pages go where it leads.
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    const ExportReport up = testsupport::exportTo(s, textDocument(4), dir.path() + "/sub/..", {});
    EXPECT_EQ(QFileInfo(up.path).absolutePath(), QFileInfo(dir.path()).canonicalFilePath());
    EXPECT_EQ(entries(up.path), (QStringList{"Doc-01.png", "Doc-03.png"}));
}

TEST(ExportJob, TextReadsScannedPagesAndCountsWhatItCouldNotRead)
{
    // Page 1 has text; pages 2 and 3 are blank, as scans look to a reader.
    auto doc = textDocument(1);
    QImage blank(10, 10, QImage::Format_RGB888);
    blank.fill(Qt::white);
    platform::PdfWriting::appendImagePage(*doc, blank, {612, 792});
    platform::PdfWriting::appendImagePage(*doc, blank, {612, 792});
    auto recognize = [](const PdfDocument&, int page) -> QString {
        if (page == 2) throw std::runtime_error("no recogniser");
        return "HELLO WORLD";
    };
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc.txt";
    const ExportReport report =
        testsupport::exportTo(settingsFor(ExportFormat::text, {0, 1, 2}), doc, to, {}, {}, recognize);
    EXPECT_EQ(testsupport::readFile(to), "Page 1\nPage 1\n\nPage 2\nHELLO WORLD\n\nPage 3\n");
    EXPECT_EQ(report.recognizedPages, 1);
    EXPECT_EQ(report.unreadablePages, 1);
    EXPECT_EQ(report.summary(), "Read 1 scanned page with text recognition. Text recognition couldn't read 1 page.");

    const auto nothing = [](const PdfDocument&, int) { return QString(); };
    const ExportReport empty = testsupport::exportTo(settingsFor(ExportFormat::text, {1}), doc, to, {}, {}, nothing);
    EXPECT_EQ(testsupport::readFile(to), "");
    EXPECT_FALSE(empty.summary());
}

TEST(ExportJob, RedactedAndSummaryExportsReportWhatTheyApplied)
{
    auto doc = textDocument(3);
    platform::PdfAnnotations::add(*doc, 1, *Redaction::mark({60, 690}, {300, 730}));
    platform::PdfAnnotations::add(*doc, 2, *Redaction::mark({60, 690}, {300, 730}));
    QTemporaryDir dir;
    const ExportReport redacted =
        testsupport::exportTo(settingsFor(ExportFormat::redactedPDF, {0, 1, 2}), doc, dir.path() + "/r.pdf", {});
    EXPECT_EQ(redacted.redactions, 2);
    const QString text = exporttest::output("pdftotext", {dir.path() + "/r.pdf", "-"});
    EXPECT_TRUE(text.contains("Page 1"));
    EXPECT_FALSE(text.contains("Page 2"));

    testsupport::exportTo(settingsFor(ExportFormat::marksSummary, {1}, "Plan"), doc, dir.path() + "/m.md", {});
    EXPECT_EQ(testsupport::readFile(dir.path() + "/m.md"),
              "# Marks in Plan\n\n1 mark on 1 page.\n\n## Page 2\n\n- **Redaction**, Black\n");
}

// A signature covers the bytes of the file it signed: a copy of some of its
// pages leaves it behind and says so; the whole document keeps it.
TEST(ExportJob, APageRangeOfASignedFileSaysItsSignatureWasLeftOut)
{
    QTemporaryDir dir;
    const QByteArray signedPdf = testsupport::makeSignedPdf(dir.path());
    if (signedPdf.isEmpty()) GTEST_SKIP() << "openssl could not sign";
    auto doc = PdfDocument::openBytes(signedPdf);
    platform::insertPage(*doc, platform::createBlankPage(*doc, 300, 300), 1);
    for (const ExportFormat format : {ExportFormat::pdf, ExportFormat::smallerPDF}) {
        const ExportReport page = testsupport::exportTo(settingsFor(format, {0}), doc, dir.filePath("page.pdf"), {});
        EXPECT_EQ(page.signaturesLeftOut, 1);
        EXPECT_TRUE(page.summary().value_or("").contains(
            "The signature on these pages was left out: it holds only in the signed file."))
            << page.summary().value_or("").toStdString();
        EXPECT_TRUE(exporttest::output("pdftotext", {dir.filePath("page.pdf"), "-"}).contains("Signed page"));
    }
    const ExportReport whole =
        testsupport::exportTo(settingsFor(ExportFormat::pdf, {0, 1}), doc, dir.filePath("all.pdf"), {});
    EXPECT_EQ(whole.signaturesLeftOut, 0);
    EXPECT_FALSE(whole.summary());
}

TEST(ExportJob, AnUnlockedEncryptedSourceIsExportedWithoutItsPasswords)
{
    const auto locked = PdfDocument::openFile(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    ASSERT_TRUE(locked->unlock("openpassword"));
    const auto snapshot = PdfDocument::openBytes(ExportSnapshot::data(*locked));
    QTemporaryDir dir;
    const QString to = dir.path() + "/Open.pdf";
    testsupport::exportTo(settingsFor(ExportFormat::pdf, {0}), snapshot, to, {});
    EXPECT_TRUE(exporttest::output("qpdf", {"--show-encryption", to}).contains("File is not encrypted"));
    EXPECT_FALSE(PdfDocument::openFile(to.toStdString())->needsPassword());
}

TEST(ExportJob, SmallerPdfIsNoLargerThanQpdfMakesItAndReadsTheSame)
{
    // Files whose pictures leave nothing to gain: what is left is the file's structure.
    for (const char* name :
         {"multicolumn.pdf", "annotated_pdf.pdf", "pdflatex-outline.pdf", "imagemagick-images.pdf"}) {
        SCOPED_TRACE(name);
        const QString source = QString::fromStdString(testsupport::corpusPath(name));
        const auto doc = PdfDocument::openFile(source.toStdString());
        std::vector<int> pages(size_t(doc->pageCount()));
        std::iota(pages.begin(), pages.end(), 0);
        QTemporaryDir dir;
        const QString ours = dir.path() + "/Small.pdf", theirs = dir.path() + "/qpdf.pdf";
        testsupport::exportTo(settingsFor(ExportFormat::smallerPDF, pages), doc, ours, {});
        exporttest::output("qpdf", {"--recompress-flate", "--object-streams=generate", source, theirs});
        ASSERT_TRUE(QFileInfo::exists(theirs));
        EXPECT_LE(QFileInfo(ours).size(), QFileInfo(theirs).size());
        EXPECT_EQ(exporttest::output("pdftotext", {ours, "-"}), exporttest::output("pdftotext", {source, "-"}));
    }
}

TEST(ExportJob, SmallerPdfSaysWhatItGainedOrWritesThePlainExportItself)
{
    // "The original" is what the PDF export writes of the same pages.
    struct Case {
        std::string name;
        std::vector<int> pages;
        bool shrinks;
    };
    const Case cases[] = {
        {"cmyk-image.pdf", {0}, true},          {"grayscale-image.pdf", {0}, true},
        {"pdflatex-image.pdf", {0}, true},      {"GeoTopo-komprimiert.pdf", {0, 23, 24}, true},
        {"pdflatex-4-pages.pdf", {3, 1}, true},                   // only its structure to gain
        {"multicolumn.pdf", {0}, true},         {"", {0}, false}, // one page of text: nothing to gain
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.empty() ? "text page" : c.name);
        const auto doc = c.name.empty() ? textDocument(2) : PdfDocument::openFile(testsupport::corpusPath(c.name));
        QTemporaryDir dir;
        const QString plain = dir.path() + "/Doc.pdf", to = dir.path() + "/Doc smaller.pdf";
        testsupport::exportTo(settingsFor(ExportFormat::pdf, c.pages), doc, plain, {});
        std::vector<ExportStep> steps;
        const ExportReport report = testsupport::exportTo(settingsFor(ExportFormat::smallerPDF, c.pages), doc, to,
                                                          [&](const ExportStep& step) { steps.push_back(step); });
        ASSERT_TRUE(report.bytesBefore && report.bytesAfter);
        const QByteArray plainBytes = exporttest::withoutSavedId(testsupport::readFile(plain));
        const qsizetype idLength = QFileInfo(plain).size() - plainBytes.size();
        EXPECT_NEAR(*report.bytesBefore, QFileInfo(plain).size(), 2 * idLength);
        EXPECT_EQ(*report.bytesAfter, QFileInfo(to).size());
        EXPECT_EQ(report.keptOriginal, !c.shrinks);
        const QString summary = report.summary().value_or(QString());
        using Kind = ExportStep::Kind;
        if (c.shrinks) {
            EXPECT_LT(*report.bytesAfter, *report.bytesBefore);
            EXPECT_TRUE(summary.startsWith(ExportReport::size(*report.bytesBefore) + " to "
                                           + ExportReport::size(*report.bytesAfter) + ", "))
                << summary.toStdString();
            EXPECT_TRUE(summary.endsWith("% smaller.")) << summary.toStdString();
            EXPECT_EQ(steps, (std::vector<ExportStep>{{Kind::compressing, 0, 0}}));
        } else {
            EXPECT_EQ(exporttest::withoutSavedId(testsupport::readFile(to)), plainBytes);
            EXPECT_EQ(summary, "This PDF is already compact, so ravlen kept it as is. It's "
                                   + ExportReport::size(QFileInfo(plain).size()) + ".");
            EXPECT_EQ(steps, (std::vector<ExportStep>{{Kind::compressing, 0, 0}, {Kind::saving, 0, 0}}));
        }
        EXPECT_EQ(exporttest::output("pdftotext", {to, "-"}), exporttest::output("pdftotext", {plain, "-"}));
        EXPECT_TRUE(exporttest::output("qpdf", {"--check", to}).contains("No syntax or stream encoding errors"));
    }
}

TEST(ExportJob, SmallerPdfKeepsEachPicturesColoursAsReadersShowThem)
{
    // "index" pictures take their palette's own space: CMYK stays CMYK, grey
    // stays grey. A spot colour no JPEG holds stays as it is.
    struct Case {
        const char* name;
        std::string pictures;
    };
    const Case cases[] = {
        {"cmyk-image.pdf", "cmyk 756x1008 jpeg"},   {"grayscale-image.pdf", "gray 324x450 jpeg"},
        {"base64image.pdf", "rgb 781x627 jpeg"}, // with a soft mask and a colour key
        {"pdflatex-image.pdf", "rgb 300x200 jpeg"}, {"", "sep 300x300 image"},
    };
    QTemporaryDir dir;
    const QString spot = dir.path() + "/Spot.pdf";
    testsupport::writeFile(spot, spotColourPdf());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pictures);
        const QString source = *c.name ? QString::fromStdString(testsupport::corpusPath(c.name)) : spot;
        const QString to = dir.path() + "/Small.pdf";
        testsupport::exportTo(settingsFor(ExportFormat::smallerPDF, {0}), PdfDocument::openFile(source.toStdString()),
                              to, {});
        EXPECT_EQ(pictures(to), c.pictures);
        const auto [popplerBefore, ravlenBefore] = firstPageDrawn(source);
        const auto [popplerAfter, ravlenAfter] = firstPageDrawn(to);
        ASSERT_FALSE(popplerBefore.isNull() || ravlenBefore.isNull());
        ASSERT_EQ(popplerBefore.size(), popplerAfter.size());
        ASSERT_EQ(ravlenBefore.size(), ravlenAfter.size());
        EXPECT_LT(meanDifference(popplerBefore, popplerAfter), 3.0);
        EXPECT_LT(meanDifference(ravlenBefore, ravlenAfter), 3.0);
    }
}

TEST(ExportJob, APageThatCannotBeCopiedFailsThePdfExportAndWritesNothing)
{
    const auto doc = PdfDocument::openBytes(loopedPagePdf(false));
    ASSERT_EQ(doc->pageCount(), 3);
    ASSERT_EQ(doc->textPage(1).text().substr(0, 6), "Page 2"); // it reads, it only cannot be copied
    for (ExportFormat format : {ExportFormat::pdf, ExportFormat::smallerPDF}) {
        SCOPED_TRACE(ExportFormats::rawValue(format).toStdString());
        QTemporaryDir dir;
        // Pages 1 and 2: page 1 copies, page 2 does not, so a copy that left
        // page 2 out would write a file of page 1 alone.
        EXPECT_EQ(failureOf(settingsFor(format, {0, 1}), doc, dir.path() + "/Doc.pdf"),
                  ExportError::Kind::renderFailed);
        EXPECT_TRUE(entries(dir.path()).isEmpty());
    }
}

TEST(ExportJob, AnEngineFailureSaysWhatFailedAndAnUnreadablePageIsCountedNotFatal)
{
    // The second page of this file cannot be read or shown at all.
    const auto doc = PdfDocument::openBytes(loopedPagePdf(true));
    QTemporaryDir dir;

    // Text: the page has no text of its own, and recognition cannot read it either.
    const ExportReport text =
        testsupport::exportTo(settingsFor(ExportFormat::text, {0, 1, 2}), doc, dir.path() + "/Doc.txt", {});
    EXPECT_EQ(text.unreadablePages, 1);
    EXPECT_EQ(text.summary(), "Text recognition couldn't read 1 page.");
    EXPECT_EQ(testsupport::readFile(dir.path() + "/Doc.txt"), "Page 1\nPage 1\n\nPage 2\n\n\nPage 3\nPage 3");

    // A searchable copy leaves the page it cannot read as it is.
    ExportSettings searchable = settingsFor(ExportFormat::pdf, {0, 1, 2});
    searchable.makeSearchable = true;
    testsupport::exportTo(searchable, doc, dir.path() + "/Doc.pdf", {});
    EXPECT_EQ(PdfDocument::openFile((dir.path() + "/Doc.pdf").toStdString())->pageCount(), 3);

    // A picture of it cannot be made: the message says so.
    try {
        testsupport::exportTo(settingsFor(ExportFormat::png, {1}), doc, dir.path() + "/Doc.png", {});
        ADD_FAILURE() << "the export succeeded";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.message(), "The page could not be rendered.");
    }
}

TEST(ExportJob, TextExportSpellsOutLigatures)
{
    // Words set with the ligature glyphs ff, fi, fl, ffi and ffl, which the
    // page's text names by their ligature characters.
    const std::string text = "BT /F1 20 Tf 20 200 Td (di\\203cult \\201nd \\202ow e\\200ort ba\\204e) Tj ET";
    const auto doc = PdfDocument::openBytes(testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 300] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R "
        ">>",
        "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Type /Encoding /BaseEncoding "
        "/WinAnsiEncoding /Differences [128 /ff /fi /fl /ffi /ffl] >> >>",
    }));
    ASSERT_NE(QString::fromStdString(doc->textPage(0).text()).indexOf(QChar(0xFB03)), -1);
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc.txt";
    testsupport::exportTo(settingsFor(ExportFormat::text, {0}), doc, to, {});
    EXPECT_EQ(QString::fromUtf8(testsupport::readFile(to)), "difficult find flow effort baffle");
}

TEST(ExportJob, AFlattenedCopyRemovesWhatARedactionBoxCovers)
{
    // Both pages read "Page N" over "covered by the box"; page 1 has the box.
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2, "covered by the box"));
    platform::PdfAnnotations::add(*doc, 0, *Redaction::mark({60, 650}, {400, 680}));
    QTemporaryDir dir;
    const QString to = dir.path() + "/Doc flattened.pdf";
    testsupport::exportTo(settingsFor(ExportFormat::flattenedPDF, {0, 1}), doc, to, {});

    // Page 2 keeps its words as text; page 1 is a picture of itself with the box black.
    const QString text = exporttest::output("pdftotext", {to, "-"});
    EXPECT_EQ(text.count("covered by the box"), 1) << text.toStdString();
    EXPECT_TRUE(text.contains("Page 2")) << text.toStdString();
    EXPECT_FALSE(text.contains("Page 1")) << text.toStdString();
    const auto back = PdfDocument::openFile(to.toStdString());
    ASSERT_EQ(back->pageCount(), 2);
    EXPECT_LT(qGray(back->render(0, 1.0).pixel(200, 792 - 665)), 30); // inside the box
}

TEST(ExportJob, ABrokenObjectNothingUsesDoesNotStopAnExport)
{
    // Nothing refers to the broken object; the null one is null to every reader.
    auto objects = testsupport::textPageObjects("Exported");
    objects.push_back("<< /Left [ 1 2 /Over (by the program that wrote the file");
    const std::string helvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    const std::string refersTo6 = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Extra 6 0 R >>";
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"in the file itself", testsupport::writePdf(objects)},
        {"in an object stream", testsupport::objectStreamPdf("Exported", helvetica, helvetica, {"<< /Left [1 2 <<"})},
        {"null in an object stream", testsupport::objectStreamPdf("Exported", refersTo6, refersTo6, {"null"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray snapshot = ExportSnapshot::data(*PdfDocument::openBytes(c.bytes));
        if (snapshot.isEmpty()) {
            ADD_FAILURE() << "no bytes to export";
            continue;
        }
        QTemporaryDir dir;
        const QString to = dir.path() + "/Doc.pdf";
        testsupport::exportTo(settingsFor(ExportFormat::pdf, {0}), PdfDocument::openBytes(snapshot), to, {});
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {to, "-"}).contains("Exported"));
    }
}

TEST(ExportJob, APdfOfADamagedFileIsAskedAboutBeforeItIsWritten)
{
    // Files whose objects other readers read where ravlen cannot, or only by
    // guessing: a PDF written anew from ravlen's reading may show less in
    // other programs (poppler draws no words where the font became nothing).
    // Each export that writes a PDF asks first (mayShowLess), as Save As
    // does; once the user said yes it writes. So does one that uses a stream
    // ravlen could not decode to its end, where other readers may read on.
    // Images are drawn as the window shows the pages, and sound files are
    // never asked about, nor is Flate data that merely stops early.
    QByteArray repaired = testsupport::makeTextPdf(2, "Kept words");
    const qsizetype at = repaired.lastIndexOf("startxref\n") + 10;
    repaired.replace(at, repaired.indexOf('\n', at) - at, "12");
    std::string widths;
    for (int c = 32; c <= 126; ++c) widths += " 600";
    const auto font = [&](const std::string& third) {
        return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 32 /LastChar 126 /Widths [600 600 "
               + third + widths.substr(12) + "] >>";
    };
    // The page's words in two stored blocks of Flate data, the second's
    // length check broken.
    const auto stored = [](bool last, const std::string& data, bool broken) {
        const unsigned n = unsigned(data.size()), check = ~n ^ (broken ? 1u : 0u);
        return std::string{char(last), char(n & 0xff), char(n >> 8), char(check & 0xff), char(check >> 8 & 0xff)}
               + data;
    };
    std::vector<std::string> cutShort = testsupport::textPageObjects("Kept words");
    cutShort[3] = testsupport::pdfStream("/Filter /FlateDecode",
                                         "\x78\x01" + stored(false, "BT /F1 18 Tf 20 150 Td (Kept words) Tj ET ", false)
                                             + stored(true, "BT /F1 18 Tf 20 100 Td (Lost words) Tj ET", true));
    const auto qpdfSuite = [](const char* name) {
        return testsupport::readFile(QString::fromStdString(testsupport::qpdfCorpusPath(name)));
    };
    const struct {
        const char* what;
        QByteArray bytes;
        bool asks;
    } cases[] = {
        {"a table nowhere near where the file says", repaired, true},
        {"a page's Flate data broken part way", testsupport::writePdf(cutShort), true},
        {"a picture's Flate data broken part way", qpdfSuite("damaged-inline-image-out.pdf"), true},
        {"a page's LZW data broken part way", qpdfSuite("split-content-stream-errors.pdf"), true},
        {"Flate data that stops early, as Acrobat wrote it", qpdfSuite("form-filled-by-acrobat.pdf"), false},
        {"a font dictionary with a key and no value",
         testsupport::writePdf(
             testsupport::textPageObjects("Kept words", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica Bold >>")),
         true},
        {"a font in a damaged object stream", testsupport::objectStreamPdf("Kept words", font("600"), font("6x0")),
         true},
        {"a sound file", testsupport::makeTextPdf(2, "Kept words"), false},
        {"a sound object stream", testsupport::objectStreamPdf("Kept words", font("600"), font("600")), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bytes.isEmpty()) continue; // a file of the library's suite that is not here
        QTemporaryDir dir;
        const QString original = testsupport::writeFile(dir, "original.pdf", c.bytes);
        const auto doc = PdfDocument::openFile(original.toStdString());
        for (const ExportFormat format :
             {ExportFormat::pdf, ExportFormat::flattenedPDF, ExportFormat::redactedPDF, ExportFormat::smallerPDF}) {
            SCOPED_TRACE(ExportFormats::title(format).toStdString());
            bool asked = false;
            try {
                ExportSnapshot::data(*doc, format, false);
            } catch (const ExportError& error) {
                asked = error.kind() == ExportError::Kind::mayShowLess;
                EXPECT_TRUE(asked) << error.message().toStdString();
                EXPECT_TRUE(error.message().startsWith("ravlen had to repair this PDF, or can't read some"));
            }
            EXPECT_EQ(asked, c.asks);
        }
        // Share's working copy, Extract Pages and Print to a file ask by the same rule.
        const auto document = quarnkit::QuarnDocument::open(original);
        const std::pair<const char*, std::function<void()>> roads[] = {
            {"Share", [&] { quarnkit::HeldDocument(*document).shareCopy(false); }},
            {"Extract",
             [&] {
                 quarnkit::PageEdits::extractInto(*document, {0}, testsupport::chosen(dir.filePath("e.pdf")), false)();
             }},
            {"Print to a file",
             [&] {
                 if (quarnkit::printingJob(*document, {0}, QSizeF(612, 792), testsupport::chosen(dir.filePath("p.pdf")),
                                           false)()
                         .mayShowLess)
                     throw quarnkit::DocumentError(quarnkit::DocumentError::Code::fileWriteCopyShowsLess, "asked");
             }},
        };
        for (const auto& [road, write] : roads) {
            SCOPED_TRACE(road);
            bool asked = false;
            try {
                write();
            } catch (const quarnkit::DocumentError& error) {
                asked = error.code() == quarnkit::DocumentError::Code::fileWriteCopyShowsLess;
            }
            EXPECT_EQ(asked, c.asks);
        }
        EXPECT_EQ(QFileInfo::exists(dir.filePath("e.pdf")), !c.asks);
        // Said yes to, the PDF is written; images are never asked about.
        for (const ExportFormat format : {ExportFormat::pdf, ExportFormat::png}) {
            const QString to = dir.filePath(format == ExportFormat::pdf ? "out.pdf" : "out.png");
            const QByteArray snapshot = ExportSnapshot::data(*doc, format, format == ExportFormat::pdf);
            testsupport::exportTo(settingsFor(format, {0}), PdfDocument::openBytes(snapshot), to, {});
            EXPECT_TRUE(QFileInfo(to).size() > 0);
        }
    }
}

// Property lists that call themselves pages (/Type /Page), outside the page
// tree, as some producers write them: each copy of the pages carries them
// along as the file held them, and every road writes a file poppler reads.
TEST(ExportJob, PagesOutsideTheTreeThatResourcesNameGoWithEveryCopy)
{
    const std::string show = "/Span /P1 BDC BT /F1 18 Tf 20 150 Td (";
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Resources 7 0 R /Contents ";
    QTemporaryDir dir;
    const QString original = testsupport::writeFile(
        dir, "original.pdf",
        testsupport::writePdf(
            {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>", page + "5 0 R >>",
             page + "6 0 R >>", testsupport::pdfStream("", show + "Page one) Tj ET EMC"),
             testsupport::pdfStream("", show + "Page two) Tj ET EMC"),
             "<< /Font << /F1 8 0 R >> /Properties << /P1 9 0 R /P2 10 0 R >> >>",
             "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>", "<< /Type /Page >>", "<< /Type /Page >>"}));
    ASSERT_TRUE(exporttest::output("qpdf", {"--check", original}).contains("No syntax or stream encoding errors"));
    const auto document = quarnkit::QuarnDocument::open(original);
    const auto doc = PdfDocument::openFile(original.toStdString());
    platform::PdfAnnotations::add(*doc, 0, *Redaction::mark({20, 20}, {100, 60}));
    const QByteArray snapshot = ExportSnapshot::data(*doc);
    const auto reads = [](const QString& path) {
        EXPECT_TRUE(exporttest::output("pdftotext", {path, "-"}).contains("Page two")) << path.toStdString();
    };
    const struct {
        ExportFormat format;
        std::vector<int> pages;
        const char* name;
    } exports[] = {{ExportFormat::pdf, {0, 1}, "all.pdf"},
                   {ExportFormat::pdf, {1}, "two.pdf"},
                   {ExportFormat::flattenedPDF, {0, 1}, "f.pdf"},
                   {ExportFormat::redactedPDF, {0, 1}, "r.pdf"},
                   {ExportFormat::smallerPDF, {1}, "s.pdf"},
                   {ExportFormat::png, {1}, "p.png"},
                   {ExportFormat::jpeg, {1}, "p.jpg"},
                   {ExportFormat::tiff, {0, 1}, "p.tiff"},
                   {ExportFormat::text, {0, 1}, "t.txt"}};
    for (const auto& e : exports) {
        SCOPED_TRACE(e.name);
        const QString to = dir.filePath(e.name);
        EXPECT_NO_THROW(testsupport::exportTo(settingsFor(e.format, e.pages), snapshot, to, {}));
        if (ExportFormats::isPDF(e.format)) reads(to);
        else if (e.format == ExportFormat::text) EXPECT_TRUE(testsupport::readFile(to).contains("Page two"));
        else if (e.format == ExportFormat::tiff) EXPECT_EQ(exporttest::output("tiffinfo", {to}).count("TIFF Dir"), 2);
        else EXPECT_FALSE(QImage(to).isNull());
    }
    // Every other road: a whole-file save, Share, Extract, Print, and a page inserted into another file.
    platform::PdfSaveOptions whole;
    whole.garbageCollect = true;
    EXPECT_NO_THROW(doc->saveToFile(testsupport::chosen(dir.filePath("Save")), whole));
    EXPECT_NO_THROW(testsupport::writeFile(dir, "Share", quarnkit::HeldDocument(*document).shareCopy(false)));
    EXPECT_NO_THROW(
        quarnkit::PageEdits::extractInto(*document, {1}, testsupport::chosen(dir.filePath("Extract")), false)());
    EXPECT_TRUE(quarnkit::printingJob(*document, {0, 1}, QSizeF(612, 792), testsupport::chosen(dir.filePath("Print")),
                                      false)());
    const auto other = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    platform::insertPage(*other, platform::graftPages(*other, *doc, {1}).front(), 1);
    EXPECT_NO_THROW(other->saveToFile(testsupport::chosen(dir.filePath("Insert")), whole));
    for (const char* road : {"Save", "Share", "Extract", "Print", "Insert"}) reads(dir.filePath(road));
}
