#pragma once
// Find in document: the matching rules on plain text (`TextMatch`), a page's
// text as searched with the glyph behind each character (`PageSearchText`),
// and the search of a whole document on a worker thread (`DocumentSearch`),
// which hands its matches to the calling thread in batches, in page order.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QObject;

namespace quarnkit {

struct FindOptions {
    bool matchCase = false;
    bool wholeWords = false; // a match must not be part of a longer word

    Qt::CaseSensitivity caseSensitivity() const { return matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive; }
    friend bool operator==(const FindOptions&, const FindOptions&) = default;
};

namespace TextMatch {

// A stretch of a text in UTF-16 units.
struct Range {
    qsizetype location = -1; // -1: not found
    qsizetype length = 0;
    qsizetype end() const { return location + length; }
    friend bool operator==(const Range&, const Range&) = default;
};

// The matches of the query (trimmed of white space and line ends) in the
// text, in order and not overlapping; none for an empty query. Letters are
// compared with Unicode case folding unless the case must match.
std::vector<Range> ranges(const QString& query, const QString& text, const FindOptions& options);

// Whether `range` of `text` stands as a word of its own: no letter, digit or
// mark right before it when the query begins with one, none right after it
// when the query ends with one. A character outside the Basic Multilingual
// Plane next to the match counts as a boundary.
bool isWholeWord(Range range, const QString& text, const QString& query);

} // namespace TextMatch

// A page's text as it is searched: its lines in reading order joined by a
// space (so a phrase may run on to the next line), ligatures spelt out, and
// for every UTF-16 unit the glyph it came from.
class PageSearchText {
public:
    PageSearchText() = default;
    explicit PageSearchText(platform::PdfTextPage page);
    // Moves keep the glyphs where they are; a copy would not.
    PageSearchText(PageSearchText&&) = default;
    PageSearchText& operator=(PageSearchText&&) = default;
    PageSearchText(const PageSearchText&) = delete;
    PageSearchText& operator=(const PageSearchText&) = delete;

    const QString& text() const { return text_; }
    // One quad per line the range touches, from its first to its last glyph
    // on that line (white space at either end left out), in user space.
    std::vector<platform::PdfQuad> quads(TextMatch::Range range) const;

private:
    struct Glyph {
        const platform::PdfChar* glyph = nullptr; // within page_
        int line = 0;
        bool blank = false;
    };
    platform::PdfTextPage page_;
    QString text_;
    std::vector<int> glyphOfUnit_; // -1 for the spaces put between lines
    std::vector<Glyph> glyphs_;
};

// One match in a document.
struct SearchMatch {
    int page = 0;
    TextMatch::Range range;               // within the page's PageSearchText
    QString text;                         // the matched text as on the page
    std::vector<platform::PdfQuad> quads; // one per line the match spans
    platform::PdfRect bounds() const;
};

// Searches one document. Results come back on the thread that made the
// object, through its event loop, and only for the search that is current:
// a new start or a cancel silences every earlier one, even results already
// on their way. The worker holds the document only while it reads one page.
class DocumentSearch {
public:
    using MatchHandler = std::function<void(const std::vector<SearchMatch>& batch)>;
    using FinishHandler = std::function<void()>;

    // `readers`: the threads that read pages at once; 0 for one per core, up to four.
    explicit DocumentSearch(std::shared_ptr<const platform::PdfDocument> document, int readers = 0);
    explicit DocumentSearch(const QuarnDocument& document, int readers = 0);
    ~DocumentSearch(); // cancels, and waits for the worker to leave the page it is reading
    DocumentSearch(const DocumentSearch&) = delete;
    DocumentSearch& operator=(const DocumentSearch&) = delete;

    // The search reads this document's PDF.
    bool reads(const QuarnDocument& document) const;

    // Cancels the current search and starts a new one; returns at once.
    // `onMatches` gets the matches in page order, in batches (the first as
    // soon as a page with a match has been read); `onFinish` comes once, after
    // the last batch, when the whole document has been searched. A query that
    // is empty after trimming finds nothing: `onFinish` is called before this
    // returns.
    void start(const QString& query, const FindOptions& options, MatchHandler onMatches, FinishHandler onFinish);
    // Abandons the current search: none of its handlers is called again.
    void cancel();

    bool isRunning() const { return running_; }
    // Raised by every cancel, and so by every start.
    std::uint64_t session() const { return session_; }

private:
    struct Run;
    static void work(std::shared_ptr<Run> run, std::shared_ptr<const platform::PdfDocument> document, int readers);
    void deliver(const std::shared_ptr<Run>& run, std::vector<SearchMatch>& batch, bool finished);
    void reapWorkers();

    std::shared_ptr<const platform::PdfDocument> document_;
    int readers_;
    std::shared_ptr<QObject> relay_; // lives on the owner's thread; results are queued to it
    std::shared_ptr<Run> current_;
    std::vector<std::pair<std::thread, std::shared_ptr<Run>>> workers_;
    std::uint64_t session_ = 0;
    bool running_ = false;
};

} // namespace quarnkit
