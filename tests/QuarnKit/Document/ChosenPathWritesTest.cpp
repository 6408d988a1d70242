// Every writer of a path the user chose writes as a save does (the rules
// themselves, case by case, are FileReplacement's).
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Viewer/PrintLayout.h"
#include "support/ExportSupport.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include "Platform/PdfAnnotations.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <map>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr uid_t kStranger = 4242;

// The sentence the user is told when `write` fails; empty when it wrote.
QString failureOf(const std::function<void()>& write)
{
    try {
        write();
    } catch (const DocumentError& error) {
        return error.sentence();
    } catch (const quarnkit::ExportError& error) {
        return error.message();
    } catch (const std::exception& error) {
        return quarnkit::Exporter::saveFailureReason(error);
    }
    return {};
}

// What another user does between the question and the write; none by default.
std::function<void()> meanwhile;
// The question's value, then what happens meanwhile: the write's to carry.
template <typename Value>
Value asked(Value value)
{
    if (meanwhile) meanwhile();
    return value;
}

// The document exported as the window exports it: from its snapshot, every page.
QString exportAs(QuarnDocument& d, quarnkit::ExportFormat format, const QString& path, std::vector<int> pages = {})
{
    return failureOf([&] {
        quarnkit::ExportSettings settings;
        settings.format = format;
        settings.dpi = 36;
        for (int page = 0; page < d.pageCount(); ++page) settings.pages.push_back(page);
        if (!pages.empty()) settings.pages = pages;
        const QByteArray snapshot = quarnkit::ExportSnapshot::data(*pdfOf(d), format);
        if (snapshot.isEmpty()) throw quarnkit::ExportError(quarnkit::ExportError::Kind::unreadable);
        quarnkit::ExportJob::run(settings, snapshot, asked(testsupport::chosenDestination(settings, path)), {});
    });
}

// Each writer of a chosen path, with what it tells the user.
using Writer = std::function<QString(QuarnDocument&, const QString& path)>;
const auto yes = [](const QString&, const QString&) { return true; };
const std::pair<const char*, Writer> writers[] = {
    {"Save As",
     [](QuarnDocument& d, const QString& path) {
         return failureOf([&] { quarnkit::writeDocumentFile(*pdfOf(d), asked(*quarnkit::chooseFile(path, yes))); });
     }},
    {"Print to a file",
     [](QuarnDocument& d, const QString& path) {
         QString problem;
         const auto file = quarnkit::choosePrintFile(path, yes, &problem);
         if (!file) return problem + QStringLiteral(" (not printed)");
         const quarnkit::PrintOutcome printed = quarnkit::printingJob(d, {0}, QSizeF(612, 792), asked(*file))();
         return printed ? QString() : printed.reason + QStringLiteral(" (not printed)");
     }},
    {"Export",
     [](QuarnDocument& d, const QString& path) {
         return failureOf(
             [&] { quarnkit::Exporter::writeFile(d.snapshot(), asked(*quarnkit::Exporter::chooseFile(path, yes))); });
     }},
    {"Extract pages",
     [](QuarnDocument& d, const QString& path) {
         return failureOf([&] {
             if (!quarnkit::PageEdits::extractInto(d, {0}, asked(*quarnkit::Exporter::chooseFile(path, yes)))())
                 throw std::runtime_error("not extracted");
         });
     }},
    {"Export PDF",
     [](QuarnDocument& d, const QString& path) { return exportAs(d, quarnkit::ExportFormat::pdf, path); }},
    {"Export Flattened PDF",
     [](QuarnDocument& d, const QString& path) { return exportAs(d, quarnkit::ExportFormat::flattenedPDF, path); }},
    {"Export Smaller PDF",
     [](QuarnDocument& d, const QString& path) { return exportAs(d, quarnkit::ExportFormat::smallerPDF, path); }},
    {"Export text",
     [](QuarnDocument& d, const QString& path) { return exportAs(d, quarnkit::ExportFormat::text, path); }},
    {"Export a PNG",
     [](QuarnDocument& d, const QString& path) { return exportAs(d, quarnkit::ExportFormat::png, path, {0}); }},
    {"Export a multi-page TIFF",
     [](QuarnDocument& d, const QString& path) {
         return exportAs(d, quarnkit::ExportFormat::tiff, path, {0, 1});
     }},
};

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

