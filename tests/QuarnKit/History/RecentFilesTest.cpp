#include "QuarnKit/History/PageThumbnail.h"
#include "QuarnKit/History/RecentFiles.h"

#include "Platform/ConfinedDrawing.h"

#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

using namespace quarnkit;
using testsupport::writeFile;

namespace {

// A one-page PDF with a page of the given size and rotation, written by hand.
QByteArray rotatedPage(int width, int height, int rotate)
{
    return testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " "
                                      + std::to_string(height) + "] /Rotate " + std::to_string(rotate) + " >>"});
}

} // namespace

TEST(RecentFiles, SystemListIsReadMostRecentlyUsedFirst)
{
    QTemporaryDir dir;
    const QString xbel = writeFile(dir, "recently-used.xbel", R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel version="1.0" xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks"
      xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info">
  <bookmark href="file:///home/ann/old.pdf" added="2024-01-01T10:00:00Z" modified="2024-01-01T10:00:00Z" visited="2024-01-01T10:00:00Z">
    <info><metadata owner="http://freedesktop.org"><mime:mime-type type="application/pdf"/></metadata></info>
  </bookmark>
  <bookmark href="https://example.org/web.pdf" added="2025-01-01T10:00:00Z" modified="2025-01-01T10:00:00Z"/>
  <bookmark href="file:///home/ann/My%20Report.pdf" added="2024-01-01T10:00:00.123456Z" modified="2024-06-01T08:00:00.654321Z"/>
  <bookmark href="file:///home/ann/notes.txt" added="2024-03-01T10:00:00Z"/>
  <bookmark href="file:///home/ann/undated.pdf"/>
</xbel>
)");
    const std::vector<QUrl> urls = RecentFiles::systemRecents(xbel);
    ASSERT_EQ(urls.size(), 4u);
    EXPECT_EQ(urls[0].toLocalFile(), "/home/ann/My Report.pdf");
    EXPECT_EQ(urls[1].toLocalFile(), "/home/ann/notes.txt");
    EXPECT_EQ(urls[2].toLocalFile(), "/home/ann/old.pdf");
    EXPECT_EQ(urls[3].toLocalFile(), "/home/ann/undated.pdf");

    EXPECT_TRUE(RecentFiles::systemRecents(dir.filePath("missing.xbel")).empty());
    const QString cut =
        writeFile(dir, "cut.xbel", "<xbel><bookmark href=\"file:///a.pdf\" added=\"2024-01-01T10:00:00Z\"/><bookm");
    EXPECT_EQ(RecentFiles::systemRecents(cut), (std::vector<QUrl>{QUrl("file:///a.pdf")}))
        << "what came before the damage";
}

TEST(RecentFiles, VisibleKeepsExistingPdfsOnceInOrder)
{
    std::vector<QUrl> asked;
    const auto exists = [&](const QUrl& url) {
        asked.push_back(url);
        return !url.path().contains("missing");
    };
    const std::vector<QUrl> urls{QUrl("https://example.org/a.pdf"), QUrl("file:///d/notes.txt"),
                                 QUrl("file:///d/Report.PDF"), QUrl("file:///d/./Report.PDF"),
                                 QUrl("file:///d/missing.pdf")};
    EXPECT_EQ(RecentFiles::visible(urls, 50, exists), (std::vector<QUrl>{QUrl("file:///d/Report.PDF")}));
    EXPECT_EQ(asked, (std::vector<QUrl>{QUrl("file:///d/Report.PDF"), QUrl("file:///d/missing.pdf")}));

    asked.clear();
    EXPECT_TRUE(RecentFiles::visible(urls, 0, exists).empty());
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(
        RecentFiles::visible({QUrl("file:///a.pdf"), QUrl("file:///b.pdf"), QUrl("file:///c.pdf")}, 2, exists).size(),
        2u);
}

TEST(RecentFiles, RebuildOrderDropsEveryCopyAndReverses)
{
    const QUrl a("file:///d/a.pdf"), b("file:///d/b.pdf"), c("file:///d/c.pdf");
    EXPECT_EQ(RecentFiles::rebuildOrder(QUrl("file:///d/x/../b.pdf"), {a, b, c, b}), (std::vector<QUrl>{c, a}));
}

