// Page objects in and out of the page tree, pages grafted from other files,
// copies of pages with their marks and form fields, and pages made from images.
#include "Platform/ImageEncoding.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfForms.h"
#include "Platform/PdfImagePages.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfReadBack.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <functional>

#include <libheif/heif.h>
#include <tiffio.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

using namespace platform;

namespace {

std::shared_ptr<PdfDocument> reopened(const PdfDocument& doc, bool collect = false)
{
    PdfSaveOptions options;
    options.garbageCollect = collect;
    return PdfDocument::openBytes(doc.save(options));
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

// A picture whose left half is red and right half blue.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x) image.setPixel(x, y, qRgb(255, 0, 0));
    return image;
}

// A JPEG of the picture carrying an EXIF orientation (1–8).
QByteArray jpegWithOrientation(const QImage& image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    const char tiff[] = {'M',  'M',  0, 42, 0, 0, 0, 8,                             // big-endian header, IFD at 8
                         0,    1,                                                   // one entry
                         0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, char(orientation), 0, 0, // Orientation, SHORT, 1
                         0,    0,    0, 0};                                         // no next IFD
    QByteArray app1 = QByteArray("Exif\0\0", 6) + QByteArray(tiff, sizeof tiff);
    const int length = app1.size() + 2;
    app1.prepend(char(length & 0xff)).prepend(char(length >> 8)).prepend('\xe1').prepend('\xff');
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 v)
{
    const char bytes[] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

// A PNG whose header claims `width` by `height` pixels, with no real pixels behind it.
QByteArray pngHeaderOnly(quint32 width, quint32 height, const QByteArray& data = QByteArray(64, 'x'))
{
    const QByteArray ihdr = QByteArray("IHDR") + bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\0\0\0", 5);
    const QByteArray idat = QByteArray("IDAT") + data;
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (const QByteArray& chunk : {ihdr, idat, QByteArray("IEND")})
        png += bigEndian(quint32(chunk.size() - 4)) + chunk + bigEndian(crc32(chunk));
    return png;
}

// A PNG written by hand: colour type `type`, `depth` bits a sample, each
// sample (a palette index for type 3) value(x, y, channel); Adam7-interlaced
// when asked, with a data chunk of nothing before the data, or with data past
// the image, as some writers make them.
enum class PngOddity { none, emptyChunk, dataPastTheImage };
QByteArray pngOf(int type, int depth, int w, int h, const std::function<int(int, int, int)>& value,
                 bool interlaced = false, PngOddity oddity = PngOddity::none)
{
    const int channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
    const int passes[8][4] = {{0, 0, 1, 1}, {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                              {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    QByteArray raw;
    for (int k = interlaced ? 1 : 0; k < (interlaced ? 8 : 1); ++k) {
        const auto [x0, y0, dx, dy] = passes[k];
        for (int y = y0; y < h && x0 < w; y += dy) {
            raw += '\0'; // no filter
            quint32 bits = 0;
            int held = 0;
            for (int x = x0; x < w; x += dx)
                for (int c = 0; c < channels; ++c) {
                    bits = (bits << depth) | quint32(value(x, y, c) & ((1 << depth) - 1));
                    for (held += depth; held >= 8; held -= 8) raw += char(bits >> (held - 8));
                }
            if (held > 0) raw += char(bits << (8 - held));
        }
    }
    if (oddity == PngOddity::dataPastTheImage) raw += QByteArray(64, '\0');
    QByteArray palette;
    for (int i = 0; type == 3 && i < (1 << depth); ++i)
        palette += QByteArray(1, char(i * 97)) + char(i * 53 + 40) + char(255 - i * 31);
    const QByteArray header =
        bigEndian(quint32(w)) + bigEndian(quint32(h)) + char(depth) + char(type) + '\0' + '\0' + char(interlaced);
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (const QByteArray& chunk : {"IHDR" + header, palette.isEmpty() ? QByteArray() : "PLTE" + palette,
                                    oddity == PngOddity::emptyChunk ? QByteArray("IDAT") : QByteArray(),
                                    "IDAT" + qCompress(raw, 9).mid(4), QByteArray("IEND")})
        if (!chunk.isEmpty()) png += bigEndian(quint32(chunk.size() - 4)) + chunk + bigEndian(crc32(chunk));
    return png;
}

// How a TIFF stores its picture: 8 or 16 bits a sample, RGB or CMYK, plain
// or deflated behind a horizontal predictor (as ImageMagick and scanners
// store deep pictures, the low bytes varied), or 1 bit a pixel, black where
// the picture is darker than mid-grey, plain or in Group 4 fax coding.
enum class TiffKind { rgb8, rgb16, rgb16Predicted, cmyk16Predicted, bilevel, fax };

// Where the stored pixel (x, y) of a picture `w` by `h` as stored shows
// under TIFF orientation `o`: 2 to 4 mirror, 5 to 8 trade rows for columns.
QPoint shownAt(int o, int x, int y, int w, int h)
{
    switch (o) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {h - 1 - y, x};
    case 7: return {h - 1 - y, w - 1 - x};
    case 8: return {y, w - 1 - x};
    default: return {x, y};
    }
}

// A TIFF written by libtiff that shows `upright` under orientation `o`.
QByteArray tiffOf(const QImage& upright, TiffKind kind = TiffKind::rgb8, int o = 1)
{
    const int w = o >= 5 ? upright.height() : upright.width(), h = o >= 5 ? upright.width() : upright.height();
    const bool oneBit = kind == TiffKind::bilevel || kind == TiffKind::fax, cmyk = kind == TiffKind::cmyk16Predicted;
    const bool deep = kind != TiffKind::rgb8 && !oneBit, predicted = kind == TiffKind::rgb16Predicted || cmyk;
    const int samples = oneBit ? 1 : cmyk ? 4 : 3;
    QTemporaryDir dir;
    TIFF* tif = TIFFOpen(dir.filePath("written.tif").toLocal8Bit().constData(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(o));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(oneBit ? 1 : deep ? 16 : 8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 oneBit ? PHOTOMETRIC_MINISWHITE
                 : cmyk ? PHOTOMETRIC_SEPARATED
                        : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_COMPRESSION,
                 kind == TiffKind::fax ? COMPRESSION_CCITTFAX4
                 : predicted           ? COMPRESSION_ADOBE_DEFLATE
                                       : 1);
    if (predicted) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    std::vector<uint16_t> line(size_t(w) * size_t(samples) + 8);
    auto* bytes = reinterpret_cast<unsigned char*>(line.data());
    for (int y = 0; y < h; ++y) {
        std::fill(line.begin(), line.end(), 0);
        for (int x = 0; x < w; ++x) {
            const QRgb c = upright.pixel(shownAt(o, x, y, w, h));
            if (oneBit && qGray(c) < 128) bytes[x / 8] |= 0x80 >> (x % 8); // 1 is black
            const int rgb[4] = {qRed(c), qGreen(c), qBlue(c), 0};
            for (int k = 0; k < samples && !oneBit; ++k) {
                const int v = cmyk && k < 3 ? 255 - rgb[k] : rgb[k];
                if (deep) line[size_t(x * samples + k)] = uint16_t(v * 256 + (x * 31 + y * 17 + k * 7) % 256);
                else bytes[x * samples + k] = (unsigned char)v;
            }
        }
        TIFFWriteScanline(tif, line.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
    return testsupport::readFile(dir.filePath("written.tif"));
}

std::function<PdfSize(int, int)> pixelsAsPoints()
{
    return [](int w, int h) { return PdfSize{double(w), double(h)}; };
}

QRgb centreOf(const QImage& image, double fx, double fy)
{
    return image.pixel(int(image.width() * fx), int(image.height() * fy));
}

bool reddish(QRgb c) { return qRed(c) > 180 && qBlue(c) < 90; }
bool bluish(QRgb c) { return qBlue(c) > 180 && qRed(c) < 90; }

} // namespace

TEST(PdfPageEditing, ARemovedPageGoesBackAsTheSameObjectAndLooksTheSame)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("pdflatex-4-pages.pdf"));
    const PdfPageId second = pageId(*doc, 1);
    const PdfPageGeometry before = doc->pageGeometry(1);
    removePage(*doc, 1);
    EXPECT_EQ(doc->pageCount(), 3);
    EXPECT_FALSE(pageIndex(*doc, second));
    insertPage(*doc, second, 99); // clamped: after the last page
    EXPECT_EQ(pageIndex(*doc, second), 3);
    EXPECT_EQ(doc->pageGeometry(3).displaySize, before.displaySize);
    EXPECT_THROW(insertPage(*doc, PdfPageId{}, 0), PdfError);
}

TEST(PdfPageEditing, RotationIsWrittenOnThePage)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    const PdfPageId page = pageId(*doc, 1);
    setPageRotation(*doc, page, -90);
    EXPECT_EQ(pageRotation(*doc, page), 270);
    EXPECT_EQ(reopened(*doc)->pageGeometry(1).rotation, 270);
    removePage(*doc, 1);
    EXPECT_THROW(setPageRotation(*doc, page, 90), PdfError);
}

TEST(PdfPageEditing, APageDeletedIsGoneFromCollectedBytesAndCanStillComeBack)
{
    auto doc = PdfDocument::openBytes(testsupport::makeTextPdf(3, "unique words"));
    const PdfPageId second = pageId(*doc, 1);
    removePage(*doc, 1);
    PdfSaveOptions options;
    options.garbageCollect = true;
    options.compress = false;
    const QByteArray saved = doc->save(options);
    EXPECT_FALSE(saved.contains("(Page 2)")) << "the deleted page's text is still in the file";
    EXPECT_TRUE(saved.contains("(Page 3)"));
    insertPage(*doc, second, 1);
    const auto back = reopened(*doc, true);
    ASSERT_EQ(back->pageCount(), 3);
    EXPECT_NE(back->textPage(1).text().find("Page 2"), std::string::npos);
}

TEST(PdfPageEditing, GraftedPagesKeepTheirMarksAndBringNoOtherPagesAlong)
{
    auto source = PdfDocument::openFile(testsupport::corpusPath("annotated_pdf.pdf"));
    const size_t marks = PdfAnnotations::list(*source, 0).size();
    ASSERT_GT(marks, 0u);
    auto target = PdfDocument::openBytes(testsupport::makeTextPdf(2));
    const auto made = graftPages(*target, *source, {0});
    ASSERT_EQ(made.size(), 1u);
    insertPage(*target, made.front(), 1);
    const auto saved = reopened(*target, true);
    EXPECT_EQ(saved->pageCount(), 3);
    EXPECT_EQ(PdfAnnotations::list(*saved, 1).size(), marks);
    // The file writes its marks straight into the page; the copies are objects of their own.
    for (const PdfAnnotation& mark : PdfAnnotations::list(*target, 1)) EXPECT_GT(mark.objectNumber, 0);
    // The source is left as it was.
    EXPECT_EQ(PdfAnnotations::list(*source, 0).size(), marks);
}

// Three pages of 300 by 300 points (the size inherited from the page tree);
// page 1 links to page 3 by /Dest and to page 2 by a GoTo action.
QByteArray linkedPdf()
{
    const auto content = [](int n) {
        const std::string text = "BT /F1 24 Tf 20 200 Td (Page " + std::to_string(n) + ") Tj ET";
        return "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream";
    };
    const std::string page = "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 9 0 R >> >> /Contents ";
    return testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 /MediaBox [0 0 300 300] >>",
        page + "6 0 R /Annots [10 0 R 11 0 R] >>",
        page + "7 0 R >>",
        page + "8 0 R >>",
        content(1),
        content(2),
        content(3),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Annot /Subtype /Link /Rect [0 0 100 100] /Border [0 0 0] /Dest [5 0 R /Fit] /P 3 0 R >>",
        "<< /Type /Annot /Subtype /Link /Rect [100 0 200 100] /Border [0 0 0] /A << /S /GoTo /D [4 0 R /XYZ 0 300 0] "
        ">> >>",
    });
}

std::vector<int> linkTargets(const PdfDocument& doc, int page)
{
    std::vector<int> targets;
    for (const PdfLink& link : doc.links(page))
        if (link.targetPage) targets.push_back(*link.targetPage);
    std::sort(targets.begin(), targets.end());
    return targets;
}

TEST(PdfPageEditing, LinksFollowPagesThatCameAlongAndOthersAreLeftOut)
{
    auto source = PdfDocument::openBytes(linkedPdf());
    ASSERT_EQ(linkTargets(*source, 0), (std::vector<int>{1, 2}));
    // The whole file after a page of the target: the links land on the copies.
    auto whole = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    const auto pages = graftPages(*whole, *source, {0, 1, 2});
    for (size_t k = 0; k < pages.size(); ++k) insertPage(*whole, pages[k], 1 + int(k));
    EXPECT_EQ(linkTargets(*reopened(*whole, true), 1), (std::vector<int>{2, 3}));
    EXPECT_EQ(whole->pageGeometry(2).displaySize, (PdfSize{300, 300})); // the inherited size came along

    // One page alone: its links lead nowhere now and are left out, and the
    // saved file holds nothing of the other pages.
    auto single = PdfDocument::createEmpty();
    insertPage(*single, graftPages(*single, *source, {0}).front(), 0);
    EXPECT_TRUE(linkTargets(*single, 0).empty());
    PdfSaveOptions options;
    options.garbageCollect = true;
    options.compress = false;
    const QByteArray bytes = single->save(options);
    EXPECT_TRUE(bytes.contains("(Page 1)"));
    EXPECT_FALSE(bytes.contains("(Page 2)"));
    EXPECT_FALSE(bytes.contains("(Page 3)"));

    // A copy within the file keeps its links to the file's own pages.
    auto doc = PdfDocument::openBytes(linkedPdf());
    insertPage(*doc, copyPages(*doc, {0}).front(), 3);
    EXPECT_EQ(linkTargets(*reopened(*doc, true), 3), (std::vector<int>{1, 2}));
}

// Three pages; an outline whose entries lead to page 2 each its own way:
// a /Dest, a GoTo action, a named destination, and a closed entry with a
// child on page 3. Page 2 says "SECRET on page two"; links on page 1, the
// /OpenAction and named destinations of both kinds lead there too. Signed
// when `keys` names a folder for the signing key.
QByteArray outlinedPdf(const QString& keys = {})
{
    const std::string page = "<< /Type /Page /Parent 2 0 R ";
    const std::string text = "BT /F1 24 Tf 20 200 Td (SECRET on page two) Tj ET";
    const std::string link = "<< /Type /Annot /Subtype /Link /Rect [0 0 100 100] /Border [0 0 0] ";
    const QByteArray pdf = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /OpenAction [5 0 R /Fit] /Dests << /old [5 0 R /Fit] >> "
        "/Names << /Dests << /Names [(second) [5 0 R /XYZ 0 200 0]] >> >>"
            + std::string(keys.isEmpty() ? "" : " /AcroForm << /Fields [18 0 R] /SigFlags 3 >>") + " >>",
        "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R] /Count 3 /MediaBox [0 0 300 300] >>",
        "<< /Type /Outlines /First 7 0 R /Last 9 0 R /Count 5 >>",
        page + "/Annots [15 0 R 16 0 R 17 0 R" + (keys.isEmpty() ? "" : " 18 0 R") + "] >>",
        page + "/Contents 13 0 R /Resources << /Font << /F1 14 0 R >> >> >>",
        page + ">>",
        "<< /Title (One) /Parent 3 0 R /Next 8 0 R /Dest [4 0 R /Fit] /First 10 0 R /Last 11 0 R /Count 2 >>",
        "<< /Title (Two) /Parent 3 0 R /Prev 7 0 R /Next 9 0 R /Dest [5 0 R /Fit] /First 12 0 R /Last 12 0 R "
        "/Count -1 >>",
        "<< /Title (Three) /Parent 3 0 R /Prev 8 0 R /Dest [6 0 R /Fit] >>",
        "<< /Title (One a) /Parent 7 0 R /Next 11 0 R /A << /S /GoTo /D [5 0 R /XYZ 0 300 0] >> >>",
        "<< /Title (One b) /Parent 7 0 R /Prev 10 0 R /Dest (second) >>",
        "<< /Title (Two a) /Parent 8 0 R /Dest [6 0 R /Fit] >>",
        testsupport::pdfStream("", text),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        link + "/Dest [5 0 R /Fit] >>",
        link + "/A << /S /GoTo /D [5 0 R /XYZ 0 300 0] >> >>",
        link + "/Dest /old >>",
        "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /P 4 0 R /V 19 0 R >>",
        testsupport::unsignedSignature(),
    });
    return keys.isEmpty() ? pdf : testsupport::signPdf(pdf, keys);
}