// In a sticky folder all may write to, as /tmp, the user's own link leads
// every writer on to the private file it names, which is replaced and stays
// private; another user's link there, or in a folder of theirs, is refused
// with one sentence that names it, and the file it names stays as it was,
// as is another user's file there that others may write, and a second name
// another user gave the user's own link. A new file gets the usual mode.
TEST(ChosenPathWrites, EveryWriterFollowsOnlyTheUsersLinksAndKeepsTheModes)
{
    const QString refusal = "report.pdf is a link another person made or could have put there, which leads to %1; "
                            "ravlen doesn't save through it.";
    const QString plantedRefusal =
        "planted.pdf is another person's file in a folder others can write to; ravlen doesn't save into it.";
    const auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    ASSERT_TRUE(document);
    const bool root = ::geteuid() == 0;
    const mode_t saved = ::umask(022);
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString mine = dir.filePath("home/mine.pdf"), settings = dir.filePath("home/.bashrc");
        const QString shared = dir.filePath("tmp");
        ASSERT_TRUE(writeFile(mine, "old") && writeFile(settings, "my settings") && QDir().mkpath(shared));
        ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0600), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        ASSERT_TRUE(QFile::link(mine, shared + "/mine.pdf") && QFile::link(settings, shared + "/report.pdf"));

        EXPECT_EQ(write(*document, shared + "/mine.pdf"), QString());
        EXPECT_NE(readFile(mine), "old");
        EXPECT_EQ(modeOf(mine), 0600u);
        EXPECT_TRUE(QFileInfo(shared + "/mine.pdf").isSymLink());
        EXPECT_EQ(write(*document, dir.filePath("new.pdf")), QString());
        EXPECT_EQ(modeOf(dir.filePath("new.pdf")), 0644u);
        if (!root) continue; // only root can give a link away
        ASSERT_EQ(::lchown(QFile::encodeName(shared + "/report.pdf").constData(), kStranger, kStranger), 0);
        const QString failure = write(*document, shared + "/report.pdf");
        EXPECT_TRUE(failure.contains(refusal.arg(settings))) << failure.toStdString();
        EXPECT_EQ(readFile(settings), "my settings");
        // The same link in a folder of that user's, which the user cannot write.
        const QString theirs = dir.filePath("theirs");
        ASSERT_TRUE(QDir().mkpath(theirs) && QFile::link(settings, theirs + "/report.pdf"));
        ASSERT_EQ(::lchown(QFile::encodeName(theirs + "/report.pdf").constData(), kStranger, kStranger), 0);
        ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kStranger, kStranger), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), 0755), 0);
        const QString theirFailure = write(*document, theirs + "/report.pdf");
        EXPECT_TRUE(theirFailure.contains(refusal.arg(settings))) << theirFailure.toStdString();
        EXPECT_EQ(readFile(settings), "my settings");
        // A second name they gave the user's own link (ln -P, where the
        // kernel lets them) is theirs too.
        const QByteArray before = readFile(mine);
        ASSERT_EQ(::link(QFile::encodeName(shared + "/mine.pdf").constData(),
                         QFile::encodeName(theirs + "/second.pdf").constData()),
                  0);
        const QString secondFailure = write(*document, theirs + "/second.pdf");
        EXPECT_TRUE(secondFailure.contains(QStringLiteral("second.pdf is a link another person made or could have put "
                                                          "there, which leads to %1; ravlen doesn't save through it.")
                                               .arg(mine)))
            << secondFailure.toStdString();
        EXPECT_EQ(readFile(mine), before);
        // A file another user left there for others to fill stays theirs and empty of the document.
        const QString planted = shared + "/planted.pdf";
        ASSERT_TRUE(writeFile(planted, "bait", QFileDevice::Permissions(0x6666)));
        ASSERT_EQ(::chown(QFile::encodeName(planted).constData(), kStranger, kStranger), 0);
        const QString plantedFailure = write(*document, planted);
        EXPECT_TRUE(plantedFailure.contains(plantedRefusal)) << plantedFailure.toStdString();
        EXPECT_EQ(readFile(planted), "bait");
    }
    ::umask(saved);
    if (!root) GTEST_SKIP() << "another user's link needs root to make (lchown): only the user's own links were tried";
}

