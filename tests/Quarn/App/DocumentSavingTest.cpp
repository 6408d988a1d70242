// Opening and saving through the document window, as a user meets them: the
// alerts' sentences, the states of files without readable pages, a file
// changed by another program, a save in progress, Revert while pages render,
// and damaged and crafted files (keys sent to the window, the file on disk
// compared byte for byte).
#include "Platform/PdfAnnotations.h"
#include "Platform/PrivateFiles.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Viewer/ShareMenu.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "Quarn/Viewer/PageTiles.h"
#include "Quarn/Viewer/StateMessages.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Viewer/DocumentActions.h"
#include "Quarn/Signatures/SigningModel.h"
#include "Quarn/Markup/MarkupModel.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#include "QuarnKit/Document/DocumentCommand.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/NativePaths.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QUndoCommand>
#include <QUndoStack>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace quarn;
using quarnkit::QuarnDocument;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Windows read the standard settings: keep them away from the user's.
const bool privateConfig = testsupport::usePrivateConfigDir();

// A controller whose alerts and questions are recorded and answered here.
struct Controller {
    using Answer = DocumentController::RefusalAnswer;
    DocumentController controller;
    // Alerts, and refusals of a save that offer nothing: text, reason.
    std::vector<std::pair<QString, QString>> failures;
    std::vector<std::pair<QString, QString>> saveAsOffers;  // text, reason; answered with `refusalAnswer`
    std::vector<std::pair<QString, QString>> revertOffers;  // text, reason; answered with `revertAnswer`
    std::vector<std::pair<QString, QString>> lossQuestions; // text, reason; answered with `lossAnswer`
    std::vector<quarnkit::SaveRemedies> offered;            // what each refusal of a save offered
    std::vector<QString> proposedNames;                     // the Save As panel's, answered with `saveAsPath`
    bool lossAnswer = true;
    bool revertAnswer = false;
    Answer refusalAnswer = Answer::dismiss;
    QString saveAsPath; // empty: the panel is cancelled
    DocumentController::ChangedFileAnswer changedAnswer = DocumentController::ChangedFileAnswer::cancel;
    int changeQuestions = 0;
    QString changeWritten; // the file the last such question named as the one written over
    std::vector<std::pair<QString, QString>> replaceQuestions; // Save As's: name, file written over when elsewhere
    bool replaceAnswer = true;

    Controller()
    {
        controller.showFailure = [this](const QString& text, const QString& reason, QWidget*) {
            failures.emplace_back(text, reason);
        };
        controller.offerWhatStillWorks = [this](DocumentWindow&, const QString& text, const QString& reason,
                                                const quarnkit::SaveRemedies& remedies) {
            offered.push_back(remedies);
            if (remedies.revert) {
                revertOffers.emplace_back(text, reason);
                return revertAnswer ? Answer::revert : Answer::dismiss;
            }
            (remedies.saveAs ? saveAsOffers : failures).emplace_back(text, reason);
            return refusalAnswer;
        };
        controller.chooseSaveAsPath = [this](DocumentWindow&, const QString& proposed) {
            proposedNames.push_back(proposed);
            return saveAsPath;
        };
        controller.confirmLossyCopy = [this](DocumentWindow&, const QString& text, const QString& reason) {
            lossQuestions.emplace_back(text, reason);
            return lossAnswer;
        };
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        controller.confirmReplace = [this](DocumentWindow&, const QString& name, const QString& written) {
            replaceQuestions.emplace_back(name, written);
            return replaceAnswer;
        };
        controller.askAboutChangedFile = [this](DocumentWindow&, const QString& written) {
            ++changeQuestions;
            changeWritten = written;
            return changedAnswer;
        };
    }
    ~Controller() { controller.closeAll(); }

    // A window shown and active, with its page view.
    DocumentWindow* open(const QString& path)
    {
        DocumentWindow* window = controller.openDocument(path);
        if (!window) return nullptr;
        QApplication::setActiveWindow(window);
        testsupport::waitFor(
            [window] { return window->screen()->pageViewHost() && window->screen()->pageViewHost()->view(); });
        return window;
    }
};

// Inode and modification time: a file written again, even with the same bytes, shows.
std::pair<ino_t, qint64> stampOf(const QString& path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return {info.st_ino, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

void key(DocumentWindow* window, const char* keys) { QTest::keySequence(window, QKeySequence(keys)); }

// How many descriptors of this process are open on the file at `path`.
int descriptorsOn(const QString& path)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    int open = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        open += QFile::symLinkTarget(fds.filePath(fd)) == file;
    return open;
}

class TitleEdit : public QUndoCommand {
public:
    TitleEdit(QuarnDocument& document, std::string title) : document_(document), title_(std::move(title)) {}
    void redo() override
    {
        before_ = pdfOf(document_)->infoString("Title");
        pdfOf(document_)->setInfoString("Title", title_);
        document_.noteEdit(std::nullopt);
    }
    void undo() override
    {
        pdfOf(document_)->setInfoString("Title", before_);
        document_.noteEdit(std::nullopt);
    }

private:
    QuarnDocument& document_;
    std::string title_;
    std::optional<std::string> before_;
};

// Four pages with a text box on each, saved by ravlen's own writer.
QByteArray textBoxPdf()
{
    auto pdf = platform::PdfDocument::openBytes(testsupport::makeTextPdf(4));
    for (int page = 0; page < 4; ++page)
        for (int i = 0; i < 3; ++i) {
            platform::PdfAnnotation box;
            box.subtype = "FreeText";
            box.rect = {40.0 + 150 * i, 300, 140, 60};
            box.contents = "Text box " + std::to_string(page * 3 + i + 1);
            box.fontName = i == 1 ? "TiRo" : "Helv";
            box.fontSize = 14;
            box.fontColor = platform::PdfColor{0, 0, 0.6};
            platform::PdfAnnotations::add(*pdf, page, box);
        }
    return pdf->save();
}

QuarnPDFView* viewOf(DocumentWindow* window)
{
    return window->screen()->pageViewHost() ? window->screen()->pageViewHost()->view() : nullptr;
}

} // namespace

TEST(DocumentOpening, EachReasonAFileCannotBeOpenedHasItsOwnPlainSentence)
{
    QTemporaryDir dir;
    Controller c;
    struct Case {
        QString path;
        QString sentence;
    };
    const std::vector<Case> cases = {
        {writeFile(dir, "garbage.pdf", "this is not a PDF"),
         "The file couldn't be opened because it isn't in the correct format."},
        {dir.filePath("missing.pdf"), "The file couldn't be opened because there is no such file."},
        {dir.path(), "The file couldn't be opened because it is a folder, not a PDF."},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.path.toStdString());
        c.failures.clear();
        EXPECT_EQ(c.controller.openDocument(each.path), nullptr);
        ASSERT_EQ(c.failures.size(), 1u);
        EXPECT_EQ(c.failures[0].second, each.sentence);
        // The PDF library's own words stay out of the alert.
        EXPECT_FALSE(c.failures[0].second.contains('('));
    }
}

