#include "QuarnKit/Document/DocumentSearch.h"

#include "Platform/PdfTextReader.h"
#include "QuarnKit/Document/DocumentEngine.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include <sched.h>

namespace quarnkit {

// ---------------------------------------------------------------- matching rules

namespace TextMatch {
namespace {

// Letters, marks and digits: what a word is made of.
bool isAlphanumeric(char32_t c) { return QChar::isLetterOrNumber(c) || QChar::isMark(c); }

} // namespace

std::vector<Range> ranges(const QString& query, const QString& text, const FindOptions& options)
{
    const QString needle = query.trimmed();
    std::vector<Range> found;
    if (needle.isEmpty()) return found;
    qsizetype location = 0;
    while (location < text.size()) {
        const qsizetype at = text.indexOf(needle, location, options.caseSensitivity());
        if (at < 0) break;
        // Simple case folding maps unit to unit, so a match is as long as the query.
        const Range range{at, needle.size()};
        location = range.end();
        if (options.wholeWords && !isWholeWord(range, text, needle)) continue;
        found.push_back(range);
    }
    return found;
}

bool isWholeWord(Range range, const QString& text, const QString& query)
{
    if (range.location < 0 || range.length < 0 || range.end() > text.size()) return false;
    const QList<uint> scalars = query.trimmed().toUcs4();
    if (scalars.isEmpty()) return true;
    if (isAlphanumeric(scalars.first()) && range.location >= 1) {
        const QChar before = text[range.location - 1];
        if (!before.isSurrogate() && isAlphanumeric(before.unicode())) return false;
    }
    if (!isAlphanumeric(scalars.last()) || range.end() >= text.size()) return true;
    const QChar after = text[range.end()];
    return after.isSurrogate() || !isAlphanumeric(after.unicode());
}

} // namespace TextMatch

// ---------------------------------------------------------------- page text

namespace {

// Appends a glyph's text as searched: ligatures (U+FB00…U+FB06) spelt out,
// so that "fi" finds the "ﬁ" of a typeset page. Returns the units appended.
int appendSpelled(QString& text, char32_t code)
{
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (code < 0xFB00 && !surrogate) { // by far the most common case
        text.append(QChar(char16_t(code)));
        return 1;
    }
    if (code <= 0xFB06) {
        const QString spelled = QChar::decomposition(code);
        text.append(spelled);
        return int(spelled.size());
    }
    if (code > 0x10FFFF || surrogate) {
        text.append(QChar(QChar::ReplacementCharacter));
        return 1;
    }
    if (code < 0x10000) {
        text.append(QChar(char16_t(code)));
        return 1;
    }
    text.append(QChar(QChar::highSurrogate(code)));
    text.append(QChar(QChar::lowSurrogate(code)));
    return 2;
}

} // namespace

PageSearchText::PageSearchText(platform::PdfTextPage page) : page_(std::move(page))
{
    std::size_t count = 0;
    for (const platform::PdfTextBlock& block : page_.blocks)
        for (const platform::PdfTextLine& textLine : block.lines) count += textLine.chars.size() + 1;
    text_.reserve(qsizetype(count));
    glyphOfUnit_.reserve(count);
    glyphs_.reserve(count);

    int line = 0;
    for (const platform::PdfTextBlock& block : page_.blocks) {
        for (const platform::PdfTextLine& textLine : block.lines) {
            if (!text_.isEmpty() && !text_.back().isSpace()) {
                text_.append(QLatin1Char(' '));
                glyphOfUnit_.push_back(-1);
            }
            for (const platform::PdfChar& c : textLine.chars) {
                const int glyph = int(glyphs_.size());
                glyphs_.push_back({&c, line, QChar::isSpace(c.code)});
                const int units = appendSpelled(text_, c.code);
                for (int i = 0; i < units; ++i) glyphOfUnit_.push_back(glyph);
            }
            ++line;
        }
    }
}

std::vector<platform::PdfQuad> PageSearchText::quads(TextMatch::Range range) const
{
    std::vector<platform::PdfQuad> out;
    if (range.location < 0) return out;
    int line = -1, first = -1, last = -1;
    const auto flush = [&] {
        if (first >= 0) {
            const platform::PdfQuad& a = glyphs_[std::size_t(first)].glyph->quad;
            const platform::PdfQuad& b = glyphs_[std::size_t(last)].glyph->quad;
            out.push_back({a.ul, b.ur, a.ll, b.lr});
        }
        first = last = -1;
    };
    const qsizetype end = std::min<qsizetype>(range.end(), qsizetype(glyphOfUnit_.size()));
    for (qsizetype unit = range.location; unit < end; ++unit) {
        const int glyph = glyphOfUnit_[std::size_t(unit)];
        if (glyph < 0) continue;
        const Glyph& g = glyphs_[std::size_t(glyph)];
        if (g.line != line) {
            flush();
            line = g.line;
        }
        if (g.blank) continue;
        if (first < 0) first = glyph;
        last = glyph;
    }
    flush();
    return out;
}

platform::PdfRect SearchMatch::bounds() const
{
    platform::PdfRect united;
    for (const platform::PdfQuad& quad : quads) united = united.united(quad.bounds());
    return united;
}

// ---------------------------------------------------------------- document search

struct DocumentSearch::Run {
    QString query; // trimmed
    FindOptions options;
    std::uint64_t session = 0;
    std::shared_ptr<QObject> relay;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false}; // the worker has returned
    // Touched on the owner's thread only.
    DocumentSearch* owner = nullptr; // none once the run is cancelled
    MatchHandler onMatches;
    FinishHandler onFinish;
};

