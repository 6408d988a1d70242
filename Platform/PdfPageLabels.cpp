#include "Platform/PdfPageLabels.h"

#include "Platform/PdfInternal.h"

#include <algorithm>
#include <map>

namespace platform {

namespace {

// One range as the tree holds it, in plain storage that a longjmp may skip.
struct RawRange {
    int firstPage;
    int style; // 0 none, else the /S name's letter
    int start;
    char prefix[256];
};

struct RawRanges {
    RawRange* items;
    int capacity;
    int count;
    int budget; // tree nodes still allowed: a tree whose kids repeat cannot run away
};

void readNumsC(fz_context* ctx, pdf_obj* nums, RawRanges* out)
{
    const int n = pdf_array_len(ctx, nums);
    for (int i = 0; i + 1 < n && out->count < out->capacity; i += 2) {
        pdf_obj* key = pdf_array_get(ctx, nums, i);
        pdf_obj* value = pdf_array_get(ctx, nums, i + 1);
        if (!pdf_is_int(ctx, key) || !pdf_is_dict(ctx, value)) continue;
        RawRange* r = &out->items[out->count++];
        r->firstPage = pdf_to_int(ctx, key);
        r->style = 0;
        pdf_obj* style = pdf_dict_get(ctx, value, PDF_NAME(S));
        if (pdf_is_name(ctx, style)) r->style = (unsigned char)pdf_to_name(ctx, style)[0];
        pdf_obj* start = pdf_dict_gets(ctx, value, "St");
        r->start = pdf_is_int(ctx, start) ? pdf_to_int(ctx, start) : 1;
        const char* prefix = pdf_to_text_string(ctx, pdf_dict_get(ctx, value, PDF_NAME(P)));
        fz_strlcpy(r->prefix, prefix ? prefix : "", sizeof r->prefix);
    }
}

void readNodeC(fz_context* ctx, pdf_obj* node, int depth, RawRanges* out)
{
    if (depth > 32 || out->budget-- <= 0 || !pdf_is_dict(ctx, node)) return;
    pdf_obj* nums = pdf_dict_get(ctx, node, PDF_NAME(Nums));
    if (pdf_is_array(ctx, nums)) readNumsC(ctx, nums, out);
    pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
    const int n = pdf_array_len(ctx, kids);
    for (int i = 0; i < n; ++i) readNodeC(ctx, pdf_array_get(ctx, kids, i), depth + 1, out);
}

void readRangesC(fz_context* ctx, pdf_document* doc, RawRanges* out, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
        readNodeC(ctx, pdf_dict_gets(ctx, root, "PageLabels"), 0, out);
    }
    fz_catch(ctx) captureError(ctx, err);
}

PdfPageLabelRange::Style styleOf(int letter)
{
    switch (letter) {
    case 'D': return PdfPageLabelRange::Style::decimal;
    case 'R': return PdfPageLabelRange::Style::upperRoman;
    case 'r': return PdfPageLabelRange::Style::lowerRoman;
    case 'A': return PdfPageLabelRange::Style::upperLetters;
    case 'a': return PdfPageLabelRange::Style::lowerLetters;
    default: return PdfPageLabelRange::Style::none;
    }
}

std::string roman(int value, bool upper)
{
    static const std::pair<int, const char*> steps[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                                                        {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                                                        {5, "v"},    {4, "iv"},   {1, "i"}};
    std::string text;
    for (const auto& [amount, letters] : steps)
        for (; value >= amount; value -= amount) text += letters;
    if (upper) std::transform(text.begin(), text.end(), text.begin(), [](char c) { return char(c - 'a' + 'A'); });
    return text;
}

} // namespace

std::string formatPageNumber(PdfPageLabelRange::Style style, int value)
{
    using Style = PdfPageLabelRange::Style;
    // Roman numerals and letters of absurd numbers would run to megabytes:
    // such numbers keep their decimal form.
    constexpr int longest = 20000;
    switch (style) {
    case Style::none: return {};
    case Style::decimal: return std::to_string(value);
    case Style::upperRoman:
    case Style::lowerRoman:
        if (value < 1 || value > longest) return std::to_string(value);
        return roman(value, style == Style::upperRoman);
    case Style::upperLetters:
    case Style::lowerLetters: {
        // A … Z, then AA … ZZ, then AAA: the letter repeated.
        if (value < 1 || value > 26 * 40) return std::to_string(value);
        const char letter = char((style == Style::upperLetters ? 'A' : 'a') + (value - 1) % 26);
        return std::string(size_t((value - 1) / 26 + 1), letter);
    }
    }
    return {};
}

std::vector<PdfPageLabelRange> pageLabelRanges(const PdfDocument& document)
{
    auto& d = document.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return {};
    std::vector<RawRange> raw(4096);
    RawRanges out{raw.data(), int(raw.size()), 0, 4096};
    FzError err;
    readRangesC(pdfContext(), d.doc, &out, &err);
    // Sorted by first page; a later entry for the same page replaces an earlier one.
    std::map<int, PdfPageLabelRange> byPage;
    for (int i = 0; i < out.count; ++i) {
        const RawRange& r = raw[size_t(i)];
        if (r.firstPage < 0) continue;
        byPage[r.firstPage] = {r.firstPage, styleOf(r.style), r.prefix, r.start >= 1 ? r.start : 1};
    }
    std::vector<PdfPageLabelRange> ranges;
    for (auto& [page, range] : byPage) ranges.push_back(std::move(range));
    return ranges;
}

std::string pageLabel(const std::vector<PdfPageLabelRange>& ranges, int pageIndex)
{
    auto after = std::upper_bound(ranges.begin(), ranges.end(), pageIndex,
                                  [](int page, const PdfPageLabelRange& r) { return page < r.firstPage; });
    if (after == ranges.begin()) return {};
    const PdfPageLabelRange& range = *std::prev(after);
    const long long value = (long long)range.start + (pageIndex - range.firstPage);
    const std::string number = value > 2147483647LL ? std::to_string(value) : formatPageNumber(range.style, int(value));
    return range.prefix + number;
}

} // namespace platform