TEST(DocumentOpening, APdfWithoutPagesOrWithAnUnreadableFirstPageOpensAndSaysSo)
{
    QTemporaryDir dir;
    Controller c;
    const QString empty =
        writeFile(dir, "empty.pdf",
                  testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}));
    const QString unreadable = writeFile(
        dir, "unreadable.pdf",
        testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
                               // claims the first page but holds none
                               "<< /Type /Pages /Parent 2 0 R /Kids [] /Count 1 >>",
                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"}));
    struct Case {
        QString path;
        ViewerScreen::Content content;
        QString title;
    };
    for (const Case& each : {Case{empty, ViewerScreen::Content::noPages, "This PDF has no pages"},
                             Case{unreadable, ViewerScreen::Content::unreadable, "ravlen can't read this PDF"}}) {
        SCOPED_TRACE(each.path.toStdString());
        DocumentWindow* window = c.controller.openDocument(each.path);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(c.failures.empty());
        EXPECT_EQ(window->screen()->content(), each.content);
        ASSERT_NE(window->screen()->message(), nullptr);
        EXPECT_EQ(window->screen()->message()->title(), each.title);
    }
    // Save As of the PDF without pages says just that, and writes nothing.
    DocumentWindow* window = c.controller.openDocument(empty);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->saveAs(dir.filePath("copy.pdf")));
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_TRUE(c.failures[0].second.startsWith("This PDF has no pages")) << c.failures[0].second.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("copy.pdf")));
}

TEST(DocumentWindowSaving, AFileChangedByAnotherProgramIsNotOverwrittenWithoutAsking)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "shared.pdf", testsupport::makeTextPdf(4));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    window->undoStack()->push(new TitleEdit(*window->document(), "Mine"));

    // Another program writes its own version in place.
    const QByteArray theirs = testsupport::makeTextPdf(2, "their words");
    writeFile(dir, "shared.pdf", theirs);
    const timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 5, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), later, 0);

    c.changedAnswer = DocumentController::ChangedFileAnswer::cancel;
    EXPECT_FALSE(window->save());
    EXPECT_EQ(c.changeQuestions, 1);
    EXPECT_EQ(readFile(path), theirs);
    EXPECT_TRUE(window->isWindowModified());

    c.changedAnswer = DocumentController::ChangedFileAnswer::overwrite;
    EXPECT_TRUE(window->save());
    EXPECT_EQ(c.changeQuestions, 2);
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Mine"));
    // The version written is whole: the pages the window read, none of theirs.
    if (!QStandardPaths::findExecutable("qpdf").isEmpty() && !QStandardPaths::findExecutable("pdftotext").isEmpty()) {
        int exitCode = -1;
        testsupport::runProgram("qpdf", {"--check", path}, &exitCode);
        EXPECT_EQ(exitCode, 0);
        const QString text = testsupport::runProgram("pdftotext", {path, "-"});
        EXPECT_TRUE(text.contains("Page 1") && text.contains("Page 4")) << text.toStdString();
        EXPECT_FALSE(text.contains("their words"));
    }

    // Our own save is no change by another program.
    window->undoStack()->push(new TitleEdit(*window->document(), "Mine again"));
    EXPECT_TRUE(window->save());
    EXPECT_EQ(c.changeQuestions, 2);

    // Another program puts another file at the name once the save has
    // started, after the window looked: nothing is written over it before
    // the user says so.
    window->undoStack()->push(new TitleEdit(*window->document(), "Raced"));
    const QByteArray swapped = testsupport::makeTextPdf(1, "swapped in");
    // Once: Overwrite then writes over the file it asked about, and only that one.
    bool swappedOnce = false;
    const auto swapIn = [&] {
        if (std::exchange(swappedOnce, true)) return;
        writeFile(dir, "other.pdf", swapped);
        ::rename(QFile::encodeName(dir.filePath("other.pdf")).constData(), QFile::encodeName(path).constData());
    };
    window->saver().workerHook = swapIn;
    c.changedAnswer = DocumentController::ChangedFileAnswer::cancel;
    EXPECT_FALSE(window->save());
    EXPECT_EQ(c.changeQuestions, 3);
    EXPECT_EQ(readFile(path), swapped);
    EXPECT_TRUE(window->isWindowModified());
    c.changedAnswer = DocumentController::ChangedFileAnswer::overwrite;
    EXPECT_TRUE(window->save());
    window->saver().workerHook = nullptr;
    EXPECT_EQ(c.changeQuestions, 4);
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Raced"));
}

TEST(DocumentWindowSaving, ShareThenSaveOfAHexCodedFileWritesWhatItShows)
{
    // Content and image stored [/ASCIIHexDecode], as older producers store
    // them, which MuPDF's writer edits in place: the copy Share hands over,
    // then Ctrl+S, each show poppler the original's words and pixels.
    QTemporaryDir dir;
    Controller c;
    const QByteArray bytes = testsupport::hexCodedPdf("Hex coded", "[/ASCIIHexDecode]");
    const QString original = writeFile(dir, "original.pdf", bytes);
    const QString path = writeFile(dir, "hex.pdf", bytes);
    DocumentWindow* window = c.open(path);
    ASSERT_TRUE(window);
    window->undoStack()->push(new TitleEdit(*window->document(), "Mine"));
    QWidget* share = window->findChild<DocumentToolbarItems*>()->shareButton();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, share->mapTo(window, share->rect().center()));
    ShareMenu* menu = nullptr;
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return (menu = qobject_cast<ShareMenu*>(QApplication::activePopupWidget())) != nullptr; }));
    const QString copy = menu->filePath();
    menu->close();
    key(window, "Ctrl+S");
    ASSERT_TRUE(testsupport::waitFor([&] { return !window->isDocumentEdited(); }));
    EXPECT_TRUE(c.failures.empty() && c.saveAsOffers.empty());
    for (const QString& written : {copy, path}) {
        SCOPED_TRACE(written.toStdString());
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {written, "-"}).contains("Hex coded"));
        EXPECT_EQ(
            testsupport::meanDifference(testsupport::popplerPage(written, 0), testsupport::popplerPage(original, 0)),
            0);
    }
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Mine"));
}

// Another member of the user's team folder moves the user's own link to a
// private file onto the name of the open document (mv -f latest
// report.pdf): Ctrl+S refuses, naming where the link leads, offers Save As,
// and leaves the private file as it was. In a folder only the user writes,
// the user's own link there is followed, and the question about another
// program's change names the file Overwrite writes over. The window runs as
// nobody (the process's effective ids), the other member's move as root.
TEST(DocumentWindowSaving, TheUsersOwnLinkAnotherUserMovedOntoTheNameIsRefusedNamingWhereItLeads)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "a second user and their move need root to make";
    const struct {
        const char* name;
        gid_t folderGroup;
        mode_t folderMode;
        bool refused;
    } cases[] = {
        {"the user's team folder", kOtherUser, 02775, true},
        {"a folder only the user writes", kUser, 0755, false},
    };
    const auto become = testsupport::becomeEffectively;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString home = dir.filePath("home"), notes = home + "/private/notes.pdf";
        const QString folder = dir.filePath("folder"), named = folder + "/report.pdf", latest = folder + "/latest";
        ASSERT_TRUE(QDir().mkpath(home + "/private") && QDir().mkpath(folder));
        ASSERT_TRUE(writeFile(notes, "private notes") && writeFile(named, testsupport::makeTextPdf(2)));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        for (const QString& path : {home, home + "/private", notes, named})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kUser, kUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(home + "/private").constData(), 0700), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(notes).constData(), 0600), 0);
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kUser, c.folderGroup), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.folderMode), 0);
        ASSERT_TRUE(QFile::link(notes, latest));
        ASSERT_EQ(::lchown(QFile::encodeName(latest).constData(), kUser, kUser), 0);

        become(kUser);
        {
            Controller w;
            w.changedAnswer = DocumentController::ChangedFileAnswer::overwrite;
            // No ASSERT while the ids are the user's: the tests after run as root.
            DocumentWindow* window = w.open(named);
            EXPECT_NE(window, nullptr);
            if (!window) {
                become(0);
                continue;
            }
            window->undoStack()->push(new TitleEdit(*window->document(), "Mine"));
            become(0);
            EXPECT_EQ(::rename(QFile::encodeName(latest).constData(), QFile::encodeName(named).constData()), 0);
            become(kUser);
            key(window, "Ctrl+S");
            if (c.refused) {
                EXPECT_EQ(w.saveAsOffers.size(), 1u);
                EXPECT_TRUE(!w.saveAsOffers.empty()
                            && w.saveAsOffers[0].second.contains("report.pdf is a link another person made or could "
                                                                 "have put there, which leads to "
                                                                 + notes))
                    << (w.saveAsOffers.empty() ? std::string() : w.saveAsOffers[0].second.toStdString());
                EXPECT_EQ(w.changeQuestions, 0);
                EXPECT_EQ(readFile(notes), "private notes");
                EXPECT_TRUE(window->isWindowModified());
            } else {
                EXPECT_EQ(w.changeQuestions, 1);
                EXPECT_EQ(w.changeWritten, notes);
                EXPECT_TRUE(readFile(notes).startsWith("%PDF"));
            }
            EXPECT_TRUE(QFileInfo(named).isSymLink());
        }
        become(0);
    }
}