namespace {

// The cores this process may run on; more than four readers gain little on
// one document and cost each a reading of it.
int defaultReaderCount()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int available =
        sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : int(std::thread::hardware_concurrency());
    return std::clamp(available, 1, 4);
}

} // namespace

DocumentSearch::DocumentSearch(const QuarnDocument& document, int readers) : DocumentSearch(pdfOf(document), readers) {}

bool DocumentSearch::reads(const QuarnDocument& document) const { return document_ == pdfOf(document); }

DocumentSearch::DocumentSearch(std::shared_ptr<const platform::PdfDocument> document, int readers)
    : document_(std::move(document)), readers_(readers > 0 ? readers : defaultReaderCount()),
      // Workers may drop the last reference on their own thread; the object
      // must die on the thread it lives on. While the application tears down
      // its pending events, posting one more would wait on itself forever.
      relay_(new QObject, [](QObject* relay) {
          if (QCoreApplication::closingDown() && relay->thread() == QThread::currentThread()) delete relay;
          else relay->deleteLater();
      })
{}

DocumentSearch::~DocumentSearch()
{
    cancel();
    for (auto& [thread, run] : workers_) {
        run->cancelled = true;
        thread.join();
    }
}

void DocumentSearch::cancel()
{
    ++session_;
    running_ = false;
    if (!current_) return;
    current_->cancelled = true;
    current_->owner = nullptr;
    current_->onMatches = nullptr;
    current_->onFinish = nullptr;
    current_.reset();
}

void DocumentSearch::reapWorkers()
{
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->second->finished) {
            it->first.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void DocumentSearch::start(const QString& query, const FindOptions& options, MatchHandler onMatches,
                           FinishHandler onFinish)
{
    cancel();
    reapWorkers();
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty() || !document_) {
        if (onFinish) onFinish();
        return;
    }
    auto run = std::make_shared<Run>();
    run->query = trimmed;
    run->options = options;
    run->session = session_;
    run->relay = relay_;
    run->owner = this;
    run->onMatches = std::move(onMatches);
    run->onFinish = std::move(onFinish);
    try {
        workers_.emplace_back(std::thread(&DocumentSearch::work, run, document_, readers_), run);
    } catch (const std::system_error&) {
        // No thread to be had: the search ends at once, having found nothing.
        if (run->onFinish) run->onFinish();
        return;
    }
    current_ = run;
    running_ = true;
}

void DocumentSearch::deliver(const std::shared_ptr<Run>& run, std::vector<SearchMatch>& batch, bool finished)
{
    if (run != current_ || run->session != session_) return;
    if (!batch.empty() && run->onMatches) {
        // A copy: the handler may start another search, which drops this one's.
        const MatchHandler handler = run->onMatches;
        handler(batch);
    }
    if (!finished || run != current_) return;
    running_ = false;
    const FinishHandler finish = std::move(run->onFinish);
    run->owner = nullptr;
    run->onMatches = nullptr;
    current_.reset();
    if (finish) finish();
}

namespace {

// Reads pages for a search on a thread of its own: with a reader of its own
// when the document allows one, else from a recording of the page made while
// holding the shared document, so that only the recording waits for others.
class PageReader {
public:
    explicit PageReader(std::shared_ptr<const platform::PdfDocument> document) noexcept : shared_(std::move(document))
    {
        try {
            own_ = platform::PdfTextReader::open(*shared_);
        } catch (...) {}
    }