// The outline depth first: each entry's title and page.
using OutlineRows = std::vector<std::pair<std::string, std::optional<int>>>;
OutlineRows flattened(const std::vector<PdfOutlineItem>& items)
{
    OutlineRows rows;
    std::function<void(const std::vector<PdfOutlineItem>&)> walk = [&](const std::vector<PdfOutlineItem>& level) {
        for (const PdfOutlineItem& item : level) {
            rows.emplace_back(item.title, item.page);
            walk(item.children);
        }
    };
    walk(items);
    return rows;
}

// The outline as MuPDF's own tool lists it (a failure lists nothing): each
// entry's title and page, none where it has no destination.
OutlineRows mutoolOutline(const QString& path, QString* said)
{
    int code = -1;
    *said = testsupport::runProgram("mutool", {"show", path, "outline"}, &code);
    OutlineRows rows;
    if (code != 0) return rows;
    static const QRegularExpression line(QStringLiteral("^\\s*[-+|]\\s+\"(.*)\"\\s+(\\S+)$"));
    static const QRegularExpression page(QStringLiteral("#page=(\\d+)"));
    for (const QString& text : said->split('\n')) {
        const auto m = line.match(text);
        if (!m.hasMatch()) continue;
        const auto p = page.match(m.captured(2));
        rows.emplace_back(m.captured(1).toStdString(),
                          p.hasMatch() ? std::optional<int>(p.captured(1).toInt() - 1) : std::nullopt);
    }
    return rows;
}