// Save As onto a name that holds a file asks first, naming the file written
// over when a link at the name leads elsewhere, and replaces only the file
// it asked about: another put at the name before the write is not written
// over (the change question comes instead). A name saving does not write
// through is refused by the save, with no replace question. The window runs
// as nobody; the other user's moves are made as root.
TEST(DocumentWindowSaving, SaveAsAsksBeforeReplacingAndReplacesOnlyTheFileItNamed)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "a second user and their moves need root to make";
    enum class There { file, ownLink, movedLink, fileSwappedIn };
    const struct {
        const char* name;
        There there;
        bool asked;
        const char* written; // the file the question names as written over; "" for the one at the name
        const char* ends;    // what the chosen name's file, or the private file, holds after
    } cases[] = {
        {"a file there", There::file, true, "", "%PDF"},
        {"the user's own link, in a folder only the user writes", There::ownLink, true, "notes", "%PDF"},
        {"the user's own link, moved there by a member of the team folder", There::movedLink, false, "", "private"},
        {"another file put there after the question", There::fileSwappedIn, true, "", "theirs"},
    };
    const auto become = testsupport::becomeEffectively;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString home = dir.filePath("home"), notes = home + "/private/notes.pdf", opened = home + "/opened.pdf";
        const QString folder = dir.filePath("folder"), chosen = folder + "/report.pdf", theirs = folder + "/theirs.pdf";
        ASSERT_TRUE(QDir().mkpath(home + "/private") && QDir().mkpath(folder));
        ASSERT_TRUE(writeFile(notes, "private notes") && writeFile(opened, testsupport::makeTextPdf(2)));
        if (c.there == There::file || c.there == There::fileSwappedIn) ASSERT_TRUE(writeFile(chosen, "old"));
        else ASSERT_TRUE(QFile::link(notes, chosen));
        ASSERT_TRUE(writeFile(theirs, "theirs"));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        for (const QString& path : {home, home + "/private", notes, opened})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kUser, kUser), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(chosen).constData(), kUser, kUser), 0);
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kOtherUser, kOtherUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(home + "/private").constData(), 0700), 0);
        const bool team = c.there == There::movedLink || c.there == There::fileSwappedIn;
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kUser, team ? kOtherUser : kUser), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), team ? 02775 : 0755), 0);

        become(kUser);
        {
            Controller w;
            DocumentWindow* window = w.open(opened);
            EXPECT_NE(window, nullptr);
            if (!window) {
                become(0);
                continue;
            }
            // The other user's move, once the question was answered.
            if (c.there == There::fileSwappedIn)
                window->saver().workerHook = [&] {
                    become(0);
                    EXPECT_EQ(::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(chosen).constData()),
                              0);
                    become(kUser);
                };
            window->saveAsChosen(chosen);
            window->saver().workerHook = nullptr;
            EXPECT_EQ(w.replaceQuestions.size(), c.asked ? 1u : 0u);
            if (!w.replaceQuestions.empty()) {
                EXPECT_EQ(w.replaceQuestions[0].first, "report.pdf");
                EXPECT_EQ(w.replaceQuestions[0].second, QString(c.written) == "notes" ? notes : QString());
            }
            // Their file, which the user may not write, is refused as such, not asked about.
            EXPECT_EQ(w.saveAsOffers.size(), c.there == There::movedLink || c.there == There::fileSwappedIn ? 1u : 0u);
            EXPECT_EQ(w.changeQuestions, 0);
            const QByteArray ends =
                readFile(c.there == There::file || c.there == There::fileSwappedIn ? chosen : notes);
            EXPECT_TRUE(ends.startsWith(c.ends)) << ends.left(16).toStdString();
        }
        become(0);
    }
}

// Makes `folder` take no new file, though its files may be written, or
// take them again: read-only to an ordinary user, immutable to root, who
// writes anywhere else. False where that cannot be had.
bool setTakesNoFile(const QString& folder, bool takesNoFile)
{
    const QByteArray native = QFile::encodeName(folder);
    if (::geteuid() != 0) return ::chmod(native.constData(), takesNoFile ? 0555 : 0755) == 0;
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool set = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = takesNoFile ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    set = set && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return set;
}

// The save must write the file in place, and the new bytes pass the
// process's file-size limit part way (the kernel's signal left to its
// default): the old bytes are put back and the window says the save failed.
TEST(DocumentWindowSaving, ASaveInPlaceThatFailsPartWayKeepsTheFileAndSaysSo)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "shelf/report.pdf", testsupport::makeTextPdf(4));
    const QByteArray original = readFile(path);
    DocumentWindow* window = c.open(path);
    ASSERT_NE(window, nullptr);
    window->undoStack()->push(new TitleEdit(*window->document(), std::string(200000, 't')));
    if (!setTakesNoFile(dir.filePath("shelf"), true)) GTEST_SKIP() << "no folder here refuses new files to root";
    {
        // Ignoring the kernel's signal: a write of another file meanwhile (the
        // tests' own output, sent to a file) fails rather than ending them.
        testsupport::FileSizeLimit limit(original.size() + 4096);
        key(window, "Ctrl+S");
    }
    setTakesNoFile(dir.filePath("shelf"), false);
    ASSERT_EQ(c.failures.size(), 1u);
    EXPECT_EQ(c.failures.front().first, "The document “report.pdf” could not be saved.");
    EXPECT_EQ(c.failures.front().second, "The file would be larger than this system lets ravlen write. "
                                             + quarnkit::stillWorks({false, false, true, false}));
    EXPECT_TRUE(window->isWindowModified());
    EXPECT_EQ(readFile(path), original);
    EXPECT_EQ(QDir(dir.filePath("shelf")).entryList(QDir::Files | QDir::Hidden), QStringList{"report.pdf"});
}

