#include "QuarnKit/Document/PageRange.h"

#include <gtest/gtest.h>

#include <optional>

using quarnkit::PageRangeError;
namespace PageRange = quarnkit::PageRange;

namespace {

using Indices = std::vector<int>;

// The error that parsing throws, or none when it succeeds.
std::optional<PageRangeError> errorOf(const QString& text, int pageCount)
{
    try {
        PageRange::parse(text, pageCount);
    } catch (const PageRangeError& error) {
        return error;
    }
    return std::nullopt;
}

std::string messageOf(const QString& text, int pageCount)
{
    const auto error = errorOf(text, pageCount);
    return error ? error->message().toStdString() : std::string("(no error)");
}

} // namespace

TEST(PageRangeParse, ListsRangesAndOpenEnds)
{
    EXPECT_EQ(PageRange::parse("1-3, 5, 8-", 10), (Indices{0, 1, 2, 4, 7, 8, 9}));
    EXPECT_EQ(PageRange::parse("2-2", 10), (Indices{1}));
    EXPECT_EQ(PageRange::parse("-1", 10), (Indices{0}));
    EXPECT_EQ(PageRange::parse("4-", 4), (Indices{3}));
    EXPECT_EQ(PageRange::parse("-3", 10), (Indices{0, 1, 2}));
    EXPECT_EQ(PageRange::parse("007", 10), (Indices{6}));
}

TEST(PageRangeParse, AcceptsEveryDashAndSeparator)
{
    const Indices threeToFive{2, 3, 4};
    EXPECT_EQ(PageRange::parse(QStringLiteral("3\u20135"), 10), threeToFive);   // en dash
    EXPECT_EQ(PageRange::parse(QStringLiteral("3\u20145"), 10), threeToFive);   // em dash
    EXPECT_EQ(PageRange::parse(QStringLiteral("3 \u2212 5"), 10), threeToFive); // minus sign, spaced
    EXPECT_EQ(PageRange::parse(QStringLiteral("3\u20105"), 10), threeToFive);   // hyphen
    EXPECT_EQ(PageRange::parse(QStringLiteral("3\u20115"), 10), threeToFive);   // non-breaking hyphen
    EXPECT_EQ(PageRange::parse(QStringLiteral("3\u20125"), 10), threeToFive);   // figure dash
    EXPECT_EQ(PageRange::parse("1 3 5", 10), (Indices{0, 2, 4}));
    EXPECT_EQ(PageRange::parse("5;1,3", 10), (Indices{0, 2, 4}));
    EXPECT_EQ(PageRange::parse(" 1\n3\t5 ", 10), (Indices{0, 2, 4}));
}