// A link is followed only where no other user could have put it at that
// name. In the user's team folder (setgid, its group may write, not sticky)
// another member moves the user's own link to a private file onto the name
// the user saves to (mv -f latest report.pdf), or gives it a second name
// there (ln -P, where the kernel lets them); or the user's link is moved into
// another user's own folder. Save, Overwrite (of the file the question saw
// there), Save As and every export refuse, naming the link and where it
// leads, and the private file stays as it was. The user's own link in a
// folder only they may write still leads every writer on (Save asks first:
// another file is at the name), and the user's own file in the team folder
// is saved. The user is nobody, in a child; the other user's moves are made
// before it writes.
TEST(ChosenPathWrites, EveryWriterFollowsALinkOnlyWhereNoOtherUserCouldHavePutIt)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "a second user and their moves need root to make";
    enum class Put { movedLink, secondName, nothing };
    enum class Outcome { refused, followed, written };
    const struct {
        const char* name;
        Put put;
        uid_t folderOwner;
        gid_t folderGroup;
        mode_t folderMode;
        Outcome outcome;
    } cases[] = {
        {"the user's own link, moved in the user's team folder", Put::movedLink, kUser, kOtherUser, 02775,
         Outcome::refused},
        {"the user's own link, moved into another user's folder", Put::movedLink, kOtherUser, kOtherUser, 0755,
         Outcome::refused},
        {"a second name of the user's own link, in the user's team folder", Put::secondName, kUser, kOtherUser, 02775,
         Outcome::refused},
        {"the user's own link, in the user's own folder", Put::movedLink, kUser, kUser, 0755, Outcome::followed},
        {"the user's own file, in the user's team folder", Put::nothing, kUser, kOtherUser, 02775, Outcome::written},
    };
    const auto own = [](const QString& path, uid_t user, gid_t group, mode_t mode) {
        const QByteArray native = QFile::encodeName(path);
        return ::lchown(native.constData(), user, group) == 0 && (mode == 0 || ::chmod(native.constData(), mode) == 0);
    };
    // Save and Overwrite beside the writers of a new file.
    std::vector<std::pair<const char*, Writer>> all = {
        {"Save",
         [](QuarnDocument& d, const QString& path) {
             return failureOf([&] { quarnkit::writeDocumentFile(*pdfOf(d), quarnkit::documentFile(d, path)); });
         }},
        {"Overwrite",
         [](QuarnDocument& d, const QString& path) {
             // The file the question about another program's change saw there.
             struct stat seen = {};
             ::stat(QFile::encodeName(path).constData(), &seen);
             return failureOf([&] {
                 quarnkit::writeDocumentFile(
                     *pdfOf(d), quarnkit::documentFile(d, path, quarnkit::FileKey(seen.st_dev, seen.st_ino)));
             });
         }},
    };
    for (const auto& writer : writers) all.push_back(writer);
    const QString replacedSentence =
        QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteFileReplaced));
    for (const auto& c : cases) {
        for (const auto& [writerName, write] : all) {
            SCOPED_TRACE(std::string(c.name) + ", " + writerName);
            QTemporaryDir dir;
            const QString home = dir.filePath("home"), notes = home + "/private/notes.pdf";
            const QString folder = dir.filePath("folder"), named = folder + "/report.pdf";
            ASSERT_TRUE(QDir().mkpath(home + "/private") && QDir().mkpath(folder));
            ASSERT_TRUE(writeFile(notes, "private notes") && writeFile(named, testsupport::makeTextPdf(2)));
            ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
            ASSERT_TRUE(own(home, kUser, kUser, 0755) && own(home + "/private", kUser, kUser, 0700)
                        && own(notes, kUser, kUser, 0600) && own(named, kUser, kUser, 0644));
            ASSERT_TRUE(own(folder, c.folderOwner, c.folderGroup, c.folderMode));
            // The window's document, opened before the other user moves anything.
            const auto document = QuarnDocument::open(named);
            ASSERT_TRUE(document);
            // The user's link, as the user made it, and the other user's move.
            const QString made = c.put == Put::secondName ? home + "/latest" : folder + "/latest";
            if (c.put != Put::nothing) {
                ASSERT_TRUE(QFile::link(notes, made) && own(made, kUser, kUser, 0));
                if (c.put == Put::movedLink) {
                    ASSERT_EQ(::rename(QFile::encodeName(made).constData(), QFile::encodeName(named).constData()), 0);
                } else {
                    const QString second = folder + "/.second";
                    ASSERT_EQ(::link(QFile::encodeName(made).constData(), QFile::encodeName(second).constData()), 0);
                    ASSERT_EQ(::rename(QFile::encodeName(second).constData(), QFile::encodeName(named).constData()), 0);
                }
            }

            QString failure;
            EXPECT_TRUE(testsupport::asUser(kUser, [&] {
                failure = write(*document, named);
                const QByteArray wrote = readFile(c.outcome == Outcome::followed ? notes : named);
                switch (c.outcome) {
                case Outcome::refused:
                    EXPECT_TRUE(failure.contains("report.pdf is a link another person made or could have put there, "
                                                 "which leads to "
                                                 + notes + "; ravlen doesn't save through it."))
                        << failure.toStdString();
                    break;
                case Outcome::followed:
                    if (QString(writerName) == "Save") {
                        EXPECT_TRUE(failure.contains(replacedSentence)) << failure.toStdString();
                        break;
                    }
                    [[fallthrough]];
                case Outcome::written:
                    EXPECT_EQ(failure, QString());
                    EXPECT_TRUE(!wrote.isEmpty() && !wrote.startsWith("private")) << wrote.left(16).toStdString();
                    break;
                }
            }));
            if (c.outcome == Outcome::refused || QString(writerName) == "Save") {
                EXPECT_EQ(readFile(notes), "private notes");
            }
            if (c.put != Put::nothing) {
                EXPECT_TRUE(QFileInfo(named).isSymLink());
            }
        }
    }
}

