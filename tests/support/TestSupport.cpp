#include "support/TestSupport.h"

#if defined(RAVLEN_TEST_KIT)
#include "QuarnKit/Shell/DroppableWork.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#endif

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#if defined(RAVLEN_TEST_WIDGETS)
#include <QApplication>
#else
#include <QGuiApplication>
#endif

#include <algorithm>
#include <cctype>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <csignal>
#include <cstdio>

#include <zlib.h>
#include <cstdint>
#include <cstdlib>
#include <sys/resource.h>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sstream>

namespace testsupport {

platform::ChosenFile chosen(const std::string& path)
{
    return *platform::ChosenFile::ask(path, [](const platform::NameSeen&) { return true; });
}

platform::ChosenFile chosen(const QString& path) { return chosen(QFile::encodeName(path).toStdString()); }

bool usePrivateConfigDir()
{
    static QTemporaryDir dir;
    if (qEnvironmentVariableIsEmpty("RAVLEN_CONFIG_DIR")) qputenv("RAVLEN_CONFIG_DIR", dir.path().toUtf8());
    return true;
}

namespace {

// Removes the folder `name` in `parent` and all it holds, by descriptors.
void removeTree(int parent, const char* name)
{
    const int fd = ::openat(parent, name, O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* folder = ::fdopendir(::dup(fd))) {
            std::vector<std::string> entries;
            while (const dirent* entry = ::readdir(folder)) {
                const std::string entryName = entry->d_name;
                if (entryName != "." && entryName != "..") entries.push_back(entryName);
            }
            ::closedir(folder);
            for (const std::string& entry : entries) {
                if (::unlinkat(fd, entry.c_str(), 0) != 0) removeTree(fd, entry.c_str());
            }
        }
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

const QByteArray longName(250, 'n');

} // namespace

LongWay::LongWay(const QString& top, const QByteArray& bytes) : top_(top)
{
    constexpr int levels = 20; // 20 names of 251 characters
    static_assert(levels * 251 > PATH_MAX);
    int folder = ::open(QFile::encodeName(top).constData(), O_DIRECTORY | O_CLOEXEC);
    QString made = top;
    for (int level = 0; level < levels && folder >= 0; ++level) {
        // top/down leads through the first half, down there through the rest.
        if (level % (levels / 2) == 0) {
            QByteArray half = longName;
            for (int i = 1; i < levels / 2; ++i) half += '/' + longName;
            ::symlinkat(half.constData(), folder, "down");
        }
        ::mkdirat(folder, longName.constData(), 0755);
        const int next = ::openat(folder, longName.constData(), O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = next;
        made += '/' + QString::fromLatin1(longName);
    }
    if (folder < 0) return;
    const int file = ::openat(folder, "file", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
    ::close(folder);
    if (file < 0) return;
    const bool written = ::write(file, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    ::close(file);
    if (!written) return;
    path = top + "/down/down/file";
    whole = made + "/file";
}

LongWay::~LongWay()
{
    const int folder = ::open(QFile::encodeName(top_).constData(), O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    removeTree(folder, longName.constData());
    ::unlinkat(folder, "down", 0);
    ::close(folder);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
                         && file.flush() && (!permissions || file.setPermissions(permissions));
    if (!written) ADD_FAILURE() << "could not write " << path.toStdString();
    return written;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

std::string corpusDir()
{
    if (const char* env = std::getenv("RAVLEN_CORPUS_DIR")) return env;
    return QDir(QStringLiteral(RAVLEN_CORPUS_DIR)).canonicalPath().toStdString();
}

std::string corpusPath(const std::string& name) { return corpusDir() + "/" + name; }

std::string testDataPath(const std::string& name) { return std::string(RAVLEN_TEST_DATA_DIR) + "/" + name; }

std::string qpdfCorpusPath(const std::string& name) { return corpusDir() + "/../corpus-qpdf/" + name; }

std::vector<std::string> corpusPdfs()
{
    std::vector<std::string> files;
    const QDir dir(QString::fromStdString(corpusDir()));
    for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
        files.push_back(info.absoluteFilePath().toStdString());
    return files;
}

QByteArray makeBlankPagesPdf(int pages, int landscape, int claimed, int objects)
{
    std::vector<std::string> parts = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(3 + i) + " 0 R ";
        parts.push_back(std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ")
                        + (i == landscape ? "792 612" : "612 792") + "] >>");
    }
    while (int(parts.size()) < objects) parts.push_back("<< /Unused true >>");
    parts[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(claimed < 0 ? pages : claimed) + " >>";
    return writePdf(parts);
}

QByteArray makeTextPdf(int pages, const std::string& extraText, const std::string& title)
{
    // Objects: 1 catalog, 2 pages, 3 font, then a page and its contents per page.
    std::vector<std::string> objects;
    std::ostringstream kids;
    for (int i = 0; i < pages; ++i) kids << (4 + 2 * i) << " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids.str() + "] /Count " + std::to_string(pages) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    for (int i = 0; i < pages; ++i) {
        std::string text = "BT /F1 24 Tf 72 700 Td (Page " + std::to_string(i + 1) + ") Tj ET";
        if (!extraText.empty()) text += " BT /F1 12 Tf 72 660 Td (" + extraText + ") Tj ET";
        objects.push_back(
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents "
            + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
    }
    if (title.empty()) return writePdf(objects);
    objects.push_back("<< /Title (" + title + ") >>");
    return writePdf(objects, "1.4", " /Info " + std::to_string(objects.size()) + " 0 R");
}

QByteArray makeDarkPagesPdf(const std::vector<std::pair<int, int>>& sizes)
{
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string kids;
    for (const auto& [width, height] : sizes) {
        const std::string w = std::to_string(width), h = std::to_string(height);
        const std::string content = "0 g 0 0 " + w + " " + h + " re f 1 g 0 " + std::to_string(height - 100)
                                    + " 100 100 re f BT /F1 24 Tf 72 700 Td (Page " + std::to_string(objects.size() / 2)
                                    + ") Tj ET";
        kids += std::to_string(objects.size() + 1) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h
                          + "] /Resources << /Font << /F1 3 0 R >> >> /Contents " + std::to_string(objects.size() + 2)
                          + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(sizes.size()) + " >>";
    return writePdf(objects);
}

QByteArray layeredPdf(bool hiddenOn)
{
    const std::string resources = "<< /Font << /F1 7 0 R >> /Properties << /Shown 5 0 R /Hidden 6 0 R /Either 9 0 R >>"
                                  " /XObject << /Cover 10 0 R >> >>";
    const std::string off = hiddenOn ? "5 0 R" : "6 0 R";
    const std::string mark = "/Type /XObject /Subtype /Form /BBox [0 0 200 60] /Resources << /Font << /F1 7 0 R >> >>";
    return writePdf({
        "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R 6 0 R] /D << /Order [5 0 R 6 0 R] /OFF [" + off
            + "] >> >> >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + resources
            + " /Contents 8 0 R /Annots [11 0 R 14 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + resources + " /Contents 13 0 R >>",
        "<< /Type /OCG /Name (Shown) >>",
        "<< /Type /OCG /Name (Hidden) >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        pdfStream("",
                  "BT /F1 24 Tf 72 700 Td (Always there) Tj ET\n"
                  "/OC /Shown BDC 0 0 1 rg 72 380 200 200 re f 0 g BT /F1 24 Tf 72 650 Td (Visible layer words) Tj"
                  " ET EMC\n"
                  "/OC /Hidden BDC 0.5 g 72 380 200 200 re f BT /F1 24 Tf 72 600 Td (Hidden layer words) Tj ET EMC\n"
                  "/OC /Either BDC 1 0 0 rg 350 400 100 100 re f EMC\n"
                  "q /Cover Do Q\n"),
        "<< /Type /OCMD /OCGs [6 0 R] /P /AnyOn >>",
        pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /OC 6 0 R /Resources << /Font << /F1 7 0 R >> >>",
                  "BT /F1 18 Tf 72 300 Td (Hidden form words) Tj ET"),
        "<< /Type /Annot /Subtype /Square /Rect [300 200 500 260] /OC 6 0 R /AP << /N 12 0 R >> >>",
        pdfStream(mark, "BT /F1 14 Tf 10 20 Td (Hidden mark words) Tj ET"),
        pdfStream("", "/OC /Hidden BDC BT /F1 24 Tf 72 700 Td (Second hidden words) Tj ET EMC\n"
                      "/OC /Shown BDC BT /F1 24 Tf 72 650 Td (Second page words) Tj ET EMC\n"),
        "<< /Type /Annot /Subtype /Square /Rect [300 100 500 160] /OC 5 0 R /AP << /N 15 0 R >> >>",
        pdfStream(mark, "BT /F1 14 Tf 10 20 Td (Shown mark words) Tj ET"),
    });
}

QImage popplerPage(const QString& path, int page, int dpi)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("page"));
    const QString number = QString::number(page + 1);
    runProgram("pdftoppm",
               {"-r", QString::number(dpi), "-png", "-singlefile", "-f", number, "-l", number, path, prefix});
    return QImage(prefix + QStringLiteral(".png"));
}

double meanDifference(const QImage& a, const QImage& b)
{
    const QImage one = a.convertToFormat(QImage::Format_RGB888), two = b.convertToFormat(QImage::Format_RGB888);
    if (one.size() != two.size() || one.isNull()) return -1;
    qint64 difference = 0;
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width() * 3; ++x)
            difference += std::abs(int(one.constScanLine(y)[x]) - int(two.constScanLine(y)[x]));
    return double(difference) / (double(one.width()) * one.height() * 3);
}

namespace {

// A value of qpdf's JSON with what it refers to written in place.
QString resolvedValue(const QJsonValue& value, const QJsonObject& objects, int depth)
{
    static const QRegularExpression reference(QStringLiteral("^\\d+ \\d+ R$"));
    if (depth > 16) return QStringLiteral("…");
    if (value.isString() && reference.match(value.toString()).hasMatch()) {
        const QJsonObject object = objects.value(QStringLiteral("obj:") + value.toString()).toObject();
        return value.toString() + QLatin1Char('=')
               + resolvedValue(object.value(QStringLiteral("value")), objects, depth + 1);
    }
    if (value.isArray()) {
        QStringList items;
        for (const QJsonValue& item : value.toArray()) items << resolvedValue(item, objects, depth + 1);
        return QLatin1Char('[') + items.join(QLatin1Char(' ')) + QLatin1Char(']');
    }
    if (value.isObject()) {
        const QJsonObject dict = value.toObject();
        QStringList entries;
        for (auto it = dict.begin(); it != dict.end(); ++it)
            entries << it.key() + QLatin1Char(' ') + resolvedValue(it.value(), objects, depth + 1);
        return QStringLiteral("<< ") + entries.join(QLatin1Char(' ')) + QStringLiteral(" >>");
    }
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
}

} // namespace

QString catalogEntry(const QString& path, const QString& key)
{
    const QByteArray json = runProgram("qpdf", {"--json=2", "--json-key=qpdf", path}).toUtf8();
    const QJsonArray parts = QJsonDocument::fromJson(json.mid(json.indexOf('{'))).object().value("qpdf").toArray();
    const QJsonObject objects = parts.at(1).toObject();
    const QJsonValue root = objects.value("trailer").toObject().value("value").toObject().value("/Root");
    const QJsonObject catalog =
        objects.value(QStringLiteral("obj:") + root.toString()).toObject().value("value").toObject();
    return catalog.contains(key) ? resolvedValue(catalog.value(key), objects, 0) : QString();
}

bool signaturesValid(const QString& path, const QString& password)
{
    const QStringList passwordArgs = password.isEmpty() ? QStringList{} : QStringList{"-upw", password};
    const QString verdict = runProgram("pdfsig", passwordArgs + QStringList{path});
    return verdict.contains("Signature is Valid") && !verdict.contains("Signature is Invalid");
}

QString runProgram(const QString& program, const QStringList& arguments, int* exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

QByteArray withoutSaveIdentity(const QByteArray& bytes)
{
    // Two strings, each hexadecimal or literal (MuPDF escapes every bracket in one).
    static const QString string = R"((?:<[^>]*>|\((?:\\.|[^\\)])*\)))";
    static const QRegularExpression id("/ID\\s*\\[\\s*" + string + "\\s*" + string + "\\s*\\]");
    static const QRegularExpression start("startxref\\s+\\d+\\s+%%EOF\\s*$");
    return QString::fromLatin1(bytes).replace(id, "/ID").replace(start, "startxref").toLatin1();
}

QByteArray decryptedObjects(const QString& path, const QString& password)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("decrypted.pdf");
    QStringList arguments = {"--decrypt", "--static-id", "--qdf", "--object-streams=disable", path, out};
    if (!password.isEmpty()) arguments.prepend("--password=" + password);
    runProgram("qpdf", arguments);
    return readFile(out);
}

QByteArray makeSignedPdf(const QString& folder, bool listedInForm, bool wordyTable)
{
    const std::string text = "BT /F1 24 Tf 30 150 Td (Signed page) Tj ET";
    QByteArray pdf = writePdf(
        {listedInForm ? "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] /SigFlags 3 >> >>"
                      : "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] >> >>",
         "<< /Type /Pages /Kids [4 0 R] /Count 1 >>", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 5 0 R /Resources << /Font << /F1 3 0 R >> >>"
         " /Annots [6 0 R] >>",
         "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
         "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /P 4 0 R /V 7 0 R >>",
         unsignedSignature()});
    if (wordyTable) pdf.replace(" 00000 n \n", " 00000 n   see here\n");
    return signPdf(pdf, folder);
}

namespace {

const std::string signaturePlaceholder(8192, '0');

} // namespace

std::string unsignedSignature()
{
    return "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached "
           "/ByteRange [0 0000000000 0000000000 0000000000] /Contents <"
           + signaturePlaceholder + "> >>";
}

QByteArray signPdf(QByteArray pdf, const QString& folder)
{
    const QDir dir(folder);
    const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
    int exitCode = -1;
    runProgram("openssl",
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj",
                "/CN=ravlen test signer"},
               &exitCode);
    if (exitCode != 0) return {};
    const qsizetype open = pdf.indexOf("/Contents <" + QByteArray(signaturePlaceholder.c_str())) + 10;
    if (open < 10) return {};
    const qsizetype close = open + qsizetype(signaturePlaceholder.size()) + 2;
    const QByteArray range = QByteArray::number(open).rightJustified(10, '0') + ' '
                             + QByteArray::number(close).rightJustified(10, '0') + ' '
                             + QByteArray::number(pdf.size() - close).rightJustified(10, '0');
    pdf.replace(pdf.indexOf("0000000000 0000000000 0000000000"), range.size(), range);
    writeFile(dir.filePath("signed.bin"), pdf.left(open) + pdf.mid(close));
    runProgram("openssl",
               {"cms", "-sign", "-binary", "-in", dir.filePath("signed.bin"), "-signer", cert, "-inkey", key,
                "-outform", "DER", "-out", dir.filePath("sig.der")},
               &exitCode);
    const QByteArray signature = readFile(dir.filePath("sig.der")).toHex();
    if (exitCode != 0 || signature.isEmpty() || signature.size() >= qsizetype(signaturePlaceholder.size())) return {};
    pdf.replace(open + 1, signature.size(), signature);
    return pdf;
}

QByteArray signWithPoppler(const QString& path, const QString& folder)
{
    const QDir dir(folder);
    const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
    const QString identity = dir.filePath("identity.p12"), nss = dir.filePath("nss");
    const QString database = "sql:" + nss, signedPath = dir.filePath("poppler-signed.pdf");
    const std::vector<std::pair<QString, QStringList>> steps = {
        {"openssl",
         {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj",
          "/CN=ravlen test signer"}},
        {"openssl",
         {"pkcs12", "-export", "-inkey", key, "-in", cert, "-name", "signer", "-out", identity, "-passout",
          "pass:test"}},
        {"certutil", {"-N", "-d", database, "--empty-password"}},
        {"pk12util", {"-i", identity, "-d", database, "-W", "test"}},
        {"pdfsig", {"-nssdir", database, "-add-signature", "-nick", "signer", path, signedPath}},
    };
    if (!QDir().mkpath(nss)) return {};
    for (const auto& [program, arguments] : steps) {
        int exitCode = -1;
        runProgram(program, arguments, &exitCode);
        if (exitCode != 0) return {};
    }
    return readFile(signedPath);
}

QByteArray makeSignedEncryptedForm(const QString& folder)
{
    const std::string text = "BT /F1 24 Tf 30 150 Td (Signed page) Tj ET";
    // qpdf leaves the /Contents of a dictionary typed /Sig in the clear: the
    // type is written for it, and blanked out once it is encrypted. Its
    // /ByteRange holds numbers as long as the signer writes.
    std::string signature = unsignedSignature();
    signature.replace(signature.find("[0 0000000000 0000000000 0000000000]"), 36,
                      "[0 1000000000 1000000000 1000000000]");
    signature.replace(signature.find("<< /Type /Sig "), 14,
                      "<< /Type /Sig /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 /P 4 0 R "
                      "/V 6 0 R /M (D:20240101000000Z) ");
    const QByteArray plain = writePdf(
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] /SigFlags 3 >> >>",
         "<< /Type /Pages /Kids [4 0 R] /Count 1 >>", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 5 0 R /Resources << /Font << /F1 3 0 R >> >>"
         " /Annots [6 0 R] >>",
         "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream", signature,
         "<< /Title (A signed form) /Producer (a signing program) >>"},
        "1.6", " /Info 7 0 R");
    const QDir dir(folder);
    writeFile(dir.filePath("form.pdf"), plain);
    int exitCode = -1;
    runProgram("qpdf",
               {"--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=y", "--", dir.filePath("form.pdf"),
                dir.filePath("encrypted.pdf")},
               &exitCode);
    QByteArray pdf = readFile(dir.filePath("encrypted.pdf"));
    if (exitCode != 0 || pdf.count("/Type /Sig") != 1 || !pdf.contains("1000000000 1000000000 1000000000")) return {};
    pdf.replace("/Type /Sig", QByteArray(10, ' '));
    pdf.replace("1000000000 1000000000 1000000000", "0000000000 0000000000 0000000000");
    return signPdf(pdf, folder);
}

