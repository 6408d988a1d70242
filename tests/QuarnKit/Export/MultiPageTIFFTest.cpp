#include "QuarnKit/Export/MultiPageTIFF.h"

#include "Platform/FileDescriptor.h"
#include "QuarnKit/Export/ExportTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>

using namespace quarnkit;

namespace {

// TIFF bytes written by hand, in either byte order.
struct Tiff {
    bool little = true;
    QByteArray bytes;

    explicit Tiff(bool little = true, int size = 8) : little(little), bytes(size, '\0')
    {
        bytes[0] = bytes[1] = little ? 'I' : 'M';
        put16(2, 42);
        put32(4, 8);
    }
    void grow(int size)
    {
        if (bytes.size() < size) bytes.resize(size, '\0');
    }
    void put16(int at, quint32 v)
    {
        grow(at + 2);
        for (int i = 0; i < 2; ++i) bytes[at + (little ? i : 1 - i)] = char((v >> (8 * i)) & 0xFF);
    }
    void put32(int at, quint64 v)
    {
        grow(at + 4);
        for (int i = 0; i < 4; ++i) bytes[at + (little ? i : 3 - i)] = char((v >> (8 * i)) & 0xFF);
    }
    struct Entry {
        quint16 tag, type;
        quint32 count, value;
    };
    // A directory at `at`; returns the offset of its next-directory field.
    int ifd(int at, const std::vector<Entry>& entries, quint32 next = 0)
    {
        put16(at, quint32(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) {
            const int e = at + 2 + 12 * int(i);
            put16(e, entries[i].tag);
            put16(e + 2, entries[i].type);
            put32(e + 4, entries[i].count);
            if (entries[i].type == 3 && entries[i].count == 1) put16(e + 8, entries[i].value);
            else put32(e + 8, entries[i].value);
        }
        const int link = at + 2 + 12 * int(entries.size());
        put32(link, next);
        return link;
    }
};

quint64 read32(const QByteArray& b, qsizetype at, bool little = true)
{
    quint64 v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | quint8(b[at + (little ? 3 - i : i)]);
    return v;
}

// A real one-pixel grey image whose single strip holds `grey`. The page is
// 123 bytes long: odd, so a page after it needs a padding byte.
Tiff pixelPage(char grey, bool little = true)
{
    Tiff t(little);
    t.ifd(8, {{256, 4, 1, 1},
              {257, 4, 1, 1},
              {258, 3, 1, 8},
              {259, 3, 1, 1},
              {262, 3, 1, 1},
              {273, 4, 1, 122},
              {277, 3, 1, 1},
              {278, 4, 1, 1},
              {279, 4, 1, 1}});
    t.grow(123);
    t.bytes[122] = grey;
    return t;
}

// A new file, written through its descriptor as a save writes.
struct Output {
    QTemporaryDir dir;
    QString path = dir.path() + "/out.tiff";
    platform::FileDescriptor file{
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    MultiPageTIFF writer;
    explicit Output(std::uint64_t limit = MultiPageTIFF::maximumSize) : writer(file.fd, "out.tiff", limit) {}
    QByteArray bytes() const { return testsupport::readFile(path); }
};

ExportError::Kind failureOf(Output& out, const QByteArray& page)
{
    try {
        out.writer.append(page);
    } catch (const ExportError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "the page was accepted";
    return ExportError::Kind::empty;
}

} // namespace

TEST(MultiPageTIFF, OnePageIsCopiedAsItIs)
{
    Output out;
    const Tiff page = pixelPage('\x40');
    out.writer.append(page.bytes);
    out.writer.finish();
    EXPECT_EQ(out.writer.pages(), 1);
    EXPECT_EQ(out.bytes(), page.bytes);
}

TEST(MultiPageTIFF, LaterPagesAreMovedToEvenOffsetsAndChained)
{
    for (bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        Output out;
        out.writer.append(pixelPage('\x10', little).bytes);
        out.writer.append(pixelPage('\x20', little).bytes);
        out.writer.append(pixelPage('\x30', little).bytes);
        out.writer.finish();
        const QByteArray file = out.bytes();
        // Blocks of 115 bytes start at 8, 124 (after one zero byte) and 240.
        ASSERT_EQ(file.size(), 240 + 115);
        EXPECT_EQ(file[123], '\0');
        EXPECT_EQ(read32(file, 8 + 110, little), 124u); // page 1's next directory: page 2's
        EXPECT_EQ(read32(file, 124 + 110, little), 240u);
        EXPECT_EQ(read32(file, 240 + 110, little), 0u);
        // Each strip offset moved with its page, so each page still shows its own pixel.
        const quint64 strips[] = {read32(file, 8 + 2 + 12 * 5 + 8, little), read32(file, 124 + 2 + 12 * 5 + 8, little),
                                  read32(file, 240 + 2 + 12 * 5 + 8, little)};
        EXPECT_EQ(file[qsizetype(strips[0])], '\x10');
        EXPECT_EQ(file[qsizetype(strips[1])], '\x20');
        EXPECT_EQ(file[qsizetype(strips[2])], '\x30');
        const QString info = exporttest::output("tiffinfo", {out.path});
        EXPECT_EQ(info.count("TIFF Directory at offset"), 3) << info.toStdString();
    }
}

TEST(MultiPageTIFF, StripOffsetsMoveInlineAndOutOfLine)
{
    // Three strips: the offsets array lies out of line at 200.
    Tiff three;
    three.ifd(8, {{256, 4, 1, 1}, {273, 4, 3, 200}, {279, 4, 1, 3}});
    three.put32(200, 220);
    three.put32(204, 221);
    three.put32(208, 222);
    three.grow(223);
    Output out;
    out.writer.append(pixelPage('\x01').bytes); // 123 bytes: the next page starts at 124
    out.writer.append(three.bytes);
    const QByteArray file = out.bytes();
    const quint64 delta = 124 - 8;
    const qsizetype ifd = 124;
    EXPECT_EQ(read32(file, ifd + 2 + 12 + 8), 200 + delta);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read32(file, qsizetype(200 + delta) + 4 * i), 220 + i + delta);
    EXPECT_EQ(read32(file, 8 + 2 + 12 * 5 + 8), 122u) << "the first page keeps its inline offset";
}

TEST(MultiPageTIFF, MalformedPagesAreRefusedAndLeaveTheFileAlone)
{
    Output out;
    const QByteArray first = pixelPage('\x7f').bytes;
    out.writer.append(first);

    auto variant = [](auto change) {
        Tiff t = pixelPage('\x01');
        change(t);
        return t.bytes;
    };
    const std::vector<std::pair<const char*, QByteArray>> refused = {
        {"eight bytes", Tiff().bytes},
        {"BigTIFF", variant([](Tiff& t) { t.put16(2, 43); })},
        {"mixed magic", variant([](Tiff& t) { t.bytes[1] = 'M'; })},
        {"other byte order", pixelPage('\x01', false).bytes},
        {"directory below 8", variant([](Tiff& t) { t.put32(4, 4); })},
        {"directory past the end", variant([](Tiff& t) { t.put32(4, 0xFFFFFFF0u); })},
        {"entry count past the end", variant([](Tiff& t) { t.put16(8, 4000); })},
        {"type 0", variant([](Tiff& t) { t.put16(8 + 2 + 2, 0); })},
        {"type 14", variant([](Tiff& t) { t.put16(8 + 2 + 2, 14); })},
        {"short strip offsets", variant([](Tiff& t) { t.put16(8 + 2 + 12 * 5 + 2, 3); })},
        {"strip offset past the end", variant([](Tiff& t) { t.put32(8 + 2 + 12 * 5 + 8, 5000); })},
        // Huge counts whose byte totals would wrap a 32-bit sum.
        {"values past the end", variant([](Tiff& t) {
             t.ifd(8, {{700, 12, 0x20000001u, 16}});
         })},
    };
    for (const auto& [what, page] : refused) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failureOf(out, page), ExportError::Kind::writeFailed);
        EXPECT_EQ(out.bytes(), first);
    }
    EXPECT_EQ(out.writer.pages(), 1);
}