TEST(PageThumbnail, FirstPageFitsTheSizeOrSaysWhyNot)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    QTemporaryDir dir;
    const QString rotated = writeFile(dir, "rotated.pdf", rotatedPage(800, 600, 90));
    const auto image = PageThumbnail::firstPage(rotated, QSizeF(400, 400));
    ASSERT_EQ(image.kind, PageThumbnail::Result::Kind::image);
    EXPECT_EQ(image.image.size(), QSize(300, 400));
    EXPECT_EQ(image.image.pixel(150, 200), qRgb(255, 255, 255)) << "drawn on white";

    EXPECT_EQ(PageThumbnail::firstPage(dir.filePath("never-opened.pdf"), QSizeF(0.5, 100)).kind,
              PageThumbnail::Result::Kind::unreadable);
    EXPECT_EQ(PageThumbnail::firstPage(writeFile(dir, "junk.pdf", "not a pdf"), QSizeF(100, 100)).kind,
              PageThumbnail::Result::Kind::unreadable);
    EXPECT_EQ(PageThumbnail::firstPage(writeFile(dir, "flat.pdf", rotatedPage(600, 1, 0)), QSizeF(100, 100)).kind,
              PageThumbnail::Result::Kind::unreadable);
    EXPECT_EQ(PageThumbnail::firstPage(
                  QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf")), QSizeF(100, 100))
                  .kind,
              PageThumbnail::Result::Kind::locked);
    // A page whose content fails half way shows what it drew before.
    const auto damaged = PageThumbnail::firstPage(
        writeFile(dir, "damaged.pdf", testsupport::makeHalfDrawnPagePdf(testsupport::PageFailure::zeroWidthImage)),
        QSizeF(153, 198));
    ASSERT_EQ(damaged.kind, PageThumbnail::Result::Kind::image);
    EXPECT_EQ(damaged.image.pixel(76, 50), qRgb(255, 0, 0));
    EXPECT_EQ(damaged.image.pixel(76, 150), qRgb(255, 255, 255));
}