// Every writer writes what its question saw, or nothing. Between the
// question and the write another user of the user's team folder (setgid,
// its group may write, not sticky) moves the user's own link to a private
// file onto the name, or exchanges two of the user's folders there (no
// write permission on them needed), or moves that link from the team folder
// into a sticky folder under the name a new file was asked for; or the
// owner of a sticky folder (who may rename any entry in it) moves it onto
// the user's file there. Each writer refuses, and the private file and the
// files the question saw stay as they were. The user is nobody, in a child.
TEST(ChosenPathWrites, EveryWriterRefusesWhatItsQuestionDidNotSee)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "a second user and their moves need root to make";
    const struct {
        const char* name;
        const char* chosen; // in the place; a file there but for a new name
        uid_t placeOwner;
        gid_t placeGroup;
        mode_t placeMode;
        bool exchange; // the folders a and b, else the link moved onto the name
    } cases[] = {
        {"a link moved in after the question", "report.pdf", kUser, kOtherUser, 02775, false},
        {"two folders exchanged after the question", "a/thesis.pdf", kUser, kOtherUser, 02775, true},
        {"a link moved from a team folder into a sticky folder", "memo.pdf", 0, 0, 01777, false},
        {"a link moved in by the sticky folder's owner", "report.pdf", kOtherUser, kOtherUser, 01777, false},
    };
    std::vector<std::pair<const char*, Writer>> all(std::begin(writers), std::end(writers));
    all.emplace_back("Save", [](QuarnDocument& d, const QString& path) {
        return failureOf([&] { quarnkit::writeDocumentFile(*pdfOf(d), asked(quarnkit::documentFile(d, path))); });
    });
    const auto own = [](const QString& path, uid_t user, gid_t group, mode_t mode) {
        const QByteArray native = QFile::encodeName(path);
        return ::lchown(native.constData(), user, group) == 0 && (mode == 0 || ::chmod(native.constData(), mode) == 0);
    };
    for (const auto& c : cases) {
        for (const auto& [writerName, write] : all) {
            SCOPED_TRACE(std::string(c.name) + ", " + writerName);
            const bool save = QString(writerName) == "Save";
            if (save && QString(c.chosen) == "memo.pdf") continue; // Save writes a file that is there
            QTemporaryDir dir;
            const QString home = dir.filePath("home"), notes = home + "/private/notes.pdf";
            const QString team = dir.filePath("team"), place = dir.filePath("place"), chosen = place + '/' + c.chosen;
            ASSERT_TRUE(QDir().mkpath(home + "/private") && QDir().mkpath(team) && QDir().mkpath(place + "/a")
                        && QDir().mkpath(place + "/b"));
            const QStringList files = {place + "/report.pdf", place + "/a/thesis.pdf", place + "/b/thesis.pdf"};
            for (const QString& file : files) {
                ASSERT_TRUE(writeFile(file, testsupport::makeTextPdf(2, QFileInfo(file).dir().dirName().toStdString()))
                            && own(file, kUser, kUser, 0644));
            }
            ASSERT_TRUE(writeFile(notes, "private notes"));
            ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
            ASSERT_TRUE(own(home, kUser, kUser, 0755) && own(home + "/private", kUser, kUser, 0700)
                        && own(notes, kUser, kUser, 0600) && own(team, kUser, kOtherUser, 02775)
                        && own(place + "/a", kUser, kUser, 0755) && own(place + "/b", kUser, kUser, 0755)
                        && own(place, c.placeOwner, c.placeGroup, c.placeMode));
            // The user's link in their team folder, where the other user may move it.
            ASSERT_TRUE(QFile::link(notes, team + "/latest") && own(team + "/latest", kUser, kUser, 0));
            std::map<QString, QByteArray> before;
            for (const QString& file : files) before[file] = readFile(file);
            const QString opened =
                save ? chosen : testsupport::writeFile(dir, "document.pdf", testsupport::makeTextPdf(2));
            const auto document = QuarnDocument::open(opened);
            ASSERT_TRUE(document);
            meanwhile = [&] {
                testsupport::asRoot([&] {
                    const QByteArray from = QFile::encodeName(c.exchange ? place + "/a" : team + "/latest");
                    const QByteArray to = QFile::encodeName(c.exchange ? place + "/b" : chosen);
                    EXPECT_EQ(::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                                          c.exchange ? RENAME_EXCHANGE : 0),
                              0);
                });
            };
            EXPECT_TRUE(testsupport::asUser(kUser, [&] { EXPECT_FALSE(write(*document, chosen).isEmpty()); }));
            meanwhile = {};
            EXPECT_EQ(readFile(notes), "private notes");
            // What the question saw stays as it was (where another user's move put it).
            for (const QString& file : files) {
                if (!c.exchange && file == chosen) continue;
                const QString now =
                    c.exchange ? QString(file).replace("/a/", "/x/").replace("/b/", "/a/").replace("/x/", "/b/") : file;
                EXPECT_EQ(readFile(now), before[file]) << now.toStdString();
            }
        }
    }
}