TEST(PageRangeParse, OverlapsAndRepeatsMerge)
{
    EXPECT_EQ(PageRange::parse("1-4, 3-6, 2, 2", 10), (Indices{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(PageRange::parse("10, 1", 10), (Indices{0, 9}));
}

TEST(PageRangeErrors, EmptyText)
{
    EXPECT_EQ(errorOf("", 10), PageRangeError::empty());
    EXPECT_EQ(errorOf(" , ; ", 10), PageRangeError::empty());
    EXPECT_EQ(messageOf("", 10), "Type the pages to export, like 1-3, 5, 8-.");
}

TEST(PageRangeErrors, Zero)
{
    EXPECT_EQ(errorOf("0", 10), PageRangeError::zero());
    EXPECT_EQ(errorOf("0-3", 10), PageRangeError::zero());
    EXPECT_EQ(messageOf("0", 10), "Pages start at 1.");
}

TEST(PageRangeErrors, PastTheEnd)
{
    EXPECT_EQ(errorOf("12", 10), PageRangeError::pastEnd(12, 10));
    EXPECT_EQ(messageOf("12", 10), "Page 12 doesn't exist. This PDF has 10 pages.");
    EXPECT_EQ(messageOf("2", 1), "Page 2 doesn't exist. This PDF has 1 page.");
    EXPECT_EQ(messageOf("3-12", 10), "Page 12 doesn't exist. This PDF has 10 pages.");
}

TEST(PageRangeErrors, Backwards)
{
    EXPECT_EQ(errorOf("7-3", 10), PageRangeError::backwards(7, 3));
    EXPECT_EQ(messageOf("7-3", 10), "7-3 runs backwards. Try 3-7.");
}

TEST(PageRangeErrors, Unreadable)
{
    for (const char* text : {"x", "1.5", "+3", "1-2-3", "-"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(errorOf(text, 10), PageRangeError::unreadable(QString::fromLatin1(text)));
    }
    EXPECT_EQ(messageOf("1-2-3", 10), "\"1-2-3\" isn't a page or a range.");
    // Full-width digits are digits to Unicode but not to the parser.
    EXPECT_EQ(errorOf(QStringLiteral("\uFF13"), 10), PageRangeError::unreadable(QStringLiteral("\uFF13")));
}

TEST(PageRangeErrors, QuotesTheNormalisedToken)
{
    EXPECT_EQ(errorOf("1 - x", 10), PageRangeError::unreadable("1-x"));
    EXPECT_EQ(messageOf("1 - x", 10), "\"1-x\" isn't a page or a range.");
    EXPECT_EQ(messageOf(QStringLiteral("2\u2013y"), 10), "\"2-y\" isn't a page or a range.");
}

TEST(PageRangeErrors, FirstBadTokenDecides)
{
    EXPECT_EQ(errorOf("x, 0", 10), PageRangeError::unreadable("x"));
    EXPECT_EQ(errorOf("0, x", 10), PageRangeError::zero());
    EXPECT_EQ(errorOf("3, 99, 5-1", 10), PageRangeError::pastEnd(99, 10));
}

TEST(PageRangeErrors, NumbersTooLongForSixtyFourBitsAreUnreadable)
{
    EXPECT_EQ(errorOf("99999999999999999999", 10), PageRangeError::unreadable("99999999999999999999"));
    // The largest 64-bit value still reads as a number: past the end.
    EXPECT_EQ(errorOf("9223372036854775807", 10), PageRangeError::pastEnd(9223372036854775807LL, 10));
}

TEST(PageRangeErrors, ErrorsCompareByCaseAndPayload)
{
    EXPECT_EQ(PageRangeError::pastEnd(3, 2), PageRangeError::pastEnd(3, 2));
    EXPECT_FALSE(PageRangeError::pastEnd(3, 2) == PageRangeError::pastEnd(4, 2));
    EXPECT_FALSE(PageRangeError::backwards(3, 2) == PageRangeError::pastEnd(3, 2));
    EXPECT_FALSE(PageRangeError::unreadable("a") == PageRangeError::unreadable("b"));
    EXPECT_STREQ(PageRangeError::zero().what(), "Pages start at 1.");
}

TEST(PageRangeDescribe, WritesRuns)
{
    EXPECT_EQ(PageRange::describe({0, 1, 2, 4, 7, 8, 9}), "1-3, 5, 8-10");
    EXPECT_EQ(PageRange::describe({3, 1, 1}), "2, 4");
    EXPECT_EQ(PageRange::describe({}), "");
    EXPECT_EQ(PageRange::describe({0}), "1");
    EXPECT_EQ(PageRange::describe({0, 1}), "1-2");
    EXPECT_EQ(PageRange::describe({4, 3}), "4-5");
    EXPECT_EQ(PageRange::describe({-1, 2}), "3");
    EXPECT_EQ(PageRange::describe({0, 1, 2, 6}), "1-3, 7");
}

TEST(PageRangeDescribe, RoundTripsThroughParse)
{
    const Indices pages{0, 2, 3, 4, 9, 11, 12};
    EXPECT_EQ(PageRange::parse(PageRange::describe(pages), 13), pages);
}
