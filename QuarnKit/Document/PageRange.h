#pragma once
// The page text a user types ("1-3, 5, 8-") turned into zero-based page
// indices, and page indices turned back into such a text.
#include <QString>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quarnkit {

// Why a page text was refused, in one sentence fit to show under the field.
// Page numbers are one-based, as the user typed them.
class PageRangeError : public std::runtime_error {
public:
    enum class Kind { unreadable, pastEnd, backwards, empty, zero };

    static PageRangeError unreadable(const QString& token);
    static PageRangeError pastEnd(std::int64_t page, std::int64_t count);
    static PageRangeError backwards(std::int64_t from, std::int64_t to);
    static PageRangeError empty();
    static PageRangeError zero();

    Kind kind() const { return kind_; }
    const QString& token() const { return token_; } // unreadable
    std::int64_t page() const { return first_; }    // pastEnd
    std::int64_t count() const { return second_; }  // pastEnd
    std::int64_t from() const { return first_; }    // backwards
    std::int64_t to() const { return second_; }     // backwards

    // The fixed sentence with the values filled in.
    QString message() const;

    friend bool operator==(const PageRangeError& a, const PageRangeError& b)
    {
        return a.kind_ == b.kind_ && a.token_ == b.token_ && a.first_ == b.first_ && a.second_ == b.second_;
    }

private:
    PageRangeError(Kind kind, QString token, std::int64_t first, std::int64_t second);
    static QString describe(Kind kind, const QString& token, std::int64_t first, std::int64_t second);

    Kind kind_;
    QString token_;
    std::int64_t first_ = 0;
    std::int64_t second_ = 0;
};

namespace PageRange {

// The sorted, distinct zero-based indices that `text` names in a document of
// `pageCount` pages. Throws the PageRangeError of the first bad token.
std::vector<int> parse(const QString& text, int pageCount);

// One-based runs joined by ", ": [0, 1, 2, 4] gives "1-3, 5". Negative
// indices and repeats are ignored; no indices give "".
QString describe(const std::vector<int>& indices);

} // namespace PageRange
} // namespace quarnkit
