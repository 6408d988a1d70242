#pragma once
// Small PDFs written by hand for the document-logic tests, so that what is
// checked does not depend on the code under test. Object numbers: 1 catalog,
// 2 page tree, 3 font (Helvetica as F1), 4 Info (when given), then a page and
// its contents for each page (page i is object 5 + 2 i), then the extra objects.
#include "support/TestSupport.h"
#include <QByteArray>

#include <cstdio>
#include <string>
#include <vector>

namespace handmade {

struct Page {
    std::string mediaBox = "[0 0 612 792]";
    std::string extra;   // more page keys: "/CropBox [...] /Rotate 90"
    std::string content; // the content stream
};

inline int pageObject(int index) { return 5 + 2 * index; }
inline int firstExtraObject(int pageCount) { return 5 + 2 * pageCount; }

// A PDF string literal with its delimiters escaped.
inline std::string literal(const std::string& text)
{
    std::string out = "(";
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c;
    }
    return out + ")";
}

// Text lines in 12-point Helvetica, from (72, 700) downwards, 16 points apart.
inline std::string textLines(const std::vector<std::string>& lines, double size = 12)
{
    std::string out =
        "BT /F1 " + std::to_string(int(size)) + " Tf 72 700 Td " + std::to_string(int(size * 4 / 3)) + " TL";
    for (const std::string& line : lines) out += " " + literal(line) + " Tj T*";
    return out + " ET";
}

// `info` is the body of the Info dictionary without its "<< >>"; empty for none.
inline QByteArray makePdf(const std::vector<Page>& pages, const std::string& info = {},
                          const std::vector<std::string>& extraObjects = {}, const std::string& catalogExtra = {},
                          const std::string& version = "1.4")
{
    std::vector<std::string> objects;
    std::string kids;
    for (int i = 0; i < int(pages.size()); ++i) kids += std::to_string(pageObject(i)) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    objects.push_back(info.empty() ? "null" : "<< " + info + " >>");
    for (int i = 0; i < int(pages.size()); ++i) {
        const Page& page = pages[std::size_t(i)];
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + page.mediaBox + " " + page.extra
                          + " /Resources << /Font << /F1 3 0 R >> >> /Contents " + std::to_string(pageObject(i) + 1)
                          + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" + page.content
                          + "\nendstream");
    }
    for (const std::string& object : extraObjects) objects.push_back(object);

    return testsupport::writePdf(objects, version, info.empty() ? "" : " /Info 4 0 R");
}

inline std::vector<Page> blankPages(int count) { return std::vector<Page>(std::size_t(count)); }

} // namespace handmade