// The outline as poppler reads it (pdftohtml's XML): each entry's title and
// page, none where it has no destination.
OutlineRows popplerOutline(const QString& path)
{
    const QString xml = testsupport::runProgram("pdftohtml", {"-xml", "-stdout", "-i", "-q", path});
    OutlineRows rows;
    static const QRegularExpression item(QStringLiteral("<item(?: page=\"(\\d+)\")?>([^<]*)"));
    for (auto it = item.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        rows.emplace_back(m.captured(2).toStdString(),
                          m.captured(1).isEmpty() ? std::nullopt : std::optional<int>(m.captured(1).toInt() - 1));
    }
    return rows;
}

// What is wrong with the outline tree of the file as qpdf reads it, empty
// when nothing: every entry's /Parent is the entry whose /First … /Next chain
// holds it, /Prev mirrors /Next, /Last ends the chain, and /Count is the
// number of entries shown under an open entry (negative for a closed one).
QString outlineTreeFaults(const QString& path)
{
    const QJsonObject objects =
        QJsonDocument::fromJson(testsupport::runProgram("qpdf", {"--json=2", "--json-key=objects", path}).toUtf8())
            .object()
            .value("objects")
            .toObject();
    const auto dict = [&](const QJsonValue& ref) {
        return objects.value("obj:" + ref.toString()).toObject().value("value").toObject();
    };
    const QJsonValue root = objects.value("trailer").toObject().value("value").toObject().value("/Root");
    const QJsonValue outlines = dict(root).value("/Outlines");
    QString faults;
    int walked = 0;
    // The entries shown under `node` when it is open; faults noted on the way.
    std::function<int(const QJsonValue&)> check = [&](const QJsonValue& node) {
        const QJsonObject n = dict(node);
        int shown = 0;
        QJsonValue previous(QJsonValue::Undefined);
        QJsonValue at = n.value("/First");
        for (; !at.isUndefined() && walked < 10000; ++walked) {
            const QJsonObject item = dict(at);
            if (item.value("/Parent") != node) faults += at.toString() + " has another /Parent; ";
            if (item.value("/Prev") != previous) faults += at.toString() + " has a wrong /Prev; ";
            const int under = check(at);
            const int count = item.value("/Count").toInt(0);
            if (std::abs(count) != under) faults += at.toString() + " has a wrong /Count; ";
            shown += 1 + (count > 0 ? under : 0);
            previous = at;
            at = item.value("/Next");
        }
        if (n.value("/Last") != previous) faults += node.toString() + " has a wrong /Last; ";
        return shown;
    };
    const int shown = check(outlines);
    if (std::abs(dict(outlines).value("/Count").toInt(0)) != shown) faults += "the root has a wrong /Count; ";
    return faults;
}

struct OutlineCase {
    std::string name;
    QByteArray pdf;
    int deleted;             // the page taken out
    OutlineRows read;        // the outline after that, in every reader
    QStringList gone;        // what leads to the page or is on it: in no whole-file save while it is out
    bool signedFile = false; // saved by update: the earlier version keeps the page
};

// What a saved file holds: its bytes, and every object qpdf reads from its
// trailer on, streams decoded.
QByteArray heldIn(const QString& path)
{
    return testsupport::readFile(path)
           + testsupport::runProgram("qpdf", {"--qdf", "--object-streams=disable", path, "-"}).toLatin1();
}

// The pages page 1's links lead to, after the page at `deleted` went out.
std::vector<int> linksWithout(std::vector<int> targets, int deleted)
{
    std::erase(targets, deleted);
    for (int& target : targets) target -= target > deleted;
    return targets;
}

// Taking a page out leaves an outline every reader reads whole: the
// entries that led to it lead nowhere (MuPDF refused the whole outline when
// one led to a page out of the tree), the others to their pages' new places,
// and the tree's links stay as they were. Links, named destinations and the
// /OpenAction let go of it too, so that a whole-file save keeps nothing of
// it. Putting the page back gives them all their destinations again, also
// after a save by update read the document again.
TEST(PdfPageEditing, AnOutlineOutlivesItsPagesAndTheirReturn)
{
    QFile mistitled(QString::fromStdString(testsupport::corpusPath("mistitled_outlines_example.pdf")));
    ASSERT_TRUE(mistitled.open(QIODevice::ReadOnly));
    OutlineRows typeset;
    for (const auto& [title, page] : flattened(PdfDocument::openBytes(mistitled.readAll())->outline()))
        typeset.emplace_back(title, !page || *page == 1 ? std::nullopt : std::optional<int>(*page - (*page > 1)));
    mistitled.seek(0);
    QTemporaryDir dir;
    const OutlineRows eachWay{{"One", 0}, {"One a", {}}, {"One b", {}}, {"Two", {}}, {"Two a", 1}, {"Three", 1}};
    const QStringList secret{"SECRET on page two", "/OpenAction", "/old", "(second)"};
    const std::vector<OutlineCase> cases = {
        {"each way to a page", outlinedPdf(), 1, eachWay, secret},
        {"a typeset book", mistitled.readAll(), 1, typeset, {}},
        {"a signed file", outlinedPdf(dir.path()), 1, eachWay, secret, true},
    };
    for (const OutlineCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.pdf.isEmpty());
        auto doc = PdfDocument::openBytes(c.pdf);
        const OutlineRows before = flattened(doc->outline());
        const std::vector<int> links = linkTargets(*doc, 0);
        ASSERT_EQ(before.size(), c.read.size());
        const PdfPageId gone = pageId(*doc, c.deleted);
        removePage(*doc, c.deleted);
        EXPECT_EQ(flattened(doc->outline()), c.read);
        EXPECT_EQ(linkTargets(*doc, 0), linksWithout(links, c.deleted));
        EXPECT_EQ(doc->updateKeepsRemovedPages(), c.signedFile);

        const QString path = dir.filePath(QString::fromStdString(c.name) + ".pdf");
        doc->saveToFile(testsupport::chosen(path.toStdString()));
        QString said;
        EXPECT_EQ(mutoolOutline(path, &said), c.read) << said.toStdString();
        EXPECT_FALSE(said.contains("error")) << said.toStdString();
        EXPECT_EQ(popplerOutline(path), c.read);
        EXPECT_EQ(outlineTreeFaults(path).toStdString(), "");
        int code = -1;
        testsupport::runProgram("qpdf", {"--check", path}, &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(flattened(PdfDocument::openFile(path.toStdString())->outline()), c.read);
        for (const QString& held : c.gone)
            EXPECT_EQ(heldIn(path).contains(held.toLatin1()), c.signedFile) << held.toStdString();

        // Back in its place, the page is where its entries lead again, in the file too.
        insertPage(*doc, gone, c.deleted);
        EXPECT_EQ(flattened(doc->outline()), before);
        EXPECT_EQ(linkTargets(*doc, 0), links);
        EXPECT_FALSE(doc->updateKeepsRemovedPages());
        const QString back = dir.filePath(QString::fromStdString(c.name) + " back.pdf");
        doc->saveToFile(testsupport::chosen(back.toStdString()));
        EXPECT_EQ(mutoolOutline(back, &said), before) << said.toStdString();
        EXPECT_FALSE(said.contains("error")) << said.toStdString();
        EXPECT_EQ(outlineTreeFaults(back).toStdString(), "");
        for (const QString& held : c.gone) EXPECT_TRUE(heldIn(back).contains(held.toLatin1())) << held.toStdString();

        // Moved to the front, as a move takes it out and puts it back: its entries follow it.
        OutlineRows moved = before;
        for (auto& [title, page] : moved)
            if (page) page = *page == c.deleted ? 0 : *page < c.deleted ? *page + 1 : *page;
        removePage(*doc, c.deleted);
        insertPage(*doc, gone, 0);
        EXPECT_EQ(flattened(doc->outline()), moved);

        // Keeping every other page takes it out alike.
        auto kept = PdfDocument::openBytes(c.pdf);
        std::vector<int> others;
        for (int i = 0; i < kept->pageCount(); ++i)
            if (i != c.deleted) others.push_back(i);
        keepPages(*kept, others);
        EXPECT_EQ(flattened(kept->outline()), c.read);
        const QString keptPath = dir.filePath(QString::fromStdString(c.name) + " kept.pdf");
        kept->saveToFile(testsupport::chosen(keptPath.toStdString()));
        EXPECT_EQ(mutoolOutline(keptPath, &said), c.read) << said.toStdString();
        for (const QString& held : c.gone)
            EXPECT_EQ(heldIn(keptPath).contains(held.toLatin1()), c.signedFile) << held.toStdString();
    }
}