// The folders the user visits in a file dialog are remembered in a file
// that only the user may read, as ravlen prepares it before any dialog.
TEST(DocumentWindowSaving, TheFileDialogRemembersFoldersInAFileOnlyTheUserReads)
{
    const QString state = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/QtProject.conf";
    QFile::remove(state);
    ASSERT_TRUE(platform::PrivateFiles::makeDialogStatePrivate());
    QTemporaryDir visited;
    {
        QFileDialog dialog(nullptr, "Save As", visited.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.show();
        dialog.selectFile(visited.filePath("report.pdf"));
        QTest::keyClick(&dialog, Qt::Key_Return);
    }
    EXPECT_TRUE(readFile(state).contains(QFile::encodeName(visited.path()))) << readFile(state).toStdString();
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(state).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(DocumentWindowSaving, AShortFileIsReadWholeOnAWorkerOnceItsWindowShows)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "short.pdf", testsupport::makeTextPdf(4));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    // The first page is read from the file as it is needed; then the file is
    // read whole and let go, with no edit to ask for it.
    EXPECT_EQ(descriptorsOn(path), 1);
    ASSERT_TRUE(testsupport::waitFor([&] { return descriptorsOn(path) == 0; }));
    // Another program's write in place no longer reaches the document.
    writeFile(dir, "short.pdf", testsupport::makeTextPdf(2, "their words"));
    EXPECT_FALSE(window->document()->sourceChanged());
    EXPECT_EQ(window->document()->pageCount(), 4);
    // Reverted, the window reads their version, and reads it whole as well.
    ASSERT_TRUE(window->revert());
    EXPECT_EQ(window->document()->pageCount(), 2);
    ASSERT_TRUE(testsupport::waitFor([&] { return descriptorsOn(path) == 0; }));
}

TEST(DocumentWindowSaving, ALongFileRewrittenInPlaceIsNotSavedAndRevertShowsWhatIsThere)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "long.pdf", testsupport::makeLongTextPdf(1000, 33 << 20));
    DocumentWindow* window = c.open(path);
    ASSERT_TRUE(window);
    SigningModel::of(window->screen()->model()).insertCheckmark();
    ASSERT_TRUE(window->isDocumentEdited());

    // Another program writes its own version in place: same file, new bytes.
    const auto before = stampOf(path);
    const QByteArray theirs = testsupport::makeTextPdf(2, "their words");
    writeFile(dir, "long.pdf", theirs);
    ASSERT_EQ(stampOf(path).first, before.first);

    // There is no version of ours to write over theirs: no question, a refusal.
    key(window, "Ctrl+S");
    EXPECT_EQ(c.changeQuestions, 0);
    ASSERT_EQ(c.revertOffers.size(), 1u);
    EXPECT_EQ(c.revertOffers[0].first, "The document “long.pdf” could not be saved.");
    EXPECT_TRUE(c.revertOffers[0].second.startsWith("Another program changed this PDF while ravlen had it open"));
    EXPECT_EQ(readFile(path), theirs);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"long.pdf"});
    EXPECT_TRUE(window->isDocumentEdited());

    // Revert shows the file as the other program left it.
    c.revertAnswer = true;
    key(window, "Ctrl+S");
    ASSERT_EQ(c.revertOffers.size(), 2u);
    EXPECT_EQ(window->document()->pageCount(), 2);
    EXPECT_FALSE(window->isDocumentEdited());
    EXPECT_EQ(readFile(path), theirs);
}

TEST(DocumentWindowSaving, WhileASaveRunsTheWindowSaysSoAndRefusesSavingAndClosing)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "busy.pdf", testsupport::makeTextPdf(4));
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    window->undoStack()->push(new TitleEdit(*window->document(), "Saved while busy"));

    // The worker waits here until the window has been looked at.
    testsupport::WorkerGate gate;
    window->saver().workerHook = gate.hook();
    bool looked = false;
    QTimer::singleShot(0, window, [&] {
        EXPECT_TRUE(window->isSaving());
        EXPECT_TRUE(window->windowTitle().contains("Saving"));
        EXPECT_FALSE(window->save());
        EXPECT_FALSE(window->close());
        // The page view stays usable: a page turn is handled at once.
        if (QuarnPDFView* view = viewOf(window)) view->goToPage(1);
        looked = true;
        gate.release();
    });
    EXPECT_TRUE(window->save());
    EXPECT_TRUE(looked);
    EXPECT_FALSE(window->isSaving());
    EXPECT_FALSE(window->windowTitle().contains("Saving"));
    EXPECT_FALSE(window->isWindowModified());
    EXPECT_EQ(pdfOf(*QuarnDocument::open(path))->infoString("Title"), std::optional<std::string>("Saved while busy"));
    EXPECT_EQ(c.controller.windows().size(), 1u);
    EXPECT_TRUE(window->close());
}

TEST(DocumentWindowSaving, RevertingADocumentWithTextBoxesWhileItsPagesRenderHolds)
{
    QTemporaryDir dir;
    Controller c;
    const QString path = writeFile(dir, "boxes.pdf", textBoxPdf());
    DocumentWindow* window = c.controller.openDocument(path);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return viewOf(window) && viewOf(window)->tiles().visibleReady(); }));
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(window->revert()) << "revert " << i;
        // Let the workers start on the new document's tiles before the next revert.
        QCoreApplication::processEvents();
        if (i % 3 == 0) viewOf(window)->goToPage(i % 4);
    }
    EXPECT_TRUE(testsupport::waitFor([&] { return viewOf(window)->tiles().visibleReady(); }));
    EXPECT_EQ(window->document()->pageCount(), 4);
}

// A document its window replaces (Revert, also after a page edit) leaves
// none of its page drawings counted against the memory budget of the pages
// shown next, not even one a worker was about to record as it went, and
// nothing holds it once it is gone. The file has one page left when it is
// read again, so that any recording of another page is the old document's.
TEST(DocumentWindowSaving, AReplacedDocumentLeavesNoPageDrawingsInTheBudget)
{
    struct Road {
        const char* name;
        bool pageEdit;
    };
    for (const Road& road : {Road{"reverted", false}, Road{"reverted after a page edit", true}}) {
        SCOPED_TRACE(road.name);
        QTemporaryDir dir;
        Controller c;
        const QString path = writeFile(dir, "pages.pdf", testsupport::makeTextPdf(6));
        DocumentWindow* window = c.open(path);
        ASSERT_NE(window, nullptr);
        QuarnPDFView* view = viewOf(window);
        ASSERT_TRUE(view);
        const auto drawn = [&] {
            return testsupport::waitFor([&] { return view->tiles().visibleReady() && !view->tiles().rendering(); });
        };
        ASSERT_TRUE(drawn());
        if (road.pageEdit) {
            ASSERT_TRUE(quarnkit::PageEdits::move(*window->document(), {0}, 6));
            ASSERT_TRUE(drawn());
        }
        view->goToPage(4);
        ASSERT_TRUE(drawn());
        ASSERT_FALSE(view->tiles().pagesWithDisplayLists().empty());

        // A worker takes a page of the document (at a new scale, its
        // recordings kept) and holds it while the document goes.
        testsupport::WorkerGate gate;
        view->tiles().setWorkerHook(gate.hook());
        view->setScaleFactor(view->scaleFactor() * 1.5);
        view->tiles().requestMissing();
        ASSERT_TRUE(gate.waitUntilReached());
        const std::weak_ptr<const platform::PdfDocument> old = pdfOf(*window->document());
        writeFile(dir, "pages.pdf", testsupport::makeTextPdf(1));
        ASSERT_TRUE(window->revert());
        ASSERT_EQ(viewOf(window), view);
        gate.release();
        view->tiles().setWorkerHook({});
        ASSERT_TRUE(drawn());
        EXPECT_EQ(view->tiles().pagesWithDisplayLists(), std::vector<int>{0});
        // Once the pages shown drop theirs, nothing is left counted.
        view->tiles().invalidate(std::nullopt);
        EXPECT_EQ(view->tiles().displayListBytes(), 0u);
        EXPECT_TRUE(testsupport::waitFor([&] { return old.expired(); })) << "nothing holds the replaced document";
    }
}

