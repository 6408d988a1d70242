#include "Platform/PdfInternal.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// One row of a cross-reference table: its type (0 free, 1 in use, 2 in an
// object stream), an object's offset (or, free, the next free number; in a
// stream, the stream's number) and its generation (in a stream, its index).
struct TableRow {
    std::int64_t field;
    int gen;
    int type;
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
        (*rows)[i] = TableRow{field, int(gen), word[0] == 'n' ? 1 : 0};
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

// How many of a whole file's `count` rows it keeps: those up to its last
// object in use. A number past it is one the document used and let go
// since (a form's field drawn again leaves its earlier drawing behind), and
// a table that kept it would grow save after save. The list of free
// numbers is linked again among those kept.
int keptRows(TableRow* rows, int count)
{
    int kept = count;
    while (kept > 1 && rows[kept - 1].type == 0) --kept;
    if (kept == count) return count;
    int previous = 0;
    for (int num = 1; num < kept; ++num) {
        if (rows[num].type != 0) continue;
        rows[previous].field = num;
        previous = num;
    }
    rows[previous].field = 0;
    return kept;
}

// The `count` rows as a cross-reference stream's data, each row after a PNG
// "Up" filter byte (the difference from the row above, which compresses the
// runs of free numbers to almost nothing), then compressed. fz_malloc'd,
// `*size` long.
unsigned char* streamDataC(fz_context* ctx, const TableRow* rows, int count, int offsetWidth, size_t* size)
{
    const int columns = 1 + offsetWidth + 2;
    const size_t rowBytes = size_t(columns) + 1;
    const size_t total = rowBytes * size_t(count);
    unsigned char* raw = static_cast<unsigned char*>(fz_calloc(ctx, total, 1));
    unsigned char* packed = nullptr;
    fz_try(ctx) {
        unsigned char previous[1 + 8 + 2] = {};
        unsigned char row[1 + 8 + 2] = {};
        for (int num = 0; num < count; ++num) {
            const TableRow entry = rows[num];
            row[0] = static_cast<unsigned char>(entry.type);
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

// Writes the cross-reference stream of `rows` (`count` of them, its own
// object the last, at `at`) with the trailer's entries of `dict`, then
// "startxref" and "%%EOF". `dict` takes the stream's own entries.
void writeStreamTableC(fz_context* ctx, fz_output* out, pdf_obj* dict, const TableRow* rows, int count, std::int64_t at,
                       int tight)
{
    unsigned char* data = nullptr;
    fz_var(data);
    fz_try(ctx) {
        std::int64_t widest = 0;
        for (int i = 0; i < count; ++i) widest = std::max(widest, rows[i].field);
        const int offsetWidth = widthOf(widest);
        size_t size = 0;
        data = streamDataC(ctx, rows, count, offsetWidth, &size);
        pdf_dict_put(ctx, dict, PDF_NAME(Type), PDF_NAME(XRef));
        pdf_dict_put_int(ctx, dict, PDF_NAME(Size), count);
        pdf_obj* w = pdf_dict_put_array(ctx, dict, PDF_NAME(W), 3);
        pdf_array_push_int(ctx, w, 1);
        pdf_array_push_int(ctx, w, offsetWidth);
        pdf_array_push_int(ctx, w, 2);
        pdf_dict_put(ctx, dict, PDF_NAME(Filter), PDF_NAME(FlateDecode));
        pdf_obj* parms = pdf_dict_put_dict(ctx, dict, PDF_NAME(DecodeParms), 2);
        pdf_dict_put_int(ctx, parms, PDF_NAME(Predictor), 12);
        pdf_dict_put_int(ctx, parms, PDF_NAME(Columns), 1 + offsetWidth + 2);
        pdf_dict_put_int(ctx, dict, PDF_NAME(Length), std::int64_t(size));
        fz_write_printf(ctx, out, "%d 0 obj\n", count - 1);
        pdf_print_obj(ctx, out, dict, tight, 0);
        fz_write_string(ctx, out, "\nstream\n");
        fz_write_data(ctx, out, data, size);
        fz_write_printf(ctx, out, "\nendstream\nendobj\nstartxref\n%ld\n%%%%EOF\n", int64_t(at));
    }
    fz_always(ctx) fz_free(ctx, data);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Whether `body` (an object's bytes between "obj" and "endobj", trimmed)
// is a stream's: its data ends with "endstream".
bool isStreamBody(const unsigned char* body, size_t length)
{
    constexpr std::string_view end = "endstream";
    return length > end.size() && std::memcmp(body + length - end.size(), end.data(), end.size()) == 0
           && std::isspace(body[length - end.size() - 1]);
}

bool holds(const unsigned char* body, size_t length, std::string_view word)
{
    return std::string_view(reinterpret_cast<const char*>(body), length).find(word) != std::string_view::npos;
}

// Where one object of a written file lies: from its "N G obj" to the end of
// its "endobj", and its value between them, trimmed.
struct Extent {
    std::int64_t from, to;
    std::int64_t bodyFrom, bodyTo;
};

// The extent of object `num` of generation `gen`, which starts at `from`
// and before `next`; false where the bytes there are no such object.
bool extentOf(const unsigned char* file, std::int64_t from, std::int64_t next, int num, int gen, Extent* extent)
{
    if (from < 0 || from >= next) return false;
    const std::string_view span(reinterpret_cast<const char*>(file) + from, size_t(next - from));
    char text[40]; // no C++ allocation under fz_try
    const std::string_view head(text, size_t(std::snprintf(text, sizeof text, "%d %d obj", num, gen)));
    const size_t end = span.rfind("endobj");
    if (span.substr(0, head.size()) != head || end == std::string_view::npos || end < head.size()) return false;
    size_t bodyFrom = head.size(), bodyTo = end;
    while (bodyFrom < bodyTo && std::isspace(static_cast<unsigned char>(span[bodyFrom]))) ++bodyFrom;
    while (bodyTo > bodyFrom && std::isspace(static_cast<unsigned char>(span[bodyTo - 1]))) --bodyTo;
    *extent = Extent{from, from + std::int64_t(end) + 6, from + std::int64_t(bodyFrom), from + std::int64_t(bodyTo)};
    return bodyFrom < bodyTo;
}

// How many objects one object stream holds: enough for its compression to
// find their likeness, few enough for a reader to parse for one of them.
constexpr int objectsPerStream = 200;

// Writes `members` (`count` numbers, in order), whose extents `extents`
// holds, as object stream `self`; each row of `rows` of theirs points into it.
void writeObjectStreamC(fz_context* ctx, fz_output* out, const unsigned char* file, const Extent* extents,
                        const int* members, int count, int self, int compress, TableRow* rows)
{
    fz_buffer* index = fz_new_buffer(ctx, size_t(count) * 12);
    fz_buffer* objects = nullptr;
    unsigned char* packed = nullptr;
    fz_var(objects);
    fz_var(packed);
    fz_try(ctx) {
        size_t length = 0;
        for (int i = 0; i < count; ++i) length += size_t(extents[members[i]].bodyTo - extents[members[i]].bodyFrom) + 1;
        objects = fz_new_buffer(ctx, length + 1);
        for (int i = 0; i < count; ++i) {
            const Extent& extent = extents[members[i]];
            fz_append_printf(ctx, index, "%d %zu\n", members[i], objects->len);
            fz_append_data(ctx, objects, file + extent.bodyFrom, size_t(extent.bodyTo - extent.bodyFrom));
            fz_append_byte(ctx, objects, '\n');
            rows[members[i]] = TableRow{self, i, 2};
        }
        const size_t first = index->len;
        fz_append_data(ctx, index, objects->data, objects->len);
        const unsigned char* data = index->data;
        size_t size = index->len;
        if (compress) {
            packed = fz_new_deflated_data(ctx, &size, index->data, index->len, FZ_DEFLATE_DEFAULT);
            data = packed;
        }
        fz_write_printf(ctx, out, "%d 0 obj\n<</Type/ObjStm/N %d/First %zu/Length %zu%s>>\nstream\n", self, count,
                        first, size, compress ? "/Filter/FlateDecode" : "");
        fz_write_data(ctx, out, data, size);
        fz_write_string(ctx, out, "\nendstream\nendobj\n");
    }
    fz_always(ctx) {
        fz_free(ctx, packed);
        fz_drop_buffer(ctx, objects);
        fz_drop_buffer(ctx, index);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

} // namespace

fz_buffer* objectStreamsC(fz_context* ctx, pdf_document* doc, const unsigned char* file, size_t length, std::int64_t at,
                          int compress, int tight, int* size)
{
    TableRow* rows = nullptr;
    Extent* extents = nullptr;
    int* order = nullptr;
    int* members = nullptr;
    pdf_obj* dict = nullptr;
    fz_buffer* result = nullptr;
    fz_output* out = nullptr;
    fz_var(rows);
    fz_var(extents);
    fz_var(order);
    fz_var(members);
    fz_var(dict);
    fz_var(result);
    fz_var(out);
    fz_try(ctx) {
        size_t cursor = 0;
        const int written =
            at > 0 && std::uint64_t(at) < length ? readRowsC(ctx, file + at, length - size_t(at), &cursor, &rows) : 0;
        if (written == 0) fz_throw(ctx, FZ_ERROR_GENERIC, "a table of another form");
        const int count = keptRows(rows, written);
        dict = readTrailerC(ctx, doc, file + at, length - size_t(at), cursor);
        // The encryption of each object's strings is keyed by its number:
        // packed into a stream, they would read as noise.
        if (pdf_dict_get_int(ctx, dict, PDF_NAME(Size)) != written || pdf_dict_get(ctx, dict, PDF_NAME(Prev))
            || pdf_dict_get(ctx, dict, PDF_NAME(Encrypt)))
            fz_throw(ctx, FZ_ERROR_GENERIC, "a table of another form");
        // The objects in use in the order they are written.
        order = fz_malloc_array(ctx, size_t(count), int);
        int used = 0;
        for (int num = 1; num < count; ++num)
            if (rows[num].type == 1) order[used++] = num;
        std::sort(order, order + used, [rows](int a, int b) { return rows[a].field < rows[b].field; });
        extents = static_cast<Extent*>(fz_calloc(ctx, size_t(count), sizeof(Extent)));
        members = fz_malloc_array(ctx, size_t(count), int);
        int packable = 0;
        for (int i = 0; i < used; ++i) {
            const int num = order[i];
            const std::int64_t next = i + 1 < used ? rows[order[i + 1]].field : at;
            if (!extentOf(file, rows[num].field, next, num, rows[num].gen, &extents[num]))
                fz_throw(ctx, FZ_ERROR_GENERIC, "an object where the table does not place it");
            const unsigned char* body = file + extents[num].bodyFrom;
            const size_t bodyLength = size_t(extents[num].bodyTo - extents[num].bodyFrom);
            // What PDF keeps out of object streams (streams, a generation
            // but 0), what a reader looks for at its place in the file (a
            // signature's value, which its byte range leaves out, and a
            // linearized file's first object), and a reference alone.
            if (rows[num].gen == 0 && !isStreamBody(body, bodyLength) && !holds(body, bodyLength, "/ByteRange")
                && !holds(body, bodyLength, "/Linearized") && body[bodyLength - 1] != 'R')
                members[packable++] = num;
        }
        if (packable == 0) fz_throw(ctx, FZ_ERROR_GENERIC, "nothing to pack");
        const int streams = (packable + objectsPerStream - 1) / objectsPerStream;
        const int total = count + streams + 1; // the table's own object last
        rows = static_cast<TableRow*>(fz_realloc(ctx, rows, size_t(total) * sizeof(TableRow)));
        result = fz_new_buffer(ctx, size_t(at) / 2 + 1024);
        out = fz_new_output_with_buffer(ctx, result);
        // The header as written, the version that reads object streams (1.5) at least.
        const std::int64_t head = used > 0 ? rows[order[0]].field : at;
        fz_write_data(ctx, out, file, size_t(head));
        // The others where they were, in their order.
        for (int i = 0, k = 0; i < used; ++i) {
            const int num = order[i];
            if (k < packable && members[k] == num) {
                ++k;
                continue;
            }
            rows[num].field = fz_tell_output(ctx, out);
            fz_write_data(ctx, out, file + extents[num].from, size_t(extents[num].to - extents[num].from));
            fz_write_string(ctx, out, "\n\n");
        }
        for (int s = 0; s < streams; ++s) {
            const int from = s * objectsPerStream, n = std::min(objectsPerStream, packable - from);
            rows[count + s] = TableRow{fz_tell_output(ctx, out), 0, 1};
            writeObjectStreamC(ctx, out, file, extents, members + from, n, count + s, compress, rows);
            fz_write_string(ctx, out, "\n");
        }
        const std::int64_t table = fz_tell_output(ctx, out);
        rows[total - 1] = TableRow{table, 0, 1};
        writeStreamTableC(ctx, out, dict, rows, total, table, tight);
        fz_close_output(ctx, out);
        *size = total;
        if (result->len > 7 && std::memcmp(result->data, "%PDF-1.", 7) == 0 && result->data[7] >= '0'
            && result->data[7] < '5')
            result->data[7] = '5';
    }
    fz_always(ctx) {
        fz_drop_output(ctx, out);
        pdf_drop_obj(ctx, dict);
        fz_free(ctx, members);
        fz_free(ctx, order);
        fz_free(ctx, extents);
        fz_free(ctx, rows);
    }
    fz_catch(ctx) {
        fz_drop_buffer(ctx, result);
        result = nullptr;
        // Memory aside, a file of another form stays as MuPDF wrote it.
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
    }
    return result;
}

fz_buffer* crossReferenceStreamC(fz_context* ctx, pdf_document* doc, const unsigned char* table, size_t length,
                                 std::int64_t at, int tight, int* size)
{
    TableRow* rows = nullptr;
    pdf_obj* dict = nullptr;
    fz_buffer* result = nullptr;
    fz_output* out = nullptr;
    fz_var(rows);
    fz_var(dict);
    fz_var(result);
    fz_var(out);
    fz_try(ctx) {
        size_t cursor = 0;
        const int written = readRowsC(ctx, table, length, &cursor, &rows);
        const int count = keptRows(rows, written);
        int used = 0;
        for (int i = 0; i < count; ++i) used += rows[i].type;
        // Where most numbers are in use a table stays, as every reader
        // (and an archival file) takes it.
        const bool stream = count > 0 && count - used > used;
        if (stream || count < written) {
            dict = readTrailerC(ctx, doc, table, length, cursor);
            if (pdf_dict_get_int(ctx, dict, PDF_NAME(Size)) != written || pdf_dict_get(ctx, dict, PDF_NAME(Prev)))
                fz_throw(ctx, FZ_ERROR_GENERIC, "a table of another form");
            result = fz_new_buffer(ctx, size_t(count) / 4 + 512);
            out = fz_new_output_with_buffer(ctx, result);
        }
        if (stream) {
            // The stream's own object comes last.
            rows = static_cast<TableRow*>(fz_realloc(ctx, rows, (size_t(count) + 1) * sizeof(TableRow)));
            rows[count] = TableRow{at, 0, 1};
            writeStreamTableC(ctx, out, dict, rows, count + 1, at, tight);
            *size = count + 1;
        } else if (count < written) {
            fz_write_printf(ctx, out, "xref\n0 %d\n", count);
            for (int i = 0; i < count; ++i)
                fz_write_printf(ctx, out, "%010ld %05d %c \n", rows[i].field, rows[i].gen, rows[i].type ? 'n' : 'f');
            pdf_dict_put_int(ctx, dict, PDF_NAME(Size), count);
            fz_write_string(ctx, out, "trailer\n");
            pdf_print_obj(ctx, out, dict, tight, 0);
            fz_write_printf(ctx, out, "\nstartxref\n%ld\n%%%%EOF\n", at);
            *size = count;
        }
        if (out) fz_close_output(ctx, out);
    }
    fz_always(ctx) {
        fz_drop_output(ctx, out);
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