TEST(PageThumbnail, TheProgramShowsOnlyPixelsTheReaderSentThatFitWhatItAsked)
{
    QTemporaryDir dir;
    const QString pdf = writeFile(dir, "never-opened.pdf", testsupport::makeTextPdf(1, "hello"));
    // Stand-in readers: each says it runs, takes the request, answers with a
    // frame (its length, state, width, height, then RGB pixels: those given,
    // then `black` bytes of zeros) and ends. (The real reader's drawings and
    // its "locked" are in FirstPageFitsTheSizeOrSaysWhyNot.)
    const auto reader = [&](const char* name, const char* frame, int black = 0) {
        const QString path = dir.filePath(name);
        const QByteArray body = QByteArray("#!/bin/sh\nprintf R\nhead -c 5 > /dev/null\nprintf '") + frame
                                + "'\nhead -c " + QByteArray::number(black) + " /dev/zero\n";
        EXPECT_TRUE(testsupport::writeFile(path, body, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        return path.toStdString();
    };
    using Kind = PageThumbnail::Result::Kind;
    const struct {
        const char* what;
        std::string program;
        Kind kind;
    } cases[] = {
        {"a red and a green pixel", reader("two", "\\017\\0\\0\\0\\0\\2\\0\\0\\0\\1\\0\\0\\0\\377\\0\\0\\0\\377\\0"),
         Kind::image},
        {"wider than asked", reader("wide", "\\070\\1\\0\\0\\0\\145\\0\\0\\0\\1\\0\\0\\0", 303), Kind::unreadable},
        {"fewer pixels than it claims", reader("short", "\\014\\0\\0\\0\\0\\2\\0\\0\\0\\1\\0\\0\\0\\377\\0\\0"),
         Kind::unreadable},
        {"no reader: the program never draws it itself", "", Kind::unreadable},
    };
    for (const auto& c : cases) {
        const platform::ConfinedDrawing drawing({c.program});
        const auto result = PageThumbnail::firstPage(pdf, QSizeF(100, 100), drawing);
        EXPECT_EQ(result.kind, c.kind) << c.what;
        if (c.kind == Kind::image) {
            ASSERT_EQ(result.image.size(), QSize(2, 1)) << c.what;
            EXPECT_EQ(result.image.pixel(0, 0), qRgb(255, 0, 0));
            EXPECT_EQ(result.image.pixel(1, 0), qRgb(0, 255, 0));
        }
    }
}

TEST(PageThumbnail, AFileThatCostsTooMuchCostsTheReaderNotTheProgram)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    QTemporaryDir dir;
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const auto cpu = [&](int who) {
        rusage use{};
        ::getrusage(who, &use);
        return seconds(use.ru_utime) + seconds(use.ru_stime);
    };
    platform::ConfinedDrawing::Settings settings{RAVLEN_INDEX_READER};
    settings.timeout = std::chrono::milliseconds(1000);
    platform::ConfinedDrawing drawing(settings);
    const QString path = writeFile(dir, "bomb.pdf", testsupport::makeEndlessPagePdf()); // a page that never ends
    const double before = cpu(RUSAGE_SELF), readersBefore = cpu(RUSAGE_CHILDREN);
    std::atomic<bool> ended{false};
    PageThumbnail::Result result;
    std::thread worker([&] {
        result = PageThumbnail::firstPage(path, QSizeF(200, 200), drawing);
        ended = true;
    });
    // Called off only when the drawing outlives its time limit by far.
    if (!testsupport::waitFor([&] { return bool(ended); }, 10000)) {
        ADD_FAILURE() << "still drawing";
        drawing.abandonAll();
        PageThumbnail::abandonAll(); // were it drawn by the program itself
    }
    worker.join();
    const double own = cpu(RUSAGE_SELF) - before, reader = cpu(RUSAGE_CHILDREN) - readersBefore;
    EXPECT_EQ(result.kind, PageThumbnail::Result::Kind::unreadable);
    EXPECT_GT(reader, own) << "the reader's CPU seconds, against the program's own";
}

TEST(PageThumbnail, AFirstPageBeingDrawnIsAbandonedAtOnce)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    QTemporaryDir dir;
    const QString path = writeFile(dir, "silent.pdf", testsupport::makeSilentPagePdf(1u << 30));
    std::atomic<bool> ended{false};
    std::thread drawing([&] {
        EXPECT_EQ(PageThumbnail::firstPage(path, QSizeF(100, 100)).kind, PageThumbnail::Result::Kind::unreadable);
        ended = true;
    });
    testsupport::waitFor([] { return false; }, 300); // well into its gigabyte of spaces
    ASSERT_FALSE(ended);
    PageThumbnail::abandonAll(); // the gigabyte would take minutes
    EXPECT_TRUE(testsupport::waitFor([&] { return bool(ended); }));
    drawing.join();
}

TEST(ThumbnailCache, StoredThumbnailsFollowTheDesktopLayout)
{
    RAVLEN_SKIP_WITHOUT_CONFINED_READER();
    QTemporaryDir dir;
    const QString pdf = QFile::copy(QString::fromStdString(testsupport::corpusPath("pdflatex-4-pages.pdf")),
                                    dir.filePath("My Paper #1.pdf"))
                            ? dir.filePath("My Paper #1.pdf")
                            : QString();
    ASSERT_FALSE(pdf.isEmpty());
    const QString root = dir.filePath("thumbnails");
    const auto first = PageThumbnail::cachedFirstPage(pdf, 200, root);
    ASSERT_EQ(first.kind, PageThumbnail::Result::Kind::image);
    EXPECT_EQ(std::max(first.image.width(), first.image.height()), 200);

    // Named by the MD5 of the file's URI, in the "large" folder, private.
    const QByteArray uri = ThumbnailCache::fileUri(pdf);
    EXPECT_TRUE(uri.startsWith("file:///") && uri.endsWith("/My%20Paper%20%231.pdf")) << uri.constData();
    const QString stored = root + "/large/" + QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
    ASSERT_TRUE(QFile::exists(stored));
    EXPECT_EQ(QFileInfo(stored).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    EXPECT_EQ(QFileInfo(root + "/large").permissions() & (QFile::ReadOther | QFile::ExeOther), QFile::Permissions());

    // Another program reads the keys the desktop's thumbnailers look for.
    QProcess identify;
    identify.start("identify", {"-format", "%[Thumb::URI] %[Thumb::MTime] %w %h", stored});
    ASSERT_TRUE(identify.waitForFinished(30000));
    const QStringList fields = QString::fromUtf8(identify.readAllStandardOutput()).split(' ');
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[0].toUtf8(), uri);
    EXPECT_EQ(fields[1].toLongLong(), QFileInfo(pdf).lastModified().toSecsSinceEpoch());
    EXPECT_EQ(std::max(fields[2].toInt(), fields[3].toInt()), 256);

    EXPECT_TRUE(ThumbnailCache::cached(root, pdf, ThumbnailCache::Size::large));
    // A changed file is drawn again.
    struct utimbuf times {};
    times.actime = times.modtime = 1600000000;
    ASSERT_EQ(::utime(QFile::encodeName(pdf).constData(), &times), 0);
    EXPECT_FALSE(ThumbnailCache::cached(root, pdf, ThumbnailCache::Size::large));
    EXPECT_EQ(PageThumbnail::cachedFirstPage(pdf, 200, root).kind, PageThumbnail::Result::Kind::image);
    EXPECT_TRUE(ThumbnailCache::cached(root, pdf, ThumbnailCache::Size::large));

    // Locked files are not stored.
    const QString locked = QString::fromStdString(testsupport::corpusPath("libreoffice-writer-password.pdf"));
    EXPECT_EQ(PageThumbnail::cachedFirstPage(locked, 100, root).kind, PageThumbnail::Result::Kind::locked);
    EXPECT_FALSE(QFile::exists(ThumbnailCache::thumbnailPath(root, locked, ThumbnailCache::Size::normal)));
}