TEST(DocumentOpening, TheCommandLineNamesFilesThatStartWithADash)
{
    QTemporaryDir dir;
    const QString dashed = writeFile(dir, "-notes.pdf", testsupport::makeTextPdf(1));
    const QString plain = writeFile(dir, "plain.pdf", testsupport::makeTextPdf(1));
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    struct Case {
        QStringList arguments;
        QStringList files;
    };
    const std::vector<Case> cases = {
        {{"-notes.pdf", "plain.pdf"}, {dashed, plain}}, // an existing file, though it looks like an option
        {{"--verbose", "plain.pdf"}, {plain}},          // an option is no file
        {{"--", "-notes.pdf", "--", "-x.pdf"},
         {dashed, dir.filePath("--"), dir.filePath("-x.pdf")}}, // after "--", all are files
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.arguments.join(' ').toStdString());
        EXPECT_EQ(DocumentController::filesFromArguments(each.arguments), each.files);
    }
    QDir::setCurrent(before);
}

TEST(DocumentOpening, AFileWhoseNameIsNotUtf8OpensAndSaves)
{
    QTemporaryDir dir;
    Controller c;
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.pdf"; // Latin-1, not UTF-8
    {
        const QByteArray bytes = testsupport::makeTextPdf(2);
        FILE* out = std::fopen(native.constData(), "wb");
        ASSERT_TRUE(out);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
        std::fclose(out);
    }
    // As the command line hands it over.
    const QStringList files = DocumentController::filesFromArguments({quarnkit::pathFromNative(native)});
    ASSERT_EQ(files.size(), 1);
    DocumentWindow* window = c.controller.openDocument(files[0]);
    ASSERT_NE(window, nullptr) << (c.failures.empty() ? "" : c.failures[0].second.toStdString());
    EXPECT_EQ(window->document()->pageCount(), 2);
    window->undoStack()->push(new TitleEdit(*window->document(), "Latin-1 name"));
    ASSERT_TRUE(window->save());
    struct stat info = {};
    EXPECT_EQ(::stat(native.constData(), &info), 0);
    EXPECT_EQ(pdfOf(*QuarnDocument::open(files[0]))->infoString("Title"), std::optional<std::string>("Latin-1 name"));
    window->close();
    ::unlink(native.constData()); // QDir cannot name it to remove it
}

TEST(DamagedFiles, AWindowOnAPageThatNeverFinishesShowsAtOnceAnswersADragAndClosesOnCtrlW)
{
    // Forms that draw forms for ever; a gigabyte of spaces in one stream. How
    // soon the window answers is for the benchmarks: here, that it does while
    // page 1 is still being read.
    for (const QByteArray& pdf : {testsupport::makeEndlessPagePdf(), testsupport::makeSilentPagePdf(1u << 30)}) {
        QTemporaryDir dir;
        const QString path = writeFile(dir, "endless.pdf", pdf);
        Controller c;
        QPointer<DocumentWindow> window = c.open(path);
        ASSERT_TRUE(window);
        // The page view and the thumbnails read page 1 on workers meanwhile.
        ASSERT_TRUE(testsupport::waitFor([&] { return window->isVisible(); }));
        EXPECT_EQ(window->document()->pageCount(), 2);
        // A drag over page 1 asks for its text, which a worker reads: the
        // window answers its keys meanwhile, and closes at once.
        QuarnPDFView* view = window->screen()->pageViewHost()->view();
        const auto onPage = [&](double x) {
            return view->viewport()->mapTo(window, view->placement().convertFromPage(platform::PdfPoint{x, 700}, 0));
        };
        QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, onPage(72).toPoint());
        QTest::mouseMove(window->windowHandle(), onPage(300).toPoint());
        QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, onPage(300).toPoint());
        EXPECT_FALSE(view->tiles().visibleReady()); // page 1 is still being read
        key(window, "Ctrl+W");
        ASSERT_TRUE(testsupport::waitFor([&] { return !window; })) << "the window did not close";
        // Closed, the document's page work stops: nothing is left reading page 1.
        EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
        EXPECT_TRUE(quarnkit::TileRenderer::workerPool().waitForDone(10000));
    }
}