// Every writer reads back what it wrote before it replaces anything. A file
// whose font is named longer than the engine keeps is written only where
// its own bytes can carry the name (a save writes the change as an update
// of them), or where no name is written (images); every writer that would
// write the document anew refuses with one sentence, and writes nothing:
// never a copy whose text other readers lose.
TEST(ChosenPathWrites, EveryWriterReadsBackWhatItWroteAndNeverCutsAName)
{
    const QString namesSentence = QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteNamesTooLong));
    for (const bool inPage : {false, true}) {
        for (const auto& [name, write] : writers) {
            SCOPED_TRACE(std::string(name) + (inPage ? ", the page names the font" : ", shared resources name it"));
            QTemporaryDir dir;
            const auto document = QuarnDocument::fromData(testsupport::longFontNamePdf("Long name", inPage));
            ASSERT_TRUE(document);
            // A mark on the page: its page holds the name when `inPage`.
            platform::PdfAnnotation square;
            square.subtype = "Square";
            square.rect = {200, 20, 60, 60};
            square.color = platform::PdfColor{1, 0, 0};
            ASSERT_GT(platform::PdfAnnotations::add(*pdfOf(*document), 0, square), 0);
            const QString path = dir.filePath("written.pdf");
            const QString failure = write(*document, path);
            const bool images = QString(name).contains(QRegularExpression("TIFF|PNG|text"));
            if (images) {
                EXPECT_EQ(failure, QString());
                continue;
            }
            // A save's own bytes (Save As; the document's bytes as Share writes them).
            const bool savesBytes = QString(name) == "Save As" || QString(name) == "Export";
            if (savesBytes && !inPage) {
                EXPECT_EQ(failure, QString());
                EXPECT_TRUE(testsupport::runProgram("pdftotext", {path, "-"}).contains("Long name"));
                int exitCode = -1;
                const QString check = testsupport::runProgram("qpdf", {"--check", path}, &exitCode);
                EXPECT_EQ(exitCode, 0) << check.toStdString();
                continue;
            }
            EXPECT_TRUE(failure.contains(namesSentence)) << failure.toStdString();
            EXPECT_FALSE(QFile::exists(path));
        }
    }
}