    platform::PdfTextPage text(int page)
    {
        if (own_) return own_->textPage(page);
        const auto list = shared_->displayList(page);
        return list ? list->textPage() : platform::PdfTextPage{};
    }

private:
    std::shared_ptr<const platform::PdfDocument> shared_;
    std::unique_ptr<platform::PdfTextReader> own_;
};

} // namespace

void DocumentSearch::work(std::shared_ptr<Run> run, std::shared_ptr<const platform::PdfDocument> document,
                          int readerCount)
{
    using Clock = std::chrono::steady_clock;
    // Often enough for the count to grow visibly, rarely enough not to flood
    // the owner's event loop.
    constexpr auto batchInterval = std::chrono::milliseconds(100);
    constexpr std::size_t batchLimit = 2000;

    const auto post = [&run](std::vector<SearchMatch> batch, bool finished) {
        QMetaObject::invokeMethod(
            run->relay.get(),
            [run, batch = std::move(batch), finished]() mutable {
                if (run->owner) run->owner->deliver(run, batch, finished);
            },
            Qt::QueuedConnection);
    };

    // Readers take runs of pages in turn and file each page's matches under
    // its number; this thread hands them on in page order. Neighbouring pages
    // often share fonts that only the reader which loaded them holds, so a
    // reader takes several at once, but runs short enough to keep every
    // reader busy to the end.
    struct Page {
        bool read = false;
        std::vector<SearchMatch> matches;
    };
    int pageCount = 0;
    try {
        pageCount = document->pageCount();
    } catch (...) {}
    std::vector<Page> pages(std::size_t(std::max(pageCount, 0)));
    std::mutex mutex;
    std::condition_variable pageRead;
    std::atomic<int> nextRun{0};
    const int runLength = std::clamp(pageCount / (readerCount * 16), 1, 16);
    std::atomic<bool> stop{false}; // this thread gave up: no more pages are wanted
    const auto read = [&] {
        PageReader reader(document);
        const auto wanted = [&] { return !run->cancelled && !stop; };
        for (int first = nextRun.fetch_add(runLength); first < pageCount && wanted();
             first = nextRun.fetch_add(runLength)) {
            for (int page = first; page < std::min(first + runLength, pageCount) && wanted(); ++page) {
                std::vector<SearchMatch> found;
                try {
                    const PageSearchText searchText(reader.text(page));
                    for (const TextMatch::Range& range : TextMatch::ranges(run->query, searchText.text(), run->options))
                        found.push_back({page, range, searchText.text().mid(range.location, range.length),
                                         searchText.quads(range)});
                } catch (...) {
                    // A damaged page, or one removed meanwhile, has nothing to find.
                }
                std::lock_guard lock(mutex);
                pages[std::size_t(page)] = {true, std::move(found)};
                pageRead.notify_all();
            }
        }
        // A reader that stops early leaves its pages to the others, or to the cancel.
        std::lock_guard lock(mutex);
        pageRead.notify_all();
    };
    std::vector<std::thread> readers;
    try {
        for (int i = 0; i < std::min(readerCount, pageCount); ++i) readers.emplace_back(read);
    } catch (const std::system_error&) {
        // Fewer threads than hoped for: those there are read every page.
    }

    std::vector<SearchMatch> pending;
    try {
        if (readers.empty()) read();
        bool sentFirst = false;
        Clock::time_point lastPost = Clock::now();
        for (int page = 0; page < pageCount && !run->cancelled; ++page) {
            {
                std::unique_lock lock(mutex);
                pageRead.wait(lock, [&] { return pages[std::size_t(page)].read || run->cancelled; });
                if (run->cancelled) break;
                std::vector<SearchMatch>& found = pages[std::size_t(page)].matches;
                std::move(found.begin(), found.end(), std::back_inserter(pending));
                std::vector<SearchMatch>().swap(found);
            }
            const Clock::time_point now = Clock::now();
            if (!pending.empty() && (!sentFirst || now - lastPost >= batchInterval || pending.size() >= batchLimit)) {
                post(std::exchange(pending, {}), false);
                sentFirst = true;
                lastPost = now;
            }
        }
    } catch (...) {
        // Out of memory or the like: end the search with what was found.
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    if (!run->cancelled) post(std::move(pending), true);
    run->finished = true;
}

} // namespace quarnkit