TEST(DamagedFiles, AFileThatCannotBeSavedOverIsKeptAndCtrlSOffersSaveAs)
{
    // Its cross-reference table is nowhere near where the file says.
    QByteArray repaired = testsupport::makeTextPdf(3, "kept words");
    const qsizetype at = repaired.lastIndexOf("startxref\n") + 10;
    repaired.replace(at, repaired.indexOf('\n', at) - at, "12");
    // The font's /BaseFont name holds a space: MuPDF reads the font as null,
    // and a file written anew would write it so: the mark is saved over it as
    // an update appended to its own bytes, which keep the font as it was.
    const QByteArray font = testsupport::writePdf(
        testsupport::textPageObjects("kept words", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica Bold >>"));
    // Sound, though the font refers to null, held in an object stream.
    const std::string refersToNull = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Extra 6 0 R >>";
    const QByteArray nullMember = testsupport::objectStreamPdf("kept words", refersToNull, refersToNull, {"null"});
    // RC4 with no open password, junk before "%PDF": MuPDF rebuilds its
    // table, and finds what it lists.
    const QByteArray encrypted = readFile(QString::fromStdString(testsupport::qpdfCorpusPath("leading-junk.pdf")));
    // A catalog with a key that is no name, which MuPDF cannot parse and
    // other readers read past: it opens as they show it, and is not saved over.
    const QByteArray catalog = readFile(QString::fromStdString(testsupport::qpdfCorpusPath("indirect-r-arg.pdf")));
    // Signed, and words after the table's entries: MuPDF rebuilds the table
    // and writes no update of the file, and written anew the signature would
    // break. (Empty without openssl.)
    QTemporaryDir keys;
    const QByteArray signedRebuilt = testsupport::makeSignedPdf(keys.path(), true, true);
    // Signed, a classic table appended after a cross-reference stream: saved
    // over as an update, the signature valid.
    const QByteArray signedMixed = testsupport::withTableUpdate(
        readFile(QString::fromStdString(testsupport::qpdfCorpusPath("digitally-signed.pdf"))));
    struct Case {
        QString name;
        QByteArray damaged;
        int pages;
        QString why;           // the refusal's reason; none: saved over
        bool readOnly = false; // ravlen refuses to write over a read-only file, whoever runs it
        bool showsLess = true; // asked about before another file is written
        QString words = "kept words";
        bool popplerReadsWords = true; // in the copy: the font written as null loses them, as the question says
        bool keptByUpdate = false;     // saved over after the file's own bytes
        bool signedFile = false;       // its signature verifies after the save over it
    };
    for (const Case& each :
         {Case{"repaired.pdf", repaired, 3, "ravlen had to repair this PDF to open it"},
          Case{"font.pdf", font, 1, {}, false, false, "kept words", true, true},
          Case{"read-only.pdf", testsupport::makeTextPdf(2, "kept words"), 2, "You don't have permission", true, false},
          Case{"null-member.pdf", nullMember, 1, {}, false, false},
          Case{"leading-junk.pdf", encrypted, 30, {}, false, false, "Potato"},
          Case{"indirect-r-arg.pdf", catalog, 1, "Part of this PDF is damaged", false, true, "Potato"},
          Case{"signed-mixed.pdf", signedMixed, 1, {}, false, false, "Potato", true, true, true},
          Case{"signed-rebuilt.pdf", signedRebuilt, 1, "This PDF is signed", false, false, "Signed page"}}) {
        SCOPED_TRACE(each.name.toStdString());
        if (each.damaged.isEmpty()) continue; // a corpus file that is not here
        QTemporaryDir dir;
        const QString path = writeFile(dir, each.name, each.damaged);
        if (each.readOnly) {
            ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup));
        }
        Controller c;
        DocumentWindow* window = c.open(path);
        ASSERT_TRUE(window);
        const auto before = stampOf(path);
        int checkBefore = -1; // qpdf warns about some of these files as they come
        testsupport::runProgram("qpdf", {"--check", path}, &checkBefore);
        // The file's own (a signature's field), and the one the user adds.
        int marksBefore = 0;
        const auto unmarked = QuarnDocument::open(path);
        for (int page = 0; page < each.pages; ++page)
            marksBefore += int(platform::PdfAnnotations::list(*pdfOf(*unmarked), page).size());

        // Nothing changed: Ctrl+S writes nothing, asks nothing.
        key(window, "Ctrl+S");
        EXPECT_EQ(stampOf(path), before);
        EXPECT_TRUE(c.saveAsOffers.empty());

        SigningModel::of(window->screen()->model()).insertCheckmark();
        ASSERT_TRUE(window->isDocumentEdited());
        key(window, "Ctrl+S");
        // Every page, word and the mark, in ravlen and other readers,
        // which open it as the original opens, with no password.
        const auto holdsTheDocument = [&](const QString& saved, bool popplerReadsWords) {
            const auto reopened = QuarnDocument::open(saved);
            ASSERT_FALSE(reopened->isLocked());
            ASSERT_EQ(reopened->pageCount(), each.pages);
            int marks = 0;
            for (int page = 0; page < each.pages; ++page) {
                EXPECT_NE(pdfOf(*reopened)->textPage(page).text().find(each.words.toStdString()), std::string::npos);
                marks += int(platform::PdfAnnotations::list(*pdfOf(*reopened), page).size());
            }
            EXPECT_EQ(marks, marksBefore + 1);
            EXPECT_EQ(testsupport::runProgram("pdftotext", {"-l", "1", saved, "-"}).contains(each.words),
                      popplerReadsWords);
            int exitCode = -1;
            const QString check = testsupport::runProgram("qpdf", {"--check", saved}, &exitCode);
            EXPECT_TRUE(exitCode == 0 || (each.keptByUpdate && exitCode == checkBefore)) << check.toStdString();
        };
        if (each.why.isEmpty()) {
            EXPECT_TRUE(c.saveAsOffers.empty());
            EXPECT_TRUE(c.failures.empty());
            EXPECT_NE(readFile(path), each.damaged);
            EXPECT_EQ(readFile(path).startsWith(each.damaged), each.keptByUpdate);
            holdsTheDocument(path, true);
            if (each.signedFile) {
                EXPECT_TRUE(testsupport::signaturesValid(path));
            }
        } else {
            ASSERT_EQ(c.saveAsOffers.size(), 1u);
            EXPECT_EQ(c.saveAsOffers[0].first, "The document “" + each.name + "” could not be saved.");
            EXPECT_TRUE(c.saveAsOffers[0].second.startsWith(each.why)) << c.saveAsOffers[0].second.toStdString();
            // What still works is said, and offered: a new file, or an export that keeps the marks.
            ASSERT_EQ(c.offered.size(), 1u);
            EXPECT_EQ(c.offered[0], (quarnkit::SaveRemedies{true, true, true, false}));
            EXPECT_TRUE(c.saveAsOffers[0].second.endsWith(
                "Save As keeps them in a new file under another name, and Export writes them as a PDF or a "
                "Flattened PDF, marks included, or as an image of each page."))
                << c.saveAsOffers[0].second.toStdString();
            EXPECT_EQ(c.saveAsOffers[0].second.count(QStringLiteral("Save As")), 1); // offered once
            EXPECT_EQ(readFile(path), each.damaged);
            EXPECT_EQ(stampOf(path), before);
            EXPECT_TRUE(window->isDocumentEdited());
        }

        // Another file takes the document, once the user agreed that it may
        // show less than a damaged original; the original stays as it is.
        const QByteArray original = readFile(path);
        const QString copy = dir.filePath("copy.pdf");
        if (each.showsLess) {
            c.lossAnswer = false;
            EXPECT_FALSE(window->saveAs(copy));
            EXPECT_FALSE(QFile::exists(copy));
            c.lossAnswer = true;
        }
        ASSERT_TRUE(window->saveAs(copy));
        ASSERT_EQ(c.lossQuestions.size(), each.showsLess ? 2u : 0u);
        if (each.showsLess) {
            EXPECT_EQ(c.lossQuestions[1].first, "“copy.pdf” may show less than the original in other programs.");
        }
        EXPECT_FALSE(window->isDocumentEdited());
        EXPECT_EQ(readFile(path), original);
        holdsTheDocument(copy, each.popplerReadsWords);
    }
}