// Two pages, the second saying "SECRET on page two", and whatever leads to
// it (`catalog`, `one`, `two` and `trailer` go into the catalog, the pages'
// own dictionaries and the trailer; `more` are objects 8 on).
QByteArray ledToPdf(const std::string& catalog, const std::string& one, const std::string& two,
                    const std::vector<std::string>& more, const std::string& trailer = "")
{
    const std::string page = "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 7 0 R >> >> ";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R " + catalog + " >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 300] >>",
        page + "/Contents 5 0 R " + one + " >>",
        page + "/Contents 6 0 R " + two + " >>",
        testsupport::pdfStream("", "BT /F1 24 Tf 20 200 Td (Words on page one) Tj ET"),
        testsupport::pdfStream("", "BT /F1 24 Tf 20 200 Td (SECRET on page two) Tj ET"),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    objects.insert(objects.end(), more.begin(), more.end());
    return testsupport::writePdf(objects, "1.4", trailer);
}

// A whole-file save keeps nothing of a page out of the tree, whatever leads
// to it: what leads there is let go of while it is out, and what is of that
// page alone (its form fields, its structure elements, its beads) goes with
// it. Putting the page back puts it all back.
TEST(PdfPageEditing, NothingLeadsASaveToAPageOut)
{
    const std::string widget = "<< /Type /Annot /Subtype /Widget /Rect [0 0 100 20] ";
    const std::string link = "<< /Type /Annot /Subtype /Link /Rect [0 0 100 100] /Border [0 0 0] ";
    const std::string goTo = "<< /S /GoTo /D [4 0 R /Fit] >>";
    const struct {
        const char* road;
        QByteArray pdf;
        QStringList gone; // beside the page's words: in no whole-file save while it is out
        QStringList kept; // in every save
    } cases[] = {
        {"a form field's widget",
         ledToPdf("/AcroForm << /Fields [8 0 R] >>", "", "/Annots [8 0 R]",
                  {widget + "/FT /Tx /T (name) /V (Alice) /P 4 0 R >>"}),
         {"(Alice)", "(name)"},
         {}},
        {"a field with a widget on each page",
         ledToPdf("/AcroForm << /Fields [8 0 R] >>", "/Annots [9 0 R]", "/Annots [10 0 R]",
                  {"<< /FT /Tx /T (shared) /V (Bob) /Kids [9 0 R 10 0 R] >>", widget + "/Parent 8 0 R /P 3 0 R >>",
                   widget + "/Parent 8 0 R /MK << /CA (kid two) >> >>"}),
         {"(kid two)"},
         {"(Bob)"}},
        {"structure elements",
         ledToPdf("/StructTreeRoot 8 0 R /MarkInfo << /Marked true >>", "/StructParents 0", "/StructParents 1",
                  {"<< /Type /StructTreeRoot /K [9 0 R 10 0 R 11 0 R] /ParentTree << /Nums [0 [9 0 R 11 0 R] 1 [10 0 "
                   "R 11 0 R]] >> >>",
                   "<< /Type /StructElem /S /P /P 8 0 R /Pg 3 0 R /K 0 /Alt (on page one) >>",
                   "<< /Type /StructElem /S /P /P 8 0 R /Pg 4 0 R /K 0 /Alt (only on page two) >>",
                   "<< /Type /StructElem /S /Sect /P 8 0 R /Pg 4 0 R /K [2 << /Type /MCR /Pg 3 0 R /MCID 1 >>] /Alt "
                   "(on both pages) >>"}),
         {"(only on page two)"},
         {"(on page one)", "(on both pages)", "/MCID 1"}},
        {"a thread bead",
         ledToPdf("/Threads [8 0 R]", "", "/B [9 0 R]",
                  {"<< /Type /Thread /F 9 0 R /I << /Title (Thread two) >> >>",
                   "<< /Type /Bead /T 8 0 R /N 9 0 R /V 9 0 R /P 4 0 R /R [0 0 100 100] >>"}),
         {"(Thread two)"},
         {}},
        {"an article across both pages",
         ledToPdf("/Threads [8 0 R]", "/B [9 0 R]", "/B [10 0 R]",
                  {"<< /Type /Thread /F 10 0 R /I << /Title (Both pages) >> >>",
                   "<< /Type /Bead /T 8 0 R /N 10 0 R /V 10 0 R /P 3 0 R /R [0 0 100 100] >>",
                   "<< /Type /Bead /T 8 0 R /N 9 0 R /V 9 0 R /P 4 0 R /R [0 0 100 100] /Note (bead two) >>"}),
         {"(bead two)"},
         {"(Both pages)"}},
        {"a widget's /AA",
         ledToPdf("/AcroForm << /Fields [8 0 R] >>", "/Annots [8 0 R]", "",
                  {widget + "/FT /Btn /Ff 65536 /T (go) /P 3 0 R /AA << /U " + goTo + " >> >>"}),
         {"/GoTo"},
         {"(go)"}},
        {"an action's /Next",
         ledToPdf("", "/Annots [8 0 R]", "",
                  {link + "/A << /S /URI /URI (https://example.org/) /Next " + goTo + " >> >>"}),
         {"/GoTo"},
         {"(https://example.org/)"}},
        {"a page's /AA", ledToPdf("", "/AA << /O " + goTo + " >>", "", {}), {"/GoTo"}, {}},
        {"an outline entry",
         ledToPdf("/Outlines 8 0 R", "", "",
                  {"<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>",
                   "<< /Title (Entry) /Parent 8 0 R /Dest [4 0 R /Fit] >>"}),
         {"/Dest"},
         {"(Entry)"}},
        {"a link", ledToPdf("", "/Annots [8 0 R]", "", {link + "/A " + goTo + " >>"}), {"/GoTo"}, {}},
        {"the /OpenAction", ledToPdf("/OpenAction [4 0 R /Fit]", "", "", {}), {"/OpenAction"}, {}},
        {"a named destination",
         ledToPdf("/Names << /Dests << /Names [(second) [4 0 R /Fit]] >> >>", "/Annots [8 0 R]", "",
                  {link + "/Dest (second) >>"}),
         {"(second)"},
         {}},
        {"a reply to a note on the page",
         ledToPdf("", "/Annots [8 0 R]", "/Annots [9 0 R]",
                  {"<< /Type /Annot /Subtype /Text /Rect [0 0 20 20] /IRT 9 0 R /Contents (reply) >>",
                   "<< /Type /Annot /Subtype /Text /Rect [0 0 20 20] /P 4 0 R /Contents (note on page two) >>"}),
         {"(note on page two)"},
         {"(reply)"}},
        {"a link on both pages",
         ledToPdf("", "/Annots [8 0 R]", "/Annots [8 0 R]", {link + "/Contents (both) >>"}),
         {},
         {"(both)"}},
        {"a widget on page one that names page two",
         ledToPdf("/AcroForm << /Fields [8 0 R] >>", "/Annots [9 0 R]", "",
                  {"<< /FT /Tx /T (name) /V (Carol) /Kids [9 0 R] >>", widget + "/Parent 8 0 R /P 4 0 R >>"}),
         {},
         {"(Carol)", "/Fields [\n      "}}, // the field listed in its form
        {"the trailer's own /Info",
         ledToPdf("", "", "", {}, " /Info << /Title (Two pages) /Thumb 4 0 R >>"),
         {"/Thumb"},
         {"(Two pages)"}},
    };
    QTemporaryDir dir;
    PdfSaveOptions whole;
    whole.garbageCollect = true;
    const auto saved = [&](const PdfDocument& doc, const QString& name) {
        const QString path = dir.filePath(name);
        doc.saveToFile(testsupport::chosen(path), whole);
        int code = -1;
        testsupport::runProgram("qpdf", {"--check", path}, &code);
        EXPECT_EQ(code, 0);
        return testsupport::runProgram("qpdf", {"--qdf", "--object-streams=disable", path, "-"});
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.road);
        const QStringList gone = c.gone + QStringList{"SECRET on page two"};
        auto doc = PdfDocument::openBytes(c.pdf);
        const PdfPageId two = pageId(*doc, 1);
        removePage(*doc, 1);
        const QString out = saved(*doc, "out.pdf");
        for (const QString& word : gone) EXPECT_FALSE(out.contains(word)) << word.toStdString();
        for (const QString& word : c.kept) EXPECT_TRUE(out.contains(word)) << word.toStdString();
        // Back in, the page is led to again, in the file too.
        insertPage(*doc, two, 1);
        const QString back = saved(*doc, "back.pdf");
        for (const QString& word : gone + c.kept) EXPECT_TRUE(back.contains(word)) << word.toStdString();
        // Out again, and another page too: both let go, and both come back.
        removePage(*doc, 1);
        const PdfPageId one = pageId(*doc, 0);
        insertPage(*doc, createBlankPage(*doc, 100, 100), 1);
        removePage(*doc, 0);
        const QString both = saved(*doc, "both.pdf");
        for (const QString& word : gone) EXPECT_FALSE(both.contains(word)) << word.toStdString();
        EXPECT_FALSE(both.contains("Words on page one"));
        insertPage(*doc, two, 0);
        insertPage(*doc, one, 0);
        const QString again = saved(*doc, "again.pdf");
        for (const QString& word : gone + c.kept) EXPECT_TRUE(again.contains(word)) << word.toStdString();
    }
}

