#include "Platform/PdfInternal.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace platform {

namespace {

// One row of a cross-reference table: an object's offset (or, free, the
// next free number), its generation, and whether it is in use.
struct TableRow {
    std::int64_t field;
    int gen;
    int inUse;
};

// Reads the next whitespace-separated word of `text` from `*at` into
// `word` (at most `size` - 1 bytes); false at the end or past `size`.
int nextWordC(const unsigned char* text, size_t length, size_t* at, char* word, size_t size)
{
    while (*at < length && std::isspace(text[*at])) ++*at;
    size_t n = 0;
    while (*at < length && !std::isspace(text[*at]) && n + 1 < size) word[n++] = char(text[(*at)++]);
    word[n] = 0;
    return n > 0 && (*at == length || std::isspace(text[*at]));
}

int parseNumber(const char* word, std::int64_t* value)
{
    char* end = nullptr;
    *value = std::strtoll(word, &end, 10);
    return *word && !*end && *value >= 0;
}

// The rows of a whole file's table, as MuPDF's writer writes it: one
// section from number 0. Returns the number of rows (0 for a table of
// another form) and leaves `*at` at "trailer". `rows` is fz_malloc'd.
int readRowsC(fz_context* ctx, const unsigned char* text, size_t length, size_t* at, TableRow** rows)
{
    char word[32];
    std::int64_t first = 0, count = 0;
    if (!nextWordC(text, length, at, word, sizeof word) || std::strcmp(word, "xref") != 0) return 0;
    if (!nextWordC(text, length, at, word, sizeof word) || !parseNumber(word, &first) || first != 0) return 0;
    if (!nextWordC(text, length, at, word, sizeof word) || !parseNumber(word, &count)) return 0;
    // Each row takes at least six bytes ("0 0 n ").
    if (count < 1 || count > std::int64_t(length / 6) || count > std::numeric_limits<int>::max()) return 0;
    *rows = fz_malloc_array(ctx, size_t(count), TableRow);
    for (std::int64_t i = 0; i < count; ++i) {
        std::int64_t field = 0, gen = 0;
        if (!nextWordC(text, length, at, word, sizeof word) || !parseNumber(word, &field)) return 0;
        if (!nextWordC(text, length, at, word, sizeof word) || !parseNumber(word, &gen) || gen > 65535) return 0;
        if (!nextWordC(text, length, at, word, sizeof word) || (std::strcmp(word, "n") && std::strcmp(word, "f")))
            return 0;
        (*rows)[i] = TableRow{field, int(gen), word[0] == 'n'};
    }
    const size_t before = *at;
    if (!nextWordC(text, length, at, word, sizeof word) || std::strcmp(word, "trailer") != 0) return 0;
    *at = before;
    return int(count);
}

// The trailer dictionary after "trailer", from `at`. Throws (MuPDF).
pdf_obj* readTrailerC(fz_context* ctx, pdf_document* doc, const unsigned char* text, size_t length, size_t at)
{
    while (at < length && std::isspace(text[at])) ++at;
    at += 7; // "trailer"
    fz_stream* stm = fz_open_memory(ctx, text + at, length - at);
    pdf_lexbuf lexbuf;
    pdf_lexbuf_init(ctx, &lexbuf, PDF_LEXBUF_SMALL);
    pdf_obj* trailer = nullptr;
    fz_try(ctx) {
        if (pdf_lex(ctx, stm, &lexbuf) != PDF_TOK_OPEN_DICT) fz_throw(ctx, FZ_ERROR_GENERIC, "no trailer dictionary");
        trailer = pdf_parse_dict(ctx, doc, stm, &lexbuf);
    }
    fz_always(ctx) {
        pdf_lexbuf_fin(ctx, &lexbuf);
        fz_drop_stream(ctx, stm);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return trailer;
}

// Bytes it takes to write `value`, at least one.
int widthOf(std::int64_t value)
{
    int width = 1;
    while (width < 8 && (value >> (8 * width)) != 0) ++width;
    return width;
}

// The rows as a cross-reference stream's data, each row after a PNG "Up"
// filter byte (the difference from the row above, which compresses the
// runs of free numbers to almost nothing), then compressed; the stream's own
// object, `self` at `at`, is the last row. fz_malloc'd, `*size` long.
unsigned char* streamDataC(fz_context* ctx, const TableRow* rows, int count, int self, std::int64_t at, int offsetWidth,
                           size_t* size)
{
    const int columns = 1 + offsetWidth + 2;
    const size_t rowBytes = size_t(columns) + 1;
    const size_t total = rowBytes * size_t(self + 1);
    unsigned char* raw = static_cast<unsigned char*>(fz_calloc(ctx, total, 1));
    unsigned char* packed = nullptr;
    fz_try(ctx) {
        unsigned char previous[1 + 8 + 2] = {};
        unsigned char row[1 + 8 + 2] = {};
        for (int num = 0; num <= self; ++num) {
            const TableRow entry = num < count ? rows[num] : TableRow{at, 0, 1};
            row[0] = entry.inUse ? 1 : 0;
            for (int b = 0; b < offsetWidth; ++b)
                row[1 + b] = static_cast<unsigned char>(entry.field >> (8 * (offsetWidth - 1 - b)));
            row[1 + offsetWidth] = static_cast<unsigned char>(entry.gen >> 8);
            row[2 + offsetWidth] = static_cast<unsigned char>(entry.gen);
            unsigned char* out = raw + size_t(num) * rowBytes;
            out[0] = 2; // Up
            for (int b = 0; b < columns; ++b) out[1 + b] = static_cast<unsigned char>(row[b] - previous[b]);
            std::memcpy(previous, row, size_t(columns));
        }
        packed = fz_new_deflated_data(ctx, size, raw, total, FZ_DEFLATE_BEST);
    }
    fz_always(ctx) fz_free(ctx, raw);
    fz_catch(ctx) fz_rethrow(ctx);
    return packed;
}

} // namespace

fz_buffer* crossReferenceStreamC(fz_context* ctx, pdf_document* doc, const unsigned char* table, size_t length,
                                 std::int64_t at, int tight)
{
    TableRow* rows = nullptr;
    pdf_obj* dict = nullptr;
    unsigned char* data = nullptr;
    fz_buffer* result = nullptr;
    fz_output* out = nullptr;
    fz_var(rows);
    fz_var(dict);
    fz_var(data);
    fz_var(result);
    fz_var(out);
    fz_try(ctx) {
        size_t cursor = 0;
        const int count = readRowsC(ctx, table, length, &cursor, &rows);
        int used = 0;
        std::int64_t widest = at;
        for (int i = 0; i < count; ++i) {
            used += rows[i].inUse;
            widest = std::max(widest, rows[i].field);
        }
        // Where most numbers are in use the table stays, as every reader
        // (and an archival file) takes it.
        if (count > 0 && count - used > used) {
            dict = readTrailerC(ctx, doc, table, length, cursor);
            if (pdf_dict_get_int(ctx, dict, PDF_NAME(Size)) != count || pdf_dict_get(ctx, dict, PDF_NAME(Prev)))
                fz_throw(ctx, FZ_ERROR_GENERIC, "a table of another form");
            const int self = count; // the stream's own object comes last
            const int offsetWidth = widthOf(widest);
            size_t size = 0;
            data = streamDataC(ctx, rows, count, self, at, offsetWidth, &size);
            pdf_dict_put(ctx, dict, PDF_NAME(Type), PDF_NAME(XRef));
            pdf_dict_put_int(ctx, dict, PDF_NAME(Size), self + 1);
            pdf_obj* w = pdf_dict_put_array(ctx, dict, PDF_NAME(W), 3);
            pdf_array_push_int(ctx, w, 1);
            pdf_array_push_int(ctx, w, offsetWidth);
            pdf_array_push_int(ctx, w, 2);
            pdf_dict_put(ctx, dict, PDF_NAME(Filter), PDF_NAME(FlateDecode));
            pdf_obj* parms = pdf_dict_put_dict(ctx, dict, PDF_NAME(DecodeParms), 2);
            pdf_dict_put_int(ctx, parms, PDF_NAME(Predictor), 12);
            pdf_dict_put_int(ctx, parms, PDF_NAME(Columns), 1 + offsetWidth + 2);
            pdf_dict_put_int(ctx, dict, PDF_NAME(Length), std::int64_t(size));
            result = fz_new_buffer(ctx, size + 512);
            out = fz_new_output_with_buffer(ctx, result);
            fz_write_printf(ctx, out, "%d 0 obj\n", self);
            pdf_print_obj(ctx, out, dict, tight, 0);
            fz_write_string(ctx, out, "\nstream\n");
            fz_write_data(ctx, out, data, size);
            fz_write_printf(ctx, out, "\nendstream\nendobj\nstartxref\n%ld\n%%%%EOF\n", int64_t(at));
            fz_close_output(ctx, out);
        }
    }
    fz_always(ctx) {
        fz_drop_output(ctx, out);
        fz_free(ctx, data);
        pdf_drop_obj(ctx, dict);
        fz_free(ctx, rows);
    }
    fz_catch(ctx) {
        fz_drop_buffer(ctx, result);
        result = nullptr;
        // Memory aside, a table of another form stays as MuPDF wrote it.
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
    }
    return result;
}

} // namespace platform