TEST(DamagedFiles, ARefusedSaveOffersWhatStillWorksAndSaveAsProposesANewName)
{
    // A file MuPDF had to repair (its table is nowhere near where the file
    // says), one the user may not write, and one whose written copy could not
    // be checked (its reader failed): Ctrl+S is refused, the refusal offers
    // Save As and Export; Save As proposes a name no file has beside the
    // refused one, never the refused file, and writes there, the unchecked
    // copy too, as the user chose; Export opens the export sheet on PDF. The
    // refused file stays byte for byte.
    QByteArray repaired = testsupport::makeTextPdf(2, "kept words");
    const qsizetype at = repaired.lastIndexOf("startxref\n") + 10;
    repaired.replace(at, repaired.indexOf('\n', at) - at, "12");
    enum class Refused { repaired, readOnly, unchecked };
    for (const Refused refused : {Refused::repaired, Refused::readOnly, Refused::unchecked}) {
        SCOPED_TRACE(refused == Refused::repaired   ? "repaired"
                     : refused == Refused::readOnly ? "read-only"
                                                    : "unchecked");
        QTemporaryDir dir;
        const QByteArray bytes = refused == Refused::repaired ? repaired : testsupport::makeTextPdf(2, "kept words");
        const QString path = writeFile(dir, "Report.pdf", bytes);
        if (refused == Refused::readOnly) {
            ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
        }
        Controller c;
        const auto open = [&] {
            DocumentWindow* window = c.open(path);
            if (window && refused == Refused::unchecked)
                window->saver().beforeReadBack = [](int) {
                    throw platform::PdfError(platform::PdfErrorCode::unverifiedCopy,
                                             "the reader that checks it cannot be loaded");
                };
            return window;
        };
        DocumentWindow* window = open();
        ASSERT_TRUE(window);
        SigningModel::of(window->screen()->model()).insertCheckmark();

        // Save As, its panel cancelled: it proposed "Report copy.pdf", then,
        // once a file has that name, "Report copy 2.pdf".
        c.refusalAnswer = Controller::Answer::saveAs;
        key(window, "Ctrl+S");
        ASSERT_EQ(c.offered.size(), 1u);
        EXPECT_EQ(c.offered[0], (quarnkit::SaveRemedies{true, true, true, false}));
        ASSERT_EQ(c.proposedNames.size(), 1u);
        EXPECT_EQ(c.proposedNames[0], dir.filePath("Report copy.pdf"));
        writeFile(dir, "Report copy.pdf", "taken");
        key(window, "Ctrl+S");
        ASSERT_EQ(c.proposedNames.size(), 2u);
        EXPECT_EQ(c.proposedNames[1], dir.filePath("Report copy 2.pdf"));
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_TRUE(window->isDocumentEdited());

        // Save As to the name proposed writes the document there: every reader reads its words.
        c.refusalAnswer = Controller::Answer::saveAs;
        c.saveAsPath = dir.filePath("Report copy 2.pdf");
        key(window, "Ctrl+S");
        EXPECT_EQ(window->filePath(), c.saveAsPath);
        EXPECT_FALSE(window->isDocumentEdited());
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_TRUE(testsupport::runProgram("pdftotext", {c.saveAsPath, "-"}).contains("kept words"));
        EXPECT_EQ(platform::PdfAnnotations::list(*pdfOf(*QuarnDocument::open(c.saveAsPath)), 0).size(), 1u);

        // Export: the sheet opens on PDF, which keeps the mark; nothing is saved.
        DocumentWindow* again = open();
        ASSERT_TRUE(again);
        SigningModel::of(again->screen()->model()).insertCheckmark();
        c.refusalAnswer = Controller::Answer::exportCopy;
        key(again, "Ctrl+S");
        ASSERT_TRUE(testsupport::waitFor([&] {
            auto* sheet = again->findChild<ExportSheet*>();
            return sheet && sheet->isVisible();
        }));
        EXPECT_EQ(again->findChild<ExportSheet*>()->form().format, quarnkit::ExportFormat::pdf);
        EXPECT_EQ(c.proposedNames.size(), 3u);
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_TRUE(again->isDocumentEdited());
    }
}

TEST(DamagedFiles, ANameLongerThanTheEngineKeepsIsSavedAfterTheFileOrToldBeforeAnythingIsWritten)
{
    // The font is named with 145 bytes: MuPDF cuts it where the resources
    // define it, and a file written anew would lose the page's text in other
    // readers. Ctrl+S saves the mark after the file's own bytes, which keep the
    // name; where the mark's page itself holds the name, the user is told, and
    // neither the file nor another one is written.
    const QString names =
        QString::fromUtf8(quarnkit::DocumentError::message(quarnkit::DocumentError::Code::fileWriteNamesTooLong));
    for (const bool inPage : {false, true}) {
        SCOPED_TRACE(inPage ? "the page names the font" : "the page shares resources that name it");
        QTemporaryDir dir;
        const QByteArray bytes = testsupport::longFontNamePdf("Long name", inPage);
        const QString path = writeFile(dir, "long name.pdf", bytes);
        Controller c;
        DocumentWindow* window = c.open(path);
        ASSERT_TRUE(window);
        SigningModel::of(window->screen()->model()).insertCheckmark();
        ASSERT_TRUE(window->isDocumentEdited());
        key(window, "Ctrl+S");
        EXPECT_TRUE(c.saveAsOffers.empty());
        const QString copy = dir.filePath("copy.pdf");
        if (!inPage) {
            EXPECT_TRUE(c.failures.empty());
            EXPECT_FALSE(window->isDocumentEdited());
            EXPECT_TRUE(readFile(path).startsWith(bytes));
            EXPECT_TRUE(testsupport::runProgram("pdftotext", {path, "-"}).contains("Long name"));
            EXPECT_EQ(platform::PdfAnnotations::list(*pdfOf(*QuarnDocument::open(path)), 0).size(), 1u);
            continue;
        }
        ASSERT_EQ(c.failures.size(), 1u);
        EXPECT_EQ(c.failures[0].first, "The document “long name.pdf” could not be saved.");
        // No PDF keeps the name whole; an image of each page still shows what the window does.
        EXPECT_EQ(c.failures[0].second, names + " " + quarnkit::stillWorks({false, false, true, false}));
        ASSERT_EQ(c.offered.size(), 1u);
        EXPECT_EQ(c.offered[0], (quarnkit::SaveRemedies{false, false, true, false}));
        EXPECT_EQ(readFile(path), bytes);
        EXPECT_TRUE(window->isDocumentEdited());
        EXPECT_FALSE(window->saveAs(copy));
        EXPECT_EQ(c.failures.size(), 2u);
        EXPECT_FALSE(QFile::exists(copy));
    }
}

TEST(DamagedFiles, AMarkADamagedPageCannotTakeAlwaysSaysWhy)
{
    // Page 2 is damaged: object 5, which the file does not hold, or a page
    // whose parent is itself, which shows blank. Whatever the gesture, no
    // mark is added, the user is told why, and the file stays as it was.
    const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
    const std::string tree = "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>";
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>";
    const struct {
        const char* damage;
        QByteArray pdf;
    } files[] = {
        {"a page without a dictionary", testsupport::writePdf({catalog, tree, page, "<< /Unused true >>"})},
        {"a page that is its own parent",
         testsupport::writePdf(
             {catalog, tree, page, "<< /Unused true >>", "<< /Type /Page /Parent 5 0 R /MediaBox [0 0 612 792] >>"})},
    };
    // A tool dragged across the page, or none: a checkmark placed at its centre.
    using quarnkit::MarkupTool;
    const std::optional<MarkupTool> gestures[] = {MarkupTool::rectangle, MarkupTool::highlight, std::nullopt};
    for (const auto& file : files)
        for (const std::optional<MarkupTool> tool : gestures) {
            SCOPED_TRACE(std::string(file.damage) + ", " + (tool ? quarnkit::title(*tool).toStdString() : "checkmark"));
            QTemporaryDir dir;
            const QString path = writeFile(dir, "damaged page.pdf", file.pdf);
            Controller c;
            DocumentWindow* window = c.open(path);
            ASSERT_TRUE(window);
            ASSERT_EQ(window->document()->pageCount(), 2);
            QuarnPDFView* view = window->screen()->pageViewHost()->view();
            view->goToPage(1);
            ASSERT_TRUE(testsupport::waitFor([&] { return view->currentPageIndex() == 1; }));
            const auto at = [&](double x, double y) {
                return view->placement().convertFromPage(platform::PdfPoint{x, y}, 1).toPoint();
            };
            if (tool) {
                MarkupModel::of(window->screen()->model()).setTool(*tool);
                QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(100, 500));
                for (int i = 1; i <= 4; ++i) QTest::mouseMove(view->viewport(), at(100 + 50 * i, 500 + 25 * i));
                QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(300, 600));
            } else {
                SigningModel::of(window->screen()->model()).insertCheckmark();
            }
            QMessageBox* alert = nullptr;
            ASSERT_TRUE(testsupport::waitFor([&] { return (alert = window->findChild<QMessageBox*>()) != nullptr; }));
            EXPECT_EQ(alert->informativeText(), "Page 2 of this PDF is damaged, so ravlen can't add marks to it.");
            // The second line, which often names a file, shows as it is, never as markup.
            EXPECT_EQ(alert->findChild<QLabel*>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
            EXPECT_FALSE(window->isDocumentEdited());
            EXPECT_EQ(window->undoStack()->count(), 0);
            const auto before = stampOf(path);
            key(window, "Ctrl+S");
            EXPECT_EQ(stampOf(path), before);
        }
}