// A thumbnail is stored only in folders of the user's own: in a cache
// folder another user made first (as a cache kept under /tmp may be), the
// link they planted at the thumbnail's predictable name does not lead the
// write into a file of the user's, and nothing is stored there. In the
// user's own cache, whatever stood at the name is replaced, never written
// through. The user is nobody, in a child.
TEST(ThumbnailCache, AThumbnailIsStoredOnlyInFoldersOfTheUsersOwn)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    struct Case {
        const char* what;
        uid_t rootOwner; // the cache's thumbnails folder and its size folder
        mode_t rootMode;
        bool linkPlanted; // a link at the thumbnail's name, to a file of the user's
        bool stored;
    };
    const Case cases[] = {
        {"the user's own cache", kUser, 0700, false, true},
        {"the user's own cache, a link of theirs at the name", kUser, 0700, true, true},
        {"another user's cache, open to the user, a link planted at the name", kOtherUser, 0777, true, false},
        {"another user's cache, open to the user", kOtherUser, 0777, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString pdf = dir.filePath("home/Report.pdf"), own = dir.filePath("home/Documents/notes.txt");
        const QString root = dir.filePath("cache/thumbnails");
        ASSERT_TRUE(writeFile(pdf, testsupport::makeTextPdf(1)) && writeFile(own, "my notes"));
        const QString target = ThumbnailCache::thumbnailPath(root, pdf, ThumbnailCache::Size::normal);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(target).path()));
        if (c.linkPlanted) {
            ASSERT_TRUE(QFile::link(own, target));
        }
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        for (const QString& path :
             {dir.filePath("home"), dir.filePath("home/Documents"), pdf, own, dir.filePath("cache")})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kUser, kUser), 0);
        for (const QString& path : {root, QFileInfo(target).path(), target}) {
            ::lchown(QFile::encodeName(path).constData(), c.rootOwner, c.rootOwner);
            if (path != target) ::chmod(QFile::encodeName(path).constData(), c.rootMode);
        }
        QImage image(64, 80, QImage::Format_RGB32);
        image.fill(Qt::red);
        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            EXPECT_EQ(ThumbnailCache::store(root, pdf, image, ThumbnailCache::Size::normal), c.stored);
        }));
        EXPECT_EQ(testsupport::readFile(own), "my notes");
        QFileInfo stored(target);
        EXPECT_EQ(stored.isFile() && !stored.isSymLink() && stored.ownerId() == kUser, c.stored);
        if (c.stored) {
            EXPECT_TRUE(ThumbnailCache::cached(root, pdf, ThumbnailCache::Size::normal));
            EXPECT_EQ(stored.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        }
    }
}
