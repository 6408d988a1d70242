#pragma once
// Renders and encodes the pages of an image export on several threads, each
// with its own copy of the document (one document is used by one thread at a
// time), and hands the results back in page order on the calling thread.
// Only a few pages are held at once.
#include "Platform/PdfDocument.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

namespace quarnkit::PagePipeline {

// Makes one page's bytes from a document; runs on a worker thread.
using Produce = std::function<QByteArray(const platform::PdfDocument& doc, int index)>;
// Takes the bytes of position k of the list; runs on the calling thread in
// list order, and may throw to stop (cancellation, a failed write).
using Consume = std::function<void(int k, const QByteArray& bytes)>;

// The threads used for `pages` pages: the machine's cores, at most 8.
int threadCount(int pages);

// Runs `produce` for every listed page and `consume` for each result in
// order. `before(k)` runs on the calling thread before waiting for position
// k (progress, cancellation) and may throw. The first error of a worker or
// of the calling side ends the run and is rethrown once every worker has
// stopped. `source` is copied once per worker; with one thread it is used
// as it is.
void run(const std::shared_ptr<platform::PdfDocument>& source, const std::vector<int>& pages, const Produce& produce,
         const std::function<void(int k)>& before, const Consume& consume, int threads = 0);

} // namespace quarnkit::PagePipeline