// A step whose undo or redo throws, as one does on an object the engine can no
// longer read. Its first run gives the document the title "Cropped".
class FailingStep : public quarnkit::DocumentCommand {
public:
    FailingStep(QuarnDocument& document, bool failsOnUndo)
        : DocumentCommand(document, "Crop"), failsOnUndo_(failsOnUndo)
    {}

protected:
    bool apply(QuarnDocument& document, bool forward) override
    {
        if (!firstRun_ && forward != failsOnUndo_) throw std::runtime_error("unreadable object");
        if (firstRun_)
            quarnkit::writeDocumentAttributes(*pdfOf(document),
                                              quarnkit::DocumentMetadata("Cropped", "", "", "").applied());
        firstRun_ = false;
        document.noteEdit(std::nullopt);
        return true;
    }

private:
    bool failsOnUndo_;
    bool firstRun_ = true;
};

TEST(DamagedFiles, AnUndoOrRedoThatFailsSaysSoKeepsTheEditAndClearsTheHistory)
{
    // Without the history cleared, the stack would stand where the file was
    // opened and the window would close the edited document without asking.
    for (const bool failsOnUndo : {true, false}) {
        SCOPED_TRACE(failsOnUndo ? "undo" : "redo");
        QTemporaryDir dir;
        const QString path = writeFile(
            dir, "doc.pdf", readFile(QString::fromStdString(testsupport::corpusPath("minimal-document.pdf"))));
        Controller c;
        DocumentWindow* window = c.open(path);
        ASSERT_TRUE(window);
        ASSERT_TRUE(quarnkit::DocumentCommand::push(new FailingStep(*window->document(), failsOnUndo)));
        key(window, "Ctrl+Z");
        if (!failsOnUndo) key(window, "Ctrl+Shift+Z");
        QMessageBox* alert = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] { return (alert = window->findChild<QMessageBox*>()) != nullptr; }));
        EXPECT_EQ(alert->informativeText(), QString("“Crop” could not be %1. The document stays as it is, and its "
                                                    "undo history is cleared.")
                                                .arg(failsOnUndo ? "undone" : "redone"));
        EXPECT_TRUE(testsupport::waitFor([&] { return window->undoStack()->count() == 0; }));
        EXPECT_TRUE(window->isDocumentEdited());
        EXPECT_TRUE(window->isWindowModified());

        // The stack is clean again, but the file does not hold the edit the
        // window kept: the toolbar's Share button hands over a copy that does.
        ASSERT_TRUE(window->undoStack()->isClean());
        alert->close();
        QApplication::processEvents();
        QWidget* share = window->findChild<DocumentToolbarItems*>()->shareButton();
        ASSERT_TRUE(share->isVisible());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, share->mapTo(window, share->rect().center()));
        ShareMenu* menu = nullptr;
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return (menu = qobject_cast<ShareMenu*>(QApplication::activePopupWidget())) != nullptr; }));
        EXPECT_EQ(QFileInfo(menu->filePath()).fileName(), "doc.pdf");
        EXPECT_TRUE(testsupport::runProgram("pdfinfo", {menu->filePath()}).simplified().contains("Title: Cropped"));
        EXPECT_FALSE(testsupport::runProgram("pdfinfo", {path}).contains("Cropped"));
        menu->close();
        window->close();
    }
}

// A damaged file whose write changes the document past putting it back
// (made so by the guard's seam): Export ▸ PDF, once the user accepted that
// a copy may show less, is refused saying so, not blaming the machine; the
// document was read again as it was, so Save As writes it with its mark.
TEST(DamagedFiles, AWriteThatChangesTheDocumentIsRefusedForItsCauseAndSaveAsKeepsTheMark)
{
    QByteArray repaired = testsupport::makeTextPdf(2, "kept words");
    const qsizetype at = repaired.lastIndexOf("startxref\n") + 10;
    repaired.replace(at, repaired.indexOf('\n', at) - at, "12");
    QTemporaryDir dir;
    const QString path = writeFile(dir, "Damaged.pdf", repaired);
    Controller c;
    DocumentWindow* window = c.open(path);
    ASSERT_TRUE(window);
    SigningModel::of(window->screen()->model()).insertCheckmark();

    key(window, "Ctrl+E");
    ExportSheet* sheet = nullptr;
    ASSERT_TRUE(
        testsupport::waitFor([&] { return (sheet = window->findChild<ExportSheet*>()) && sheet->isVisible(); }));
    ExportController& controller = sheet->controller();
    controller.chooseDestination = [&](const quarnkit::ExportSettings&, const ViewerModel&) {
        return std::optional<QString>(dir.filePath("Exported.pdf"));
    };
    int questions = 0;
    controller.confirmLossyCopy = [&](const QString&, const QString&) { return ++questions > 0; };
    for (QAbstractButton* card : sheet->cards())
        if (card->text() == quarnkit::ExportFormats::title(quarnkit::ExportFormat::pdf))
            QTest::mouseClick(card, Qt::LeftButton, {}, card->rect().center());
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    platform::writeGuardSeams().unrestorableWrites = 1;
    QTest::keyClick(sheet->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitFor([&] { return controller.phase().kind == ExportController::Phase::Kind::failed; }));
    platform::writeGuardSeams() = {};
    EXPECT_EQ(questions, 1); // the repaired file's, once a document
    const QString told = sheet->failure()->text();
    EXPECT_TRUE(told.contains("Writing this PDF changed ravlen's reading of it")) << told.toStdString();
    EXPECT_FALSE(told.contains("too busy"));
    EXPECT_FALSE(QFile::exists(dir.filePath("Exported.pdf")));
    const QPointer<ExportSheet> open(sheet);
    QTest::keyClick(sheet->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(testsupport::waitFor([&] { return !open || !open->isVisible(); }));

    // Save As: poppler reads its words and draws the mark the original lacks.
    c.saveAsPath = dir.filePath("Kept.pdf");
    QApplication::setActiveWindow(window);
    key(window, "Ctrl+Shift+S");
    ASSERT_TRUE(testsupport::waitFor([&] { return QFile::exists(c.saveAsPath) && !window->isDocumentEdited(); }));
    EXPECT_TRUE(c.lossQuestions.empty() && c.failures.empty() && c.saveAsOffers.empty());
    EXPECT_EQ(readFile(path), repaired);
    EXPECT_TRUE(testsupport::runProgram("pdftotext", {c.saveAsPath, "-"}).contains("kept words"));
    EXPECT_GT(testsupport::meanDifference(testsupport::popplerPage(c.saveAsPath, 0), testsupport::popplerPage(path, 0)),
              0);
    EXPECT_EQ(platform::PdfAnnotations::list(*pdfOf(*QuarnDocument::open(c.saveAsPath)), 0).size(), 1u);
}
