// Every writer of a path the user chose (Save As, print to a file, export,
// extract pages) writes as a save does: through the user's own links, never
// through another user's link in a shared folder, keeping the mode of the
// file it replaces and giving a new file the usual mode.
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Pages/PageEdits.h"
#include "QuarnKit/Viewer/PrintLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using quarnkit::DocumentError;
using quarnkit::QuarnDocument;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr uid_t kStranger = 4242;

// A writer of a chosen path: the sentence the user is told when it fails,
// empty when it wrote.
struct Writer {
    const char* name;
    std::function<QString(QuarnDocument&, const QString& path)> write;
};

std::vector<Writer> writers()
{
    return {
        {"Save As",
         [](QuarnDocument& document, const QString& path) {
             try {
                 quarnkit::writeDocumentFile(*pdfOf(document), path);
             } catch (const DocumentError& error) {
                 return QString::fromUtf8(DocumentError::message(error.code()));
             }
             return QString();
         }},
        {"Print to a file",
         [](QuarnDocument& document, const QString& path) {
             const quarnkit::PrintOutcome printed = quarnkit::printingJob(document, {0}, QSizeF(612, 792), path)();
             return printed ? QString() : printed.reason + QStringLiteral(" (not printed)");
         }},
        {"Export",
         [](QuarnDocument& document, const QString& path) {
             try {
                 quarnkit::Exporter::writeFile(document.snapshot(), path);
             } catch (const quarnkit::ExportError& error) {
                 return error.message();
             }
             return QString();
         }},
        {"Extract pages",
         [](QuarnDocument& document, const QString& path) {
             try {
                 if (!quarnkit::PageEdits::extractInto(document, {0}, path)()) return QStringLiteral("not extracted");
             } catch (const std::exception& error) {
                 return quarnkit::Exporter::saveFailureReason(error);
             }
             return QString();
         }},
    };
}

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

// In a sticky folder all may write to, as /tmp, another user aims a link at
// a file of the user's: every writer refuses it with the same sentence and
// leaves the file as it was. The user's own link there leads every writer on
// to the file it names, which is replaced.
TEST(ChosenPathWrites, AnotherUsersLinkInASharedFolderIsRefusedAndTheUsersOwnFollowed)
{
    const QString refusal = QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteForeignLink));
    EXPECT_TRUE(refusal.contains("link another user made"));
    const auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    ASSERT_TRUE(document);
    for (const Writer& writer : writers()) {
        SCOPED_TRACE(writer.name);
        for (const bool strangers : {false, true}) {
            if (strangers && ::geteuid() != 0) continue;
            QTemporaryDir dir;
            const QString target = dir.filePath("home/.bashrc"), shared = dir.filePath("tmp");
            ASSERT_TRUE(writeFile(target, "my settings"));
            ASSERT_TRUE(QDir().mkpath(shared));
            ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
            const QString link = shared + "/report.pdf";
            ASSERT_TRUE(QFile::link(target, link));
            if (strangers) {
                ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), kStranger, kStranger), 0);
            }

            const QString failure = writer.write(*document, link);
            EXPECT_TRUE(QFileInfo(link).isSymLink());
            if (strangers) {
                EXPECT_TRUE(failure.contains(refusal)) << failure.toStdString();
                EXPECT_EQ(readFile(target), "my settings");
            } else {
                EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
                EXPECT_TRUE(readFile(target).startsWith("%PDF"));
            }
        }
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's link needs root to make (lchown): only the user's own links were tried";
}

TEST(ChosenPathWrites, AReplacedFileKeepsItsModeAndANewFileGetsTheUsualOne)
{
    const auto document = QuarnDocument::fromData(testsupport::makeTextPdf(2));
    ASSERT_TRUE(document);
    const mode_t saved = ::umask(022);
    for (const Writer& writer : writers()) {
        SCOPED_TRACE(writer.name);
        QTemporaryDir dir;
        const QString replaced = dir.filePath("private.pdf"), made = dir.filePath("new.pdf");
        ASSERT_TRUE(writeFile(replaced, "old"));
        ASSERT_EQ(::chmod(QFile::encodeName(replaced).constData(), 0600), 0);
        EXPECT_TRUE(writer.write(*document, replaced).isEmpty());
        EXPECT_TRUE(writer.write(*document, made).isEmpty());
        EXPECT_TRUE(readFile(replaced).startsWith("%PDF"));
        EXPECT_EQ(modeOf(replaced), 0600u);
        EXPECT_EQ(modeOf(made), 0644u);
    }
    ::umask(saved);
}