// A walk for what leads to a page out that runs out of memory part way
// takes nothing and is walked again before the save, which keeps nothing of
// the page; while memory stays short, the save is refused naming memory.
TEST(PdfPageEditing, AWalkCutShortIsWalkedAgain)
{
    const QByteArray pdf = ledToPdf("/OpenAction [4 0 R /Fit] /Outlines 8 0 R", "", "",
                                    {"<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>",
                                     "<< /Title (Entry) /Parent 8 0 R /Dest [4 0 R /Fit] >>"});
    QTemporaryDir dir;
    const QString path = dir.filePath("out.pdf");
    PdfSaveOptions whole;
    whole.garbageCollect = true;
    for (const bool staysShort : {true, false}) {
        SCOPED_TRACE(staysShort);
        auto doc = PdfDocument::openBytes(pdf);
        referenceWalkSeams().walksCutShort = staysShort ? 1000 : 1;
        removePage(*doc, 1);
        if (staysShort) {
            try {
                doc->saveToFile(testsupport::chosen(path), whole);
                ADD_FAILURE() << "saved with a walk cut short";
            } catch (const PdfError& error) {
                EXPECT_EQ(error.systemError(), ENOMEM) << error.what();
            }
            EXPECT_FALSE(QFile::exists(path));
        }
        referenceWalkSeams().walksCutShort = 0;
        doc->saveToFile(testsupport::chosen(path), whole);
        EXPECT_FALSE(heldIn(path).contains("SECRET on page two"));
        EXPECT_TRUE(heldIn(path).contains("(Entry)"));
    }
}

// The read-back refuses a whole file holding a page object that its page
// tree does not reach, unless the document's file held it so: read from
// the copy, or from bytes the copy shares with that file.
TEST(PdfPageEditing, AWrittenCopyHoldingAPageOutsideItsTreeIsRefused)
{
    // Object 4 is a page outside the tree, which an outline entry leads to.
    const QByteArray pdf = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Type /Outlines /First 6 0 R /Last 6 0 R /Count 1 >>",
        "<< /Title (Gone) /Parent 5 0 R /Dest [4 0 R /XYZ 0 100 0] >>",
    });
    for (const bool sameBytes : {true, false}) {
        SCOPED_TRACE(sameBytes ? "the file's own bytes" : "read from the copy");
        PdfWriteIntent meant;
        meant.pageCount = 1;
        if (sameBytes) meant.original = {pdf.constData(), std::size_t(pdf.size())};
        else meant.unjudged = {1, 2, 3, 4, 5, 6};
        meant.object = [](int, bool*) { return std::nullopt; };
        meant.holds = [](int, int) { return true; };
        const ReadBackBytes copy{pdf.constData(), std::size_t(pdf.size())};
        EXPECT_NO_THROW(readBack(copy, meant)); // not judged
        meant.pageOutsideTreeAllowed = [](int num) { return num == 4; };
        EXPECT_NO_THROW(readBack(copy, meant));
        meant.pageOutsideTreeAllowed = [](int) { return false; };
        try {
            readBack(copy, meant);
            ADD_FAILURE() << "a page outside the tree was taken";
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::unfaithfulCopy);
            EXPECT_TRUE(std::string(error.what()).find("object 4 is a page") != std::string::npos) << error.what();
        }
    }

    // A road the walk does not take (nested deeper than it looks), and one
    // a page inserted from another file brings along (an action's /Next to
    // its file's other page, beside a page object that file held outside
    // its tree), reach no user: the save is refused, the file it would have
    // made not made.
    std::string action = "<< /S /GoTo /D [4 0 R /Fit] >>";
    auto deep = PdfDocument::openBytes(ledToPdf("/OpenAction " +
                                                    [&] {
                                                        for (int i = 0; i < 80; ++i)
                                                            action = "<< /S /URI /URI (https://example.org/) /Next "
                                                                     + action + " >>";
                                                        return action;
                                                    }(),
                                                "", "", {}));
    removePage(*deep, 1);
    const auto source =
        PdfDocument::openBytes(ledToPdf("", "/Annots [8 0 R]", "",
                                        {"<< /Type /Annot /Subtype /Link /Rect [0 0 9 9] /A << /S /URI "
                                         "/URI (x) /Next << /S /GoTo /D [4 0 R /Fit] >> >> /Stray 9 0 R >>",
                                         "<< /Type /Page >>"}));
    auto grafted = PdfDocument::openBytes(testsupport::makeTextPdf(1));
    insertPage(*grafted, graftPages(*grafted, *source, {0}).front(), 1);
    for (const auto& doc : {deep, grafted}) {
        QTemporaryDir dir;
        PdfSaveOptions whole;
        whole.garbageCollect = true;
        try {
            doc->saveToFile(testsupport::chosen(dir.filePath("out.pdf")), whole);
            ADD_FAILURE() << "a copy holding a page out of its tree was written";
        } catch (const PdfError& error) {
            EXPECT_EQ(error.code(), PdfErrorCode::unfaithfulCopy) << error.what();
        }
        EXPECT_FALSE(QFile::exists(dir.filePath("out.pdf")));
        whole.readBack = false;
        doc->saveToFile(testsupport::chosen(dir.filePath("out.pdf")), whole);
        EXPECT_TRUE(heldIn(dir.filePath("out.pdf")).contains("SECRET on page two"));
    }
}