bool signatureHolds(const QString& path)
{
    const QByteArray pdf = readFile(path);
    static const QRegularExpression rangeExpression("/ByteRange\\s*\\[\\s*(\\d+)\\s+(\\d+)\\s+(\\d+)\\s+(\\d+)\\s*\\]");
    const QRegularExpressionMatch range = rangeExpression.match(QString::fromLatin1(pdf));
    if (!range.hasMatch()) return false;
    qsizetype at[4];
    for (int i = 0; i < 4; ++i) at[i] = range.captured(i + 1).toLongLong();
    if (at[0] != 0 || at[1] + 2 > at[2] || at[2] + at[3] > pdf.size() || pdf[at[1]] != '<' || pdf[at[2] - 1] != '>')
        return false;
    const QByteArray der = QByteArray::fromHex(pdf.mid(at[1] + 1, at[2] - at[1] - 2));
    // The signature as DER says it is long, without the zeros that pad it.
    if (der.size() < 4 || uchar(der[0]) != 0x30 || uchar(der[1]) != 0x82) return false;
    const qsizetype length = 4 + (qsizetype(uchar(der[2])) << 8 | uchar(der[3]));
    if (length > der.size()) return false;
    QTemporaryDir dir;
    writeFile(dir.filePath("signed.bin"), pdf.left(at[1]) + pdf.mid(at[2], at[3]));
    writeFile(dir.filePath("sig.der"), der.left(length));
    int exitCode = -1;
    runProgram("openssl",
               {"cms", "-verify", "-noverify", "-binary", "-inform", "DER", "-in", dir.filePath("sig.der"), "-content",
                dir.filePath("signed.bin"), "-out", "/dev/null"},
               &exitCode);
    return exitCode == 0;
}