TEST(MultiPageTIFF, SubDirectoryLoopsAndTooManyDirectoriesAreRefused)
{
    Output out;
    Tiff loop;
    loop.ifd(8, {{34665, 4, 1, 8}}); // the Exif directory is the page's own first directory
    EXPECT_EQ(failureOf(out, loop.bytes), ExportError::Kind::writeFailed);

    // The first directory and 64 sub-directories: 65 in all, one too many.
    auto pageWithSubDirectories = [](int count) {
        Tiff t;
        const int table = 100, first = 400;
        t.ifd(8, {{330, 4, quint32(count), quint32(count == 1 ? first : table)}});
        for (int i = 0; i < count; ++i) {
            if (count > 1) t.put32(table + 4 * i, first + 6 * i);
            t.ifd(first + 6 * i, {});
        }
        return t.bytes;
    };
    EXPECT_EQ(failureOf(out, pageWithSubDirectories(64)), ExportError::Kind::writeFailed);
    out.writer.append(pageWithSubDirectories(63));
    EXPECT_EQ(out.writer.pages(), 1);

    // A chain of sub-directories is followed, and its links moved.
    Tiff chain;
    chain.ifd(8, {{330, 13, 1, 100}});
    chain.ifd(100, {}, 120);
    chain.ifd(120, {});
    out.writer.append(chain.bytes);
    const QByteArray file = out.bytes();
    const qsizetype start = file.size() - (chain.bytes.size() - 8);
    const quint64 delta = quint64(start - 8);
    EXPECT_EQ(read32(file, start + 2 + 8), 100 + delta);
    EXPECT_EQ(read32(file, qsizetype(100 + delta) + 2), 120 + delta);
}

TEST(MultiPageTIFF, TheSizeLimitIsInclusive)
{
    const QByteArray page = pixelPage('\x01').bytes; // 123 bytes: the file is 123 bytes long
    {
        Output exact(123);
        exact.writer.append(page);
        EXPECT_EQ(exact.writer.pages(), 1);
    }
    Output over(122);
    try {
        over.writer.append(page);
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_EQ(error, ExportError::cannotWrite("out.tiff", MultiPageTIFF::tooLargeReason()));
    }
    EXPECT_TRUE(over.bytes().isEmpty());
}

TEST(MultiPageTIFF, FinishingWithoutPagesIsEmptyAndUnwritableFilesAreNamed)
{
    Output out;
    try {
        out.writer.finish();
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::empty);
    }
    // A file the page cannot be written to.
    const platform::FileDescriptor readOnly(::open(QFile::encodeName(out.path).constData(), O_RDONLY | O_CLOEXEC));
    MultiPageTIFF writer(readOnly.fd, "Scan.tiff", MultiPageTIFF::maximumSize);
    try {
        writer.append(pixelPage('\x01').bytes);
        FAIL();
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::cannotWrite);
        EXPECT_EQ(error.name(), "Scan.tiff");
    }
}
