// ravlen-makebig PAGES OUTPUT FILE|FOLDER…: writes a PDF of exactly PAGES
// pages made by repeating the pages of the given PDFs in order (folders: their
// PDFs sorted by name), for benchmarks that need long real-world documents.
// Each repetition copies its pages afresh, as a long document has its own
// images and fonts on each page rather than one set shared by all.
#include "Platform/PdfDocument.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfPageAssembly.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Source {
    std::string path;
    std::shared_ptr<platform::PdfDocument> doc;
    int pages = 0;
};

std::vector<std::string> pdfsIn(const QString& folder)
{
    std::vector<std::string> files;
    const QDir dir(folder);
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("*.pdf"), QStringLiteral("*.PDF")}, QDir::Files, QDir::Name))
        files.push_back(info.filePath().toStdString());
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    int wanted = 0;
    if (argc < 4 || std::from_chars(argv[1], argv[1] + std::strlen(argv[1]), wanted).ec != std::errc() || wanted < 1) {
        std::fprintf(stderr, "usage: %s PAGES OUTPUT FILE|FOLDER...\n", argv[0]);
        return 2;
    }
    const std::string output = argv[2];

    std::vector<std::string> paths;
    for (int i = 3; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const QFileInfo info(arg);
        if (info.isDir()) {
            const auto inside = pdfsIn(arg);
            paths.insert(paths.end(), inside.begin(), inside.end());
        } else {
            paths.push_back(arg.toStdString());
        }
    }

    std::vector<Source> sources;
    for (const auto& path : paths) {
        try {
            auto doc = platform::PdfDocument::openFile(path);
            if (doc->isLocked() && !doc->unlock("")) {
                std::fprintf(stderr, "%s: skipped, it needs a password\n", path.c_str());
                continue;
            }
            const int pages = doc->pageCount();
            if (pages > 0) sources.push_back({path, std::move(doc), pages});
        } catch (const platform::PdfError& e) {
            std::fprintf(stderr, "%s: skipped: %s\n", path.c_str(), e.what());
        }
    }
    if (sources.empty()) {
        std::fprintf(stderr, "no readable PDF to take pages from\n");
        return 1;
    }

    try {
        auto big = platform::PdfDocument::createEmpty();
        int made = 0;
        bool progress = true;
        while (made < wanted && progress) {
            progress = false;
            for (auto& source : sources) {
                if (made >= wanted) break;
                if (!source.doc) continue;
                const int count = std::min(source.pages, wanted - made);
                try {
                    platform::appendPages(*big, *source.doc, 0, count);
                    made += count;
                    progress = true;
                } catch (const platform::PdfError& e) {
                    // A page that cannot be copied would fail every round: drop the file.
                    std::fprintf(stderr, "%s: skipped: %s\n", source.path.c_str(), e.what());
                    source.doc.reset();
                    made = big->pageCount();
                }
            }
        }
        if (big->pageCount() != wanted) {
            std::fprintf(stderr, "made %d pages instead of %d\n", big->pageCount(), wanted);
            return 1;
        }
        // The file named on the command line, replaced whatever it holds.
        big->saveToFile(*platform::ChosenFile::ask(output, [](const platform::NameSeen&) { return true; }));
    } catch (const platform::PdfError& e) {
        std::fprintf(stderr, "%s: %s\n", output.c_str(), e.what());
        return 1;
    }
    return 0;
}