// Real files' forms leave with their page and come back with it: a form
// file's page deleted (another page beside it), and a form file's page
// inserted into another document and taken out again, as undo does.
TEST(PdfPageEditing, RealFormsLeaveWithTheirPage)
{
    QTemporaryDir dir;
    PdfSaveOptions whole;
    whole.garbageCollect = true;
    const auto saved = [&](const PdfDocument& doc) {
        const QString path = dir.filePath("saved.pdf");
        doc.saveToFile(testsupport::chosen(path), whole);
        return testsupport::runProgram("qpdf", {"--qdf", "--object-streams=disable", path, "-"});
    };
    for (const char* name : {"libreoffice-form.pdf", "pdflatex-forms.pdf"}) {
        SCOPED_TRACE(name);
        const auto form = PdfDocument::openFile(testsupport::corpusPath(name));
        const std::vector<PdfWidget> widgets = PdfForms::widgets(*form, 0);
        ASSERT_FALSE(widgets.empty());
        const QString field = QString::fromStdString("(" + widgets.front().name + ")");
        for (const bool inserted : {false, true}) {
            SCOPED_TRACE(inserted ? "inserted into another document" : "its own page deleted");
            auto doc = inserted ? PdfDocument::openBytes(testsupport::makeTextPdf(1))
                                : PdfDocument::openFile(testsupport::corpusPath(name));
            const PdfPageId page = inserted ? graftPages(*doc, *form, {0}).front() : pageId(*doc, 0);
            if (inserted) insertPage(*doc, page, 1);
            else insertPage(*doc, createBlankPage(*doc, 200, 200), 1);
            const QString in = saved(*doc);
            EXPECT_TRUE(in.contains(field));
            removePage(*doc, inserted ? 1 : 0);
            const QString out = saved(*doc);
            EXPECT_FALSE(out.contains(field));
            EXPECT_FALSE(out.contains("/Widget"));
            EXPECT_EQ(out.count(QRegularExpression("/Type /Page\\b")), 1);
            insertPage(*doc, page, inserted ? 1 : 0);
            EXPECT_TRUE(saved(*doc).contains(field));
            EXPECT_EQ(PdfForms::widgets(*doc, inserted ? 1 : 0).size(), widgets.size());
        }
    }
}

// A file an earlier version wrote, whose entries lead to a page out of the
// tree that still names the tree as its parent: the outline is read whole,
// those entries without a page.
TEST(PdfPageEditing, EntriesLeadingOutOfThePageTreeLeaveTheRestOfTheOutline)
{
    const QByteArray pdf = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
        "<< /Type /Outlines /First 6 0 R /Last 7 0 R /Count 2 >>",
        "<< /Title (Gone) /Parent 5 0 R /Next 7 0 R /Dest [4 0 R /XYZ 0 100 0] >>",
        "<< /Title (Here) /Parent 5 0 R /Prev 6 0 R /Dest [3 0 R /XYZ 0 100 0] >>",
    });
    EXPECT_EQ(flattened(PdfDocument::openBytes(pdf)->outline()), (OutlineRows{{"Gone", {}}, {"Here", 0}}));
}

TEST(PdfPageEditing, ACopiedPagesFieldsAreRenamedAndEditedApart)
{
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const std::vector<PdfWidget> original = PdfForms::widgets(*doc, 0);
    ASSERT_FALSE(original.empty());
    const auto copies = copyPages(*doc, {0});
    ASSERT_EQ(copies.size(), 1u);
    insertPage(*doc, copies.front(), 1);
    const std::vector<PdfWidget> copied = PdfForms::widgets(*doc, 1);
    ASSERT_EQ(copied.size(), original.size());
    const PdfWidget* text = nullptr;
    for (size_t i = 0; i < copied.size(); ++i) {
        EXPECT_NE(copied[i].name, original[i].name);
        EXPECT_NE(copied[i].objectNumber, original[i].objectNumber);
        if (copied[i].kind == PdfWidgetKind::text && !copied[i].readOnly && !text) text = &copied[i];
    }
    ASSERT_TRUE(text);
    ASSERT_TRUE(PdfForms::setText(*doc, 1, text->objectNumber, "only on the copy"));
    const auto saved = reopened(*doc, true);
    for (const PdfWidget& widget : PdfForms::widgets(*saved, 0)) EXPECT_NE(widget.value, "only on the copy");
    bool found = false;
    for (const PdfWidget& widget : PdfForms::widgets(*saved, 1)) found |= widget.value == "only on the copy";
    EXPECT_TRUE(found);
    EXPECT_TRUE(PdfForms::declaresFields(*saved));
}

TEST(PdfPageEditing, PagesCopiedFromAFileInLayersShowAndHideWhatItDoes)
{
    // Every road that copies pages between documents brings the layers their
    // content and marks name, shown or hidden as their file shows them; the
    // target's own layers keep their state. The window (MuPDF, which has
    // drawn the target before) and poppler, after a save, read and draw each
    // copy as its source page, and qpdf finds the file sound.
    const QByteArray layered = testsupport::layeredPdf(), turned = testsupport::layeredPdf(true);
    const QByteArray plain = testsupport::makeTextPdf(2, "Target words");
    const QByteArray other = testsupport::readFile(QString::fromStdString(testsupport::corpusPath("base64image.pdf")));
    // The words of page 1 in each layer, and in none.
    const QStringList inShown{"Visible layer words", "Shown mark words"},
        inHidden{"Hidden layer words", "Hidden form words", "Hidden mark words"}, always{"Always there"};
    enum class Road { insert, duplicate, extract, append };
    const struct {
        const char* what;
        Road road;
        QByteArray target; // none: the source itself (duplicate), a new document (extract)
        QByteArray source;
        std::vector<int> pages;
        QStringList shown, hidden; // words of the copies
        int layers = -1;           // in the saved copy
        bool drawnAlike = true;    // each copy drawn as its source page
    } cases[] = {
        {"inserted into a file without layers",
         Road::insert,
         plain,
         layered,
         {0, 1},
         always + inShown + QStringList{"Second page words"},
         inHidden + QStringList{"Second hidden words"},
         2},
        {"inserted into a file whose layers of those names show the other way",
         Road::insert,
         turned,
         layered,
         {0},
         always + inShown,
         inHidden,
         4},
        {"inserted into a file whose layers show alike",
         Road::insert,
         layered,
         layered,
         {1},
         {"Second page words"},
         {"Second hidden words"},
         2},
        {"turned the other way, inserted into a file without layers",
         Road::insert,
         plain,
         turned,
         {0},
         always + inHidden,
         inShown,
         2},
        {"duplicated", Road::duplicate, {}, layered, {0}, always + inShown, inHidden, 2},
        {"extracted", Road::extract, {}, turned, {1, 0}, always + inHidden, inShown, 2},
        // Appended pages leave their marks behind.
        {"appended",
         Road::append,
         plain,
         layered,
         {0, 1},
         always + QStringList{"Visible layer words", "Second page words"},
         inHidden + QStringList{"Second hidden words"},
         2,
         false},
        {"a file made by another program, its notes in a layer", Road::insert, plain, other, {0}, {}, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.source.isEmpty());
        QTemporaryDir dir;
        const QString sourcePath = write(dir, "source.pdf", c.source);
        const auto source = PdfDocument::openBytes(c.source);
        std::shared_ptr<PdfDocument> target = c.road == Road::duplicate ? PdfDocument::openBytes(c.source)
                                              : c.road == Road::extract ? PdfDocument::createEmpty()
                                                                        : PdfDocument::openBytes(c.target);
        const int own = target->pageCount();
        const QString targetPath = write(dir, "target.pdf", target->save());
        if (own > 0) target->render(0, 0.25); // the window has read which layers show
        switch (c.road) {
        case Road::insert:
        case Road::extract: {
            const auto made = graftPages(*target, *source, c.pages);
            for (size_t k = 0; k < made.size(); ++k) insertPage(*target, made[k], own + int(k));
            break;
        }
        case Road::duplicate: {
            const auto made = copyPages(*target, c.pages);
            for (size_t k = 0; k < made.size(); ++k) insertPage(*target, made[k], own + int(k));
            break;
        }
        case Road::append:
            for (const int page : c.pages) appendPages(*target, *source, page, 1);
            break;
        }
        ASSERT_EQ(target->pageCount(), own + int(c.pages.size()));
        PdfSaveOptions options;
        options.garbageCollect = true;
        const QString savedPath = write(dir, "saved.pdf", target->save(options));
        const auto reopened = PdfDocument::openFile(savedPath.toStdString());
        EXPECT_TRUE(
            testsupport::runProgram("qpdf", {"--check", savedPath}).contains("No syntax or stream encoding errors"));
        const auto popplerWords = [](const QString& path, int page) {
            const QString number = QString::number(page + 1);
            return testsupport::runProgram("pdftotext", {"-f", number, "-l", number, path, "-"});
        };
        for (size_t k = 0; k < c.pages.size(); ++k) {
            SCOPED_TRACE("copy of page " + std::to_string(c.pages[k] + 1));
            const int copy = own + int(k);
            // The window reads a page's own words (not its marks').
            const QString window = QString::fromStdString(target->textPage(copy).text()),
                          windowBefore = QString::fromStdString(source->textPage(c.pages[k]).text());
            const QString poppler = popplerWords(savedPath, copy), before = popplerWords(sourcePath, c.pages[k]);
            for (const QString& word : c.shown) {
                if (!before.contains(word)) continue; // a word of the other page
                EXPECT_EQ(window.contains(word), windowBefore.contains(word)) << word.toStdString() << " in the window";
                EXPECT_TRUE(poppler.contains(word)) << word.toStdString() << " in poppler";
            }
            for (const QString& word : c.hidden) {
                ASSERT_FALSE(before.contains(word) || windowBefore.contains(word)) << word.toStdString();
                EXPECT_FALSE(window.contains(word)) << word.toStdString() << " in the window";
                EXPECT_FALSE(poppler.contains(word)) << word.toStdString() << " in poppler";
            }
            const double drawn =
                testsupport::meanDifference(target->render(copy, 0.5), source->render(c.pages[k], 0.5));
            EXPECT_GE(drawn, 0);
            EXPECT_LT(drawn, 1.0) << "drawn in the window";
            EXPECT_LT(testsupport::meanDifference(reopened->render(copy, 0.5), source->render(c.pages[k], 0.5)), 1.0)
                << "drawn in the window once saved";
            const double printed = testsupport::meanDifference(testsupport::popplerPage(savedPath, copy),
                                                               testsupport::popplerPage(sourcePath, c.pages[k]));
            EXPECT_GE(printed, 0);
            EXPECT_LT(printed, 1.0) << "drawn by poppler";
        }
        for (int page = 0; page < own; ++page) {
            SCOPED_TRACE("the target's page " + std::to_string(page + 1));
            EXPECT_EQ(popplerWords(savedPath, page), popplerWords(targetPath, page));
            EXPECT_LT(testsupport::meanDifference(testsupport::popplerPage(savedPath, page),
                                                  testsupport::popplerPage(targetPath, page)),
                      1.0);
        }
        if (c.layers >= 0) {
            const QString qdf = testsupport::runProgram("qpdf", {"--qdf", "--object-streams=disable", savedPath, "-"});
            EXPECT_EQ(qdf.count(QRegularExpression("/Type /OCG\\b")), c.layers);
        }
    }
}

