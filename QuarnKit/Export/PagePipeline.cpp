#include "QuarnKit/Export/PagePipeline.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace quarnkit::PagePipeline {

int threadCount(int pages) { return std::clamp(std::min(QThread::idealThreadCount(), 8), 1, std::max(pages, 1)); }

void run(const std::shared_ptr<platform::PdfDocument>& source, const std::vector<int>& pages, const Produce& produce,
         const std::function<void(int k)>& before, const Consume& consume, int threads)
{
    const int n = int(pages.size());
    if (threads <= 0) threads = threadCount(n);
    if (threads <= 1 || n <= 1) {
        for (int k = 0; k < n; ++k) {
            if (before) before(k);
            consume(k, produce(*source, pages[size_t(k)]));
        }
        return;
    }

    const QByteArray copy = source->readingCopy();
    const int window = 2 * threads; // pages rendered ahead of the one consumed
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, QByteArray> done;
    int next = 0;     // the next position a worker takes
    int consumed = 0; // positions handed to `consume`
    bool stopping = false;
    std::exception_ptr failure;

    auto work = [&] {
        std::shared_ptr<platform::PdfDocument> doc;
        try {
            doc = platform::PdfDocument::openBytes(copy);
        } catch (...) {
            std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
            stopping = true;
            changed.notify_all();
            return;
        }
        for (;;) {
            int k;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stopping || next >= n || next < consumed + window; });
                if (stopping || next >= n) return;
                k = next++;
            }
            try {
                QByteArray bytes = produce(*doc, pages[size_t(k)]);
                std::lock_guard lock(mutex);
                done.emplace(k, std::move(bytes));
            } catch (...) {
                std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
                stopping = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(work);
    auto stopAll = [&] {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& worker : workers) worker.join();
        workers.clear();
    };

    try {
        for (int k = 0; k < n; ++k) {
            if (before) before(k);
            QByteArray bytes;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return failure || done.count(k); });
                if (failure) std::rethrow_exception(failure);
                bytes = std::move(done[k]);
                done.erase(k);
            }
            consume(k, bytes);
            {
                std::lock_guard lock(mutex);
                consumed = k + 1;
            }
            changed.notify_all();
        }
    } catch (...) {
        stopAll();
        throw;
    }
    stopAll();
}

} // namespace quarnkit::PagePipeline