QByteArray makeLongTextPdf(int pages, std::size_t bytes)
{
    std::vector<std::string> objects;
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    std::uint32_t noise = 12345;
    std::string comment(bytes / std::size_t(pages) + 1, ' ');
    for (int i = 0; i < pages; ++i) {
        for (char& c : comment) {
            noise = noise * 1664525u + 1013904223u;
            c = "0123456789abcdef"[noise >> 28];
        }
        const std::string text = "BT /F1 24 Tf 72 700 Td (Page " + std::to_string(i + 1) + ") Tj ET\n%" + comment;
        objects.push_back(
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents "
            + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
    }
    return writePdf(objects);
}

namespace {

std::string stream(const std::string& dictionary, const std::string& data)
{
    return "<< " + dictionary + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

} // namespace

QByteArray makeEndlessPagePdf()
{
    constexpr int depth = 12;
    // 1 catalog, 2 pages, 3 font, 4 and 5 page 1 and its contents, 6 and 7 page 2 and its, 8… the forms.
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject "
                                        "<< /X 8 0 R >> >> /Contents 5 0 R >>",
                                        stream("", "/X Do"),
                                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << "
                                        "/F1 3 0 R >> >> /Contents 7 0 R >>",
                                        stream("", "BT /F1 24 Tf 72 700 Td (Page 2) Tj ET")};
    for (int level = 0; level < depth; ++level) {
        const int next = 9 + level;
        std::string body, resources = "<< >>";
        if (level + 1 < depth) {
            for (int k = 0; k < 10; ++k) body += "/X Do ";
            resources = "<< /XObject << /X " + std::to_string(next) + " 0 R >> >>";
        } else {
            body = "0 0 1 1 re f";
        }
        objects.push_back(stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources " + resources, body));
    }
    return writePdf(objects);
}

QByteArray makeSilentPagePdf(std::size_t bytes)
{
    // Deflated a slice at a time, so that the gigabyte is never held.
    z_stream z = {};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK) return {};
    const std::string spaces(std::size_t(1) << 20, ' ');
    std::string deflated;
    char out[1 << 16];
    for (std::size_t left = bytes; left > 0 || z.avail_in > 0;) {
        if (z.avail_in == 0) {
            const std::size_t n = std::min(left, spaces.size());
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(spaces.data()));
            z.avail_in = uInt(n);
            left -= n;
        }
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = sizeof out;
        deflate(&z, Z_NO_FLUSH);
        deflated.append(out, sizeof out - z.avail_out);
    }
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = sizeof out;
        status = deflate(&z, Z_FINISH);
        deflated.append(out, sizeof out - z.avail_out);
    }
    deflateEnd(&z);
    return writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R >>",
                     stream("/Filter /FlateDecode", deflated),
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                     "/Contents 7 0 R >>",
                     stream("", "BT /F1 24 Tf 72 700 Td (Page 2) Tj ET")});
}