TEST(PdfPageEditing, ImagePagesAreUprightForEveryOrientation)
{
    QTemporaryDir dir;
    // Left half red, right half blue, 400 by 200: where red ends up when shown.
    struct Case {
        int orientation;
        PdfSize size;
        double redX, redY, blueX, blueY;
    } cases[] = {
        {1, {400, 200}, 0.25, 0.5, 0.75, 0.5},
        {3, {400, 200}, 0.75, 0.5, 0.25, 0.5},
        {6, {200, 400}, 0.5, 0.25, 0.5, 0.75},
        {8, {200, 400}, 0.5, 0.75, 0.5, 0.25},
    };
    for (const Case& c : cases) {
        const QString path =
            write(dir, QString("o%1.jpg").arg(c.orientation), jpegWithOrientation(halves(400, 200), c.orientation));
        const auto page = imagePageDocument(path.toStdString(), pixelsAsPoints());
        ASSERT_TRUE(page) << c.orientation;
        EXPECT_EQ(page->pageGeometry(0).displaySize, c.size) << c.orientation;
        const QImage shown = page->render(0, 0.5);
        EXPECT_TRUE(reddish(centreOf(shown, c.redX, c.redY))) << c.orientation;
        EXPECT_TRUE(bluish(centreOf(shown, c.blueX, c.blueY))) << c.orientation;
    }
}

TEST(PdfPageEditing, PngAndTiffPagesAndBadImagesRefused)
{
    QTemporaryDir dir;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    halves(300, 100).save(&buffer, "PNG");
    const std::pair<const char*, QByteArray> files[] = {{"PNG", png}, {"TIFF", tiffOf(halves(300, 100))}};
    for (const auto& [format, bytes] : files) {
        const QString path = write(dir, QString("picture.") + format, bytes);
        const auto page = imagePageDocument(path.toStdString(), pixelsAsPoints());
        ASSERT_TRUE(page) << format;
        EXPECT_EQ(page->pageGeometry(0).displaySize, (PdfSize{300, 100}));
        const QRgb left = centreOf(page->render(0, 1), 0.25, 0.5);
        EXPECT_TRUE(reddish(left)) << format << " " << std::hex << left;
    }
    // Refused from the header alone: far more pixels than any page may hold.
    const QString huge = write(dir, "huge.png", pngHeaderOnly(40000, 40000));
    EXPECT_FALSE(imagePageDocument(huge.toStdString(), pixelsAsPoints()));
    // And a header that claims far more pixels than the file could hold: 65
    // bytes whose one empty deflate stream MuPDF would pad out to 300 MB.
    const QByteArray small = pngHeaderOnly(10000, 10000, QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
    EXPECT_FALSE(imagePageDocument(write(dir, "lying.png", small).toStdString(), pixelsAsPoints()));
    const QString wrong = write(dir, "words.png", "these are words, not pixels");
    EXPECT_FALSE(imagePageDocument(wrong.toStdString(), pixelsAsPoints()));
    QByteArray cut = jpegWithOrientation(halves(400, 200), 1);
    cut.truncate(100); // before the frame header
    EXPECT_FALSE(imagePageDocument(write(dir, "cut.jpg", cut).toStdString(), pixelsAsPoints()));
    EXPECT_FALSE(imagePageDocument(dir.filePath("missing.png").toStdString(), pixelsAsPoints()));
}

// Writes a 64 by 32 HEIC, left half red, right half blue; false without an HEVC encoder.
bool writeHeic(const std::string& path)
{
#ifdef __SANITIZE_ADDRESS__
    // The HEVC encoder (x265) keeps an allocation of its own for the life of
    // the process: not a leak of ours, and only the encoding is exempt.
    struct LeaksIgnored {
        LeaksIgnored() { __lsan_disable(); }
        ~LeaksIgnored() { __lsan_enable(); }
    } ignored;
#endif
    heif_encoder* encoder = nullptr;
    heif_context* context = heif_context_alloc();
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code != heif_error_Ok) {
        heif_context_free(context);
        return false;
    }
    heif_image* image = nullptr;
    heif_image_create(64, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, 64, 32, 8);
    int stride = 0;
    uint8_t* rgb = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = rgb + y * stride + x * 3;
            p[0] = x < 32 ? 255 : 0;
            p[1] = 0;
            p[2] = x < 32 ? 0 : 255;
        }
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_context_encode_image(context, image, encoder, nullptr, nullptr);
    const bool written = heif_context_write_to_file(context, path.c_str()).code == heif_error_Ok;
    heif_encoder_release(encoder);
    heif_image_release(image);
    heif_context_free(context);
    return written;
}

TEST(PdfPageEditing, HeicPagesGoThroughLibheif)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("photo.heic").toStdString();
    if (!writeHeic(path)) GTEST_SKIP() << "no HEVC encoder here";
    const auto page = imagePageDocument(path, pixelsAsPoints());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pageGeometry(0).displaySize, (PdfSize{64, 32}));
    const QImage shown = page->render(0, 2);
    EXPECT_TRUE(reddish(centreOf(shown, 0.2, 0.5)));
    EXPECT_TRUE(bluish(centreOf(shown, 0.8, 0.5)));
}

