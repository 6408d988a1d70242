// bench-render [FILE] [benchmark options]: renders every page of a PDF at
// 150 dpi through the PDF layer, opening the document afresh each time as a
// whole process would. The file comes from the first argument that is not a
// benchmark option, else RAVLEN_BENCH_PDF.
#include "Platform/PdfDocument.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_file;

void renderAllPages(benchmark::State& state, double dpi)
{
    int pages = 0;
    for (auto _ : state) {
        auto doc = platform::PdfDocument::openFile(g_file);
        if (doc->isLocked() && !doc->unlock("")) {
            state.SkipWithError("the document needs a password");
            return;
        }
        pages = doc->pageCount();
        for (int i = 0; i < pages; ++i) {
            QImage image = doc->render(i, dpi / 72.0);
            benchmark::DoNotOptimize(image.constBits());
        }
    }
    state.counters["pages"] = pages;
    state.counters["pages/s"] =
        benchmark::Counter(double(pages) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderAllPages150(benchmark::State& state) { renderAllPages(state, 150); }

} // namespace

int main(int argc, char** argv)
{
    // Take the file out of the arguments before Google Benchmark reads them.
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && g_file.empty() && argv[i][0] != '-') g_file = argv[i];
        else args.push_back(argv[i]);
    }
    if (g_file.empty())
        if (const char* env = std::getenv("RAVLEN_BENCH_PDF")) g_file = env;
    if (g_file.empty()) {
        std::fprintf(stderr, "usage: %s FILE [benchmark options] (or set RAVLEN_BENCH_PDF)\n", argv[0]);
        return 2;
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RegisterBenchmark("RenderAllPages/150dpi", BM_RenderAllPages150)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