QByteArray makeHalfDrawnPagePdf(PageFailure how)
{
    const std::string red = "1 0 0 rg 0 396 612 396 re f\n", blue = "\n0 0 1 rg 0 0 612 396 re f\n";
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources ";
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"};
    switch (how) {
    case PageFailure::zeroWidthImage:
        objects.push_back(page + "<< /XObject << /Im0 5 0 R >> >> >>");
        objects.push_back(stream("", red + "/Im0 Do" + blue));
        objects.push_back(stream("/Type /XObject /Subtype /Image /Width 0 /Height 10 /ColorSpace /DeviceGray "
                                 "/BitsPerComponent 8",
                                 std::string(10, '\0')));
        break;
    case PageFailure::selfDrawingType3Font:
        // Its one glyph shows itself.
        objects.push_back(page + "<< /Font << /F1 5 0 R >> >> >>");
        objects.push_back(stream("", red + "BT /F1 12 Tf 100 100 Td (a) Tj ET" + blue));
        objects.push_back("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
                          "/CharProcs << /a 6 0 R >> /Encoding << /Type /Encoding /Differences [97 /a] >> "
                          "/FirstChar 97 /LastChar 97 /Widths [1000] /Resources << /Font << /F1 5 0 R >> >> >>");
        objects.push_back(stream("", "1000 0 d0 BT /F1 1 Tf (a) Tj ET 0 0 100 100 re f"));
        break;
    }
    return writePdf(objects);
}