TEST(PdfPageEditing, EveryKindOfImageBecomesAPageThatSavesAsItWasDrawn)
{
    // Each kind of image a user inserts, saved as the window saves: the save
    // reads back (MuPDF's writer stores 1-bit pictures, and the soft mask of
    // one opaque or with a cut corner, as fax data), and poppler draws the
    // saved page with the pixels ravlen drew the inserted one with. Blocks of
    // 8 by 8 pixels, 121 by 91 of them: each row ends within a byte.
    const auto shade = [](int depth) {
        return [depth](int x, int y, int c) { return (x / 8 * 5 + y / 8 * 3 + c * 7) % 16 * ((1 << depth) - 1) / 15; };
    };
    // Opaque but for a cut corner, as a screenshot of a window with round corners.
    const auto cornered = [&](int depth, int channels) {
        return [=](int x, int y, int c) { return c < channels - 1 ? shade(depth)(x, y, c) : x + y < 12 ? 0 : 65535; };
    };
    QImage picture(121, 91, QImage::Format_RGB32);
    for (int y = 0; y < 91; ++y)
        for (int x = 0; x < 121; ++x) picture.setPixel(x, y, qRgb(shade(8)(x, y, 0), shade(8)(x, y, 1), y * 2));
    QTemporaryDir dir;
    QByteArray heic;
    if (writeHeic(dir.filePath("made.heic").toStdString())) heic = testsupport::readFile(dir.filePath("made.heic"));
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"grey1.png", pngOf(0, 1, 121, 91, shade(1))},
        {"grey2.png", pngOf(0, 2, 121, 91, shade(2))},
        {"grey4.png", pngOf(0, 4, 121, 91, shade(4))},
        {"grey8.png", pngOf(0, 8, 121, 91, shade(8))},
        {"grey16.png", pngOf(0, 16, 121, 91, shade(16))},
        {"palette1.png", pngOf(3, 1, 121, 91, shade(1))},
        {"palette2.png", pngOf(3, 2, 121, 91, shade(2))},
        {"palette4.png", pngOf(3, 4, 121, 91, shade(4))},
        {"palette8.png", pngOf(3, 8, 121, 91, shade(8))},
        {"grey-alpha8.png", pngOf(4, 8, 121, 91, cornered(8, 2))},
        {"grey-alpha16.png", pngOf(4, 16, 121, 91, shade(16))},
        {"rgb8.png", pngOf(2, 8, 121, 91, shade(8))},
        {"rgb16.png", pngOf(2, 16, 121, 91, shade(16))},
        {"rgba8.png", pngOf(6, 8, 121, 91, cornered(8, 4))},
        {"rgba16.png", pngOf(6, 16, 121, 91, cornered(16, 4))},
        {"rgba8-translucent.png", pngOf(6, 8, 121, 91, shade(8))},
        {"interlaced-rgba8.png", pngOf(6, 8, 121, 91, cornered(8, 4), true)},
        {"interlaced-grey1.png", pngOf(0, 1, 121, 91, shade(1), true)},
        {"one-colour.png", pngOf(3, 1, 600, 450, [](int, int, int) { return 0; })},
        {"empty-data-chunk.png", pngOf(2, 8, 121, 91, shade(8), false, PngOddity::emptyChunk)},
        {"data-past-the-image.png", pngOf(2, 8, 121, 91, shade(8), false, PngOddity::dataPastTheImage)},
        {"photo.jpg", jpegWithOrientation(picture, 1)},
        {"scan.tif", tiffOf(picture, TiffKind::bilevel)},
        {"deep.tif", tiffOf(picture, TiffKind::rgb16)},
        {"photo.heic", heic},
    };
    const QString original = write(dir, "document.pdf", testsupport::makeTextPdf(1));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes.isEmpty()) continue; // no HEVC encoder here
        const auto image = imagePageDocument(write(dir, c.name, c.bytes).toStdString(), pixelsAsPoints());
        if (!image) {
            ADD_FAILURE() << "refused as unreadable";
            continue;
        }
        auto doc = PdfDocument::openFile(original.toStdString());
        insertPage(*doc, graftPages(*doc, *image, {0}).at(0), 1);
        // Four pixels a pixel: both draw each of the picture's as a square.
        const QImage drawn = doc->render(1, 4.0);
        const QString saved = dir.filePath(QString(c.name) + ".pdf");
        PdfSaveOptions asTheWindowSaves;
        asTheWindowSaves.garbageCollect = true;
        // A byte of the picture's data changed after the write is no copy of it.
        PdfSaveOptions faulty = asTheWindowSaves;
        faulty.beforeReadBack = [](int fd) {
            QFile file;
            ASSERT_TRUE(file.open(fd, QIODevice::ReadWrite));
            const QByteArray bytes = file.readAll();
            const qsizetype at = bytes.indexOf("stream\n", bytes.lastIndexOf("/Subtype/Image")) + 9;
            ASSERT_GT(at, 9);
            ASSERT_TRUE(file.seek(at) && file.putChar(char(bytes[at] ^ 0x55)));
        };
        EXPECT_THROW(doc->saveToFile(testsupport::chosen(dir.filePath("faulty.pdf")), faulty), PdfError);
        try {
            doc->saveToFile(testsupport::chosen(saved), asTheWindowSaves);
        } catch (const PdfError& error) {
            ADD_FAILURE() << "not saved: " << error.what();
            continue;
        }
        const double difference = testsupport::meanDifference(testsupport::popplerPage(saved, 1, 288), drawn);
        EXPECT_GE(difference, 0);
        EXPECT_LT(difference, 1.0);
    }
}

namespace {

// The picture in `bytes` inserted as a page after a one-page document, saved
// as the window saves, and that page as poppler draws it (at 72 dpi, a
// pixel a pixel); null where the picture made no page.
QImage savedPictureByPoppler(const QTemporaryDir& dir, const char* name, const QByteArray& bytes, int dpi = 72)
{
    const auto image = imagePageDocument(write(dir, name, bytes).toStdString(), pixelsAsPoints());
    if (!image) return {};
    auto doc = PdfDocument::openFile(write(dir, "document.pdf", testsupport::makeTextPdf(1)).toStdString());
    insertPage(*doc, graftPages(*doc, *image, {0}).at(0), 1);
    const QString saved = dir.filePath("saved.pdf");
    PdfSaveOptions asTheWindowSaves;
    asTheWindowSaves.garbageCollect = true;
    doc->saveToFile(testsupport::chosen(saved), asTheWindowSaves);
    return testsupport::popplerPage(saved, 1, dpi);
}

} // namespace

// A TIFF is a page of its picture as its orientation tag shows it, whatever
// its samples, saved so too: poppler draws the saved page as the upright picture.
TEST(PdfPageEditing, TiffPagesAreUprightForEveryOrientationAndKind)
{
    QImage upright(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) upright.setPixel(x, y, qRgb(x * 5, 255 - y * 7, x < 12 && y < 8 ? 255 : 40));
    QTemporaryDir dir;
    for (const TiffKind kind :
         {TiffKind::rgb8, TiffKind::rgb16, TiffKind::rgb16Predicted, TiffKind::cmyk16Predicted, TiffKind::fax})
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE("kind " + std::to_string(int(kind)) + ", orientation " + std::to_string(o));
            // Four pixels a pixel: the middle of each square is the picture's pixel.
            const QImage drawn = savedPictureByPoppler(dir, "picture.tif", tiffOf(upright, kind, o), 288);
            ASSERT_GE(drawn.width(), 192); // poppler may round the page's size up
            ASSERT_LT(drawn.width(), 196);
            int worst = 0;
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 48; ++x) {
                    const QRgb c = upright.pixel(x, y), got = drawn.pixel(x * 4 + 2, y * 4 + 2);
                    const QRgb want = kind != TiffKind::fax ? c : qGray(c) < 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
                    for (const int d : {qRed(got) - qRed(want), qGreen(got) - qGreen(want), qBlue(got) - qBlue(want)})
                        worst = std::max(worst, std::abs(d));
                }
            EXPECT_LE(worst, 8);
        }
}

// A CMYK JPEG as Photoshop writes it (Adobe's marker, its samples inverted)
// is a page of its colours, saved so too: no ink on the left, black on the right.
TEST(PdfPageEditing, AdobeCmykJpegPageKeepsItsColours)
{
    ImageEncoding::Samples cmyk{64, 32, 4, {}};
    for (int i = 0; i < 64 * 32 * 4; ++i) cmyk.bytes += char(i % 4 == 3 && i / 4 % 64 >= 32 ? 0 : 255);
    QTemporaryDir dir;
    const QImage drawn = savedPictureByPoppler(dir, "cmyk.jpg", ImageEncoding::jpeg(cmyk, 0.9));
    ASSERT_GE(drawn.width(), 64);
    EXPECT_GT(qGray(drawn.pixel(8, 16)), 200);
    EXPECT_LT(qGray(drawn.pixel(56, 16)), 60);
}
