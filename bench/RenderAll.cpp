// ravlen-render-all FILE DPI: opens FILE and renders every page at DPI on one
// thread through the PDF layer, the way `mutool draw -r DPI -o /dev/null FILE`
// does, so that the two can be timed side by side as whole processes.
#include "Platform/PdfDocument.h"

#include <charconv>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    double dpi = 0;
    if (argc != 3 || std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), dpi).ec != std::errc() || dpi <= 0) {
        std::fprintf(stderr, "usage: %s FILE DPI\n", argv[0]);
        return 2;
    }
    try {
        auto doc = platform::PdfDocument::openFile(argv[1]);
        if (doc->isLocked() && !doc->unlock("")) {
            std::fprintf(stderr, "%s: needs a password\n", argv[1]);
            return 1;
        }
        const int pages = doc->pageCount();
        int failed = 0;
        for (int i = 0; i < pages; ++i) {
            // A page that fails is reported and skipped, as mutool does.
            try {
                if (doc->render(i, dpi / 72.0).isNull()) ++failed;
            } catch (const platform::PdfError& e) {
                std::fprintf(stderr, "page %d: %s\n", i + 1, e.what());
                ++failed;
            }
        }
        return failed ? 1 : 0;
    } catch (const platform::PdfError& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
}