QByteArray makeJbig2BombPdf(int side)
{
    // An embedded JBIG2 stream: a page information segment and an immediate
    // generic region of the whole page, arithmetic coded, whose data ends at once.
    const auto u32 = [](std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    const auto segment = [&](std::uint32_t number, char type, const std::string& data) {
        return u32(number) + type + std::string(1, '\0') + std::string(1, '\1') + u32(std::uint32_t(data.size()))
               + data;
    };
    const std::uint32_t n = std::uint32_t(side);
    const std::string page = u32(n) + u32(n) + u32(0) + u32(0) + std::string(3, '\0');
    const std::string region = u32(n) + u32(n) + u32(0) + u32(0) + std::string(1, '\0') + std::string(1, '\0')
                               + std::string("\x03\xff\xfd\xff\x02\xfe\xfe\xfe", 8) + std::string(16, '\0');
    const std::string jbig2 = segment(0, 48, page) + segment(1, 38, region);
    const std::string size = std::to_string(side);
    return writePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                     "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im 5 0 R >> >> "
                     "/Contents 4 0 R >>",
                     stream("", "q 612 0 0 792 0 0 cm /Im Do Q"),
                     stream("/Type /XObject /Subtype /Image /Width " + size + " /Height " + size
                                + " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode",
                            jbig2)});
}

QByteArray writePdf(const std::vector<std::string>& objects, const std::string& version,
                    const std::string& trailerExtra)
{
    std::string out = "%PDF-" + version + "\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailerExtra
           + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return QByteArray(out.data(), qsizetype(out.size()));
}

QByteArray withTableUpdate(const QByteArray& pdf, int number)
{
    const QString text = QString::fromLatin1(pdf);
    const auto last = [&](const char* pattern) {
        QString found;
        for (auto it = QRegularExpression(pattern).globalMatch(text); it.hasNext();) found = it.next().captured(1);
        return found.toLatin1();
    };
    const QByteArray previous = last("startxref\\s+(\\d+)");
    int size = 0;
    for (auto it = QRegularExpression("/Size\\s+(\\d+)").globalMatch(text); it.hasNext();)
        size = std::max(size, it.next().captured(1).toInt());
    if (previous.isEmpty() || size == 0) return {};
    size = std::max(size, number);
    QByteArray out = pdf.endsWith('\n') ? pdf : pdf + "\n";
    const qsizetype offset = out.size();
    out += QByteArray::number(size) + " 0 obj\n<< /Appended true >>\nendobj\n";
    const qsizetype table = out.size();
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(offset));
    out += "xref\n0 1\n0000000000 65535 f \n" + QByteArray::number(size) + " 1\n" + entry;
    out += "trailer\n<< /Size " + QByteArray::number(size + 1);
    for (const char* key : {"Root", "Info", "Encrypt"}) {
        const QByteArray value = last((std::string("/") + key + "\\s*(\\d+\\s+\\d+\\s+R)").c_str());
        if (!value.isEmpty()) out += QByteArray(" /") + key + " " + value;
    }
    const QByteArray id = last("/ID\\s*(\\[\\s*<[0-9A-Fa-f]*>\\s*<[0-9A-Fa-f]*>\\s*\\])");
    if (!id.isEmpty()) out += " /ID " + id;
    out += " /Prev " + previous + " >>\nstartxref\n" + QByteArray::number(table) + "\n%%EOF\n";
    return out;
}

std::string pdfStream(const std::string& dict, const std::string& data)
{
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

std::vector<std::string> textPageObjects(const std::string& words, const std::string& font)
{
    return {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> "
            ">> >>",
            pdfStream("", "BT /F1 18 Tf 20 150 Td (" + words + ") Tj ET"), font};
}

QByteArray hexCodedPdf(const std::string& words, const std::string& filters)
{
    const auto hex = [](const QByteArray& bytes) { return bytes.toHex().toStdString() + ">"; };
    const auto flate = [](const QByteArray& bytes) { return qCompress(bytes).mid(4); }; // without Qt's length
    QImage bars(48, 8, QImage::Format_RGB888);
    for (int x = 0; x < 48; ++x)
        for (int y = 0; y < 8; ++y) bars.setPixelColor(x, y, QColor::fromHsv(x / 8 * 60, 255, 255));
    QByteArray rows, imageData, imageKeys;
    for (int y = 0; y < 8; ++y)
        rows += QByteArray(1, '\0') + QByteArray(reinterpret_cast<const char*>(bars.constScanLine(y)), 144);
    const std::string content = "q 260 0 0 80 20 190 cm /Im1 Do Q BT /F1 18 Tf 20 150 Td (" + words + ") Tj ET";
    std::string contentData = hex(QByteArray::fromStdString(content)), contentFilters = "[/ASCIIHexDecode]";
    if (filters == "[/ASCIIHexDecode /DCTDecode]") {
        QBuffer jpeg(&imageData);
        jpeg.open(QIODevice::WriteOnly);
        bars.save(&jpeg, "JPG", 95);
    } else if (filters == "[/ASCIIHexDecode /FlateDecode]") {
        imageData = flate(rows);
        imageKeys = " /DecodeParms [null << /Predictor 15 /Colors 3 /Columns 48 >>]";
        contentData = hex(flate(QByteArray::fromStdString(content)));
        contentFilters = filters;
    } else {
        for (int y = 0; y < 8; ++y) imageData += rows.mid(y * 145 + 1, 144);
    }
    auto objects = textPageObjects(words);
    objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Resources << /Font << /F1 5 "
                 "0 R >> /XObject << /Im1 6 0 R >> >> >>";
    objects[3] = pdfStream("/Filter " + contentFilters, contentData);
    objects.push_back(pdfStream("/Type /XObject /Subtype /Image /Width 48 /Height 8 /ColorSpace /DeviceRGB "
                                "/BitsPerComponent 8 /Filter "
                                    + filters + imageKeys.toStdString(),
                                hex(imageData)));
    return writePdf(objects);
}

QByteArray longFontNamePdf(const std::string& words, bool inPage)
{
    const std::string name = "F" + std::string(144, 'x');
    auto objects = textPageObjects(words);
    const std::string fonts = "<< /Font << /" + name + " 5 0 R >> >>";
    objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /Resources "
                 + (inPage ? fonts : "6 0 R") + " >>";
    objects[3] = pdfStream("", "BT /" + name + " 18 Tf 20 150 Td (" + words + ") Tj ET");
    if (!inPage) objects.push_back(fonts);
    return writePdf(objects);
}

QByteArray objectStreamPdf(const std::string& words, const std::string& written, const std::string& font,
                           const std::vector<std::string>& members)
{
    const int others = int(members.size()), fontNum = 6 + others, tableNum = fontNum + 1;
    std::vector<std::string> objects = textPageObjects(words);
    objects[2].replace(objects[2].find("5 0 R"), 5, std::to_string(fontNum) + " 0 R");
    const auto deflated = [&](const std::string& object) {
        std::string header, body;
        for (int k = 0; k <= others; ++k) {
            header += std::to_string(6 + k) + " " + std::to_string(body.size()) + " ";
            body += (k < others ? members[size_t(k)] : object) + "\n";
        }
        // qCompress puts the length first, then a zlib stream ending in its check sum.
        return std::pair(qCompress(QByteArray::fromStdString(header + body)).mid(4).toStdString(), header.size());
    };
    auto [data, first] = deflated(font);
    data.replace(data.size() - 4, 4, deflated(written).first.substr(deflated(written).first.size() - 4));
    objects[4] = pdfStream("/Type /ObjStm /N " + std::to_string(others + 1) + " /First " + std::to_string(first)
                               + " /Filter /FlateDecode",
                           data);
    // Entries of /W [1 2 1]: the type, then the offset (or the object stream), then the index in it.
    std::string out = "%PDF-1.5\n", table(4, '\0');
    const auto entry = [&](char type, std::size_t field, char index) {
        table += {type, char(field >> 8), char(field), index};
    };
    for (std::size_t i = 0; i < objects.size(); ++i) {
        entry(1, out.size(), 0);
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    for (int k = 0; k <= others; ++k) entry(2, 5, char(k));
    const std::string tableAt = std::to_string(out.size());
    entry(1, out.size(), 0);
    out += std::to_string(tableNum) + " 0 obj\n"
           + pdfStream("/Type /XRef /Size " + std::to_string(tableNum + 1) + " /W [1 2 1] /Root 1 0 R", table)
           + "\nendobj\n";
    return QByteArray::fromStdString(out + "startxref\n" + tableAt + "\n%%EOF\n");
}

QByteArray textConvertedTablePdf(const std::string& words)
{
    // Numbered page first, so that its offset's low byte (from 0x80 up) is
    // where the conversion shifts every later row.
    const std::vector<std::string> objects = {"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R "
                                              "/Resources << /Font << /F1 5 0 R >> >> >>",
                                              "<< /Type /Pages /Kids [1 0 R] /Count 1 >>",
                                              "<< /Type /Catalog /Pages 2 0 R >>",
                                              pdfStream("", "BT /F1 18 Tf 20 150 Td (" + words + ") Tj ET"),
                                              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                                              "<< /Title (Made) /Producer (test) >>"};
    const std::vector<int> order = {3, 2, 1, 4, 5, 6};
    std::string out = "%PDF-1.3\n%";
    // The page starts where its offset's low byte is 0xC0.
    std::size_t at = out.size() + 1 + objects[2].size() + 16 + objects[1].size() + 16;
    out += std::string(0xC0 - at % 256 + (at % 256 > 0xC0 ? 256 : 0), 'x') + "\n";
    std::vector<std::size_t> offsets(objects.size() + 2, 0);
    for (const int num : order) {
        offsets[std::size_t(num)] = out.size();
        out += std::to_string(num) + " 0 obj\n" + objects[std::size_t(num - 1)] + "\nendobj\n";
    }
    const std::size_t tableAt = out.size();
    offsets[objects.size() + 1] = tableAt;
    std::string table(5, '\0');
    for (std::size_t num = 1; num < offsets.size(); ++num)
        table += {'\1', char(offsets[num] >> 8), char(offsets[num]), '\0', '\0'};
    std::string converted;
    for (const char byte : table)
        converted += static_cast<unsigned char>(byte) >= 0x80 ? "\xEF\xBF\xBD" : std::string(1, byte);
    const std::string size = std::to_string(offsets.size());
    out += std::to_string(objects.size() + 1) + " 0 obj\n<< /Type /XRef /Size " + size
           + " /W [1 2 2] /Root 3 0 R /Info 6 0 R /Length " + std::to_string(table.size()) + " >>\nstream\n" + converted
           + "\nendstream\nendobj\nstartxref\n" + std::to_string(tableAt) + "\n%%EOF\n";
    return QByteArray::fromStdString(out);
}

QByteArray makeRawZip(const std::vector<RawZipEntry>& entries)
{
    const auto put = [](QByteArray& out, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.append(char((value >> (8 * i)) & 0xFF));
    };
    const auto crc32 = [](const QByteArray& data) {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (const char byte : data) {
            crc ^= static_cast<unsigned char>(byte);
            for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    QByteArray out, directory;
    for (const RawZipEntry& entry : entries) {
        const std::uint32_t offset = std::uint32_t(out.size());
        const std::uint32_t crc = crc32(entry.data);
        const int flags = entry.utf8Flag ? 0x800 : 0;
        // The fields both headers share: version needed, flags, stored, a time and date, sizes.
        QByteArray common;
        put(common, 20, 2), put(common, flags, 2), put(common, 0, 2), put(common, 0, 2), put(common, 0x21, 2);
        put(common, crc, 4), put(common, entry.data.size(), 4), put(common, entry.data.size(), 4);
        put(common, entry.name.size(), 2), put(common, 0, 2);
        put(out, 0x04034b50, 4);
        out += common + entry.name + entry.data;
        put(directory, 0x02014b50, 4);
        put(directory, (3 << 8) | 20, 2); // made by a Unix tool, so the mode counts
        directory += common;
        put(directory, 0, 2), put(directory, 0, 2), put(directory, 0, 2); // comment, disk, internal attributes
        put(directory, std::uint64_t(entry.mode) << 16, 4);
        put(directory, offset, 4);
        directory += entry.name;
    }
    const std::uint32_t directoryOffset = std::uint32_t(out.size());
    out += directory;
    put(out, 0x06054b50, 4), put(out, 0, 2), put(out, 0, 2);
    put(out, entries.size(), 2), put(out, entries.size(), 2);
    put(out, directory.size(), 4), put(out, directoryOffset, 4), put(out, 0, 2);
    return out;
}

std::string testName(std::string_view words)
{
    std::string name;
    bool wordStarts = true;
    for (const char c : words) {
        if (c == '\'') continue; // "drawing's" is one word
        const bool letter = std::isalnum(static_cast<unsigned char>(c));
        if (letter) name += wordStarts ? char(std::toupper(static_cast<unsigned char>(c))) : c;
        wordStarts = !letter;
    }
    return name;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // As QTest::qWaitFor does: objects let go with deleteLater() go now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2); // the step between two looks at the condition
    }
    return true;
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    saved_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = saved_;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, handler_);
}

struct WorkerGate::State {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> arrived = 0;
};

std::shared_ptr<WorkerGate::State> WorkerGate::makeState() { return std::make_shared<State>(); }

std::function<void()> WorkerGate::hook() const
{
    return [state = state_] {
        ++state->arrived;
        std::unique_lock lock(state->mutex);
        state->opened.wait(lock, [&state] { return state->open; });
    };
}

bool WorkerGate::waitUntilReached() const
{
    return waitFor([this] { return state_->arrived.load() > 0; });
}

void WorkerGate::release()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->open = true;
    }
    state_->opened.notify_all();
}

QDateTime earlierToday(qint64 seconds)
{
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 sinceMidnightMs = QDateTime(now.date(), QTime(0, 0)).msecsTo(now);
    return now.addMSecs(-seconds * sinceMidnightMs / 86400).toUTC();
}

} // namespace testsupport

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
#if defined(RAVLEN_TEST_WIDGETS)
    QApplication app(argc, argv);
#else
    QGuiApplication app(argc, argv);
#endif
    const int result = RUN_ALL_TESTS();
#if defined(RAVLEN_TEST_KIT)
    // A page a test left being read on a worker must not outlive the engine's
    // statics; the application leaves the same way when its workers linger.
    if (!quarnkit::TileRenderer::workerPool().waitForDone(30000)
        || !quarnkit::DroppableWork::shared().pool()->waitForDone(30000)) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
#endif
    return result;
}
