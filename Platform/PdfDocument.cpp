#include "Platform/PdfInternal.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FileReplacement.h"
#include "Platform/MemoryUse.h"
#include "Platform/PdfLayers.h"
#include "Platform/PdfReadBack.h"
#include "Platform/SignedBytes.h"
#include "Platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// ---------------------------------------------------------------- geometry

PdfRect PdfMatrix::mapRect(const PdfRect& r) const
{
    const PdfPoint p[4] = {map({r.x, r.y}), map({r.maxX(), r.y}), map({r.x, r.maxY()}), map({r.maxX(), r.maxY()})};
    double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
    for (const auto& q : p) {
        x0 = std::min(x0, q.x);
        x1 = std::max(x1, q.x);
        y0 = std::min(y0, q.y);
        y1 = std::max(y1, q.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

PdfMatrix PdfMatrix::inverted() const
{
    const double det = a * d - b * c;
    if (std::fabs(det) < 1e-12) return {};
    const double ia = d / det, ib = -b / det, ic = -c / det, id = a / det;
    return {ia, ib, ic, id, -(e * ia + f * ic), -(e * ib + f * id)};
}

PdfMatrix PdfMatrix::then(const PdfMatrix& n) const
{
    return {a * n.a + b * n.c, a * n.b + b * n.d,       c * n.a + d * n.c,
            c * n.b + d * n.d, e * n.a + f * n.c + n.e, e * n.b + f * n.d + n.f};
}

int normalizedRotation(int degrees)
{
    int r = degrees % 360;
    if (r < 0) r += 360;
    // Values that are not multiples of 90 are invalid; round to the nearest quarter turn.
    r = ((r + 45) / 90 % 4) * 90;
    return r;
}

// ---------------------------------------------------------------- text

std::string PdfTextLine::text() const
{
    std::string s;
    for (const auto& c : chars) platform::appendUtf8(s, c.code);
    return s;
}

std::string PdfTextPage::text() const
{
    std::string s;
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (b) s += '\n';
        for (const auto& line : blocks[b].lines) {
            s += line.text();
            s += '\n';
        }
    }
    return s;
}

// ---------------------------------------------------------------- MuPDF helpers (C style)

namespace {

pdf_document* openFromBuffer(fz_context* ctx, fz_buffer* buf, FzError* err)
{
    pdf_document* doc = nullptr;
    fz_stream* stm = nullptr;
    fz_var(doc);
    fz_var(stm);
    fz_try(ctx) {
        stm = fz_open_buffer(ctx, buf);
        doc = pdf_open_document_with_stream(ctx, stm);
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stm);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        doc = nullptr;
    }
    return doc;
}

int unsavedChangesC(fz_context* ctx, pdf_document* doc)
{
    int changed = 1;
    fz_var(changed);
    fz_try(ctx) changed = pdf_has_unsaved_changes(ctx, doc);
    fz_catch(ctx) changed = 1;
    return changed;
}

int xrefLengthC(fz_context* ctx, pdf_document* doc)
{
    int len = 0;
    fz_var(len);
    fz_try(ctx) len = pdf_xref_len(ctx, doc);
    fz_catch(ctx) len = 0;
    return len;
}

pdf_document* openWatchedC(fz_context* ctx, const std::shared_ptr<WatchedFile>& file, FzError* err)
{
    pdf_document* doc = nullptr;
    fz_stream* stm = nullptr;
    fz_var(doc);
    fz_var(stm);
    fz_try(ctx) {
        stm = openWatchedStream(ctx, file);
        doc = pdf_open_document_with_stream(ctx, stm);
    }
    fz_always(ctx) fz_drop_stream(ctx, stm);
    fz_catch(ctx) {
        captureError(ctx, err);
        doc = nullptr;
    }
    return doc;
}

// MuPDF keeps a name of at most this many bytes and cuts a longer one, in
// the objects it parses but not in the content streams that use the name.
constexpr size_t engineNameLimit = 127;

// The highest object number that `obj` refers to, looking into its arrays
// and dictionaries (direct objects nest without cycles; a crafted depth is cut).
// Sets `*nameCut` when a name (a key or a value) is as long as MuPDF keeps.
int highestReferenceC(fz_context* ctx, pdf_obj* obj, int* nameCut = nullptr)
{
    enum { maxDepth = 64 };
    pdf_obj* stack[maxDepth];
    int depth = 0, highest = 0;
    fz_var(depth);
    fz_var(highest);
    const auto cut = [&](pdf_obj* name) {
        if (nameCut && pdf_is_name(ctx, name) && std::strlen(pdf_to_name(ctx, name)) >= engineNameLimit) *nameCut = 1;
    };
    fz_try(ctx) {
        stack[depth++] = obj;
        while (depth > 0) {
            pdf_obj* at = stack[--depth];
            const int dict = pdf_is_dict(ctx, at);
            const int n = dict ? pdf_dict_len(ctx, at) : pdf_is_array(ctx, at) ? pdf_array_len(ctx, at) : 0;
            for (int i = 0; i < n; ++i) {
                if (dict) cut(pdf_dict_get_key(ctx, at, i));
                pdf_obj* item = dict ? pdf_dict_get_val(ctx, at, i) : pdf_array_get(ctx, at, i);
                if (pdf_is_indirect(ctx, item)) highest = std::max(highest, pdf_to_num(ctx, item));
                else if ((pdf_is_array(ctx, item) || pdf_is_dict(ctx, item)) && depth < maxDepth) stack[depth++] = item;
                else cut(item);
            }
        }
    }
    fz_catch(ctx) {}
    return highest;
}

// Reads one object of the cross-reference table (see settleObjects) and gives
// the highest object number it refers to. Unreadable objects are left to the
// pages that use them; `*unparsed` tells of one that is in the table but
// could not be parsed (MuPDF reads it as null), `*nameCut` of a name cut short.
int touchObjectC(fz_context* ctx, pdf_document* doc, int num, int* unparsed, int* nameCut)
{
    pdf_obj* obj = nullptr;
    fz_var(obj);
    *unparsed = 0;
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
        obj = entry ? entry->obj : nullptr;
    }
    fz_catch(ctx) {
        obj = nullptr;
        *unparsed = 1;
    }
    return obj ? highestReferenceC(ctx, obj, nameCut) : 0;
}

// Where the file holds object `num`: in itself ('n', at `offset`), in an
// object stream ('o', the stream's number in `stream`), or neither (0);
// and whether it changed (or was made) since the file was opened, as the
// form's missing drawings are.
struct TableEntry {
    char type = 0;
    int gen = 0;
    int changed = 0;
    int stream = 0;
    std::int64_t offset = 0;
};

void tableEntryC(fz_context* ctx, pdf_document* doc, int num, TableEntry* out)
{
    fz_try(ctx) {
        out->changed = doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, num);
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && (entry->type == 'n' || entry->type == 'o')) {
            out->type = entry->type;
            out->gen = entry->gen;
            out->stream = entry->type == 'o' ? int(entry->ofs) : 0;
            out->offset = entry->type == 'n' ? entry->ofs : 0;
        }
    }
    fz_catch(ctx) out->type = 0;
}

// An object stream is read token by token up to this length, and its check
// sum only up to it again: MuPDF reads one only up to its last object, and
// real ones are far shorter.
constexpr std::size_t objectStreamCheckLimit = 64 << 20;

// Whether `token` may stand in an object's body: a value or its brackets,
// not a keyword of the file's layout nor what the lexer could not read.
bool isValueToken(pdf_token token)
{
    switch (token) {
    case PDF_TOK_EOF:
    case PDF_TOK_KEYWORD:
    case PDF_TOK_ERROR:
    case PDF_TOK_OBJ:
    case PDF_TOK_ENDOBJ:
    case PDF_TOK_STREAM:
    case PDF_TOK_ENDSTREAM:
    case PDF_TOK_XREF:
    case PDF_TOK_TRAILER:
    case PDF_TOK_STARTXREF:
    case PDF_TOK_NEWOBJ: return false;
    default: return true;
    }
}

// Reads object stream `num` to its end, token by token, for one too long to
// hold (see settleObjectStream): a compressed stream's check sum at its end
// tells whether its bytes are the ones written (MuPDF reads past a wrong one
// with a warning), and its objects must hold no token that PDF objects do
// not have (readAgainC). Returns 0 when the stream cannot be read or holds
// such a token.
int readObjectStreamC(fz_context* ctx, pdf_document* doc, int num)
{
    pdf_lexbuf buf;
    pdf_lexbuf_init(ctx, &buf, PDF_LEXBUF_SMALL);
    fz_stream* stm = nullptr;
    int read = 0;
    fz_var(stm);
    fz_var(read);
    fz_try(ctx) {
        stm = pdf_open_stream_number(ctx, doc, num);
        read = 1;
        for (int done = 0; !done && fz_tell(ctx, stm) < std::int64_t(objectStreamCheckLimit);) {
            const pdf_token token = pdf_lex(ctx, stm, &buf);
            if (token == PDF_TOK_EOF) done = 1;
            else if (!isValueToken(token)) read = 0, done = 1;
        }
        // The rest of a stream too long to read token by token, for its check sum.
        if (read) fz_skip(ctx, stm, objectStreamCheckLimit);
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stm);
        pdf_lexbuf_fin(ctx, &buf);
    }
    fz_catch(ctx) read = 0;
    return read;
}

// The tokens of an object's body read one by one, with up to two read ahead:
// enough to take "a b R" as one reference, as every reader does.
struct StrictTokens {
    fz_stream* file;
    pdf_lexbuf* buf;
    pdf_token ahead[2];
    int count;
};

pdf_token takeTokenC(fz_context* ctx, StrictTokens* tokens)
{
    if (tokens->count == 0) return pdf_lex(ctx, tokens->file, tokens->buf);
    const pdf_token token = tokens->ahead[0];
    tokens->ahead[0] = tokens->ahead[1];
    --tokens->count;
    return token;
}

pdf_token peekTokenC(fz_context* ctx, StrictTokens* tokens, int at)
{
    while (tokens->count <= at) tokens->ahead[tokens->count++] = pdf_lex(ctx, tokens->file, tokens->buf);
    return tokens->ahead[at];
}

// The next item of a value: a token, with PDF_TOK_R standing for a whole
// reference and PDF_TOK_ERROR for an "R" without its two numbers.
pdf_token takeItemC(fz_context* ctx, StrictTokens* tokens)
{
    const pdf_token token = takeTokenC(ctx, tokens);
    if (token == PDF_TOK_R) return PDF_TOK_ERROR;
    if (token == PDF_TOK_INT && peekTokenC(ctx, tokens, 0) == PDF_TOK_INT && peekTokenC(ctx, tokens, 1) == PDF_TOK_R) {
        tokens->count = 0;
        return PDF_TOK_R;
    }
    return token;
}

bool isScalarItem(pdf_token item)
{
    switch (item) {
    case PDF_TOK_INT:
    case PDF_TOK_REAL:
    case PDF_TOK_STRING:
    case PDF_TOK_NAME:
    case PDF_TOK_TRUE:
    case PDF_TOK_FALSE:
    case PDF_TOK_NULL:
    case PDF_TOK_R: return true;
    default: return false;
    }
}

// Reads one whole value strictly: only the tokens PDF objects have, brackets
// that pair, a name for each key of a dictionary and a value after it. Sets
// `*number` when the value is a lone number, `*closed` when it is a
// dictionary or an array (it ends at its own bracket). Returns 0 on anything
// else, where MuPDF reads null in place of what it met, or leaves it out, or
// guesses where the value ends, and other readers may read otherwise.
int strictValueC(fz_context* ctx, StrictTokens* tokens, int* number, int* closed)
{
    enum { maxDepth = 256 };
    char dict[maxDepth];    // per open bracket: a dictionary, or an array
    char keyNext[maxDepth]; // in a dictionary: a key comes next
    int depth = 0;
    for (;;) {
        const pdf_token item = takeItemC(ctx, tokens);
        if (depth > 0 && dict[depth - 1] && keyNext[depth - 1]) {
            if (item == PDF_TOK_NAME) {
                keyNext[depth - 1] = 0;
                continue;
            }
            if (item != PDF_TOK_CLOSE_DICT) return 0;
            --depth;
        } else if (item == PDF_TOK_OPEN_ARRAY || item == PDF_TOK_OPEN_DICT) {
            if (depth == maxDepth) return 0;
            dict[depth] = item == PDF_TOK_OPEN_DICT;
            keyNext[depth] = 1;
            ++depth;
            continue;
        } else if (item == PDF_TOK_CLOSE_ARRAY) {
            if (depth == 0 || dict[depth - 1]) return 0;
            --depth;
        } else if (!isScalarItem(item)) {
            return 0;
        }
        // A value ended.
        if (depth == 0) {
            *number = item == PDF_TOK_INT;
            *closed = item == PDF_TOK_CLOSE_ARRAY || item == PDF_TOK_CLOSE_DICT;
            return 1;
        }
        if (dict[depth - 1]) keyNext[depth - 1] = 1;
    }
}

// What follows an object's value: `endobj` (or the file's end) as every
// reader takes it, `stream`, or damage. Junk before `endobj` is left out by
// MuPDF and other readers alike; but junk before `stream` leaves the
// stream's data behind, junk up to a keyword of the file's layout is a
// damaged `endobj`, and a number after a lone number is a reference cut
// short, which MuPDF mends by guessing. A dictionary or an array (`closed`)
// followed at once by the next object, the table, the trailer or
// `startxref` is whole without its `endobj`: its own bracket ends it, for
// every reader.
enum class ObjectEnd { damaged, ended, stream };

ObjectEnd strictEndC(fz_context* ctx, StrictTokens* tokens, int number, int closed)
{
    enum { junkLimit = 1024 };
    for (int junk = 0; junk < junkLimit; ++junk) {
        const pdf_token token = takeTokenC(ctx, tokens);
        if (token == PDF_TOK_ENDOBJ || (token == PDF_TOK_EOF && junk == 0)) return ObjectEnd::ended;
        if (token == PDF_TOK_STREAM && junk == 0) return ObjectEnd::stream;
        if (closed && junk == 0
            && (token == PDF_TOK_XREF || token == PDF_TOK_TRAILER || token == PDF_TOK_STARTXREF
                || (token == PDF_TOK_INT && peekTokenC(ctx, tokens, 0) == PDF_TOK_INT
                    && peekTokenC(ctx, tokens, 1) == PDF_TOK_OBJ)))
            return ObjectEnd::ended;
        const bool layout = !isValueToken(token) && token != PDF_TOK_KEYWORD && token != PDF_TOK_ERROR;
        if (layout || (number && junk == 0 && token == PDF_TOK_INT)) return ObjectEnd::damaged;
    }
    return ObjectEnd::damaged;
}

// Whether the data of stream object `num`, whose `stream` keyword was just
// read, starts where every reader takes it to: after spaces and the end of
// the line. A carriage return alone ends the line too, as MuPDF and other
// readers take it, but may as well be the first half of an end of line whose
// line feed was damaged: then the data must end, /Length bytes on, at
// `endstream`, as it does in a file written that way.
int strictStreamStartC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_stream* file = doc->file;
    int c = fz_read_byte(ctx, file);
    while (c == ' ') c = fz_read_byte(ctx, file);
    if (c == '\n') return 1;
    if (c != '\r') return 0;
    if (fz_peek_byte(ctx, file) == '\n') return 1;
    const std::int64_t start = fz_tell(ctx, file);
    pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
    const int length = entry ? pdf_dict_get_int(ctx, entry->obj, PDF_NAME(Length)) : -1;
    if (length < 0) return 0;
    fz_seek(ctx, file, start + length, SEEK_SET);
    c = fz_read_byte(ctx, file);
    if (c == '\r' && fz_peek_byte(ctx, file) == '\n') fz_read_byte(ctx, file);
    if (c == '\r' || c == '\n') c = fz_read_byte(ctx, file);
    for (const char* at = "endstream"; *at; ++at, c = fz_read_byte(ctx, file))
        if (c != *at) return 0;
    return 1;
}

// Reads where the file holds object `num` (at `offset`) again, strictly.
// Its header must give the generation the table does: MuPDF writes the
// table's, which a damaged table may have wrong, and other readers then find
// no object where the references point. Its body must be one value as every
// reader reads it (strictValueC, strictEndC, strictStreamStartC): where
// MuPDF reads past damage by guessing (a number with a byte changed,
// "400!774", read as null or left out), a save would write the guess. What
// MuPDF only warns about but reads as others do (a stream keyword ending in
// a carriage return alone, junk before `endobj`) is no such damage. Returns
// 0 when anything of that fails.
int readAgainC(fz_context* ctx, pdf_document* doc, int num, int gen, std::int64_t offset)
{
    pdf_lexbuf buf;
    pdf_lexbuf_init(ctx, &buf, PDF_LEXBUF_SMALL);
    int read = 0;
    fz_var(read);
    fz_try(ctx) {
        fz_seek(ctx, doc->file, offset, SEEK_SET);
        read = pdf_lex(ctx, doc->file, &buf) == PDF_TOK_INT && buf.i == num;
        read = read && pdf_lex(ctx, doc->file, &buf) == PDF_TOK_INT && buf.i == gen;
        read = read && pdf_lex(ctx, doc->file, &buf) == PDF_TOK_OBJ;
        if (read) {
            StrictTokens tokens = {doc->file, &buf, {PDF_TOK_EOF, PDF_TOK_EOF}, 0};
            int number = 0, closed = 0;
            if (peekTokenC(ctx, &tokens, 0) == PDF_TOK_ENDOBJ) {
                read = 1; // an empty body: null to every reader
            } else if (!strictValueC(ctx, &tokens, &number, &closed)) {
                read = 0;
            } else {
                const ObjectEnd end = strictEndC(ctx, &tokens, number, closed);
                read = end == ObjectEnd::ended || (end == ObjectEnd::stream && strictStreamStartC(ctx, doc, num));
            }
        }
    }
    fz_always(ctx) pdf_lexbuf_fin(ctx, &buf);
    fz_catch(ctx) read = 0;
    return read;
}

// Where the next `endstream` or `endobj` keyword starts in the file at or
// after `from` (the first of them; -1 for the other), both -1 when neither
// comes before the end of the file. A keyword stands between white space
// (or the start, or the end of the file): "(endstream)" in a content
// stream's text is none. Throws (MuPDF).
void nextEndKeywordC(fz_context* ctx, fz_stream* file, std::int64_t from, std::int64_t* endstream, std::int64_t* endobj)
{
    enum { chunk = 1 << 16, longest = 10 }; // "endstream" and the byte after it
    unsigned char buf[chunk + longest];
    const auto white = [](int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; };
    *endstream = *endobj = -1;
    size_t kept = 0;
    int before = -1;        // the byte before buf, if any
    std::int64_t at = from; // where buf starts in the file
    fz_seek(ctx, file, from, SEEK_SET);
    for (;;) {
        const size_t got = fz_read(ctx, file, buf + kept, chunk);
        const size_t len = kept + got;
        const bool end = got == 0;
        size_t i = 0;
        for (; i < len && (end || i + longest <= len); ++i) {
            const int previous = i ? buf[i - 1] : before;
            if (previous >= 0 && !white(previous)) continue;
            const auto keyword = [&](const char* word, size_t n) {
                return i + n <= len && !std::memcmp(buf + i, word, n) && (i + n == len || white(buf[i + n]));
            };
            if (keyword("endstream", 9)) {
                *endstream = at + std::int64_t(i);
                return;
            }
            if (keyword("endobj", 6)) {
                *endobj = at + std::int64_t(i);
                return;
            }
        }
        if (end) return;
        if (i) before = buf[i - 1];
        kept = len - i;
        std::memmove(buf, buf + i, kept);
        at += std::int64_t(i);
    }
}

// Reads stream `num` of the file by its `endstream` where its data does not
// end where its /Length says: MuPDF then reads on until it meets an
// `endstream`, past the object's end when the keyword is damaged or the
// length too long, and a save wrote what it read ("endstream endobj" and
// the objects after it) as the stream's data. The data ends at the first
// `endstream` before the object's `endobj`, less the end of line before
// it; without one, after /Length bytes when they end within the object
// (only the keyword is damaged). It is held by the table's entry from then
// on, decrypted as MuPDF holds a stream's new data: every drawing, copy and
// whole save takes it, and an update leaves the file's own bytes as they
// are. (Poppler and qpdf read on from /Length bytes to the next keyword,
// taking what lies between for data.) MuPDF takes the one byte after the
// `stream` keyword (and any spaces) for its end of line whatever it is:
// where that byte is none ("stream (Potato) Tj", "stream%"), its data
// starts a byte late and runs a byte into `endstream`, junk a save wrote
// as content. The data then starts at that byte, as qpdf reads it, and is
// read so. Returns 0 when the data starts and ends where MuPDF reads it
// (or the object is no stream of the file), 1 when it was read otherwise,
// -1 when where it ends cannot be told.
int readStreamToItsEndC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_stream* raw = nullptr;
    fz_stream* clear = nullptr;
    fz_buffer* data = nullptr;
    int result = 0;
    fz_var(raw);
    fz_var(clear);
    fz_var(data);
    fz_var(result);
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
        pdf_obj* dict = entry ? entry->obj : nullptr;
        if (entry && entry->type == 'n' && !entry->stm_buf && entry->stm_ofs > 0 && pdf_is_dict(ctx, dict)) {
            fz_stream* file = doc->file;
            std::int64_t start = entry->stm_ofs;
            fz_seek(ctx, file, start - 1, SEEK_SET);
            const int taken = fz_read_byte(ctx, file); // what MuPDF took for the end of line
            if (taken != EOF && !std::strchr(" \t\r\n\f", taken)) --start;
            pdf_obj* lengthObj = pdf_dict_get(ctx, dict, PDF_NAME(Length));
            const std::int64_t length = pdf_is_int(ctx, lengthObj) ? pdf_to_int(ctx, lengthObj) : -1;
            // Where /Length says the data ends, after any white space.
            char after[32] = {};
            size_t got = 0;
            if (length >= 0) {
                fz_seek(ctx, file, start + length, SEEK_SET);
                got = fz_read(ctx, file, reinterpret_cast<unsigned char*>(after), sizeof after - 1);
            }
            size_t i = 0;
            while (i < got && std::strchr(" \t\r\n\f", after[i]) && after[i]) ++i;
            const bool endsAtLength = length >= 0 && i + 9 <= got && !std::memcmp(after + i, "endstream", 9);
            if (!endsAtLength || start != entry->stm_ofs) {
                std::int64_t end = endsAtLength ? start + length : -1;
                std::int64_t endstream = -1, endobj = -1;
                if (!endsAtLength) nextEndKeywordC(ctx, file, start, &endstream, &endobj);
                if (endstream >= 0) {
                    unsigned char eol[2] = {};
                    end = endstream;
                    if (end - start >= 2) {
                        fz_seek(ctx, file, end - 2, SEEK_SET);
                        if (fz_read(ctx, file, eol, 2) == 2) {
                            if (eol[0] == '\r' && eol[1] == '\n') end -= 2;
                            else if (eol[1] == '\n' || eol[1] == '\r') end -= 1;
                        }
                    } else if (end - start == 1) {
                        fz_seek(ctx, file, start, SEEK_SET);
                        const int c = fz_read_byte(ctx, file);
                        if (c == '\n' || c == '\r') end = start;
                    }
                } else if (endobj >= 0 && length >= 0 && start + length <= endobj) {
                    end = start + length;
                }
                // A stream that is to be decrypted by a filter of its own
                // is read as MuPDF reads it, or not at all.
                pdf_obj* filter = pdf_dict_get(ctx, dict, PDF_NAME(Filter));
                const int ownCrypt = pdf_name_eq(ctx, filter, PDF_NAME(Crypt))
                                     || pdf_name_eq(ctx, pdf_array_get(ctx, filter, 0), PDF_NAME(Crypt));
                if (end < start || ownCrypt) {
                    result = -1;
                } else {
                    raw = fz_open_null_filter(ctx, file, uint64_t(end - start), start);
                    const int clearMetadata =
                        doc->crypt && !pdf_crypt_encrypt_metadata(ctx, doc->crypt)
                        && pdf_name_eq(ctx, pdf_dict_get(ctx, dict, PDF_NAME(Type)), PDF_NAME(Metadata));
                    if (doc->crypt && !clearMetadata)
                        clear = pdf_open_crypt(ctx, raw, doc->crypt, entry->num ? entry->num : num, entry->gen);
                    data = fz_read_all(ctx, clear ? clear : raw, size_t(end - start));
                    entry->stm_buf = fz_keep_buffer(ctx, data);
                    result = 1;
                }
            }
        }
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, data);
        fz_drop_stream(ctx, clear);
        fz_drop_stream(ctx, raw);
    }
    fz_catch(ctx) result = -1;
    return result;
}

} // namespace

// Whether stream `num` is one MuPDF decodes to its end: 0 where a filter
// met damage part way (Flate data corrupt inside a block), which MuPDF takes
// for the stream's end while other readers may read on, and a copy drawn
// from what MuPDF read (a flattened export) would lose the rest. Data that
// merely stops early is read alike by every reader. Pictures in a coding of
// their own (JPEG, JPEG 2000, JBIG2, fax) are copied as coded, and the
// file's own tables were read as the file opened: neither is read here, nor
// more than `limit` bytes of any stream. Memory that ran out before the data
// could be read is in `err`, if given.
int decodesToItsEndC(fz_context* ctx, pdf_document* doc, int num, std::size_t limit, FzError* err)
{
    fz_stream* stream = nullptr;
    pdf_obj* dict = nullptr;
    int whole = 1;
    fz_var(stream);
    fz_var(dict);
    fz_var(whole);
    const EngineErrors errors;
    fz_try(ctx) {
        if (pdf_obj_num_is_stream(ctx, doc, num)) dict = pdf_load_object(ctx, doc, num);
        pdf_obj* type = dict ? pdf_dict_get(ctx, dict, PDF_NAME(Type)) : nullptr;
        pdf_obj* filter = dict ? pdf_dict_get(ctx, dict, PDF_NAME(Filter)) : nullptr;
        const int filters = pdf_is_array(ctx, filter) ? pdf_array_len(ctx, filter) : filter ? 1 : 0;
        int read = filters > 0 && !pdf_name_eq(ctx, type, PDF_NAME(XRef)) && !pdf_name_eq(ctx, type, PDF_NAME(ObjStm));
        for (int i = 0; read && i < filters; ++i) {
            pdf_obj* name = pdf_is_array(ctx, filter) ? pdf_array_get(ctx, filter, i) : filter;
            for (pdf_obj* coded : {PDF_NAME(DCTDecode), PDF_NAME(DCT), PDF_NAME(JPXDecode), PDF_NAME(JBIG2Decode),
                                   PDF_NAME(CCITTFaxDecode), PDF_NAME(CCF)})
                read = read && !pdf_name_eq(ctx, name, coded);
        }
        if (read) {
            stream = pdf_open_stream_number(ctx, doc, num);
            unsigned char buffer[16384];
            for (std::size_t n = 0, total = 0; total < limit && (n = fz_read(ctx, stream, buffer, sizeof buffer)) > 0;)
                total += n;
        }
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stream);
        pdf_drop_obj(ctx, dict);
    }
    fz_catch(ctx) {
        if (err && fz_caught(ctx) == FZ_ERROR_MEMORY) captureError(ctx, err);
        whole = 0;
    }
    return whole && errors.count() == 0;
}

namespace {

// An item of an object's body and where it lies in the file, from the
// space before it to its end: a token, or a whole reference "a b R".
struct PlacedItem {
    pdf_token token;
    int reference; // "a b R", as one item
    std::int64_t start, end;
};

struct PlacedTokens {
    fz_stream* file;
    pdf_lexbuf* buf;
    PlacedItem ahead[2];
    int count;
};

PlacedItem lexPlacedC(fz_context* ctx, PlacedTokens* tokens)
{
    PlacedItem item = {PDF_TOK_EOF, 0, fz_tell(ctx, tokens->file), 0};
    item.token = pdf_lex(ctx, tokens->file, tokens->buf);
    item.end = fz_tell(ctx, tokens->file);
    return item;
}

PlacedItem peekPlacedC(fz_context* ctx, PlacedTokens* tokens, int at)
{
    while (tokens->count <= at) tokens->ahead[tokens->count++] = lexPlacedC(ctx, tokens);
    return tokens->ahead[at];
}

PlacedItem takePlacedC(fz_context* ctx, PlacedTokens* tokens)
{
    PlacedItem item = peekPlacedC(ctx, tokens, 0);
    tokens->ahead[0] = tokens->ahead[1];
    --tokens->count;
    if (item.token == PDF_TOK_INT && peekPlacedC(ctx, tokens, 0).token == PDF_TOK_INT
        && peekPlacedC(ctx, tokens, 1).token == PDF_TOK_R) {
        item.reference = 1;
        item.end = tokens->ahead[1].end;
        tokens->count = 0;
    }
    return item;
}

// Whether `item` is one value standing alone: a number, a string, a name, a
// boolean, null or a whole reference.
int isScalarPlaced(const PlacedItem& item)
{
    if (item.reference) return 1;
    switch (item.token) {
    case PDF_TOK_INT:
    case PDF_TOK_REAL:
    case PDF_TOK_STRING:
    case PDF_TOK_NAME:
    case PDF_TOK_TRUE:
    case PDF_TOK_FALSE:
    case PDF_TOK_NULL: return 1;
    default: return 0;
    }
}

enum { lenientCutLimit = 64 };

// Reads the value at the file's position as other readers (poppler, qpdf)
// read it where MuPDF gives up on the whole object: an item standing where
// a dictionary's key should (a number, a string, a stray "R" or keyword, a
// whole reference) is left out, and the dictionary read on. Gives where the
// value starts and ends, and up to lenientCutLimit ranges of it (pairs in
// `cuts`) to leave out. Returns 0 for anything else it cannot read: brackets
// out of place, a keyword of the file's layout, the file's end, a value
// longer than `limit` bytes.
int lenientExtentC(fz_context* ctx, PlacedTokens* tokens, std::int64_t limit, std::int64_t* start, std::int64_t* end,
                   std::int64_t* cuts, int* cutCount)
{
    enum { maxDepth = 256 };
    char dict[maxDepth];
    char keyNext[maxDepth];
    int depth = 0;
    *cutCount = 0;
    for (int first = 1;; first = 0) {
        const PlacedItem item = takePlacedC(ctx, tokens);
        if (first) *start = item.start;
        *end = item.end;
        if (*end - *start > limit) return 0;
        if (depth > 0 && dict[depth - 1] && keyNext[depth - 1]) {
            if (item.token == PDF_TOK_NAME && !item.reference) {
                keyNext[depth - 1] = 0;
                continue;
            }
            if (item.token != PDF_TOK_CLOSE_DICT) {
                const int stray = isScalarPlaced(item) || item.token == PDF_TOK_KEYWORD || item.token == PDF_TOK_R;
                if (!stray || *cutCount == lenientCutLimit) return 0;
                cuts[2 * *cutCount] = item.start;
                cuts[2 * *cutCount + 1] = item.end;
                ++*cutCount;
                continue;
            }
            --depth;
        } else if (item.token == PDF_TOK_OPEN_ARRAY || item.token == PDF_TOK_OPEN_DICT) {
            if (depth == maxDepth) return 0;
            dict[depth] = item.token == PDF_TOK_OPEN_DICT;
            keyNext[depth] = 1;
            ++depth;
            continue;
        } else if (item.token == PDF_TOK_CLOSE_ARRAY) {
            if (depth == 0 || dict[depth - 1]) return 0;
            --depth;
        } else if (!isScalarPlaced(item)) {
            return 0;
        }
        if (depth == 0) return 1;
        if (dict[depth - 1]) keyNext[depth - 1] = 1;
    }
}

// Reads object `num`, whose header ("num gen obj") the file holds at
// `offset`, as other readers read it where MuPDF cannot parse it
// (lenientExtentC), and keeps what it read as the object: MuPDF takes it
// from the table from then on. Only a dictionary or an array that is no
// stream is read so, into an entry that holds no object MuPDF read. Returns
// whether it was read.
int readAsOthersDoC(fz_context* ctx, pdf_document* doc, int num, int gen, std::int64_t offset)
{
    enum { valueLimit = 1 << 20 };
    pdf_lexbuf buf;
    pdf_lexbuf_init(ctx, &buf, PDF_LEXBUF_SMALL);
    fz_buffer* bytes = nullptr;
    fz_stream* stm = nullptr;
    pdf_obj* obj = nullptr;
    int read = 0;
    fz_var(bytes);
    fz_var(stm);
    fz_var(obj);
    fz_var(read);
    fz_try(ctx) {
        fz_seek(ctx, doc->file, offset, SEEK_SET);
        int header = pdf_lex(ctx, doc->file, &buf) == PDF_TOK_INT && buf.i == num;
        header = header && pdf_lex(ctx, doc->file, &buf) == PDF_TOK_INT && buf.i == gen;
        header = header && pdf_lex(ctx, doc->file, &buf) == PDF_TOK_OBJ;
        PlacedTokens tokens = {doc->file, &buf, {}, 0};
        std::int64_t start = 0, end = 0, cuts[2 * lenientCutLimit];
        int cutCount = 0;
        if (header && lenientExtentC(ctx, &tokens, valueLimit, &start, &end, cuts, &cutCount)
            && peekPlacedC(ctx, &tokens, 0).token != PDF_TOK_STREAM) {
            bytes = fz_new_buffer(ctx, size_t(end - start));
            fz_seek(ctx, doc->file, start, SEEK_SET);
            bytes->len = fz_read(ctx, doc->file, bytes->data, size_t(end - start));
            // Each item left out becomes spaces, the rest stays where it was.
            for (int i = 0; i < cutCount; ++i)
                for (std::int64_t at = cuts[2 * i]; at < cuts[2 * i + 1] && at - start < std::int64_t(bytes->len); ++at)
                    bytes->data[at - start] = ' ';
            stm = fz_open_buffer(ctx, bytes);
            obj = pdf_parse_stm_obj(ctx, doc, stm, &buf);
            pdf_xref_entry* entry =
                pdf_is_dict(ctx, obj) || pdf_is_array(ctx, obj) ? pdf_get_xref_entry_no_null(ctx, doc, num) : nullptr;
            if (entry && entry->type != 'o' && (!entry->obj || pdf_is_null(ctx, entry->obj))) {
                if (doc->crypt) pdf_crypt_obj(ctx, doc->crypt, obj, num, gen);
                pdf_set_obj_parent(ctx, obj, num);
                // Kept when a long document lets go of what it read: MuPDF
                // could not read it again from the file.
                pdf_dirty_obj(ctx, obj);
                pdf_drop_obj(ctx, entry->obj);
                entry->obj = obj;
                entry->type = 'n';
                entry->gen = gen;
                entry->ofs = offset;
                entry->stm_ofs = 0;
                obj = nullptr;
                read = 1;
            }
        }
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, obj);
        fz_drop_stream(ctx, stm);
        fz_drop_buffer(ctx, bytes);
        pdf_lexbuf_fin(ctx, &buf);
    }
    fz_catch(ctx) read = 0;
    return read;
}

// The decoded bytes of object stream `num`, read to their end (so that a
// compressed stream's check sum is read), or null when they cannot be read
// or pass objectStreamCheckLimit.
fz_buffer* objectStreamBytesC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_stream* stm = nullptr;
    fz_buffer* buf = nullptr;
    fz_var(stm);
    fz_var(buf);
    fz_try(ctx) {
        stm = pdf_open_stream_number(ctx, doc, num);
        buf = fz_new_buffer(ctx, 16 << 10);
        for (;;) {
            if (buf->len == buf->cap) {
                if (buf->cap >= objectStreamCheckLimit) fz_throw(ctx, FZ_ERROR_GENERIC, "object stream too long");
                fz_resize_buffer(ctx, buf, std::min(buf->cap * 2, objectStreamCheckLimit));
            }
            const size_t n = fz_read(ctx, stm, buf->data + buf->len, buf->cap - buf->len);
            if (n == 0) break;
            buf->len += n;
        }
    }
    fz_always(ctx) fz_drop_stream(ctx, stm);
    fz_catch(ctx) {
        fz_drop_buffer(ctx, buf);
        buf = nullptr;
    }
    return buf;
}

// The number of members object stream `num` claims and where the first
// begins in its bytes; 0 members when its dictionary cannot be read.
int objectStreamSizeC(fz_context* ctx, pdf_document* doc, int num, std::int64_t* first)
{
    pdf_obj* dict = nullptr;
    int count = 0;
    fz_var(dict);
    fz_var(count);
    fz_try(ctx) {
        dict = pdf_load_object(ctx, doc, num);
        count = pdf_dict_get_int(ctx, dict, PDF_NAME(N));
        *first = pdf_dict_get_int(ctx, dict, PDF_NAME(First));
        if (count < 0 || count > PDF_MAX_OBJECT_NUMBER || *first < 0) count = 0;
    }
    fz_always(ctx) pdf_drop_obj(ctx, dict);
    fz_catch(ctx) count = 0;
    return count;
}

// Reads the table at the start of an object stream's bytes: `count` pairs
// of an object number and an offset. Returns 0 when it cannot be read.
int objectStreamTableC(fz_context* ctx, fz_buffer* bytes, int count, int* nums, std::int64_t* offsets)
{
    fz_stream* stm = nullptr;
    pdf_lexbuf buf;
    pdf_lexbuf_init(ctx, &buf, PDF_LEXBUF_SMALL);
    int read = 1;
    fz_var(stm);
    fz_var(read);
    fz_try(ctx) {
        stm = fz_open_buffer(ctx, bytes);
        for (int i = 0; i < count && read; ++i) {
            read = pdf_lex(ctx, stm, &buf) == PDF_TOK_INT;
            nums[i] = int(buf.i);
            read = read && pdf_lex(ctx, stm, &buf) == PDF_TOK_INT && buf.i >= 0;
            offsets[i] = buf.i;
        }
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stm);
        pdf_lexbuf_fin(ctx, &buf);
    }
    fz_catch(ctx) read = 0;
    return read;
}

// What reading one member of an object stream on its own found.
enum MemberRead {
    memberSound,  // read strictly, and what MuPDF reads
    memberNull,   // the value null: its entry becomes free, as every reader reads it
    memberGuessed // damaged: MuPDF reads it only by guessing, or not at all
};

// Reads member object `num`, at `offset` in object stream `stream` (its
// bytes), on its own, as other readers do: one broken member leaves the
// others whole, where MuPDF's own reading of the stream stops at it. The
// member is read strictly first (strictValueC); what MuPDF parses is kept
// as the object, unless it has one already or the table places the object
// elsewhere now.
MemberRead readMemberC(fz_context* ctx, pdf_document* doc, int stream, fz_buffer* bytes, int num, std::int64_t offset)
{
    fz_stream* stm = nullptr;
    pdf_obj* obj = nullptr;
    pdf_lexbuf buf;
    pdf_lexbuf_init(ctx, &buf, PDF_LEXBUF_SMALL);
    MemberRead read = memberGuessed;
    fz_var(stm);
    fz_var(obj);
    fz_var(read);
    fz_try(ctx) {
        stm = fz_open_buffer(ctx, bytes);
        fz_seek(ctx, stm, offset, SEEK_SET);
        StrictTokens tokens = {stm, &buf, {PDF_TOK_EOF, PDF_TOK_EOF}, 0};
        int number = 0, closed = 0;
        const int strict = strictValueC(ctx, &tokens, &number, &closed);
        fz_seek(ctx, stm, offset, SEEK_SET);
        obj = pdf_parse_stm_obj(ctx, doc, stm, &buf);
        read = !strict ? memberGuessed : obj ? memberSound : memberNull;
        pdf_xref_entry* entry = num > 0 && num < pdf_xref_len(ctx, doc) ? pdf_get_xref_entry(ctx, doc, num) : nullptr;
        if (entry && entry->type == 'o' && entry->ofs == stream && !entry->obj) {
            if (read == memberNull) {
                entry->type = 'f';
                entry->gen = 0;
            } else if (obj) {
                pdf_set_obj_parent(ctx, obj, num);
                entry->obj = obj;
                obj = nullptr;
            }
        }
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, obj);
        fz_drop_stream(ctx, stm);
        pdf_lexbuf_fin(ctx, &buf);
    }
    fz_catch(ctx) read = memberGuessed;
    return read;
}

// Makes object `num`, which MuPDF cannot load from its object stream, a
// free entry: null, as MuPDF reads it already, and as the writer, which
// loads every object of every object stream first, can write it.
void freeStreamMemberC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && entry->type == 'o' && !entry->obj) {
            entry->type = 'f';
            entry->gen = 0;
        }
    }
    fz_catch(ctx) {}
}

// Whether `obj` refers to one of the `count` object numbers `nums`.
int refersToC(fz_context* ctx, pdf_obj* obj, const int* nums, int count)
{
    enum { maxDepth = 64 };
    pdf_obj* stack[maxDepth];
    int depth = 0, found = 0;
    fz_var(depth);
    fz_var(found);
    fz_try(ctx) {
        stack[depth++] = obj;
        while (depth > 0 && !found) {
            pdf_obj* at = stack[--depth];
            const int dict = pdf_is_dict(ctx, at);
            const int n = dict ? pdf_dict_len(ctx, at) : pdf_is_array(ctx, at) ? pdf_array_len(ctx, at) : 0;
            for (int i = 0; i < n && !found; ++i) {
                pdf_obj* item = dict ? pdf_dict_get_val(ctx, at, i) : pdf_array_get(ctx, at, i);
                if (pdf_is_indirect(ctx, item))
                    found = std::find(nums, nums + count, pdf_to_num(ctx, item)) != nums + count;
                else if ((pdf_is_array(ctx, item) || pdf_is_dict(ctx, item)) && depth < maxDepth) stack[depth++] = item;
            }
        }
    }
    fz_catch(ctx) {}
    return found;
}

// Object `num` as parsed, or null when it cannot be.
pdf_obj* parsedObjectC(fz_context* ctx, pdf_document* doc, int num)
{
    pdf_obj* obj = nullptr;
    fz_var(obj);
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
        obj = entry ? entry->obj : nullptr;
    }
    fz_catch(ctx) obj = nullptr;
    return obj;
}

// Whether the trailer or any object of the document refers to one of `nums`.
int documentRefersToC(fz_context* ctx, pdf_document* doc, const int* nums, int count)
{
    int found = refersToC(ctx, pdf_trailer(ctx, doc), nums, count);
    const int objects = xrefLengthC(ctx, doc);
    for (int num = 1; num < objects && !found; ++num)
        if (pdf_obj* obj = parsedObjectC(ctx, doc, num)) found = refersToC(ctx, obj, nums, count);
    return found;
}

// Takes every object number up to `highest` in the table, so that the
// objects made next are numbered above it.
void takeNumbersUpToC(fz_context* ctx, pdf_document* doc, int highest)
{
    fz_try(ctx) {
        while (pdf_xref_len(ctx, doc) <= highest) pdf_create_object(ctx, doc);
    }
    fz_catch(ctx) {}
}

} // namespace

namespace {

// Whether object `num` of `entry` is as the file has it, so that MuPDF reads
// it alike again from there (releasableC, KeptDocument). Objects of the file
// itself only. MuPDF moves an object into an incremental section the first
// time it changes, except in a document it has repaired (or is saving),
// which it changes in place; its pdf_xref_is_incremental names the newest
// section, which is the file's own while nothing has changed. A stream
// whose data was replaced keeps its buffer. The encryption dictionary
// (`encryption`) was read before decryption was set up: read again, its own
// strings would be decrypted. May throw.
bool readsAgainAlikeC(fz_context* ctx, pdf_document* doc, int num, const pdf_xref_entry* entry, int encryption)
{
    if (!doc->file || doc->repair_attempted || doc->save_in_progress || num == encryption) return false;
    if (doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, num)) return false;
    return entry && !entry->stm_buf && (entry->type == 'n' || entry->type == 'o')
           && (!entry->obj || !pdf_obj_is_dirty(ctx, entry->obj));
}

// Whether object `num`, parsed in `entry`, may be let go of: nothing but the
// cross-reference table holds it, and it reads again alike. May throw.
bool releasableC(fz_context* ctx, pdf_document* doc, int num, const pdf_xref_entry* entry, int encryption)
{
    return readsAgainAlikeC(ctx, doc, num, entry, encryption) && entry->obj && pdf_obj_refs(ctx, entry->obj) == 1;
}

int encryptionNumberC(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* encrypt = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Encrypt));
    return pdf_is_indirect(ctx, encrypt) ? pdf_to_num(ctx, encrypt) : 0;
}

// releaseParsedObjectC over every object, but the members of the object
// streams `keepMembers` marks (by stream number).
void releaseUnusedC(fz_context* ctx, pdf_document* doc, const std::vector<bool>& keepMembers)
{
    fz_try(ctx) {
        const int encryption = encryptionNumberC(ctx, doc);
        const int objects = pdf_xref_len(ctx, doc);
        for (int num = 1; num < objects; ++num) {
            pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            if (!entry || !entry->obj) continue;
            if (entry->type == 'o'
                && (entry->ofs < 0 || std::size_t(entry->ofs) >= keepMembers.size()
                    || keepMembers[std::size_t(entry->ofs)]))
                continue;
            if (releasableC(ctx, doc, num, entry, encryption)) {
                pdf_drop_obj(ctx, entry->obj);
                entry->obj = nullptr;
            }
        }
    }
    fz_catch(ctx) {}
}

} // namespace

void releaseParsedObjectC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (releasableC(ctx, doc, num, entry, encryptionNumberC(ctx, doc))) {
            pdf_drop_obj(ctx, entry->obj);
            entry->obj = nullptr;
        }
    }
    fz_catch(ctx) {}
}

void releaseUnusedObjects(PdfDocument::Impl& d)
{
    if (!d.releasesWhatItReads || !d.doc) return;
    fz_context* ctx = pdfContext();
    // Members of an object stream are let go of as settling does: only of a
    // stream it has read whole and found whole (MuPDF's own reading of a
    // stream stops at a member it cannot read, and the members after it
    // would be lost); a stream not read yet keeps its members.
    std::vector<bool> keepMembers(std::size_t(std::max(0, xrefLengthC(ctx, d.doc))), true);
    for (const auto& [stream, read] : d.objectStreams)
        if (stream >= 0 && std::size_t(stream) < keepMembers.size() && read.guessed.empty())
            keepMembers[std::size_t(stream)] = false;
    releaseUnusedC(ctx, d.doc, keepMembers);
}

namespace {

int countParsedC(fz_context* ctx, pdf_document* doc)
{
    int parsed = 0;
    fz_var(parsed);
    fz_try(ctx) {
        const int objects = pdf_xref_len(ctx, doc);
        for (int num = 1; num < objects; ++num) {
            const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            parsed += entry && entry->obj;
        }
    }
    fz_catch(ctx) {}
    return parsed;
}

} // namespace

int parsedObjectCount(const PdfDocument& document)
{
    PdfDocument::Impl& d = document.impl();
    std::lock_guard lock(d.mutex);
    return d.doc ? countParsedC(pdfContext(), d.doc) : 0;
}

namespace {

int findsPageC(fz_context* ctx, pdf_document* doc, int index)
{
    int found = 0;
    fz_var(found);
    fz_try(ctx) found = pdf_lookup_page_obj(ctx, doc, index) != nullptr;
    fz_catch(ctx) found = 0;
    return found;
}

int wasRepairedC(fz_context* ctx, pdf_document* doc)
{
    int repaired = 0;
    fz_var(repaired);
    fz_try(ctx) repaired = pdf_was_repaired(ctx, doc);
    fz_catch(ctx) repaired = 1;
    return repaired;
}

// The table's first entry heads the list of free numbers, and no reference
// can name object 0; but MuPDF's repair takes a damaged object stream's list
// of members at its word and may put an object 0 in it, which its writer then
// fails to load: every write of the document would fail. Freed again after
// each repair, before anything is written.
void freeFirstEntryC(fz_context* ctx, pdf_document* doc)
{
    fz_try(ctx) {
        if (pdf_xref_len(ctx, doc) > 0) {
            pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, 0);
            if (entry && entry->type != 'f') {
                pdf_drop_obj(ctx, entry->obj);
                fz_drop_buffer(ctx, entry->stm_buf);
                *entry = pdf_xref_entry{};
                entry->type = 'f';
                entry->gen = 65535;
            }
        }
    }
    fz_catch(ctx) {}
}

// Reads up to `len` bytes of the document's file from `offset`; how many
// were read (0 past its end or when it cannot be read).
size_t readFileAtC(fz_context* ctx, pdf_document* doc, std::int64_t offset, unsigned char* buf, size_t len)
{
    size_t n = 0;
    fz_var(n);
    fz_try(ctx) {
        fz_seek(ctx, doc->file, offset, SEEK_SET);
        n = fz_read(ctx, doc->file, buf, len);
    }
    fz_catch(ctx) n = 0;
    return n;
}

std::int64_t fileLengthC(fz_context* ctx, pdf_document* doc)
{
    std::int64_t length = 0;
    fz_var(length);
    fz_try(ctx) {
        fz_seek(ctx, doc->file, 0, SEEK_END);
        length = fz_tell(ctx, doc->file);
    }
    fz_catch(ctx) length = 0;
    return length;
}

// The object number that the trailer's entry at `path` ("Root", "Info",
// "Encrypt", "Root/Pages") names; 0 for none, or for a value held in place.
int trailerNumberC(fz_context* ctx, pdf_document* doc, const char* path)
{
    int num = 0;
    fz_var(num);
    fz_try(ctx) {
        pdf_obj* value = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), path);
        num = pdf_is_indirect(ctx, value) ? pdf_to_num(ctx, value) : 0;
    }
    fz_catch(ctx) num = 0;
    return num;
}

// Whether the trailer leads to a document catalog: what is left of a PDF
// that has lost its pages, as opposed to bytes MuPDF "repaired" out of noise.
int hasCatalogC(fz_context* ctx, pdf_document* doc)
{
    int found = 0;
    fz_var(found);
    fz_try(ctx) {
        pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
        found = pdf_is_dict(ctx, root)
                && (pdf_name_eq(ctx, pdf_dict_get(ctx, root, PDF_NAME(Type)), PDF_NAME(Catalog))
                    || pdf_is_dict(ctx, pdf_dict_get(ctx, root, PDF_NAME(Pages))));
    }
    fz_catch(ctx) found = 0;
    return found;
}

// Whether a field is a signature with a value; a widget takes both from its
// field when it has neither itself.
bool isSignatureC(fz_context* ctx, pdf_obj* field)
{
    return pdf_name_eq(ctx, pdf_dict_get_inheritable(ctx, field, PDF_NAME(FT)), PDF_NAME(Sig))
           && pdf_is_dict(ctx, pdf_dict_get_inheritable(ctx, field, PDF_NAME(V)));
}

} // namespace

int anyFieldC(fz_context* ctx, pdf_document* doc, int (*test)(fz_context*, pdf_document*, pdf_obj* field))
{
    pdf_obj* stack[64];
    int depth = 0, visited = 0;
    pdf_obj* fields = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm/Fields");
    if (pdf_is_array(ctx, fields)) stack[depth++] = fields;
    while (depth > 0 && visited < 100000) {
        pdf_obj* list = stack[--depth];
        const int n = pdf_array_len(ctx, list);
        for (int i = 0; i < n; ++i, ++visited) {
            pdf_obj* field = pdf_array_get(ctx, list, i);
            if (test(ctx, doc, field)) return 1;
            pdf_obj* kids = pdf_dict_get(ctx, field, PDF_NAME(Kids));
            if (pdf_is_array(ctx, kids) && depth < 64) stack[depth++] = kids;
        }
    }
    return 0;
}

namespace {

// Whether the page's marks hold a signature's widget with a value. Throws
// like any MuPDF call.
int pageHoldsSignatureC(fz_context* ctx, pdf_obj* page)
{
    pdf_obj* annots = pdf_dict_get(ctx, page, PDF_NAME(Annots));
    const int n = pdf_array_len(ctx, annots);
    for (int i = 0; i < n; ++i) {
        pdf_obj* annot = pdf_array_get(ctx, annots, i);
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, annot, PDF_NAME(Subtype)), PDF_NAME(Widget)) && isSignatureC(ctx, annot))
            return 1;
    }
    return 0;
}

} // namespace

// Whether a field of the form, or a widget on a page, is a signature with a
// value. Some signing programs leave the new field out of the form's list
// when the catalog holds the form itself, and other readers still find and
// check the signature through the page: a full rewrite would break it.
int isSignedC(fz_context* ctx, pdf_document* doc, int release)
{
    enum { maxDepth = 256 };
    int isSigned = 0;
    fz_var(isSigned);
    fz_try(ctx) {
        isSigned = anyFieldC(
            ctx, doc, [](fz_context* c, pdf_document*, pdf_obj* field) { return isSignatureC(c, field) ? 1 : 0; });
        // The pages' marks in one walk of the tree: a look-up by index walks
        // the tree down to its page, past every page before it in a flat one.
        pdf_obj* nodes[maxDepth];
        int next[maxDepth];
        int depth = 0;
        std::int64_t visits = 0;
        const std::int64_t most = 4 * std::int64_t(pdf_xref_len(ctx, doc)) + 64;
        if (!isSigned) {
            nodes[0] = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
            next[0] = 0;
            depth = 1;
        }
        while (depth > 0 && !isSigned) {
            pdf_obj* kids = pdf_dict_get(ctx, nodes[depth - 1], PDF_NAME(Kids));
            const int i = next[depth - 1]++;
            if (i >= pdf_array_len(ctx, kids)) {
                --depth;
                continue;
            }
            if (++visits > most) fz_throw(ctx, FZ_ERROR_GENERIC, "the page tree loops");
            pdf_obj* kid = pdf_array_get(ctx, kids, i);
            if (pdf_is_array(ctx, pdf_dict_get(ctx, kid, PDF_NAME(Kids)))) {
                if (depth == maxDepth) fz_throw(ctx, FZ_ERROR_GENERIC, "the page tree is too deep");
                nodes[depth] = kid;
                next[depth++] = 0;
                continue;
            }
            isSigned = pageHoldsSignatureC(ctx, kid);
            if (release && pdf_is_indirect(ctx, kid)) releaseParsedObjectC(ctx, doc, pdf_to_num(ctx, kid));
        }
    }
    // One that cannot be told is left as signed: a full rewrite would break
    // a signature the walk did not reach.
    fz_catch(ctx) isSigned = 1;
    return isSigned;
}

bool signedDocument(PdfDocument::Impl& d)
{
    if (d.locked) return false;
    if (!d.signedFile) d.signedFile = isSignedC(pdfContext(), d.doc, d.releasesWhatItReads) != 0;
    return *d.signedFile;
}

namespace {

// Whether object `num` is a dictionary: what a page must be.
int isDictionaryC(fz_context* ctx, pdf_document* doc, int num)
{
    pdf_obj* obj = nullptr;
    int is = 0;
    fz_var(obj);
    fz_var(is);
    fz_try(ctx) {
        obj = pdf_load_object(ctx, doc, num);
        is = pdf_is_dict(ctx, obj);
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) is = 0;
    return is;
}

// Whether the section the file ends with is a cross-reference stream: the
// trailer MuPDF read from it is then that stream's dictionary (a hybrid
// file's table keeps its own).
int endsInXrefStreamC(fz_context* ctx, pdf_document* doc)
{
    return pdf_name_eq(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Type)), PDF_NAME(XRef));
}

// Whether MuPDF can write an update of the file. It declines any file read
// with sections of both kinds (a hybrid file, or one another program
// updated in the other form), though its writer updates such a file as any
// other: written in the form of the section the file ends with
// (writeDocumentC), the update follows that section as in a file of that
// form alone, and is judged so.
int canSaveIncrementallyC(fz_context* ctx, pdf_document* doc)
{
    const int streams = doc->has_xref_streams, tables = doc->has_old_style_xrefs;
    int can = 0;
    fz_var(can);
    fz_try(ctx) {
        const int stream = endsInXrefStreamC(ctx, doc);
        doc->has_xref_streams = stream;
        doc->has_old_style_xrefs = !stream;
        can = pdf_can_be_saved_incrementally(ctx, doc);
    }
    fz_always(ctx) {
        doc->has_xref_streams = streams;
        doc->has_old_style_xrefs = tables;
    }
    fz_catch(ctx) can = 0;
    return can;
}

// Points the document at another copy of the same bytes.
void replaceSourceC(fz_context* ctx, pdf_document* doc, const std::shared_ptr<WatchedFile>& file, FzError* err)
{
    fz_stream* stm = nullptr;
    fz_var(stm);
    fz_try(ctx) {
        stm = openWatchedStream(ctx, file);
        fz_drop_stream(ctx, doc->file);
        doc->file = stm;
    }
    fz_catch(ctx) captureError(ctx, err);
}

// Points the document at `buf`, a copy of the bytes it reads now.
void useBufferC(fz_context* ctx, pdf_document* doc, fz_buffer* buf, FzError* err)
{
    fz_try(ctx) {
        fz_stream* stm = fz_open_buffer(ctx, buf);
        fz_drop_stream(ctx, doc->file);
        doc->file = stm;
    }
    fz_catch(ctx) captureError(ctx, err);
}

fz_buffer* newBufferC(fz_context* ctx, size_t size, FzError* err)
{
    fz_buffer* buf = nullptr;
    fz_var(buf);
    fz_try(ctx) buf = fz_new_buffer(ctx, std::max<size_t>(size, 1));
    fz_catch(ctx) captureError(ctx, err);
    return buf;
}

fz_buffer* copyBuffer(fz_context* ctx, const unsigned char* data, size_t len, FzError* err)
{
    fz_buffer* buf = nullptr;
    fz_var(buf);
    fz_try(ctx) buf = fz_new_buffer_from_copied_data(ctx, data, len);
    fz_catch(ctx) captureError(ctx, err);
    return buf;
}

// Whether object `num` is a page dictionary; gives its offset in the file.
int isPageObjectC(fz_context* ctx, pdf_document* doc, int num, int64_t* offset)
{
    pdf_obj* obj = nullptr;
    int isPage = 0;
    fz_var(obj);
    fz_var(isPage);
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && (entry->type == 'n' || entry->type == 'o')) {
            obj = pdf_load_object(ctx, doc, num);
            isPage = pdf_is_dict(ctx, obj) && pdf_name_eq(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Type)), PDF_NAME(Page));
            *offset = entry->type == 'n' ? entry->ofs : (int64_t(1) << 62) + num;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) isPage = 0;
    return isPage;
}

// The value of an inheritable `key` for `page`: its own, or the nearest
// ancestor's. The walk up /Parent is bounded: a damaged tree may loop.
pdf_obj* inheritedC(fz_context* ctx, pdf_obj* page, pdf_obj* key)
{
    pdf_obj* node = page;
    for (int depth = 0; node && depth < 64; ++depth) {
        if (pdf_obj* value = pdf_dict_get(ctx, node, key)) return value;
        node = pdf_dict_get(ctx, node, PDF_NAME(Parent));
    }
    return nullptr;
}

// Gives the page its own copy of every attribute it inherits, so that it
// keeps its size, resources and rotation under a new parent.
void keepInheritedC(fz_context* ctx, pdf_obj* page)
{
    pdf_obj* const keys[] = {PDF_NAME(MediaBox), PDF_NAME(CropBox), PDF_NAME(Resources), PDF_NAME(Rotate)};
    for (pdf_obj* key : keys) {
        if (pdf_dict_get(ctx, page, key)) continue;
        if (pdf_obj* value = inheritedC(ctx, page, key)) pdf_dict_put(ctx, page, key, value);
    }
}

// Puts a new flat page tree with the given page objects under the catalog.
void installPageTreeC(fz_context* ctx, pdf_document* doc, const int* nums, int count, FzError* err)
{
    pdf_obj* kids = nullptr;
    pdf_obj* pages = nullptr;
    fz_var(kids);
    fz_var(pages);
    fz_try(ctx) {
        pdf_obj* root = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root));
        if (!pdf_is_dict(ctx, root)) fz_throw(ctx, FZ_ERROR_GENERIC, "no document catalog");
        kids = pdf_new_array(ctx, doc, count);
        pages = pdf_add_new_dict(ctx, doc, 4);
        for (int k = 0; k < count; ++k) {
            pdf_obj* page = pdf_new_indirect(ctx, doc, nums[k], 0);
            pdf_array_push_drop(ctx, kids, page);
            keepInheritedC(ctx, pdf_array_get(ctx, kids, k));
            pdf_dict_put(ctx, pdf_array_get(ctx, kids, k), PDF_NAME(Parent), pages);
        }
        pdf_dict_put(ctx, pages, PDF_NAME(Type), PDF_NAME(Pages));
        pdf_dict_put(ctx, pages, PDF_NAME(Kids), kids);
        pdf_dict_put_int(ctx, pages, PDF_NAME(Count), count);
        pdf_dict_put(ctx, root, PDF_NAME(Pages), pages);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, kids);
        pdf_drop_obj(ctx, pages);
    }
    fz_catch(ctx) captureError(ctx, err);
}

// The page objects the file holds, in file order: what a page tree is
// rebuilt from when the file's own does not hold the pages it claims.
std::vector<int> pageObjectsInFileOrder(fz_context* ctx, pdf_document* doc)
{
    std::vector<std::pair<int64_t, int>> found;
    const int len = xrefLengthC(ctx, doc);
    for (int num = 1; num < len; ++num) {
        int64_t offset = 0;
        if (isPageObjectC(ctx, doc, num, &offset)) found.emplace_back(offset, num);
    }
    std::sort(found.begin(), found.end());
    std::vector<int> nums;
    for (const auto& f : found) nums.push_back(f.second);
    return nums;
}

// The kids of page tree node `num` (0: the node the catalog holds itself)
// that name an object, up to `max` of their numbers. Returns how many there
// are (none for a node of /Type /Pages without /Kids), -1 for any other
// dictionary without /Kids (a page), -2 for an object that is no dictionary
// or cannot be read.
int treeKidsC(fz_context* ctx, pdf_document* doc, int num, int* nums, int max)
{
    int count = -2;
    fz_var(count);
    fz_try(ctx) {
        pdf_obj* node = nullptr;
        if (num == 0) {
            node = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        } else {
            pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
            node = entry ? entry->obj : nullptr;
        }
        if (pdf_is_dict(ctx, node)) {
            pdf_obj* kids = pdf_dict_get(ctx, node, PDF_NAME(Kids));
            const int isNode =
                pdf_is_array(ctx, kids) || pdf_name_eq(ctx, pdf_dict_get(ctx, node, PDF_NAME(Type)), PDF_NAME(Pages));
            count = isNode ? 0 : -1;
            for (int i = 0, n = count == 0 ? pdf_array_len(ctx, kids) : 0; i < n; ++i) {
                pdf_obj* kid = pdf_array_get(ctx, kids, i);
                if (!pdf_is_indirect(ctx, kid)) continue;
                if (count < max) nums[count] = pdf_to_num(ctx, kid);
                ++count;
            }
        }
    }
    fz_catch(ctx) count = -2;
    return count;
}

// Whether the trailer's /Root is a dictionary.
int catalogReadC(fz_context* ctx, pdf_document* doc)
{
    int read = 0;
    fz_var(read);
    fz_try(ctx) read = pdf_is_dict(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root)));
    fz_catch(ctx) read = 0;
    return read;
}

// Rebuilds the document's cross-reference table from the objects the file
// holds, as MuPDF does when it meets a damaged table. Returns whether it did.
int repairTableC(fz_context* ctx, pdf_document* doc)
{
    int repaired = 0;
    fz_var(repaired);
    fz_try(ctx) {
        // Which section holds each object is remembered: the repaired table is one section.
        if (doc->xref_index) std::memset(doc->xref_index, 0, sizeof(int) * size_t(doc->max_xref_len));
        pdf_repair_xref(ctx, doc);
        if (doc->xref_index) std::memset(doc->xref_index, 0, sizeof(int) * size_t(doc->max_xref_len));
        freeFirstEntryC(ctx, doc);
        repaired = 1;
    }
    fz_catch(ctx) repaired = 0;
    return repaired;
}

// A mark written straight into a page's /Annots (a dictionary with no object
// of its own) that MuPDF would draw through an appearance it makes itself:
// links and popups it never draws so.
int isDirectMarkC(fz_context* ctx, pdf_obj* entry)
{
    if (pdf_is_indirect(ctx, entry) || !pdf_is_dict(ctx, entry)) return 0;
    pdf_obj* subtype = pdf_dict_get(ctx, entry, PDF_NAME(Subtype));
    return pdf_is_name(ctx, subtype) && !pdf_name_eq(ctx, subtype, PDF_NAME(Link))
           && !pdf_name_eq(ctx, subtype, PDF_NAME(Popup));
}

// The page's /Annots when it holds such a mark, else null.
pdf_obj* directMarksC(fz_context* ctx, pdf_document* doc, int index)
{
    pdf_obj* found = nullptr;
    fz_var(found);
    fz_try(ctx) {
        pdf_obj* annots = pdf_dict_get(ctx, pdf_lookup_page_obj(ctx, doc, index), PDF_NAME(Annots));
        for (int i = 0, n = pdf_array_len(ctx, annots); i < n && !found; ++i)
            if (isDirectMarkC(ctx, pdf_array_get(ctx, annots, i))) found = annots;
    }
    fz_catch(ctx) found = nullptr;
    return found;
}

// Moves each such mark into an object of its own, the dictionary unchanged.
// MuPDF draws a mark without an appearance through one it makes in a
// scratch table beside the file's objects; for a dictionary held inside the
// page it writes that appearance (and its own /Rect) into the page's own
// dictionary instead, where the next save keeps /AP << /N null >> and other
// readers draw nothing. A mark with an object of its own is drawn from a
// scratch copy and stays as the file held it.
void numberDirectMarksC(fz_context* ctx, pdf_document* doc, pdf_obj* annots, FzError* err)
{
    fz_try(ctx) {
        for (int i = 0, n = pdf_array_len(ctx, annots); i < n; ++i) {
            pdf_obj* entry = pdf_array_get(ctx, annots, i);
            if (isDirectMarkC(ctx, entry)) pdf_array_put_drop(ctx, annots, i, pdf_add_object(ctx, doc, entry));
        }
    }
    fz_catch(ctx) captureError(ctx, err);
}

pdf_page* loadPageC(fz_context* ctx, pdf_document* doc, int index, FzError* err)
{
    pdf_page* page = nullptr;
    fz_var(page);
    fz_try(ctx) page = pdf_load_page(ctx, doc, index);
    fz_catch(ctx) {
        captureError(ctx, err);
        page = nullptr;
    }
    return page;
}

pdf_document* createBlankC(fz_context* ctx, float w, float h, int withPage, FzError* err)
{
    pdf_document* doc = nullptr;
    fz_buffer* contents = nullptr;
    pdf_obj* resources = nullptr;
    pdf_obj* page = nullptr;
    fz_var(doc);
    fz_var(contents);
    fz_var(resources);
    fz_var(page);
    fz_try(ctx) {
        doc = pdf_create_document(ctx);
        if (withPage) {
            contents = fz_new_buffer(ctx, 64);
            fz_append_printf(ctx, contents, "1 g 0 0 %g %g re f\n", w, h);
            resources = pdf_new_dict(ctx, doc, 1);
            page = pdf_add_page(ctx, doc, fz_make_rect(0, 0, w, h), 0, resources, contents);
            pdf_insert_page(ctx, doc, -1, page);
        }
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, page);
        pdf_drop_obj(ctx, resources);
        fz_drop_buffer(ctx, contents);
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        pdf_drop_document(ctx, doc);
        doc = nullptr;
    }
    return doc;
}

void pageGeometryC(fz_context* ctx, pdf_page* page, fz_rect* media, fz_rect* crop, int* rotate, fz_matrix* ctm,
                   FzError* err)
{
    fz_try(ctx) {
        pdf_obj* obj = page->obj;
        *media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(MediaBox)));
        if (fz_is_empty_rect(*media)) *media = fz_make_rect(0, 0, 612, 792);
        pdf_obj* cropObj = pdf_dict_get_inheritable(ctx, obj, PDF_NAME(CropBox));
        *crop = cropObj ? fz_intersect_rect(pdf_to_rect(ctx, cropObj), *media) : *media;
        *rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, obj, PDF_NAME(Rotate)));
        pdf_page_transform(ctx, page, nullptr, ctm);
    }
    fz_catch(ctx) captureError(ctx, err);
}

} // namespace

int runPagePartsC(fz_context* ctx, fz_page* page, fz_device* dev, fz_matrix ctm, fz_cookie* cookie, int parts)
{
    int failed = 0;
    int part = 0;
    fz_var(failed);
    fz_var(part);
    for (part = 0; part < parts && part < 3; ++part) {
        fz_try(ctx) {
            if (part == 0) fz_run_page_contents(ctx, page, dev, ctm, cookie);
            else if (part == 1) fz_run_page_annots(ctx, page, dev, ctm, cookie);
            else fz_run_page_widgets(ctx, page, dev, ctm, cookie);
        }
        fz_catch(ctx) {
            const int caught = fz_caught(ctx);
            if (caught == FZ_ERROR_ABORT || caught == FZ_ERROR_MEMORY || (cookie && cookie->abort)) fz_rethrow(ctx);
            failed = 1;
        }
    }
    return failed;
}

fz_stext_page* stextC(fz_context* ctx, pdf_page* page, fz_display_list* list, fz_cookie* cookie, FzError* err)
{
    fz_stext_page* text = nullptr;
    fz_device* dev = nullptr;
    fz_var(text);
    fz_var(dev);
    fz_stext_options opts = {};
    // The images only counted (a scanned page's), never decoded here.
    opts.flags =
        FZ_STEXT_PRESERVE_LIGATURES | FZ_STEXT_PRESERVE_WHITESPACE | FZ_STEXT_MEDIABOX_CLIP | FZ_STEXT_PRESERVE_IMAGES;
    fz_try(ctx) {
        // As fz_new_stext_page_from_page and _from_display_list, with the cookie.
        text = fz_new_stext_page(ctx, list ? fz_bound_display_list(ctx, list) : fz_bound_page(ctx, &page->super));
        dev = fz_new_stext_device(ctx, text, &opts);
        if (list) fz_run_display_list(ctx, list, dev, fz_identity, fz_infinite_rect, cookie);
        else runPagePartsC(ctx, &page->super, dev, fz_identity, cookie, 1);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_stext_page(ctx, text);
        text = nullptr;
    }
    return text;
}

fz_display_list* recordPageC(fz_context* ctx, pdf_page* page, fz_cookie* cookie, int* damaged, FzError* err)
{
    fz_display_list* list = nullptr;
    fz_device* dev = nullptr;
    fz_var(list);
    fz_var(dev);
    *damaged = 0;
    fz_try(ctx) {
        list = fz_new_display_list(ctx, fz_bound_page(ctx, &page->super));
        dev = fz_new_list_device(ctx, list);
        *damaged = runPagePartsC(ctx, &page->super, dev, fz_identity, cookie, 3);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) fz_drop_device(ctx, dev);
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_display_list(ctx, list);
        list = nullptr;
    }
    return list;
}

PdfTextPage textPageOf(const fz_stext_page* text, const PdfMatrix& toUser)
{
    PdfTextPage result;
    auto user = [&](fz_point p) { return toUser.map({p.x, p.y}); };
    for (fz_stext_block* b = text->first_block; b; b = b->next) {
        if (b->type == FZ_STEXT_BLOCK_IMAGE) ++result.images;
        if (b->type != FZ_STEXT_BLOCK_TEXT) continue;
        PdfTextBlock block;
        block.bounds = toUser.mapRect(fromFz(b->bbox));
        for (fz_stext_line* l = b->u.t.first_line; l; l = l->next) {
            PdfTextLine line;
            line.bounds = toUser.mapRect(fromFz(l->bbox));
            std::size_t count = 0;
            for (fz_stext_char* c = l->first_char; c; c = c->next) ++count;
            line.chars.reserve(count);
            for (fz_stext_char* c = l->first_char; c; c = c->next) {
                PdfChar ch;
                ch.code = char32_t(c->c);
                ch.quad = {user(c->quad.ul), user(c->quad.ur), user(c->quad.ll), user(c->quad.lr)};
                line.chars.push_back(ch);
            }
            if (!line.chars.empty()) block.lines.push_back(std::move(line));
        }
        if (!block.lines.empty()) result.blocks.push_back(std::move(block));
    }
    return result;
}

namespace {

fz_link* linksC(fz_context* ctx, pdf_page* page, FzError* err)
{
    fz_link* links = nullptr;
    fz_var(links);
    fz_try(ctx) links = fz_load_links(ctx, &page->super);
    fz_catch(ctx) {
        captureError(ctx, err);
        links = nullptr;
    }
    return links;
}

int resolveLinkC(fz_context* ctx, pdf_document* doc, const char* uri, float* x, float* y)
{
    int page = -1;
    fz_var(page);
    fz_try(ctx) {
        fz_location loc = fz_resolve_link(ctx, &doc->super, uri, x, y);
        page = loc.page >= 0 ? fz_page_number_from_location(ctx, &doc->super, loc) : -1;
    }
    fz_catch(ctx) page = -1;
    return page;
}

// One outline item as read inside fz_try: strings are fz_malloc'd.
struct RawOutlineItem {
    char* title = nullptr;
    char* uri = nullptr;
    int open = 0;
    int num = 0;              // object number, 0 for a direct dictionary
    pdf_obj* first = nullptr; // borrowed: the first child and the next sibling
    pdf_obj* next = nullptr;
};

// The first item of the document's outline, or null.
pdf_obj* outlineFirstC(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* first = nullptr;
    fz_var(first);
    fz_try(ctx) first = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Outlines/First");
    fz_catch(ctx) first = nullptr;
    return first;
}

void readOutlineItemC(fz_context* ctx, pdf_document* doc, pdf_obj* node, RawOutlineItem* out, FzError* err)
{
    fz_try(ctx) {
        out->num = pdf_to_num(ctx, node);
        out->title = fz_strdup(ctx, pdf_dict_get_text_string(ctx, node, PDF_NAME(Title)));
        out->open = pdf_dict_get_int(ctx, node, PDF_NAME(Count)) > 0;
        out->first = pdf_dict_get(ctx, node, PDF_NAME(First));
        out->next = pdf_dict_get(ctx, node, PDF_NAME(Next));
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        return;
    }
    // A destination that cannot be followed (a page that has left the page
    // tree but still names it as its parent) leaves the entry without one;
    // the entries after it are read all the same.
    fz_try(ctx) {
        if (pdf_obj* dest = pdf_dict_get(ctx, node, PDF_NAME(Dest))) out->uri = pdf_parse_link_dest(ctx, doc, dest);
        else if (pdf_obj* action = pdf_dict_get(ctx, node, PDF_NAME(A)))
            out->uri = pdf_parse_link_action(ctx, doc, action, -1);
    }
    fz_catch(ctx) out->uri = nullptr;
}

int lookupMetadataC(fz_context* ctx, pdf_document* doc, const char* key, char* buf, int size)
{
    int n = -1;
    fz_var(n);
    fz_try(ctx) n = fz_lookup_metadata(ctx, &doc->super, key, buf, size);
    fz_catch(ctx) n = -1;
    return n;
}

// Reads an Info entry: a string, or an array of strings joined by "\n".
// Returns the UTF-8 length needed (excluding the terminator), -1 when absent.
fz_buffer* infoValueC(fz_context* ctx, pdf_document* doc, const char* key, int* isArray, FzError* err)
{
    fz_buffer* out = nullptr;
    fz_var(out);
    fz_try(ctx) {
        pdf_obj* info = pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Info));
        pdf_obj* value = pdf_dict_gets(ctx, info, key);
        if (pdf_is_string(ctx, value)) {
            out = fz_new_buffer(ctx, 64);
            fz_append_string(ctx, out, pdf_to_text_string(ctx, value));
            *isArray = 0;
        } else if (pdf_is_array(ctx, value)) {
            out = fz_new_buffer(ctx, 64);
            int n = pdf_array_len(ctx, value);
            for (int i = 0; i < n; ++i) {
                pdf_obj* item = pdf_array_get(ctx, value, i);
                if (!pdf_is_string(ctx, item)) continue;
                fz_append_string(ctx, out, pdf_to_text_string(ctx, item));
                fz_append_byte(ctx, out, '\n');
            }
            *isArray = 1;
        }
    }
    fz_catch(ctx) {
        captureError(ctx, err);
        fz_drop_buffer(ctx, out);
        out = nullptr;
    }
    return out;
}

void setInfoC(fz_context* ctx, pdf_document* doc, const char* key, const char* value, FzError* err)
{
    fz_try(ctx) {
        pdf_obj* trailer = pdf_trailer(ctx, doc);
        pdf_obj* info = pdf_dict_get(ctx, trailer, PDF_NAME(Info));
        if (!pdf_is_dict(ctx, info)) {
            if (value) {
                info = pdf_add_new_dict(ctx, doc, 8);
                // Adding the first object of a new document can move the
                // trailer into a fresh xref section: look it up again.
                trailer = pdf_trailer(ctx, doc);
                pdf_dict_put_drop(ctx, trailer, PDF_NAME(Info), info);
            }
        }
        if (pdf_is_dict(ctx, info)) {
            if (value) pdf_dict_puts_drop(ctx, info, key, pdf_new_text_string(ctx, value));
            else pdf_dict_dels(ctx, info, key);
        }
    }
    fz_catch(ctx) captureError(ctx, err);
}

// An incremental update is the original bytes followed by the changed objects.
void appendOriginalC(fz_context* ctx, pdf_document* doc, fz_output* out)
{
    unsigned char chunk[1 << 16];
    fz_seek(ctx, doc->file, 0, SEEK_SET);
    for (;;) {
        const size_t n = fz_read(ctx, doc->file, chunk, sizeof chunk);
        if (n == 0) break;
        fz_write_data(ctx, out, chunk, n);
    }
}

// MuPDF writes a saved document's bytes straight into a QByteArray (a copy
// for another thread, or the bytes a caller asked for).
struct ByteSink {
    QByteArray* bytes;
    int failed;
};

extern "C" void sinkWrite(fz_context* ctx, void* state, const void* data, size_t n)
{
    auto* sink = static_cast<ByteSink*>(state);
    try {
        sink->bytes->append(static_cast<const char*>(data), qsizetype(n));
    } catch (...) {
        sink->failed = 1;
    }
    if (sink->failed) fz_throw(ctx, FZ_ERROR_GENERIC, "out of memory for the saved document");
}

extern "C" int64_t sinkTell(fz_context*, void* state) { return static_cast<ByteSink*>(state)->bytes->size(); }

// The document's metadata stream when its encryption leaves metadata in the
// clear (/EncryptMetadata false), or null. MuPDF's writer encrypts every
// stream it writes, this one too, and other readers, which take it as clear
// text, would read noise.
pdf_obj* clearMetadataC(fz_context* ctx, pdf_document* doc, const pdf_write_options* opts)
{
    if (opts->do_encrypt != PDF_ENCRYPT_KEEP || !doc->crypt || pdf_crypt_encrypt_metadata(ctx, doc->crypt))
        return nullptr;
    pdf_obj* metadata = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Metadata");
    return pdf_is_indirect(ctx, metadata) && pdf_is_stream(ctx, metadata) ? metadata : nullptr;
}

// Where the last cross-reference section just written starts, read from the
// "startxref" line that ends it.
int64_t lastStartXrefC(fz_context* ctx, fz_output* out, ByteSink* bytes, FileSink* file)
{
    char tail[64] = {};
    fz_flush_output(ctx, out);
    const int64_t end = fz_tell_output(ctx, out);
    const int64_t from = std::max<int64_t>(0, end - int64_t(sizeof tail - 1));
    const size_t n = size_t(end - from);
    if (file) {
        if (::pread(file->fd, tail, n, off_t(from)) != ssize_t(n)) fz_throw(ctx, FZ_ERROR_GENERIC, "cannot read back");
    } else {
        std::memcpy(tail, bytes->bytes->constData() + from, n);
    }
    // A cross-reference stream's data may come just before, with zero bytes in it.
    const size_t line = std::string_view(tail, n).rfind("startxref");
    if (line == std::string_view::npos) fz_throw(ctx, FZ_ERROR_GENERIC, "no startxref at the end of the written file");
    return std::strtoll(tail + line + 9, nullptr, 10);
}

// Cuts the bytes written at `at`, the version in the header made 1.5 where
// `older`.
bool cutSink(ByteSink* bytes, int64_t at, bool older) noexcept
{
    try {
        bytes->bytes->truncate(qsizetype(at));
        if (older) bytes->bytes->data()[7] = '5';
        return true;
    } catch (...) {
        return false;
    }
}

// Puts what crossReferenceStreamC makes in place of the table a whole file
// just written ends with: a cross-reference stream, where most of its
// numbers are free, with the version that reads one (1.5) in the header,
// or the table cut after its last object in use. Returns the trailer's
// /Size now.
int streamTableC(fz_context* ctx, pdf_document* doc, fz_output* out, ByteSink* bytes, FileSink* file, int tight)
{
    const int64_t at = lastStartXrefC(ctx, out, bytes, file);
    const int64_t end = fz_tell_output(ctx, out);
    int size = pdf_xref_len(ctx, doc);
    if (at <= 8 || at >= end) return size;
    fz_buffer* table = fz_new_buffer(ctx, size_t(end - at));
    fz_buffer* stream = nullptr;
    fz_var(stream);
    fz_try(ctx) {
        char header[8] = {};
        if (file) {
            const ssize_t n = ::pread(file->fd, table->data, size_t(end - at), off_t(at));
            if (n != ssize_t(end - at) || ::pread(file->fd, header, sizeof header, 0) != ssize_t(sizeof header))
                fz_throw(ctx, FZ_ERROR_GENERIC, "cannot read back");
        } else {
            std::memcpy(table->data, bytes->bytes->constData() + at, size_t(end - at));
            std::memcpy(header, bytes->bytes->constData(), sizeof header);
        }
        table->len = size_t(end - at);
        stream = crossReferenceStreamC(ctx, doc, table->data, table->len, at, tight, &size);
        if (stream) {
            const bool older = std::memcmp(header, "%PDF-1.", 7) == 0 && header[7] >= '0' && header[7] < '5'
                               && (stream->len < 4 || std::memcmp(stream->data, "xref", 4) != 0);
            if (file) {
                if (older) {
                    fz_seek_output(ctx, out, 7, SEEK_SET);
                    fz_write_byte(ctx, out, '5');
                }
                fz_seek_output(ctx, out, at, SEEK_SET);
                fz_truncate_output(ctx, out);
            } else if (!cutSink(bytes, at, older)) {
                fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory for the saved document");
            }
            fz_write_buffer(ctx, out, stream);
        }
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, stream);
        fz_drop_buffer(ctx, table);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return size;
}

// Whether the file the document was read from keeps objects in object
// streams (MuPDF reads theirs as of kind 'o'): a whole file written of it
// keeps its objects so too (packObjectsC), as small as it was.
int readFromObjectStreamsC(fz_context* ctx, pdf_document* doc)
{
    const int objects = pdf_xref_len(ctx, doc);
    for (int num = 1; num < objects; ++num) {
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && entry->type == 'o') return 1;
    }
    return 0;
}

// Writes the whole file just written again with its small objects in
// object streams (objectStreamsC), where it can be. Returns the trailer's
// /Size then, or 0 where the file stays as it was written: as does a file
// too large to hold twice in blocks the engine may ask for (engineBlockLimit),
// whose small objects are a small part of it, rather than be refused.
int packObjectsC(fz_context* ctx, pdf_document* doc, fz_output* out, ByteSink* bytes, FileSink* file, int compress,
                 int tight)
{
    const int64_t at = lastStartXrefC(ctx, out, bytes, file);
    const int64_t end = fz_tell_output(ctx, out);
    if (at <= 8 || at >= end || end > int64_t(engineBlockLimit / 4)) return 0;
    fz_buffer* whole = nullptr;
    fz_buffer* packed = nullptr;
    int size = 0;
    fz_var(whole);
    fz_var(packed);
    fz_try(ctx) {
        const unsigned char* written = nullptr;
        if (file) {
            whole = fz_new_buffer(ctx, size_t(end));
            if (::pread(file->fd, whole->data, size_t(end), 0) != ssize_t(end))
                fz_throw(ctx, FZ_ERROR_GENERIC, "cannot read back");
            whole->len = size_t(end);
            written = whole->data;
        } else {
            written = reinterpret_cast<const unsigned char*>(bytes->bytes->constData());
        }
        packed = objectStreamsC(ctx, doc, written, size_t(end), at, compress, tight, &size);
        if (packed && file) {
            fz_seek_output(ctx, out, 0, SEEK_SET);
            fz_write_buffer(ctx, out, packed);
            fz_truncate_output(ctx, out);
        } else if (packed) {
            if (!cutSink(bytes, 0, false)) fz_throw(ctx, FZ_ERROR_MEMORY, "out of memory for the saved document");
            fz_write_buffer(ctx, out, packed);
        }
        if (!packed) size = 0;
    }
    fz_always(ctx) {
        fz_drop_buffer(ctx, packed);
        fz_drop_buffer(ctx, whole);
    }
    fz_catch(ctx) fz_rethrow(ctx);
    return size;
}

// Appends an update that holds the metadata stream in the clear, as the
// file's encryption says it is: readers take the last revision of an object.
// Printed `tight` as the write before it was (see writesEmptyNameC).
void appendClearMetadataC(fz_context* ctx, pdf_document* doc, pdf_obj* metadata, fz_output* out, ByteSink* bytes,
                          FileSink* file, int tight, int size)
{
    fz_buffer* raw = nullptr;
    pdf_obj* dict = nullptr;
    pdf_obj* trailer = nullptr;
    fz_var(raw);
    fz_var(dict);
    fz_var(trailer);
    fz_try(ctx) {
        const int64_t previous = lastStartXrefC(ctx, out, bytes, file);
        const int num = pdf_to_num(ctx, metadata), gen = pdf_to_gen(ctx, metadata);
        // MuPDF's reader takes the stream for encrypted too: the file's own
        // bytes are read, unless the document holds new ones for it.
        pdf_xref_entry* entry = pdf_get_xref_entry_no_null(ctx, doc, num);
        if (entry->stm_buf) {
            raw = fz_keep_buffer(ctx, entry->stm_buf);
        } else {
            fz_stream* stm =
                fz_open_null_filter(ctx, doc->file, pdf_dict_get_int(ctx, metadata, PDF_NAME(Length)), entry->stm_ofs);
            fz_try(ctx) raw = fz_read_all(ctx, stm, 0);
            fz_always(ctx) fz_drop_stream(ctx, stm);
            fz_catch(ctx) fz_rethrow(ctx);
        }
        unsigned char* data = nullptr;
        const size_t length = fz_buffer_storage(ctx, raw, &data);
        // Only names, numbers and the filters' parameters: nothing the key would have to hide.
        dict = pdf_new_dict(ctx, doc, 5);
        for (pdf_obj* key : {PDF_NAME(Type), PDF_NAME(Subtype), PDF_NAME(Filter), PDF_NAME(DecodeParms)})
            if (pdf_obj* value = pdf_dict_get(ctx, metadata, key)) pdf_dict_put(ctx, dict, key, value);
        pdf_dict_put_int(ctx, dict, PDF_NAME(Length), int64_t(length));
        fz_write_string(ctx, out, "\n");
        const int64_t offset = fz_tell_output(ctx, out);
        fz_write_printf(ctx, out, "%d %d obj\n", num, gen);
        pdf_print_obj(ctx, out, dict, tight, 0);
        fz_write_string(ctx, out, "\nstream\n");
        fz_write_data(ctx, out, data, length);
        fz_write_string(ctx, out, "\nendstream\nendobj\n");
        const int64_t xref = fz_tell_output(ctx, out);
        fz_write_printf(ctx, out, "xref\n%d 1\n%010ld %05d n \n", num, offset, gen);
        trailer = pdf_new_dict(ctx, doc, 6);
        pdf_obj* old = pdf_trailer(ctx, doc);
        for (pdf_obj* key : {PDF_NAME(Root), PDF_NAME(Info), PDF_NAME(ID), PDF_NAME(Encrypt)})
            if (pdf_obj* value = pdf_dict_get(ctx, old, key)) pdf_dict_put(ctx, trailer, key, value);
        pdf_dict_put_int(ctx, trailer, PDF_NAME(Size), size);
        pdf_dict_put_int(ctx, trailer, PDF_NAME(Prev), previous);
        fz_write_string(ctx, out, "trailer\n");
        pdf_print_obj(ctx, out, trailer, tight, 0);
        fz_write_printf(ctx, out, "\nstartxref\n%ld\n%%%%EOF\n", xref);
    }
    fz_always(ctx) {
        pdf_drop_obj(ctx, trailer);
        pdf_drop_obj(ctx, dict);
        fz_drop_buffer(ctx, raw);
    }
    fz_catch(ctx) fz_rethrow(ctx);
}

// Puts the encryption dictionary back as the file holds it. MuPDF reads an
// object again once it has rebuilt a damaged file's table, and then takes
// the dictionary's own strings (/O, /U), which are never encrypted, for
// encrypted ones: a copy written with them would open with no password.
void keepEncryptionDictionaryC(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* raw = nullptr;
    fz_var(raw);
    const int num = trailerNumberC(ctx, doc, "Encrypt");
    fz_try(ctx) {
        const bool changed = num > 0 && doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, num);
        pdf_xref_entry* entry = doc->crypt && num > 0 && num < pdf_xref_len(ctx, doc) && !changed
                                    ? pdf_get_xref_entry(ctx, doc, num)
                                    : nullptr;
        if (entry && entry->type == 'n') {
            raw = pdf_load_unencrypted_object(ctx, doc, num);
            if (pdf_is_dict(ctx, raw)) {
                pdf_set_obj_parent(ctx, raw, num);
                pdf_drop_obj(ctx, entry->obj);
                entry->obj = raw;
                raw = nullptr;
            }
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, raw);
    fz_catch(ctx) {}
}

int authenticateC(fz_context* ctx, pdf_document* doc, const char* password)
{
    int ok = 0;
    fz_var(ok);
    fz_try(ctx) ok = pdf_authenticate_password(ctx, doc, password);
    fz_catch(ctx) ok = 0;
    return ok;
}

// What MuPDF's writer changes in the document it writes, kept before a write
// and put back after it. The writer is made to write a document out to the
// file it then reads: it takes the encryption dictionary out of the trailer
// of a copy written without one (or puts a new one in), gives the trailer's
// /ID a new second half, notes that the file now ends with a cross-reference
// table (so the next update is written as one, not as a stream) and where
// its last table ends. Made on the open document for an export, a print or
// Extract Pages, those changes reached the user's next save: the update of
// a signed, encrypted file lost /Encrypt, and no reader read the file again.
// The table entries a write changes for itself (keepEntryC) go back too, and
// so does the object an update written with a cross-reference stream adds
// for that stream (keepObjectCountC), and so do the streams' filter lists
// (lendListsC).
struct WriterState {
    int kept;
    pdf_obj* trailer; // and its entries in their order, all kept
    int entries;
    pdf_obj** keys;
    pdf_obj** values;
    pdf_obj* id; // the /ID array and its two strings, kept
    pdf_obj* idItems[2];
    std::int64_t startxref;
    int version, hasXrefStreams, hasOldStyleXrefs;
    int sections;
    std::int64_t* sectionEnds;
    int changed, changedCapacity;
    int* changedNums;
    char* changedTypes;
    unsigned short* changedGens;
    int objectsKept; // each update section's length, kept (keepObjectCountC)
    int updates;
    int* updateLengths;
    int maxXrefLength;
    // The streams' filter lists lent to the writer (lendListsC): each
    // dictionary, its key, and the list the document holds there.
    int lent, lentCapacity;
    pdf_obj** lentDicts;
    pdf_obj** lentKeys;
    pdf_obj** lentLists;
};

void keepWriterStateC(fz_context* ctx, pdf_document* doc, WriterState* s)
{
    *s = WriterState{};
    pdf_obj* trailer = pdf_trailer(ctx, doc);
    const int entries = pdf_dict_len(ctx, trailer);
    s->keys = static_cast<pdf_obj**>(fz_calloc(ctx, size_t(entries) + 1, sizeof(pdf_obj*)));
    s->values = static_cast<pdf_obj**>(fz_calloc(ctx, size_t(entries) + 1, sizeof(pdf_obj*)));
    s->sectionEnds =
        static_cast<std::int64_t*>(fz_calloc(ctx, size_t(doc->num_xref_sections) + 1, sizeof(std::int64_t)));
    s->trailer = pdf_keep_obj(ctx, trailer);
    for (; s->entries < entries; ++s->entries) {
        s->keys[s->entries] = pdf_keep_obj(ctx, pdf_dict_get_key(ctx, trailer, s->entries));
        s->values[s->entries] = pdf_keep_obj(ctx, pdf_dict_get_val(ctx, trailer, s->entries));
    }
    pdf_obj* id = pdf_dict_get(ctx, trailer, PDF_NAME(ID));
    if (pdf_is_array(ctx, id)) {
        s->id = pdf_keep_obj(ctx, id);
        for (int i = 0; i < 2; ++i) s->idItems[i] = pdf_keep_obj(ctx, pdf_array_get(ctx, id, i));
    }
    s->startxref = doc->startxref;
    s->version = doc->version;
    s->hasXrefStreams = doc->has_xref_streams;
    s->hasOldStyleXrefs = doc->has_old_style_xrefs;
    s->sections = doc->num_xref_sections;
    for (int i = 0; i < s->sections; ++i) s->sectionEnds[i] = doc->xref_sections[i].end_ofs;
    s->kept = 1;
}

// Notes table entry `num` as it is, to be put back after the write.
void keepEntryC(fz_context* ctx, WriterState* s, int num, const pdf_xref_entry* entry)
{
    if (s->changed == s->changedCapacity) {
        const int capacity = std::max(64, 2 * s->changedCapacity);
        s->changedNums = static_cast<int*>(fz_realloc(ctx, s->changedNums, size_t(capacity) * sizeof(int)));
        s->changedTypes = static_cast<char*>(fz_realloc(ctx, s->changedTypes, size_t(capacity)));
        s->changedGens =
            static_cast<unsigned short*>(fz_realloc(ctx, s->changedGens, size_t(capacity) * sizeof(unsigned short)));
        s->changedCapacity = capacity;
    }
    s->changedNums[s->changed] = num;
    s->changedTypes[s->changed] = entry->type;
    s->changedGens[s->changed] = entry->gen;
    ++s->changed;
}

// The table of update section `i` when it is one run of entries from object
// 0, as MuPDF makes an update's table and grows it; else null.
pdf_xref_subsec* updateTableC(pdf_document* doc, int i)
{
    pdf_xref* xref = &doc->xref_sections[i];
    pdf_xref_subsec* sub = xref->subsec;
    return sub && !sub->next && sub->start == 0 && sub->len == xref->num_objects ? sub : nullptr;
}

// Keeps the length of each update section, so that the objects a write adds
// to them can be taken out again: MuPDF's writer adds the stream that
// lists an update's objects as an object of that update, for good. False,
// keeping nothing, where a section's table is not the one run MuPDF grows.
bool keepObjectCountC(fz_context* ctx, pdf_document* doc, WriterState* s)
{
    const int updates = doc->num_incremental_sections;
    for (int i = 0; i < updates; ++i)
        if (!updateTableC(doc, i)) return false;
    s->updateLengths = static_cast<int*>(fz_calloc(ctx, size_t(updates) + 1, sizeof(int)));
    for (int i = 0; i < updates; ++i) s->updateLengths[i] = doc->xref_sections[i].num_objects;
    s->updates = updates;
    s->maxXrefLength = doc->max_xref_len;
    s->objectsKept = 1;
    return true;
}

// Takes out of each update section the objects a write added past the
// length keepObjectCountC kept: none of them is the document's.
void dropAddedObjectsC(fz_context* ctx, pdf_document* doc, WriterState* s)
{
    if (!s->objectsKept || doc->num_incremental_sections != s->updates) return;
    for (int i = 0; i < s->updates; ++i) {
        pdf_xref_subsec* sub = updateTableC(doc, i);
        const int length = s->updateLengths[i];
        if (!sub || sub->len <= length) continue;
        for (int num = length; num < sub->len; ++num) {
            pdf_xref_entry* entry = &sub->table[num];
            pdf_drop_obj(ctx, entry->obj);
            fz_drop_buffer(ctx, entry->stm_buf);
            *entry = pdf_xref_entry{};
        }
        sub->len = length;
        doc->xref_sections[i].num_objects = length;
    }
    doc->max_xref_len = std::min(doc->max_xref_len, std::max(s->maxXrefLength, pdf_xref_len(ctx, doc)));
}

// Lends the writer copies of stream `num`'s /Filter and /DecodeParms lists
// (lendListsC). One that cannot be read the writer meets alike.
void lendListsOfC(fz_context* ctx, pdf_document* doc, WriterState* s, int num)
{
    pdf_obj* dict = nullptr;
    fz_var(dict);
    fz_try(ctx) {
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && entry->type == 'n' && pdf_obj_num_is_stream(ctx, doc, num)) {
            dict = pdf_load_object(ctx, doc, num);
            for (pdf_obj* key : {PDF_NAME(Filter), PDF_NAME(DecodeParms)}) {
                pdf_obj* list = pdf_dict_get(ctx, dict, key);
                if (!pdf_is_array(ctx, list)) continue;
                if (s->lent == s->lentCapacity) {
                    const int capacity = std::max(64, 2 * s->lentCapacity);
                    const auto grown = [&](pdf_obj** items) {
                        return static_cast<pdf_obj**>(fz_realloc(ctx, items, size_t(capacity) * sizeof(pdf_obj*)));
                    };
                    s->lentDicts = grown(s->lentDicts);
                    s->lentKeys = grown(s->lentKeys);
                    s->lentLists = grown(s->lentLists);
                    s->lentCapacity = capacity;
                }
                pdf_obj* copy = pdf_copy_array(ctx, list);
                s->lentDicts[s->lent] = pdf_keep_obj(ctx, dict);
                s->lentKeys[s->lent] = key;
                s->lentLists[s->lent] = pdf_keep_obj(ctx, list);
                ++s->lent;
                pdf_dict_put_drop(ctx, dict, key, copy);
            }
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, dict);
    fz_catch(ctx) {}
}

// MuPDF's writer takes /ASCIIHexDecode off the head of a stream's filter
// list (and the first decode parameters with it) in the very lists the
// document holds, its copy of the stream's dictionary being shallow: the
// document would then claim no hex coding over hex bytes, and every later
// write, a save too, would copy that damage. Each list the write reaches
// (every stream's, or the changed ones' for an update) is lent to it as a
// copy of its own; putWriterStateBackC puts the document's own back.
void lendListsC(fz_context* ctx, pdf_document* doc, WriterState* s, int changedOnly)
{
    const int saving = doc->save_in_progress;
    doc->save_in_progress = 1; // changed in place, as the writer changes it
    fz_try(ctx) {
        const int objects = pdf_xref_len(ctx, doc);
        for (int num = 1; num < objects; ++num)
            if (!changedOnly || (doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, num)))
                lendListsOfC(ctx, doc, s, num);
    }
    fz_always(ctx) doc->save_in_progress = saving;
    fz_catch(ctx) fz_rethrow(ctx);
}

// Puts back what keepWriterStateC kept and lets go of it. Never throws:
// what cannot be put back stays as the write left it.
void putWriterStateBackC(fz_context* ctx, pdf_document* doc, WriterState* s)
{
    // Changed in place, as the writer changed it: a change of the trailer
    // would otherwise open an update section of its own.
    const int saving = doc->save_in_progress;
    doc->save_in_progress = 1;
    fz_try(ctx) {
        for (int i = s->lent - 1; i >= 0; --i) pdf_dict_put(ctx, s->lentDicts[i], s->lentKeys[i], s->lentLists[i]);
        dropAddedObjectsC(ctx, doc, s);
        for (int i = s->changed - 1; i >= 0; --i) {
            pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, s->changedNums[i]);
            if (entry) {
                entry->type = s->changedTypes[i];
                entry->gen = s->changedGens[i];
            }
        }
        if (s->kept) {
            pdf_obj* trailer = s->trailer;
            bool same = pdf_dict_len(ctx, trailer) == s->entries;
            for (int i = 0; same && i < s->entries; ++i)
                same = !pdf_objcmp(ctx, pdf_dict_get_key(ctx, trailer, i), s->keys[i])
                       && pdf_dict_get_val(ctx, trailer, i) == s->values[i];
            // Emptied and filled again: the entries keep their order, which
            // the trailer of the next update is written in.
            if (!same) {
                while (pdf_dict_len(ctx, trailer) > 0) {
                    pdf_obj* key = pdf_keep_obj(ctx, pdf_dict_get_key(ctx, trailer, pdf_dict_len(ctx, trailer) - 1));
                    fz_try(ctx) pdf_dict_del(ctx, trailer, key);
                    fz_always(ctx) pdf_drop_obj(ctx, key);
                    fz_catch(ctx) fz_rethrow(ctx);
                }
                for (int i = 0; i < s->entries; ++i) pdf_dict_put(ctx, trailer, s->keys[i], s->values[i]);
            }
            for (int i = 0; s->id && i < 2; ++i)
                if (s->idItems[i] && i < pdf_array_len(ctx, s->id) && pdf_array_get(ctx, s->id, i) != s->idItems[i])
                    pdf_array_put(ctx, s->id, i, s->idItems[i]);
            doc->startxref = s->startxref;
            doc->version = s->version;
            doc->has_xref_streams = s->hasXrefStreams;
            doc->has_old_style_xrefs = s->hasOldStyleXrefs;
            if (doc->num_xref_sections == s->sections)
                for (int i = 0; i < s->sections; ++i) doc->xref_sections[i].end_ofs = s->sectionEnds[i];
        }
    }
    fz_catch(ctx) {}
    doc->save_in_progress = saving;
    for (int i = 0; i < s->entries; ++i) {
        pdf_drop_obj(ctx, s->keys[i]);
        pdf_drop_obj(ctx, s->values[i]);
    }
    for (int i = 0; i < s->lent; ++i) {
        pdf_drop_obj(ctx, s->lentDicts[i]);
        pdf_drop_obj(ctx, s->lentLists[i]);
    }
    fz_free(ctx, s->lentDicts);
    fz_free(ctx, s->lentKeys);
    fz_free(ctx, s->lentLists);
    for (pdf_obj* item : s->idItems) pdf_drop_obj(ctx, item);
    pdf_drop_obj(ctx, s->id);
    pdf_drop_obj(ctx, s->trailer);
    fz_free(ctx, s->keys);
    fz_free(ctx, s->values);
    fz_free(ctx, s->sectionEnds);
    fz_free(ctx, s->changedNums);
    fz_free(ctx, s->changedTypes);
    fz_free(ctx, s->changedGens);
    fz_free(ctx, s->updateLengths);
    *s = WriterState{};
}

// MuPDF writes every free entry of a whole file with its generation raised
// by one, the head of the list (object 0) too: 65535, the highest there is,
// became 65536, which no table holds (an entry is 20 bytes). Such entries
// are written with 65535, and keep theirs in the document.
void capFreeGenerationsC(fz_context* ctx, pdf_document* doc, WriterState* s)
{
    const int objects = pdf_xref_len(ctx, doc);
    for (int num = 0; num < objects; ++num) {
        pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && entry->type == 'f' && entry->gen >= 65535) {
            keepEntryC(ctx, s, num, entry);
            entry->gen = 65534;
        }
    }
}

// A growable stack of objects for the walks below (borrowed references).
struct ObjectStack {
    pdf_obj** items;
    int count, capacity;
};

void pushObjectC(fz_context* ctx, ObjectStack* stack, pdf_obj* obj)
{
    if (stack->count == stack->capacity) {
        stack->capacity = std::max(256, 2 * stack->capacity);
        stack->items =
            static_cast<pdf_obj**>(fz_realloc(ctx, stack->items, size_t(stack->capacity) * sizeof(pdf_obj*)));
    }
    stack->items[stack->count++] = obj;
}

} // namespace

// Marks in `reached` (pdf_xref_len bytes, zeroed) each object a chain of
// references from the trailer reaches, as MuPDF's garbage collection does:
// a reference to a missing or null object reaches nothing; the encryption
// dictionary counts only with `keepsEncryption`; an object stream whose
// objects are read from it is marked 2. Throws (MuPDF).
void markReachedC(fz_context* ctx, pdf_document* doc, int keepsEncryption, unsigned char* reached)
{
    const int objects = pdf_xref_len(ctx, doc);
    ObjectStack stack = {nullptr, 0, 0};
    fz_var(stack.items);
    fz_try(ctx) {
        for (int num = 1; num < objects; ++num) {
            const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            if (entry && entry->type == 'o' && entry->ofs > 0 && entry->ofs < objects) reached[entry->ofs] = 2;
        }
        pdf_obj* trailer = pdf_trailer(ctx, doc);
        for (int i = 0, n = pdf_dict_len(ctx, trailer); i < n; ++i)
            if (keepsEncryption || !pdf_name_eq(ctx, pdf_dict_get_key(ctx, trailer, i), PDF_NAME(Encrypt)))
                pushObjectC(ctx, &stack, pdf_dict_get_val(ctx, trailer, i));
        while (stack.count > 0) {
            pdf_obj* obj = stack.items[--stack.count];
            if (pdf_is_indirect(ctx, obj)) {
                const int num = pdf_to_num(ctx, obj);
                if (num <= 0 || num >= objects || reached[num] == 1) continue;
                pdf_obj* resolved = pdf_resolve_indirect(ctx, obj); // null, with a warning, when it cannot be read
                if (!resolved || pdf_is_null(ctx, resolved)) continue;
                reached[num] = 1;
                obj = resolved;
            }
            if (pdf_is_dict(ctx, obj)) {
                for (int i = 0, n = pdf_dict_len(ctx, obj); i < n; ++i)
                    pushObjectC(ctx, &stack, pdf_dict_get_val(ctx, obj, i));
            } else if (pdf_is_array(ctx, obj)) {
                for (int i = 0, n = pdf_array_len(ctx, obj); i < n; ++i)
                    pushObjectC(ctx, &stack, pdf_array_get(ctx, obj, i));
            }
        }
    }
    fz_always(ctx) fz_free(ctx, stack.items);
    fz_catch(ctx) fz_rethrow(ctx);
}

namespace {

// Makes each object that `reached` (of markReachedC) does not mark a free
// entry for the write alone (keepEntryC), marked in `leftOut` (of
// `leftOutLength` bytes), if given.
void freeUnreachedC(fz_context* ctx, pdf_document* doc, WriterState* s, const unsigned char* reached,
                    unsigned char* leftOut, int leftOutLength)
{
    const int objects = pdf_xref_len(ctx, doc);
    for (int num = 1; num < objects; ++num) {
        pdf_xref_entry* entry = reached[num] ? nullptr : pdf_get_xref_entry(ctx, doc, num);
        if (entry && (entry->type == 'n' || entry->type == 'o')) {
            keepEntryC(ctx, s, num, entry);
            entry->type = 'f';
            if (leftOut && num < leftOutLength) leftOut[num] = 1;
        }
    }
}

// Leaves out of a write what no chain of references from the trailer
// reaches (markReachedC), as MuPDF's garbage collection does, but without
// changing an object: its collection puts null in place of a reference to a
// missing or null object, and the number in place of a stream's indirect
// /Length, in the objects it keeps. Each object left out is a free entry for
// the write alone (keepEntryC). The encryption dictionary counts only for a
// write that keeps it; an object stream whose objects are read from it stays
// (MuPDF's writer never writes one). Each number left out is marked in
// `leftOut` (of `leftOutLength` bytes), if given: the read-back holds no
// reference to it against the written file.
void leaveOutUnreferencedC(fz_context* ctx, pdf_document* doc, WriterState* s, int keepsEncryption,
                           unsigned char* leftOut, int leftOutLength)
{
    unsigned char* reached = nullptr;
    fz_var(reached);
    fz_try(ctx) {
        reached = static_cast<unsigned char*>(fz_calloc(ctx, size_t(pdf_xref_len(ctx, doc)) + 1, 1));
        markReachedC(ctx, doc, keepsEncryption, reached);
        freeUnreachedC(ctx, doc, s, reached, leftOut, leftOutLength);
    }
    fz_always(ctx) fz_free(ctx, reached);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Whether `obj` holds a name of no bytes ("/" alone), as a key or a value,
// in its arrays and dictionaries: MuPDF writes one glued to what follows it
// ("/ 1" as "/1"), which every reader then reads as another name.
int holdsEmptyNameC(fz_context* ctx, pdf_obj* obj, ObjectStack* stack)
{
    const auto empty = [&](pdf_obj* name) { return pdf_is_name(ctx, name) && !*pdf_to_name(ctx, name); };
    stack->count = 0;
    pushObjectC(ctx, stack, obj);
    while (stack->count > 0) {
        pdf_obj* at = stack->items[--stack->count];
        if (empty(at)) return 1;
        const int dict = pdf_is_dict(ctx, at);
        const int n = dict ? pdf_dict_len(ctx, at) : pdf_is_array(ctx, at) ? pdf_array_len(ctx, at) : 0;
        for (int i = 0; i < n; ++i) {
            if (dict && empty(pdf_dict_get_key(ctx, at, i))) return 1;
            pdf_obj* item = dict ? pdf_dict_get_val(ctx, at, i) : pdf_array_get(ctx, at, i);
            if (!pdf_is_indirect(ctx, item)) pushObjectC(ctx, stack, item);
        }
    }
    return 0;
}

// Whether an object a write writes holds a name of no bytes: every object
// of the document for a whole file, the changed ones for an update. Such a
// document is written with a space between every two items (MuPDF's
// "pretty" printing), where each name ends before what follows it.
int writesEmptyNameC(fz_context* ctx, pdf_document* doc, int changedOnly)
{
    ObjectStack stack = {nullptr, 0, 0};
    int found = 0;
    fz_var(stack.items);
    fz_var(found);
    // An update of a document with no changes writes nothing.
    if (changedOnly && doc->num_incremental_sections == 0) return 0;
    fz_try(ctx) {
        found = holdsEmptyNameC(ctx, pdf_trailer(ctx, doc), &stack);
        const int objects = pdf_xref_len(ctx, doc);
        for (int num = 1; num < objects && !found; ++num) {
            if (changedOnly && !pdf_xref_is_incremental(ctx, doc, num)) continue;
            // One that cannot be read is written as null, if at all.
            if (pdf_obj* obj = parsedObjectC(ctx, doc, num)) found = holdsEmptyNameC(ctx, obj, &stack);
        }
    }
    fz_always(ctx) fz_free(ctx, stack.items);
    fz_catch(ctx) found = 1; // in doubt, written so that it reads back either way
    return found;
}

// The trailer of an update written with a cross-reference table: MuPDF
// writes the newest trailer it read, less what only a section's own stream
// holds (the stream's /Type /XRef, /W, /Filter ..., a hybrid table's
// /XRefStm): the update lists its objects in its table alone. Changed in
// place: putWriterStateBackC puts them back.
void tableTrailerC(fz_context* ctx, pdf_document* doc)
{
    const int saving = doc->save_in_progress;
    doc->save_in_progress = 1;
    fz_try(ctx) {
        pdf_obj* trailer = pdf_trailer(ctx, doc);
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, trailer, PDF_NAME(Type)), PDF_NAME(XRef)))
            for (pdf_obj* key : {PDF_NAME(Type), PDF_NAME(W), PDF_NAME(Index), PDF_NAME(Filter), PDF_NAME(DecodeParms),
                                 PDF_NAME(Length)})
                pdf_dict_del(ctx, trailer, key);
        pdf_dict_del(ctx, trailer, PDF_NAME(XRefStm));
    }
    fz_always(ctx) doc->save_in_progress = saving;
    fz_catch(ctx) fz_rethrow(ctx);
}

// Writes the document into `file` or, without one, into `bytes`, and leaves
// it as it was (WriterState). MuPDF reads an incremental update back while
// it writes it: that takes a file. An update takes the form of the section
// it follows, a cross-reference stream after a stream and a table after a
// table, so that a file of one kind stays one, whose next update MuPDF
// writes too; the stream's object, which MuPDF adds to the document, is
// taken out again. A whole file written without what nothing refers to
// leaves it out without MuPDF's collection, which changes the objects it
// keeps (leaveOutUnreferencedC). The objects left out are marked in
// `leftOut` (see leaveOutUnreferencedC), and the trailer as written is
// summed up in `trailer`.
int writeDocumentC(fz_context* ctx, pdf_document* doc, const pdf_write_options* options, ByteSink* bytes,
                   FileSink* file, unsigned char* leftOut, int leftOutLength, WrittenTrailer* trailer, FzError* err)
{
    fz_output* out = nullptr;
    WriterState state = {};
    pdf_write_options opts = *options;
    int ok = 0, packs = 0;
    fz_var(out);
    fz_var(ok);
    fz_var(packs);
    fz_try(ctx) {
        // Before what nothing refers to is left out, which frees entries for the write.
        packs = !opts.do_incremental && !opts.do_linear && readFromObjectStreamsC(ctx, doc);
        keepWriterStateC(ctx, doc, &state);
        lendListsC(ctx, doc, &state, opts.do_incremental);
        if (opts.do_garbage && !opts.do_incremental) {
            leaveOutUnreferencedC(ctx, doc, &state, opts.do_encrypt == PDF_ENCRYPT_KEEP, leftOut, leftOutLength);
            opts.do_garbage = 0;
        }
        if (!opts.do_incremental) {
            capFreeGenerationsC(ctx, doc, &state);
        }
        if (opts.do_incremental) {
            // A stream is written only where its object can be taken out again.
            const int stream = endsInXrefStreamC(ctx, doc) && keepObjectCountC(ctx, doc, &state);
            doc->has_xref_streams = stream;
            doc->has_old_style_xrefs = !stream;
            if (!stream) tableTrailerC(ctx, doc);
        }
        if (writesEmptyNameC(ctx, doc, opts.do_incremental)) opts.do_pretty = 1;
        if (file) {
            out = newFileOutput(ctx, file);
        } else {
            out = fz_new_output(ctx, 1 << 16, bytes, sinkWrite, nullptr, nullptr);
            out->tell = sinkTell; // the cross-reference table records where each object starts
        }
        if (opts.do_incremental) appendOriginalC(ctx, doc, out);
        pdf_write_document(ctx, doc, out, &opts);
        // What the writer wrote of the trailer, before it is put back.
        writtenTrailerC(ctx, doc, trailer);
        int size = pdf_xref_len(ctx, doc);
        if (!opts.do_incremental && !opts.do_ascii) {
            if (packs) size = packObjectsC(ctx, doc, out, bytes, file, opts.do_compress, !opts.do_pretty);
            if (!packs || size == 0) size = streamTableC(ctx, doc, out, bytes, file, !opts.do_pretty);
        }
        if (pdf_obj* metadata = clearMetadataC(ctx, doc, &opts))
            appendClearMetadataC(ctx, doc, metadata, out, bytes, file, !opts.do_pretty, size);
        fz_close_output(ctx, out);
        ok = 1;
    }
    fz_always(ctx) {
        fz_drop_output(ctx, out);
        putWriterStateBackC(ctx, doc, &state);
    }
    fz_catch(ctx) captureError(ctx, err);
    return ok;
}

// The /P value of named grants: the reserved bits that must be set (7, 8 and
// 13 to 32) and the granted ones.
int permissionFlags(const PdfPermissions& p)
{
    unsigned flags = 0xFFFFF0C0u;
    if (p.print) flags |= PDF_PERM_PRINT;
    if (p.edit) flags |= PDF_PERM_MODIFY;
    if (p.copy) flags |= PDF_PERM_COPY;
    if (p.annotate) flags |= PDF_PERM_ANNOTATE;
    if (p.fillForms) flags |= PDF_PERM_FORM;
    if (p.accessibility) flags |= PDF_PERM_ACCESSIBILITY;
    if (p.assemble) flags |= PDF_PERM_ASSEMBLE;
    if (p.printHighQuality) flags |= PDF_PERM_PRINT_HQ;
    return int(flags);
}

pdf_write_options writeOptions(const PdfSaveOptions& o)
{
    pdf_write_options opts = pdf_default_write_options;
    opts.do_compress = o.compress ? 1 : 0;
    opts.do_compress_fonts = o.compress ? 1 : 0;
    opts.do_compress_images = o.compress ? 1 : 0;
    opts.do_garbage = o.garbageCollect ? 1 : 0;
    switch (o.encryption) {
    case PdfSaveOptions::Encryption::keep: opts.do_encrypt = PDF_ENCRYPT_KEEP; break;
    case PdfSaveOptions::Encryption::none: opts.do_encrypt = PDF_ENCRYPT_NONE; break;
    case PdfSaveOptions::Encryption::aes256:
        opts.do_encrypt = PDF_ENCRYPT_AES_256;
        opts.permissions = o.allowed ? permissionFlags(*o.allowed) : o.permissions;
        std::snprintf(opts.upwd_utf8, sizeof opts.upwd_utf8, "%s", o.userPassword.c_str());
        std::snprintf(opts.opwd_utf8, sizeof opts.opwd_utf8, "%s", o.ownerPassword.c_str());
        break;
    }
    return opts;
}

QRect fullPixelRect(const PdfSize& size, double scale)
{
    const int w = std::max(1, int(std::lround(size.width * scale)));
    const int h = std::max(1, int(std::lround(size.height * scale)));
    return {0, 0, w, h};
}

} // namespace

// ---------------------------------------------------------------- display list

struct PdfDisplayList::Impl {
    fz_display_list* list = nullptr;
    fz_matrix base;   // display space (points) with the page's own offset removed
    PdfMatrix toUser; // from the recording's space to the page's user space
};

PdfDisplayList::~PdfDisplayList()
{
    if (d) {
        EngineWork work;
        fz_drop_display_list(pdfContext(), d->list);
        delete d;
    }
}

QImage PdfDisplayList::render(double scale, const QRect& clip) const
{
    return draw(scale, clip, [](QSize size) { return QImage(size, QImage::Format_RGB888); });
}

QImage PdfDisplayList::renderRgb32(double scale, const QRect& clip, const ImageSource& source) const
{
    return draw(scale, clip, [&](QSize size) {
        QImage image = source ? source(size) : QImage(size, QImage::Format_RGB32);
        const bool fits =
            image.size() == size
            && (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32_Premultiplied);
        return fits ? image : QImage(size, QImage::Format_RGB32);
    });
}

QImage PdfDisplayList::draw(double scale, const QRect& clip, const ImageSource& make) const
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit pixels are drawn as blue, green, red, alpha bytes");
    fz_context* ctx = pdfContext();
    const QRect full = fullPixelRect(size_, scale);
    const QRect area = clip.isNull() ? full : clip.intersected(full);
    if (area.isEmpty()) return {};
    const fz_matrix ctm = fz_concat(d->base, fz_scale(float(scale), float(scale)));
    const fz_irect bbox{area.left(), area.top(), area.right() + 1, area.bottom() + 1};
    FzError err;
    QImage image = make(area.size());
    if (image.isNull()) return {};
    const bool bgra = image.depth() == 32;
    EngineWork work;
    drawC(ctx, nullptr, d->list, ctm, {image.bits(), int(image.bytesPerLine()), bbox, bgra, false, true}, nullptr,
          &err);
    if (err.code) return {};
    return image;
}

PdfTextPage PdfDisplayList::textPage() const
{
    fz_context* ctx = pdfContext();
    FzError err;
    fz_stext_page* text = stextC(ctx, nullptr, d->list, nullptr, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    PdfTextPage result = textPageOf(text, d->toUser);
    fz_drop_stext_page(ctx, text);
    return result;
}

// ---------------------------------------------------------------- document

PdfDocument::Impl::Impl()
{
    mutex.beforeRelease = [this] {
        FzError err;
        countSeen = locked || !doc ? 0 : countPagesC(pdfContext(), doc, &err);
    };
}

PdfDocument::Impl::~Impl()
{
    dropHeldReferences(*this);
    fz_drop_buffer(pdfContext(), source);
    retireDocument(doc);
}

PdfDocument::PdfDocument(std::unique_ptr<Impl> impl) : d(std::move(impl))
{
    std::lock_guard noted(d->mutex); // the page count, as every release notes it
}
PdfDocument::~PdfDocument() = default;

// A long document lets go of what the pages read before left parsed once
// every this many pages loaded: the walk over its objects takes a few
// milliseconds.
constexpr int pagesPerRelease = 16;

PageRef loadPage(const PdfDocument::Impl& d, int index)
{
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    fz_context* ctx = pdfContext();
    FzError err;
    const int count = countPagesC(ctx, d.doc, &err);
    if (index < 0 || index >= count)
        throw PdfError(PdfErrorCode::pageOutOfRange, "page " + std::to_string(index + 1) + " does not exist");
    // A form drawing other readers cannot draw is mended where that changes
    // nothing it shows (formDrawingsToMendC), but in a signed file, whose
    // fields stay as signed.
    // The edits below are made as every edit is: the document itself is no
    // const object, only this reader's view of it.
    auto& editable = const_cast<PdfDocument::Impl&>(d);
    // What the pages read before this one left parsed goes now and then,
    // on a worker: the window's thread does not wait for the walk.
    if (d.releasesWhatItReads && ++editable.loadsSinceRelease >= pagesPerRelease && !onWindowThread()) {
        editable.loadsSinceRelease = 0;
        releaseUnusedObjects(editable);
    }
    const bool mendForm = formDrawingsToMendC(ctx, d.doc, index) && !fieldsStaySigned(editable);
    if (directMarksC(ctx, d.doc, index) || mendForm) {
        // Before MuPDF first loads the page (see numberDirectMarksC).
        settleBeforeEditing(editable);
        if (pdf_obj* annots = directMarksC(ctx, d.doc, index)) numberDirectMarksC(ctx, d.doc, annots, &err);
        if (mendForm) mendFormDrawingsC(ctx, d.doc, index);
        err = FzError{};
    }
    PageRef page(loadPageC(ctx, d.doc, index, &err));
    throwIfFailed(err, PdfErrorCode::damaged);
    showFormC(ctx, page.page, d.signedFile ? int(*d.signedFile) : -1);
    if (!showFieldValues(editable, page.page)) {
        // A field is to be drawn anew: an edit, made after the whole file is read.
        page = PageRef();
        settleBeforeEditing(editable);
        page = PageRef(loadPageC(ctx, d.doc, index, &err));
        throwIfFailed(err, PdfErrorCode::damaged);
        showFormC(ctx, page.page, d.signedFile ? int(*d.signedFile) : -1);
        showFieldValues(editable, page.page);
    }
    return page;
}

PdfMatrix pageTransform(pdf_page* page)
{
    fz_rect media, crop;
    int rotate = 0;
    fz_matrix ctm = fz_identity;
    FzError err;
    pageGeometryC(pdfContext(), page, &media, &crop, &rotate, &ctm, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    return fromFz(ctm);
}

namespace {

// The document's file read byte by byte, a chunk at a time.
class FileBytes {
public:
    explicit FileBytes(pdf_document* doc) : doc_(doc), length_(fileLengthC(pdfContext(), doc)) {}
    std::int64_t length() const { return length_; }
    // The byte at `at`, or -1 past the end.
    int at(std::int64_t at)
    {
        if (at < 0 || at >= length_) return -1;
        if (at < start_ || at >= start_ + std::int64_t(chunk_.size())) {
            chunk_.resize(64 << 10);
            chunk_.resize(readFileAtC(pdfContext(), doc_, at, chunk_.data(), chunk_.size()));
            start_ = at;
            if (chunk_.empty()) return -1;
        }
        return chunk_[size_t(at - start_)];
    }
    bool startsWith(std::int64_t at, std::string_view word)
    {
        for (size_t i = 0; i < word.size(); ++i)
            if (this->at(at + std::int64_t(i)) != (unsigned char)word[i]) return false;
        return true;
    }

private:
    pdf_document* doc_;
    std::int64_t length_;
    std::int64_t start_ = 0;
    std::vector<unsigned char> chunk_;
};

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Reads a number of at most 19 digits at `*at` (after spaces); false when none is there.
bool readNumber(FileBytes& file, std::int64_t* at, std::int64_t* value)
{
    while (isSpace(file.at(*at))) ++*at;
    int digits = 0;
    for (*value = 0; isDigit(file.at(*at)) && digits < 19; ++*at, ++digits) *value = *value * 10 + file.at(*at) - '0';
    return digits > 0 && !isDigit(file.at(*at));
}

// One entry of a file's own cross-reference table.
struct FileTableRow {
    std::int64_t offset = 0;
    int gen = 0;
    bool used = false;
};

// What the newest trailer names: the object numbers of its catalog, its
// document information and its encryption dictionary (0 for none).
struct FileTrailer {
    int root = 0, info = 0, encrypt = 0;
    bool read = false;
};

// Reads the file's own cross-reference tables, newest first by /Prev, as
// leniently as other readers do: entries spaced otherwise than the format
// says, or with words after them, and offsets counted from "%PDF" when
// junk comes before it (`bias`). A table of another kind (a stream, or a
// file that also has one) is not read: false.
bool readFileTables(FileBytes& file, std::int64_t bias, std::unordered_map<int, FileTableRow>* rows,
                    FileTrailer* trailer)
{
    // The last "startxref" in the file's last kilobyte names the newest table.
    std::int64_t startxref = -1;
    for (std::int64_t at = std::max<std::int64_t>(0, file.length() - 1024); at < file.length(); ++at)
        if (file.startsWith(at, "startxref")) startxref = at + 9;
    std::int64_t table = 0;
    if (startxref < 0 || !readNumber(file, &startxref, &table)) return false;
    std::vector<std::int64_t> seen;
    for (std::int64_t at = table + bias; seen.size() < 64;) {
        if (std::find(seen.begin(), seen.end(), at) != seen.end()) return false;
        seen.push_back(at);
        while (isSpace(file.at(at))) ++at;
        if (!file.startsWith(at, "xref")) return false;
        at += 4;
        for (;;) {
            std::int64_t first = 0, count = 0, probe = at;
            if (!readNumber(file, &probe, &first) || !readNumber(file, &probe, &count)) break;
            if (first < 0 || count < 0 || first + count > PDF_MAX_OBJECT_NUMBER) return false;
            at = probe;
            for (std::int64_t k = 0; k < count; ++k) {
                std::int64_t offset = 0, gen = 0;
                if (!readNumber(file, &at, &offset) || !readNumber(file, &at, &gen)) return false;
                while (file.at(at) == ' ' || file.at(at) == '\t') ++at;
                const int kind = file.at(at);
                if (kind != 'n' && kind != 'f') return false;
                // Whatever follows on the line, as poppler and qpdf leave it.
                while (file.at(at) >= 0 && file.at(at) != '\n' && file.at(at) != '\r') ++at;
                FileTableRow row{offset, int(gen), kind == 'n'};
                rows->try_emplace(int(first + k), row); // the newest table's entry holds
            }
        }
        while (isSpace(file.at(at))) ++at;
        if (!file.startsWith(at, "trailer")) return false;
        // The trailer's keys that matter, up to "startxref".
        std::string text;
        for (std::int64_t t = at + 7; text.size() < 4096 && file.at(t) >= 0; ++t) {
            text += char(file.at(t));
            if (text.size() > 9 && text.compare(text.size() - 9, 9, "startxref") == 0) break;
        }
        const auto number = [&](const char* key) -> std::optional<std::int64_t> {
            const size_t found = text.find(key);
            if (found == std::string::npos) return std::nullopt;
            size_t i = found + std::strlen(key);
            while (i < text.size() && isSpace((unsigned char)text[i])) ++i;
            std::int64_t value = 0;
            if (i >= text.size() || !isDigit((unsigned char)text[i])) return std::nullopt;
            for (; i < text.size() && isDigit((unsigned char)text[i]); ++i) value = value * 10 + text[i] - '0';
            return value;
        };
        if (text.find("/XRefStm") != std::string::npos) return false;
        if (!trailer->read) {
            trailer->root = int(number("/Root").value_or(0));
            trailer->info = int(number("/Info").value_or(0));
            trailer->encrypt = int(number("/Encrypt").value_or(0));
            trailer->read = true;
        }
        const std::optional<std::int64_t> previous = number("/Prev");
        if (!previous) return trailer->root > 0;
        at = *previous + bias;
    }
    return false;
}

// Whether MuPDF's repair of a file found what the file's own tables list,
// where they list it: the tables were only malformed (entries spaced
// otherwise, words after them, junk before "%PDF" shifting every offset),
// which other readers read past as MuPDF's repair did, so a save writes
// what every reader reads. False when the tables cannot be read, or the
// repair found an object they do not list, or lists elsewhere, or another
// catalog, document information or encryption than the newest trailer names.
bool repairFoundFileTables(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    FileBytes file(d.doc);
    std::int64_t bias = -1;
    for (std::int64_t at = 0; at < 1024 && bias < 0; ++at)
        if (file.startsWith(at, "%PDF-")) bias = at;
    std::unordered_map<int, FileTableRow> rows;
    FileTrailer trailer;
    if (bias < 0 || !readFileTables(file, bias, &rows, &trailer)) return false;
    if (trailer.root != trailerNumberC(ctx, d.doc, "Root") || trailer.info != trailerNumberC(ctx, d.doc, "Info")
        || trailer.encrypt != trailerNumberC(ctx, d.doc, "Encrypt"))
        return false;
    // The repair notes where an object's header starts, or the spaces and
    // comments before it.
    const auto header = [&](std::int64_t at) {
        for (;;) {
            while (isSpace(file.at(at))) ++at;
            if (file.at(at) != '%') return at;
            while (file.at(at) >= 0 && file.at(at) != '\n' && file.at(at) != '\r') ++at;
        }
    };
    const int objects = xrefLengthC(ctx, d.doc);
    for (int num = 1; num < objects; ++num) {
        TableEntry entry;
        tableEntryC(ctx, d.doc, num, &entry);
        const auto row = rows.find(num);
        const bool listed = row != rows.end() && row->second.used;
        if (!listed && entry.type) return false;
        if (listed
            && (entry.type != 'n' || header(entry.offset) != header(row->second.offset + bias)
                || entry.gen != row->second.gen))
            return false;
    }
    for (const auto& [num, row] : rows)
        if (row.used && num >= objects) return false;
    return true;
}

// Has every object read afresh before the next edit (settleObjects).
void restartSettling(PdfDocument::Impl& d)
{
    d.settled = false;
    d.nextUnsettled = 1;
    d.unparsedObjects.clear();
    d.streamsCutShort.reset();
    d.objectStreams.clear();
    d.namesCut = false;
    d.highestReference = 0;
    d.numbersReserved = false;
}

// Where an object's header ("num gen obj") stands in the file.
struct ObjectHeader {
    std::int64_t offset = 0;
    int gen = 0;
};

// Every object header in the file, the last of each number, as a reader
// that rebuilds a damaged file's table finds them.
std::unordered_map<int, ObjectHeader> objectHeaders(FileBytes& file)
{
    std::unordered_map<int, ObjectHeader> headers;
    const auto isRegular = [](int c) { return c >= 0 && !isSpace(c) && !std::strchr("()<>[]{}/%", c); };
    for (std::int64_t at = 0; at < file.length(); ++at) {
        if (!isDigit(file.at(at)) || (at > 0 && isRegular(file.at(at - 1)))) continue;
        std::int64_t probe = at, num = 0, gen = 0;
        if (!readNumber(file, &probe, &num) || !isSpace(file.at(probe)) || !readNumber(file, &probe, &gen)) {
            while (isDigit(file.at(at + 1))) ++at;
            continue;
        }
        while (isSpace(file.at(probe))) ++probe;
        if (file.startsWith(probe, "obj") && !isRegular(file.at(probe + 3)) && num > 0 && num <= PDF_MAX_OBJECT_NUMBER
            && gen < 65536)
            headers[int(num)] = {at, int(gen)};
        while (isDigit(file.at(at + 1))) ++at;
    }
    return headers;
}

// The pages the document's page tree reaches, in its order, as other
// readers walk it: a node with /Kids is walked, any other dictionary it
// names is a page (the catalog's own /Pages too, which poppler and qpdf
// take for the one page), and a node met again (a loop) is walked once. With
// `mend`, each object the tree names that is no dictionary MuPDF can read is
// handed to it first (the catalog, a node, a page); it says whether it
// mended it.
std::vector<int> pagesTheTreeReaches(PdfDocument::Impl& d, const std::function<bool(int)>& mend = {})
{
    fz_context* ctx = pdfContext();
    constexpr size_t visitLimit = 1 << 22;
    if (mend && !catalogReadC(ctx, d.doc)) {
        if (const int root = trailerNumberC(ctx, d.doc, "Root")) mend(root);
    }
    std::vector<int> pages;
    std::unordered_set<int> walked;
    // The nodes and pages still to visit, the next on top.
    const int top = trailerNumberC(ctx, d.doc, "Root/Pages");
    std::vector<int> stack{top};
    for (size_t visits = 0; !stack.empty() && visits < visitLimit; ++visits) {
        const int num = stack.back();
        stack.pop_back();
        int count = treeKidsC(ctx, d.doc, num, nullptr, 0);
        if (count == -2 && num != 0 && mend && mend(num)) count = treeKidsC(ctx, d.doc, num, nullptr, 0);
        if (count == -1 && num != 0) pages.push_back(num);
        if (count <= 0 || !walked.insert(num).second) continue;
        std::vector<int> kids(static_cast<size_t>(count));
        count = std::max(0, std::min(count, treeKidsC(ctx, d.doc, num, kids.data(), count)));
        for (int i = count - 1; i >= 0; --i) stack.push_back(kids[size_t(i)]);
    }
    return pages;
}

// Reads the catalog and the page tree as other readers do where MuPDF
// cannot, so that a file they open opens here too: a table that leads to no
// catalog, or to a page tree of objects it does not list (a /Prev that is
// no number, or loops), is rebuilt from the objects the file holds, as
// other readers rebuild it; and the catalog, a node or a page that MuPDF
// cannot parse (a dictionary with a key that is no name), or that only the
// rebuilt table lost, is read as other readers read it (readAsOthersDoC).
// What is read so counts as read by guessing: no save goes over the file,
// and a copy asks first. The caller holds d.mutex; every object has been
// read once.
void mendPageTree(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    const auto entryOf = [&](int num) {
        TableEntry entry;
        if (num < xrefLengthC(ctx, d.doc)) tableEntryC(ctx, d.doc, num, &entry);
        return entry;
    };
    // A repair drops what the document holds that the file does not: never
    // once it holds changes.
    if (!d.doc->repair_attempted && !unsavedChangesC(ctx, d.doc)) {
        bool unlisted = !catalogReadC(ctx, d.doc);
        if (!unlisted)
            pagesTheTreeReaches(d, [&](int num) {
                unlisted = unlisted || !entryOf(num).type;
                return false;
            });
        if (unlisted && repairTableC(ctx, d.doc)) {
            // Read afresh from the rebuilt table, before anything is mended.
            restartSettling(d);
            settleObjects(d, std::numeric_limits<int>::max());
        }
    }
    std::optional<std::unordered_map<int, ObjectHeader>> headers;
    const auto mend = [&](int num) {
        const TableEntry entry = entryOf(num);
        if (entry.type == 'o') return false;
        bool read = entry.type == 'n' && readAsOthersDoC(ctx, d.doc, num, entry.gen, entry.offset);
        if (!read) {
            if (!headers) {
                FileBytes file(d.doc);
                headers = objectHeaders(file);
            }
            const auto found = headers->find(num);
            read = found != headers->end() && found->second.offset != entry.offset
                   && readAsOthersDoC(ctx, d.doc, num, found->second.gen, found->second.offset);
        }
        if (read) {
            d.unparsedObjects.push_back(num);
            d.readAsOthers = true;
        }
        return read;
    };
    pagesTheTreeReaches(d, mend);
}

// Reads what an unlocked document needs before its first page shows, so that
// the page count can be trusted; refuses what is no PDF at all. The rest of
// its objects is read later (settleObjects). At opening, a long document's
// last page is looked for later too, with its page map (see pageMap): MuPDF
// finds it by reading every page object before it.
void settleOpened(PdfDocument::Impl& d, bool opening)
{
    fz_context* ctx = pdfContext();
    FzError err;
    restartSettling(d);
    d.pageTree = PdfDocument::Impl::PageTree::asFiled;
    d.readAsOthers = false;
    const int claimed = countPagesC(ctx, d.doc, &err);
    d.pagesDeferred = opening && !err.code && claimed >= deferredMapPages && claimed < xrefLengthC(ctx, d.doc);
    d.releasesWhatItReads = d.pagesDeferred;
    err = FzError{};
    const int pages = settlePageCount(d, !d.pagesDeferred, &err);
    if (pages <= 0 && !hasCatalogC(ctx, d.doc))
        throw PdfError(PdfErrorCode::damaged, err.code ? err.message : "no document catalog");
    d.expectedPageCount = std::max(0, pages);
    d.repairedAtOpen = wasRepairedC(ctx, d.doc) != 0;
    if (d.repairedAtOpen) freeFirstEntryC(ctx, d.doc);
    d.repairLostNothing = d.repairedAtOpen && repairFoundFileTables(d);
    readLayerStatesQuietlyC(ctx, d.doc);
}

} // namespace

int settlePageCount(PdfDocument::Impl& d, bool findLastPage, FzError* err)
{
    fz_context* ctx = pdfContext();
    // Every page is an object of its own: a count above the number of objects
    // is a lie (a 600-byte file can claim two billion pages), and so is one
    // whose last page the tree does not hold. Then the page tree is rebuilt
    // from the page objects that really exist.
    const auto trusted = [&](int pages) {
        return !err->code && pages > 0 && pages < xrefLengthC(ctx, d.doc)
               && (!findLastPage || findsPageC(ctx, d.doc, pages - 1));
    };
    int pages = countPagesC(ctx, d.doc, err);
    if (!trusted(pages)) {
        // The rebuilt tree is an edit: any repair of the file must come first,
        // and it may mend the tree as well.
        settleObjects(d, std::numeric_limits<int>::max());
        *err = FzError{};
        pages = countPagesC(ctx, d.doc, err);
    }
    if (!trusted(pages)) {
        mendPageTree(d);
        *err = FzError{};
        pages = countPagesC(ctx, d.doc, err);
    }
    if (!trusted(pages)) {
        // A tree that holds just the page objects there are, as they are
        // (none: a PDF without pages) is kept; else the tree is rebuilt from
        // them, which other readers show only when it holds what the file's
        // own tree reaches.
        const std::vector<int> reached = pagesTheTreeReaches(d);
        const std::vector<int> found = pageObjectsInFileOrder(ctx, d.doc);
        const bool holdsTree = treeKidsC(ctx, d.doc, trailerNumberC(ctx, d.doc, "Root/Pages"), nullptr, 0) >= 0;
        if (!err->code && holdsTree && found == reached && pages == int(found.size())) return pages;
        *err = FzError{};
        installPageTreeC(ctx, d.doc, found.data(), int(found.size()), err);
        pages = err->code ? 0 : int(found.size());
        d.pageTree = found == reached ? PdfDocument::Impl::PageTree::rebuiltAlike
                                      : PdfDocument::Impl::PageTree::rebuiltOtherwise;
    }
    return pages;
}

namespace {

// Reads object stream `stream` once, whole, and each of its members on its
// own (readMemberC): a stream whose check sum is wrong (a warning while it
// is read), or that cannot be read, may be damaged anywhere, and every
// member counts as guessed; otherwise only the members that are damaged
// themselves do. One too long to hold is read token by token, as a whole.
void settleObjectStream(PdfDocument::Impl& d, int stream)
{
    fz_context* ctx = pdfContext();
    ObjectStreamRead& read = d.objectStreams[stream];
    std::int64_t first = 0;
    const int count = objectStreamSizeC(ctx, d.doc, stream, &first);
    fz_buffer* bytes = nullptr;
    {
        const EngineWarnings warnings(ctx);
        bytes = objectStreamBytesC(ctx, d.doc, stream);
        if (!bytes) read.damaged = !readObjectStreamC(ctx, d.doc, stream);
        read.damaged = read.damaged || warnings.count() > 0;
    }
    if (!bytes) return;
    // Each member takes four bytes of the table at least.
    std::vector<int> nums(count > 0 && size_t(count) <= bytes->len / 4 ? size_t(count) : 0);
    std::vector<std::int64_t> offsets(nums.size());
    if (nums.empty() || !objectStreamTableC(ctx, bytes, count, nums.data(), offsets.data())) {
        read.damaged = true;
        nums.clear();
    }
    for (size_t i = 0; i < nums.size(); ++i) {
        const EngineWarnings warnings(ctx);
        if (readMemberC(ctx, d.doc, stream, bytes, nums[i], first + offsets[i]) == memberGuessed
            || warnings.count() > 0)
            read.guessed.push_back(nums[i]);
    }
    fz_drop_buffer(ctx, bytes);
}

} // namespace

bool settleObjects(PdfDocument::Impl& d, int count)
{
    if (d.settled) return true;
    fz_context* ctx = pdfContext();
    const int objects = xrefLengthC(ctx, d.doc);
    for (; d.nextUnsettled < objects && count > 0; ++d.nextUnsettled, --count) {
        const int num = d.nextUnsettled;
        TableEntry entry;
        tableEntryC(ctx, d.doc, num, &entry);
        // MuPDF reads past some damage with a guess, which a save would write
        // as if the file held it: such an object counts as unparsed. An
        // object stream is read to its end once, for its check sum, and any
        // warning while it or its objects are read counts: every object of a
        // stream that fails counts, as the damage may lie in any. An object
        // of the file itself is read again strictly (readAgainC): a warning
        // alone about it tells of no guess.
        bool guessed = false;
        if (entry.type == 'o' && !d.objectStreams.count(entry.stream)) {
            settleObjectStream(d, entry.stream);
            tableEntryC(ctx, d.doc, num, &entry); // a null member is free now
        }
        const ObjectStreamRead* stream = entry.type == 'o' ? &d.objectStreams[entry.stream] : nullptr;
        if (stream)
            guessed = stream->damaged
                      || std::find(stream->guessed.begin(), stream->guessed.end(), num) != stream->guessed.end();
        // A free entry, or a number no table lists, is null to every
        // reader: nothing to read, nothing damaged.
        if (!entry.type) continue;
        int unparsed = 0, nameCut = 0;
        {
            const EngineWarnings warnings(ctx);
            d.highestReference = std::max(d.highestReference, touchObjectC(ctx, d.doc, num, &unparsed, &nameCut));
            if (entry.type != 'n' && warnings.count() > 0) guessed = true;
        }
        if (entry.type == 'n' && !entry.changed && !readAgainC(ctx, d.doc, num, entry.gen, entry.offset))
            guessed = true;
        // A stream whose start readers disagree on stays a guess, but a copy
        // written anew takes its data as it lies between the keywords.
        if (entry.type == 'n' && !entry.changed && readStreamToItsEndC(ctx, d.doc, num) < 0) guessed = true;
        if (unparsed && stream) freeStreamMemberC(ctx, d.doc, num);
        if (unparsed || guessed) d.unparsedObjects.push_back(num);
        d.namesCut = d.namesCut || nameCut;
        // Read to have MuPDF meet any damage now, not to be kept; but
        // MuPDF's own reading of a stream stops at a member it cannot
        // read, and the members after it would be lost.
        if (d.releasesWhatItReads && !(stream && !stream->guessed.empty())) releaseParsedObjectC(ctx, d.doc, num);
    }
    if (d.nextUnsettled < objects) return false;
    d.settled = true;
    // A repair before any edit lost nothing; the pages are read afresh from
    // the rebuilt table, and a save still refuses if their number changed.
    if (!d.repairedAtOpen && wasRepairedC(ctx, d.doc)) {
        d.repairedAtOpen = true;
        freeFirstEntryC(ctx, d.doc);
        d.repairLostNothing = repairFoundFileTables(d);
        d.pageMap.reset();
    }
    return true;
}

void reserveReferencedNumbers(PdfDocument::Impl& d)
{
    if (d.numbersReserved || !d.settled) return;
    d.numbersReserved = true;
    fz_context* ctx = pdfContext();
    const int highest = std::max(d.highestReference, highestReferenceC(ctx, pdf_trailer(ctx, d.doc)));
    // A reference far beyond the table is never reached by the few objects
    // an editing session makes; taking every number up to it would cost memory.
    const int objects = xrefLengthC(ctx, d.doc);
    if (highest >= objects) takeNumbersUpToC(ctx, d.doc, std::min(highest, objects + (1 << 20)));
}

namespace {

std::shared_ptr<PdfDocument>
adopt(pdf_document* doc, std::unique_ptr<PdfDocument::Impl> impl,
      const std::function<std::shared_ptr<PdfDocument>(std::unique_ptr<PdfDocument::Impl>)>& make)
{
    impl->doc = doc;
    fz_context* ctx = pdfContext();
    impl->passwordProtected = pdf_needs_password(ctx, doc) != 0;
    impl->locked = impl->passwordProtected;
    // Locked files are read after unlocking: their strings cannot be decrypted before.
    if (!impl->locked) settleOpened(*impl, true);
    return make(std::move(impl));
}

} // namespace

std::shared_ptr<PdfDocument> PdfDocument::openBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty()) throw PdfError(PdfErrorCode::damaged, "the file is empty");
    // Nobody else sees the document yet: holding the engine is enough.
    EngineWork work;
    auto impl = std::make_unique<Impl>();
    fz_context* ctx = pdfContext();
    FzError err;
    fz_buffer* buf =
        copyBuffer(ctx, reinterpret_cast<const unsigned char*>(bytes.constData()), size_t(bytes.size()), &err);
    throwIfFailed(err);
    pdf_document* doc = openFromBuffer(ctx, buf, &err);
    if (!doc) fz_drop_buffer(ctx, buf);
    throwIfFailed(err, PdfErrorCode::damaged);
    impl->source = buf; // kept for reading copies
    return adopt(doc, std::move(impl),
                 [](std::unique_ptr<Impl> i) { return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(i))); });
}

namespace {

// A file up to this size is read whole soon after it is opened (holdWhole):
// another program may then rewrite it in place, and the document still holds
// every byte it came from. A longer one is read as it is needed, watched
// (WatchedFile), and so is a short one until then.
constexpr std::int64_t privateCopyLimit = 32 << 20;

// Opens the file at `path` as `d` reads it from now on: watched, and for a
// short file to be held whole later. Throws PdfError (damaged for what is not
// a PDF).
pdf_document* openSource(PdfDocument::Impl& d, std::shared_ptr<WatchedFile> file)
{
    if (!file) {
        const int error = errno;
        throw PdfError(error == EACCES || error == EPERM ? PdfErrorCode::unreadable : PdfErrorCode::io,
                       std::strerror(error), error);
    }
    if (file->size() == 0) throw PdfError(PdfErrorCode::damaged, "the file is empty");
    fz_context* ctx = pdfContext();
    FzError err;
    pdf_document* doc = openWatchedC(ctx, file, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    struct stat info = {};
    ::fstat(file->fd(), &info);
    d.fileDevice = info.st_dev;
    d.fileInode = info.st_ino;
    d.ownFile.emplace(info.st_dev, info.st_ino);
    fz_drop_buffer(ctx, std::exchange(d.source, nullptr));
    d.holdsWholeLater = file->size() <= privateCopyLimit;
    d.watch = std::move(file);
    return doc;
}

// The bytes of `file`, read whole; none when they cannot be (out of memory,
// a failed read) or the file changed meanwhile. Needs no lock of a document.
fz_buffer* wholeCopy(WatchedFile& file)
{
    EngineWork work;
    fz_context* ctx = pdfContext();
    FzError err;
    fz_buffer* copy = newBufferC(ctx, size_t(file.size()), &err);
    if (!copy) return nullptr;
    if (!file.copyTo(copy->data)) {
        fz_drop_buffer(ctx, copy);
        return nullptr;
    }
    copy->len = size_t(file.size());
    return copy;
}

// `d` reads `copy` (taken, may be none) from now on, when it is of the file
// `d` still waits to hold whole and that file still holds those bytes. The
// caller holds d.mutex.
void adoptWholeCopy(PdfDocument::Impl& d, const std::shared_ptr<WatchedFile>& from, fz_buffer* copy)
{
    fz_context* ctx = pdfContext();
    // Held whole already, or the document reads another file by now.
    if (!d.holdsWholeLater || !from || d.watch != from) {
        fz_drop_buffer(ctx, copy);
        return;
    }
    // Tried once: a file that changed stays changed, and one that cannot be
    // copied (out of memory, a failed read) is read as a long one is.
    d.holdsWholeLater = false;
    FzError err;
    if (copy && from->unchanged(true)) useBufferC(ctx, d.doc, copy, &err);
    else err.code = FZ_ERROR_GENERIC;
    if (err.code) {
        fz_drop_buffer(ctx, copy);
        return;
    }
    fz_drop_buffer(ctx, std::exchange(d.source, copy));
    d.watch.reset();
}

} // namespace

void holdWhole(PdfDocument::Impl& d)
{
    if (!d.holdsWholeLater) return;
    const std::shared_ptr<WatchedFile> file = d.watch;
    adoptWholeCopy(d, file, file ? wholeCopy(*file) : nullptr);
}

std::shared_ptr<PdfDocument> PdfDocument::openFile(const std::string& path)
{
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) throw PdfError(PdfErrorCode::missingFile, "no such file", error);
        if (error == EACCES) throw PdfError(PdfErrorCode::unreadable, "no permission to reach the file", error);
        throw PdfError(PdfErrorCode::io, std::strerror(error), error);
    }
    if (S_ISDIR(info.st_mode)) throw PdfError(PdfErrorCode::folder, "the path is a folder", EISDIR);
    if (!S_ISREG(info.st_mode)) throw PdfError(PdfErrorCode::damaged, "not a regular file");
    auto impl = std::make_unique<Impl>();
    EngineWork work;
    pdf_document* doc = openSource(*impl, WatchedFile::open(path));
    return adopt(doc, std::move(impl),
                 [](std::unique_ptr<Impl> i) { return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(i))); });
}

std::shared_ptr<PdfDocument> PdfDocument::openDescriptor(int fd)
{
    std::shared_ptr<WatchedFile> file = WatchedFile::adopt(fd);
    if (file) {
        struct stat info = {};
        ::fstat(file->fd(), &info);
        if (S_ISDIR(info.st_mode)) throw PdfError(PdfErrorCode::folder, "the path is a folder", EISDIR);
        if (!S_ISREG(info.st_mode)) throw PdfError(PdfErrorCode::damaged, "not a regular file");
    }
    auto impl = std::make_unique<Impl>();
    EngineWork work;
    pdf_document* doc = openSource(*impl, std::move(file));
    return adopt(doc, std::move(impl),
                 [](std::unique_ptr<Impl> i) { return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(i))); });
}

std::shared_ptr<PdfDocument> PdfDocument::createBlank(double width, double height)
{
    fz_context* ctx = pdfContext();
    FzError err;
    pdf_document* doc = createBlankC(ctx, float(width), float(height), 1, &err);
    if (!doc) return createEmpty();
    auto impl = std::make_unique<Impl>();
    impl->doc = doc;
    impl->expectedPageCount = 1;
    return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(impl)));
}

std::shared_ptr<PdfDocument> PdfDocument::createEmpty()
{
    fz_context* ctx = pdfContext();
    FzError err;
    pdf_document* doc = createBlankC(ctx, 0, 0, 0, &err);
    throwIfFailed(err);
    auto impl = std::make_unique<Impl>();
    impl->doc = doc;
    return std::shared_ptr<PdfDocument>(new PdfDocument(std::move(impl)));
}

bool hasReadingSource(const PdfDocument::Impl& d)
{
    if (d.passwordProtected || d.readAsOthers || unsavedChangesC(pdfContext(), d.doc)) return false;
    return d.source || (d.watch && d.watch->unchanged());
}

void PdfDocument::stopPageWork() const { d->mutex.work()->stop(); }

bool PdfDocument::settle(int objects) const
{
    // The file is read whole without the document's lock: the window and
    // renders keep reading it meanwhile, from the file.
    std::shared_ptr<WatchedFile> file;
    {
        std::lock_guard lock(d->mutex);
        if (d->holdsWholeLater) file = d->watch;
    }
    if (file) {
        fz_buffer* copy = wholeCopy(*file);
        std::lock_guard lock(d->mutex);
        adoptWholeCopy(*d, file, copy);
    }
    std::lock_guard lock(d->mutex);
    return settleObjects(*d, objects);
}

bool PdfDocument::needsPassword() const { return d->passwordProtected; }

bool PdfDocument::isLocked() const { return d->locked.load(); }

bool PdfDocument::unlock(const std::string& password)
{
    std::lock_guard lock(d->mutex);
    // Authenticating recomputes the document key, so a wrong password tried on
    // an unlocked document would break it: once unlocked, it stays unlocked.
    if (!d->locked) return true;
    const bool ok = pdf_authenticate_password(pdfContext(), d->doc, password.c_str()) != 0;
    if (ok) {
        d->password = password;
        pageTreeChanged(*d); // the pages show only now
        d->locked = false;
        // Unlocked, the document is read as an unlocked one is at opening;
        // a password-protected file without a catalog still shows its state.
        try {
            settleOpened(*d, false);
        } catch (const PdfError&) {}
    }
    return ok;
}

int PdfDocument::pageCount() const
{
    // The window asks for it all the time (menus, the status bar): it reads
    // what the last holder of the document counted as it let go, so that it
    // never waits for page work on a worker, nor keeps that work off.
    if (!d->mutex.heldHere()) return d->countSeen.load();
    if (isLocked()) return 0;
    FzError err;
    return countPagesC(pdfContext(), d->doc, &err);
}

namespace {

PdfPageGeometry geometryOf(pdf_page* page)
{
    fz_rect media, crop;
    int rotate = 0;
    fz_matrix ctm = fz_identity;
    FzError err;
    pageGeometryC(pdfContext(), page, &media, &crop, &rotate, &ctm, &err);
    throwIfFailed(err, PdfErrorCode::damaged);
    PdfPageGeometry g;
    g.mediaBox = fromFz(media);
    g.cropBox = fromFz(crop);
    g.rotation = normalizedRotation(rotate);
    g.userToDisplay = fromFz(ctm);
    const PdfRect shown = g.userToDisplay.mapRect(g.cropBox.isEmpty() ? g.mediaBox : g.cropBox);
    g.displaySize = {shown.width, shown.height};
    return g;
}

} // namespace

PdfPageGeometry PdfDocument::pageGeometry(int index) const
{
    std::lock_guard lock(d->mutex);
    return geometryOf(loadPage(*d, index).page);
}

PdfTextPage PdfDocument::textPage(int index) const
{
    return runPageWork(*d, [&](PageWork& work) {
        fz_context* ctx = pdfContext();
        PageRef page = loadPage(*d, index);
        const PdfMatrix toUser = pageTransform(page.page).inverted();
        FzError err;
        fz_stext_page* text = stextC(ctx, page.page, nullptr, work.cookie(), &err);
        throwIfFailed(err, PdfErrorCode::damaged);
        std::unique_ptr<fz_stext_page, void (*)(fz_stext_page*)> owner(
            text, [](fz_stext_page* t) { fz_drop_stext_page(pdfContext(), t); });
        return textPageOf(text, toUser);
    });
}

std::vector<PdfLink> PdfDocument::links(int index) const
{
    std::lock_guard lock(d->mutex);
    fz_context* ctx = pdfContext();
    PageRef page = loadPage(*d, index);
    const PdfMatrix toUser = pageTransform(page.page).inverted();
    FzError err;
    fz_link* links = linksC(ctx, page.page, &err);
    std::vector<PdfLink> result;
    for (fz_link* l = links; l; l = l->next) {
        PdfLink link;
        link.rect = toUser.mapRect(fromFz(l->rect));
        link.uri = l->uri ? l->uri : "";
        if (l->uri && !fz_is_external_link(ctx, l->uri)) {
            float x = 0, y = 0;
            const int target = resolveLinkC(ctx, d->doc, l->uri, &x, &y);
            if (target >= 0) {
                link.targetPage = target;
                try {
                    PageRef tp = loadPage(*d, target);
                    link.targetPoint = pageTransform(tp.page).inverted().map({x, y});
                } catch (const PdfError&) {}
            }
        }
        result.push_back(std::move(link));
    }
    fz_drop_link(ctx, links);
    return result;
}

namespace {

// Outlines deeper than this are cut: MuPDF's own reader recurses and a
// crafted file nested 75,000 deep overflowed the stack.
constexpr int outlineDepthLimit = 64;
constexpr int outlineItemLimit = 100000;

struct RawOutlineGuard {
    RawOutlineItem raw;
    ~RawOutlineGuard()
    {
        fz_free(pdfContext(), raw.title);
        fz_free(pdfContext(), raw.uri);
    }
};

// What a page's user space maps to on the screen, read from its object
// alone: no page is loaded. 0 when it cannot be read.
int pageObjectTransformC(fz_context* ctx, pdf_document* doc, int index, fz_matrix* ctm)
{
    int read = 0;
    fz_var(read);
    fz_try(ctx) {
        pdf_page_obj_transform(ctx, pdf_lookup_page_obj(ctx, doc, index), nullptr, ctm);
        read = 1;
    }
    fz_catch(ctx) read = 0;
    return read;
}

} // namespace

std::vector<PdfOutlineItem> PdfDocument::outline() const
{
    std::lock_guard lock(d->mutex);
    std::vector<PdfOutlineItem> result;
    if (d->locked) return result;
    fz_context* ctx = pdfContext();
    // Read without recursion: each level's items go into the list of their parent.
    struct Pending {
        pdf_obj* node;
        std::vector<PdfOutlineItem>* into;
        int depth;
    };
    std::vector<Pending> pending;
    if (pdf_obj* first = outlineFirstC(ctx, d->doc)) pending.push_back({first, &result, 0});
    std::unordered_set<int> seen; // object numbers met, against cycles
    int items = 0;
    while (!pending.empty() && items < outlineItemLimit) {
        Pending at = pending.back();
        pending.pop_back();
        // The siblings of one level are read in a loop, so the list keeps their
        // order; their children are read once the list is complete (and stays put).
        std::vector<std::pair<pdf_obj*, size_t>> childLists;
        for (pdf_obj* node = at.node; node && items < outlineItemLimit; ++items) {
            RawOutlineGuard guard;
            FzError err;
            readOutlineItemC(ctx, d->doc, node, &guard.raw, &err);
            if (err.code) break;
            if (guard.raw.num && !seen.insert(guard.raw.num).second) break;
            PdfOutlineItem item;
            item.title = guard.raw.title ? guard.raw.title : "";
            item.uri = guard.raw.uri ? guard.raw.uri : "";
            item.open = guard.raw.open != 0;
            if (!item.uri.empty() && !fz_is_external_link(ctx, item.uri.c_str())) {
                float x = 0, y = 0;
                const int target = resolveLinkC(ctx, d->doc, item.uri.c_str(), &x, &y);
                fz_matrix ctm = fz_identity;
                if (target >= 0) item.page = target;
                if (target >= 0 && pageObjectTransformC(ctx, d->doc, target, &ctm))
                    item.point = fromFz(ctm).inverted().map({x, y});
            }
            at.into->push_back(std::move(item));
            if (guard.raw.first && at.depth + 1 < outlineDepthLimit)
                childLists.emplace_back(guard.raw.first, at.into->size() - 1);
            node = guard.raw.next;
        }
        for (const auto& [first, index] : childLists)
            pending.push_back({first, &(*at.into)[index].children, at.depth + 1});
    }
    return result;
}

std::string PdfDocument::version() const
{
    std::lock_guard lock(d->mutex);
    const int v = pdf_version(pdfContext(), d->doc);
    return std::to_string(v / 10) + "." + std::to_string(v % 10);
}

bool PdfDocument::isEncrypted() const
{
    std::lock_guard lock(d->mutex);
    return d->doc->crypt != nullptr;
}

std::string PdfDocument::encryptionMethod() const
{
    std::lock_guard lock(d->mutex);
    char buf[128] = {};
    if (lookupMetadataC(pdfContext(), d->doc, FZ_META_ENCRYPTION, buf, sizeof buf) < 0) return "None";
    return buf;
}

PdfPermissions PdfDocument::permissions() const
{
    std::lock_guard lock(d->mutex);
    fz_context* ctx = pdfContext();
    PdfPermissions p;
    p.print = pdf_has_permission(ctx, d->doc, FZ_PERMISSION_PRINT);
    p.copy = pdf_has_permission(ctx, d->doc, FZ_PERMISSION_COPY);
    p.edit = pdf_has_permission(ctx, d->doc, FZ_PERMISSION_EDIT);
    p.annotate = pdf_has_permission(ctx, d->doc, FZ_PERMISSION_ANNOTATE);
    if (d->doc->crypt) {
        const int flags = pdf_document_permissions(ctx, d->doc);
        p.fillForms = (flags & (1 << 8)) != 0 || p.annotate;
        p.assemble = (flags & (1 << 10)) != 0 || p.edit;
    }
    return p;
}

std::optional<std::string> PdfDocument::infoString(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    fz_context* ctx = pdfContext();
    FzError err;
    int isArray = 0;
    fz_buffer* buf = infoValueC(ctx, d->doc, key.c_str(), &isArray, &err);
    if (!buf) return std::nullopt;
    unsigned char* data = nullptr;
    const size_t len = fz_buffer_storage(ctx, buf, &data);
    std::string value(reinterpret_cast<const char*>(data), len);
    fz_drop_buffer(ctx, buf);
    if (isArray) {
        while (!value.empty() && value.back() == '\n') value.pop_back();
        std::string joined;
        size_t start = 0;
        while (start <= value.size()) {
            const size_t end = value.find('\n', start);
            const std::string part = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!joined.empty()) joined += ", ";
            joined += part;
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return joined;
    }
    return value;
}

std::vector<std::string> PdfDocument::infoStringList(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    fz_context* ctx = pdfContext();
    FzError err;
    int isArray = 0;
    fz_buffer* buf = infoValueC(ctx, d->doc, key.c_str(), &isArray, &err);
    if (!buf) return {};
    unsigned char* data = nullptr;
    const size_t len = fz_buffer_storage(ctx, buf, &data);
    std::string value(reinterpret_cast<const char*>(data), len);
    fz_drop_buffer(ctx, buf);
    if (!isArray) return {value};
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < value.size()) {
        const size_t end = value.find('\n', start);
        parts.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

void PdfDocument::setInfoString(const std::string& key, const std::optional<std::string>& value)
{
    std::lock_guard lock(d->mutex);
    settleBeforeEditing(*d);
    FzError err;
    setInfoC(pdfContext(), d->doc, key.c_str(), value ? value->c_str() : nullptr, &err);
    throwIfFailed(err);
}

QImage PdfDocument::render(int index, double scale, const QRect& clip) const
{
    return runPageWork(*d, [&](PageWork& work) {
        fz_context* ctx = pdfContext();
        PageRef page = loadPage(*d, index);
        const PdfPageGeometry g = geometryOf(page.page);
        const QRect full = fullPixelRect(g.displaySize, scale);
        const QRect area = clip.isNull() ? full : clip.intersected(full);
        if (area.isEmpty()) return QImage();
        // MuPDF's page space already has the crop box at the origin and the rotation applied.
        const fz_matrix ctm = fz_scale(float(scale), float(scale));
        const fz_irect bbox{area.left(), area.top(), area.right() + 1, area.bottom() + 1};
        FzError err;
        QImage image(area.size(), QImage::Format_RGB888);
        if (image.isNull()) throw PdfError(PdfErrorCode::general, "out of memory for the image");
        drawC(ctx, page.page, nullptr, ctm, {image.bits(), int(image.bytesPerLine()), bbox, false, false, true},
              work.cookie(), &err);
        throwIfFailed(err, PdfErrorCode::damaged);
        return image;
    });
}

std::shared_ptr<PdfDisplayList> PdfDocument::displayList(int index, bool windowWaits) const
{
    return runPageWork(
        *d,
        [&](PageWork& work) {
            PageRef page = loadPage(*d, index);
            const PdfPageGeometry g = geometryOf(page.page);
            FzError err;
            // What the recording holds that was not in memory before: its commands
            // and the resources it was first to load.
            EngineAllocationTally tally;
            int damaged = 0;
            fz_display_list* list = recordPageC(pdfContext(), page.page, work.cookie(), &damaged, &err);
            throwIfFailed(err, PdfErrorCode::damaged);
            auto* impl = new PdfDisplayList::Impl{list, fz_identity, g.userToDisplay.inverted()};
            return std::make_shared<PdfDisplayList>(impl, g.displaySize, tally.liveBytes(), damaged != 0);
        },
        true, !windowWaits);
}

namespace {

// Bytes read from a file that another program rewrote in place would be
// that program's bytes at this file's offsets: nothing is written from them.
void throwIfSourceChanged(PdfDocument::Impl& d)
{
    if (d.watch && !d.watch->unchanged(true))
        throw PdfError(PdfErrorCode::sourceChanged, "the file was changed by another program while it was open");
}

// Runs `work` (which reads the document's file), telling a failure that
// comes from another program's change of that file as such.
template <typename Work>
auto readingSource(PdfDocument::Impl& d, Work&& work)
{
    throwIfSourceChanged(d);
    try {
        return work();
    } catch (const PdfError&) {
        throwIfSourceChanged(d);
        throw;
    }
}

// Whether the document uses an object that settling found MuPDF could not
// parse, or parsed only by guessing: written, it holds MuPDF's guess.
bool usesUnparsedObjects(const PdfDocument::Impl& d)
{
    const auto& unparsed = d.unparsedObjects;
    return !unparsed.empty() && documentRefersToC(pdfContext(), d.doc, unparsed.data(), int(unparsed.size()));
}

// Whether the settled document uses a stream of the file that MuPDF could
// not decode to its end (decodesToItsEndC): a copy drawn anew holds what
// MuPDF read of it, and other readers may read more. The streams are decoded
// on the first question after settling, not as the file opens: only a copy
// written anew needs them.
bool usesStreamsCutShort(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    if (!d.streamsCutShort) {
        std::vector<int> cut;
        const int objects = xrefLengthC(ctx, d.doc);
        for (int num = 1; num < objects; ++num) {
            TableEntry entry;
            tableEntryC(ctx, d.doc, num, &entry);
            if (entry.type != 'n' || entry.changed) continue;
            if (!decodesToItsEndC(ctx, d.doc, num, streamCheckLimit)) cut.push_back(num);
            // As settling does: a long document's objects are read again when needed.
            if (d.releasesWhatItReads) releaseParsedObjectC(ctx, d.doc, num);
        }
        d.streamsCutShort = std::move(cut);
    }
    const std::vector<int>& cut = *d.streamsCutShort;
    return !cut.empty() && documentRefersToC(ctx, d.doc, cut.data(), int(cut.size()));
}

// Why a file written from the settled document may show less than the file
// it was read from shows in other programs, as the refusal to write over
// that file; none when it shows as much. The one judge of a save in place
// and of a copy (saveToFile, copyShowsLess).
std::optional<PdfError> lossWhenWritten(const PdfDocument::Impl& d, bool byUpdate)
{
    if (d.rebuiltAfterWrite)
        return PdfError(PdfErrorCode::changedByWrite,
                        "a write changed the document, which was read again from its bytes and what it held before");
    if (d.repairedAtOpen && !d.repairLostNothing)
        return PdfError(PdfErrorCode::repairedFile,
                        "the file had to be rebuilt to be read, and other programs may read more of it");
    // Pages shown from a tree rebuilt otherwise than the file's own reaches
    // are no pages other readers show of the file.
    if (d.pageTree == PdfDocument::Impl::PageTree::rebuiltOtherwise)
        return PdfError(PdfErrorCode::repairedFile, "the file's page tree had to be rebuilt from its pages");
    // An update leaves the objects it does not write as the file holds them.
    if (!byUpdate && usesUnparsedObjects(d))
        return PdfError(PdfErrorCode::unparsedObjects,
                        "object " + std::to_string(d.unparsedObjects.front()) + " of the file cannot be parsed");
    return std::nullopt;
}

// A page the tree names but no dictionary holds (a damaged file whose page
// objects MuPDF could not find) would be written as a null: every file
// written from the document would lose that page, and no reader would open it.
void checkPagesReadable(PdfDocument::Impl& d)
{
    const PageMap& map = pageMap(d);
    for (size_t i = 0; i < map.ids.size(); ++i)
        if (!map.ids[i] || !isDictionaryC(pdfContext(), d.doc, map.ids[i].object))
            throw PdfError(PdfErrorCode::unreadablePages, "page " + std::to_string(i + 1) + " cannot be read");
}

// The checks that keep a save from losing the user's work.
void checkBeforeSaving(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    settleBeforeEditing(d);
    throwIfSourceChanged(d); // reading the rest of the file may be what finds the change
    if (!d.repairedAtOpen && wasRepairedC(ctx, d.doc))
        throw PdfError(PdfErrorCode::changedSinceOpen,
                       "the file turned out to be damaged after it was opened, and changes made since may be lost");
    FzError err;
    const int pages = countPagesC(ctx, d.doc, &err);
    if (pages != d.expectedPageCount)
        throw PdfError(PdfErrorCode::changedSinceOpen, "the document has " + std::to_string(pages)
                                                           + " pages instead of "
                                                           + std::to_string(d.expectedPageCount));
    checkPagesReadable(d);
}

// Whether a save keeps what the engine cannot hold of the file (names it
// cuts, objects it cannot parse) by an incremental update appended to the
// file's own bytes, which every reader then reads as it did: only the
// objects the user's changes touched are written. Not for a file MuPDF had
// to rebuild, or whose pages or objects it shows otherwise than the file
// holds them: an update would be read through that damage.
bool canUpdateFile(const PdfDocument::Impl& d, const PdfSaveOptions& options)
{
    if (options.encryption != PdfSaveOptions::Encryption::keep || !(d.watch || d.source)) return false;
    if (d.repairedAtOpen || d.pageTree != PdfDocument::Impl::PageTree::asFiled || d.readAsOthers) return false;
    return canSaveIncrementallyC(pdfContext(), d.doc) != 0;
}

bool keepsFileByUpdate(const PdfDocument::Impl& d, const PdfSaveOptions& options)
{
    return (d.namesCut || usesUnparsedObjects(d)) && canUpdateFile(d, options);
}

// Whether a write keeps a signed file's signed bytes, as its own file's
// save does: its changes go after them (prepareSave). `signedTarget`: the
// file the save replaces holds a signature (signedBytesOf), whatever the
// document reads of it now.
bool keepsSignedBytes(PdfDocument::Impl& d, const PdfSaveOptions& options, bool signedTarget = false)
{
    return signedTarget || (options.encryption == PdfSaveOptions::Encryption::keep && d.doc->file && signedDocument(d));
}

// Whether the file's own bytes can start what is written: an update of
// them, which MuPDF writes only of a file it read as filed.
bool canKeepFileBytes(PdfDocument::Impl& d, const PdfSaveOptions& options)
{
    return options.encryption == PdfSaveOptions::Encryption::keep && d.doc->file
           && canSaveIncrementallyC(pdfContext(), d.doc);
}

// Whether a save into a file goes by update of the file's own bytes before
// any write is tried: a file whose bytes the engine cannot hold, a signed
// file MuPDF can update.
bool savesByUpdate(PdfDocument::Impl& d, const PdfSaveOptions& options, bool signedTarget = false)
{
    return d.doc->file
           && (keepsFileByUpdate(d, options)
               || (keepsSignedBytes(d, options, signedTarget) && canKeepFileBytes(d, options)));
}

// Whether a save of a signed file would write it anew: MuPDF cannot write
// an update of the file (one it had to rebuild), and the signature would no
// longer verify.
bool rewritesSignedFile(PdfDocument::Impl& d, const PdfSaveOptions& options, bool signedTarget = false)
{
    return keepsSignedBytes(d, options, signedTarget) && !canKeepFileBytes(d, options);
}

// Whether a write was refused by its read-back: the file written anew does
// not read as the document, where an update of the file's own bytes may.
bool refusedOnReadBack(const PdfError& error)
{
    return error.code() == PdfErrorCode::unfaithfulCopy || error.code() == PdfErrorCode::namesTooLong;
}

// Refuses, before anything is written, an update that would write an object
// the engine cannot hold as the file does: one it could not parse, or one
// that holds a name as long as it keeps (cut where the file defines it).
void checkUpdateWrites(PdfDocument::Impl& d)
{
    fz_context* ctx = pdfContext();
    const std::unordered_set<int> unparsed(d.unparsedObjects.begin(), d.unparsedObjects.end());
    const int objects = xrefLengthC(ctx, d.doc);
    for (int num = 1; num < objects; ++num) {
        TableEntry entry;
        tableEntryC(ctx, d.doc, num, &entry);
        if (!entry.changed) continue;
        if (unparsed.count(num))
            throw PdfError(PdfErrorCode::unparsedObjects,
                           "the change touches object " + std::to_string(num) + ", which cannot be parsed");
        int cut = 0, unreadable = 0;
        touchObjectC(ctx, d.doc, num, &unreadable, &cut);
        if (cut)
            throw PdfError(PdfErrorCode::namesTooLong, "the change touches object " + std::to_string(num)
                                                           + ", which uses a name longer than "
                                                           + std::to_string(engineNameLimit) + " bytes");
    }
}

// What MuPDF is told for a save. `forFile` adds the checks that keep a save
// from losing the user's work, and the incremental update for a signed
// file; `incremental` tells whether that is what is written. A write into
// memory (`intoMemory`: an export, a print, a copy of pages) leaves the
// document as it was: it is read whole first, as a save reads it, and the
// form drawings such a copy needs are drawn in a copy of its own
// (serialize), never in the open document, whose next save they would join.
// `updateAsked` asks for an update of the file's own bytes where one can be
// written (see canUpdateFile); `signedTarget` says that the file replaced
// holds a signature (see keepsSignedBytes).
pdf_write_options prepareSave(PdfDocument::Impl& d, const PdfSaveOptions& options, bool forFile, bool intoMemory,
                              bool* incremental, bool updateAsked = false, bool signedTarget = false)
{
    fz_context* ctx = pdfContext();
    *incremental = false;
    if (d.locked) throw PdfError(PdfErrorCode::passwordRequired, "the document is locked");
    if (forFile) checkBeforeSaving(d);
    else settleBeforeEditing(d);
    throwIfWalkCutShort(d);
    pdf_write_options opts = writeOptions(options);
    // An update goes after the bytes the document was read from: one made
    // here (pages with a signature taken into a new document) has none.
    const bool byUpdate =
        forFile && d.doc->file && (updateAsked ? canUpdateFile(d, options) : keepsFileByUpdate(d, options));
    if (byUpdate || (forFile && savesByUpdate(d, options, signedTarget))) {
        opts.do_incremental = 1;
        opts.do_garbage = 0; // the file's bytes stay exactly as they are
        *incremental = true;
    }
    if (options.encryption == PdfSaveOptions::Encryption::keep) keepEncryptionDictionaryC(ctx, d.doc);
    // A signed file's form stays as signed but for the fields the user
    // filled in (drawNeededAppearances keeps it so): their update draws them.
    // An update written into memory draws none: it cannot be drawn in a copy
    // of its own, and the open document stays as it was.
    if (!intoMemory) drawNeededAppearances(d);
    if (byUpdate) checkUpdateWrites(d);
    if (intoMemory) return opts;
    // Collecting garbage drops objects nothing refers to: the page map is read again.
    if (options.garbageCollect && !*incremental) pageTreeChanged(d);
    return opts;
}

// Reads what was just written back (PdfReadBack.h) before it replaces
// anything or is handed on: it must read, with the document's password when
// encrypted, as the document holds it. Throws PdfError when it does not.
// A write into memory left out the objects `leftOut` marks (by number):
// they are none it meant to write, and references to them reach nothing.
void readBackWritten(PdfDocument::Impl& d, const pdf_write_options& opts, ByteSink* bytes, FileSink* file,
                     const PdfSaveOptions& options, std::vector<unsigned char> leftOut, const WrittenTrailer& trailer)
{
    if (!options.readBack) return;
    try {
        if (file && options.beforeReadBack) options.beforeReadBack(file->fd);
        std::vector<std::unique_ptr<MappedFile>> mapped;
        PdfWriteIntent meant = writeIntent(d, opts, &mapped, std::move(leftOut));
        meant.trailer = trailer;
        // The metadata stream an update wrote again in the clear.
        if (pdf_obj* metadata = clearMetadataC(pdfContext(), d.doc, &opts))
            meant.unjudged.insert(pdf_to_num(pdfContext(), metadata));
        if (file) return readBack(file->fd, meant);
        readBack(ReadBackBytes{bytes->bytes->constData(), std::size_t(bytes->bytes->size())}, meant);
    } catch (const PdfError& error) {
        if (error.code() == PdfErrorCode::unverifiedCopy && options.unverifiedAccepted) return;
        throw;
    } catch (const std::bad_alloc&) {
        // The check ran short of memory: no verdict on the copy.
        if (options.unverifiedAccepted) return;
        throw PdfError(PdfErrorCode::unverifiedCopy, "the written file could not be read back: out of memory", ENOMEM);
    }
}

// What a write found of the document, and what puts it back as it was: the
// document's state (DocumentState), each entry of its table, and a copy of
// each object the file does not hold so (a change, a page made here, what
// a repair read), with its stream's data; the others MuPDF reads again
// alike from the file (readsAgainAlikeC).
struct KeptEntry {
    char type;
    bool unread; // not read from the file yet
    unsigned short gen;
    std::int64_t ofs, stmOfs;
    pdf_obj* value; // a copy, for an object held only in memory
    fz_buffer* data;
};

// Keeps a copy of object `num`'s value and its stream's data in `kept`.
// Throws (MuPDF).
void keepValueC(fz_context* ctx, pdf_document* doc, int num, KeptEntry* kept)
{
    pdf_obj* obj = nullptr;
    fz_var(obj);
    fz_try(ctx) {
        obj = pdf_load_object(ctx, doc, num);
        kept->value = pdf_deep_copy_obj(ctx, obj);
        kept->data = fz_keep_buffer(ctx, pdf_get_xref_entry(ctx, doc, num)->stm_buf);
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) {
        // One that cannot be read stays so, whatever the write.
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
    }
}

// Fills `kept` (`count` entries, zeroed) from the document's table. Throws (MuPDF).
void keepEntriesC(fz_context* ctx, pdf_document* doc, KeptEntry* kept, int count)
{
    const int encryption = encryptionNumberC(ctx, doc);
    for (int num = 1; num < count; ++num) {
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (!entry) continue;
        kept[num] = {entry->type, !entry->obj, entry->gen, entry->ofs, entry->stm_ofs, nullptr, nullptr};
        if ((entry->type == 'n' || entry->type == 'o') && !readsAgainAlikeC(ctx, doc, num, entry, encryption))
            keepValueC(ctx, doc, num, &kept[num]);
    }
}

// Makes `live`, the document's object (which its pages and marks may hold
// too), hold what `from` holds, in place; false where it cannot (no
// dictionary or array, or not of `from`'s kind). Throws (MuPDF).
bool refillC(fz_context* ctx, pdf_obj* live, pdf_obj* from)
{
    if (pdf_is_dict(ctx, live) && pdf_is_dict(ctx, from)) {
        while (pdf_dict_len(ctx, live) > 0) {
            pdf_obj* key = pdf_keep_obj(ctx, pdf_dict_get_key(ctx, live, pdf_dict_len(ctx, live) - 1));
            fz_try(ctx) pdf_dict_del(ctx, live, key);
            fz_always(ctx) pdf_drop_obj(ctx, key);
            fz_catch(ctx) fz_rethrow(ctx);
        }
        for (int i = 0, n = pdf_dict_len(ctx, from); i < n; ++i)
            pdf_dict_put(ctx, live, pdf_dict_get_key(ctx, from, i), pdf_dict_get_val(ctx, from, i));
        return true;
    }
    if (pdf_is_array(ctx, live) && pdf_is_array(ctx, from)) {
        while (pdf_array_len(ctx, live) > 0) pdf_array_delete(ctx, live, pdf_array_len(ctx, live) - 1);
        for (int i = 0, n = pdf_array_len(ctx, from); i < n; ++i)
            pdf_array_push(ctx, live, pdf_array_get(ctx, from, i));
        return true;
    }
    return false;
}

// Puts entry `num` back as `kept` holds it: its place in the table, and its
// value, from the copy kept or read again from the file. Throws (MuPDF).
void putEntryBackC(fz_context* ctx, pdf_document* doc, int num, const KeptEntry* kept)
{
    pdf_xref_entry* entry = pdf_get_xref_entry_no_null(ctx, doc, num);
    pdf_obj* from = nullptr;
    fz_var(entry);
    fz_var(from);
    fz_try(ctx) {
        if (entry->stm_buf != kept->data) {
            fz_drop_buffer(ctx, entry->stm_buf);
            entry->stm_buf = fz_keep_buffer(ctx, kept->data);
        }
        entry->type = kept->type;
        entry->gen = kept->gen;
        entry->ofs = kept->ofs;
        entry->stm_ofs = kept->stmOfs;
        pdf_obj* live = entry->obj;
        if (kept->value) {
            from = pdf_deep_copy_obj(ctx, kept->value);
        } else if (live && (kept->type == 'n' || kept->type == 'o')) {
            // Read again from the file, then poured into the object others hold.
            entry->obj = nullptr;
            fz_try(ctx) from = pdf_load_object(ctx, doc, num);
            fz_always(ctx) {
                entry = pdf_get_xref_entry_no_null(ctx, doc, num);
                pdf_drop_obj(ctx, entry->obj);
                entry->obj = live;
            }
            fz_catch(ctx) fz_rethrow(ctx);
        } else if (kept->type != 'n' && kept->type != 'o') {
            entry->obj = nullptr;
            pdf_drop_obj(ctx, live);
        }
        if (from && !(live && refillC(ctx, live, from))) {
            pdf_set_obj_parent(ctx, from, num);
            entry->obj = pdf_keep_obj(ctx, from);
            pdf_drop_obj(ctx, live);
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, from);
    fz_catch(ctx) fz_rethrow(ctx);
}

// Lets go of what the write read of the objects `kept` notes as not read
// yet, where the file holds them so (releasableC): as they were, unread.
void releaseReadC(fz_context* ctx, pdf_document* doc, const KeptEntry* kept, int count)
{
    fz_try(ctx) {
        const int encryption = encryptionNumberC(ctx, doc);
        for (int num = 1; num < std::min(count, pdf_xref_len(ctx, doc)); ++num) {
            pdf_xref_entry* entry = kept[num].unread ? pdf_get_xref_entry(ctx, doc, num) : nullptr;
            if (entry && releasableC(ctx, doc, num, entry, encryption)) {
                pdf_drop_obj(ctx, entry->obj);
                entry->obj = nullptr;
            }
        }
    }
    fz_catch(ctx) {}
}

// putEntryBackC over each object whose state differs from the one kept,
// and each number past the `count` kept; a failure is in `err`.
void putBackC(fz_context* ctx, pdf_document* doc, const KeptEntry* kept, int count, const std::uint64_t* before,
              const std::uint64_t* after, int afterCount, FzError* err)
{
    const int saving = doc->save_in_progress;
    doc->save_in_progress = 1; // changed in place: no change opens an update section
    fz_try(ctx) {
        static const KeptEntry none = {};
        for (int num = 1; num < std::max(count, afterCount); ++num) {
            const std::uint64_t was = num < count ? before[num] : 0, is = num < afterCount ? after[num] : 0;
            if (was != is) putEntryBackC(ctx, doc, num, num < count ? &kept[num] : &none);
        }
    }
    fz_always(ctx) doc->save_in_progress = saving;
    fz_catch(ctx) captureError(ctx, err);
}

// `obj`, a value of another document, as a value of `doc`: its references
// lead to the objects of the same numbers there. Throws (MuPDF).
pdf_obj* retargetC(fz_context* ctx, pdf_document* doc, pdf_obj* obj)
{
    if (pdf_is_indirect(ctx, obj)) return pdf_new_indirect(ctx, doc, pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj));
    const int dict = pdf_is_dict(ctx, obj);
    if (!dict && !pdf_is_array(ctx, obj)) return pdf_keep_obj(ctx, obj);
    const int n = dict ? pdf_dict_len(ctx, obj) : pdf_array_len(ctx, obj);
    pdf_obj* copy = dict ? pdf_new_dict(ctx, doc, n) : pdf_new_array(ctx, doc, n);
    fz_try(ctx) {
        for (int i = 0; i < n; ++i) {
            if (dict)
                pdf_dict_put_drop(ctx, copy, pdf_dict_get_key(ctx, obj, i),
                                  retargetC(ctx, doc, pdf_dict_get_val(ctx, obj, i)));
            else pdf_array_push_drop(ctx, copy, retargetC(ctx, doc, pdf_array_get(ctx, obj, i)));
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, copy);
        fz_rethrow(ctx);
    }
    return copy;
}

// Reads object `num` of `doc` into its table; one that cannot be read stays
// so, as it was. Throws (MuPDF) out of memory.
void readAgainC(fz_context* ctx, pdf_document* doc, int num)
{
    fz_try(ctx) pdf_drop_obj(ctx, pdf_load_object(ctx, doc, num));
    fz_catch(ctx) {
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
    }
}

// Makes `doc`, read afresh from the bytes a document was read from, hold
// what that document held when `kept` (`count` entries, see KeptDocument)
// and `trailer` were taken: one table of those entries, as a repair leaves
// it, which later changes go into in place; what was read then is read
// again. A failure is in `err`.
void restoreIntoC(fz_context* ctx, pdf_document* doc, const KeptEntry* kept, int count, pdf_obj* trailer, FzError* err)
{
    pdf_xref_entry* table = nullptr;
    fz_var(table);
    fz_try(ctx) {
        table = static_cast<pdf_xref_entry*>(fz_calloc(ctx, std::size_t(count), sizeof(pdf_xref_entry)));
        table[0].type = 'f';
        table[0].gen = 65535;
        for (int num = 1; num < count; ++num) {
            const KeptEntry& entry = kept[num];
            pdf_xref_entry& into = table[num];
            into.type = entry.type ? entry.type : 'f';
            into.gen = entry.gen;
            into.num = num;
            into.ofs = entry.ofs;
            into.stm_ofs = entry.stmOfs;
            if (!entry.value) continue;
            into.obj = retargetC(ctx, doc, entry.value);
            pdf_set_obj_parent(ctx, into.obj, num);
            into.stm_buf = fz_keep_buffer(ctx, entry.data);
        }
        pdf_replace_xref(ctx, doc, table, count);
        table = nullptr;
        doc->repair_attempted = 1;
        pdf_obj* now = pdf_trailer(ctx, doc);
        for (pdf_obj* key : {PDF_NAME(Root), PDF_NAME(Info), PDF_NAME(Encrypt), PDF_NAME(ID)}) {
            if (pdf_obj* value = pdf_dict_get(ctx, trailer, key))
                pdf_dict_put_drop(ctx, now, key, retargetC(ctx, doc, value));
            else pdf_dict_del(ctx, now, key);
        }
        pdf_dict_put_int(ctx, now, PDF_NAME(Size), count);
        for (int num = 1; num < count; ++num)
            if (!kept[num].unread && !kept[num].value && (kept[num].type == 'n' || kept[num].type == 'o'))
                readAgainC(ctx, doc, num);
    }
    fz_catch(ctx) {
        if (table) {
            for (int num = 0; num < count; ++num) {
                pdf_drop_obj(ctx, table[num].obj);
                fz_drop_buffer(ctx, table[num].stm_buf);
            }
            fz_free(ctx, table);
        }
        captureError(ctx, err);
    }
}

DocumentState documentState(pdf_document* doc, bool asStored)
{
    fz_context* ctx = pdfContext();
    DocumentState state;
    state.objects.assign(std::size_t(std::max(0, xrefLengthC(ctx, doc))), 0);
    FzError err;
    documentStateC(ctx, doc, asStored, state.objects.data(), int(state.objects.size()), &state.trailer, &err);
    if (err.code)
        throw PdfError(PdfErrorCode::unverifiedCopy,
                       std::string("the document could not be read as it was written: ") + err.message,
                       systemErrorOf(err));
    while (!state.objects.empty() && state.objects.back() == 0) state.objects.pop_back();
    return state;
}

DocumentState documentState(PdfDocument::Impl& d, bool asStored) { return documentState(d.doc, asStored); }

// No write may change the document it writes: MuPDF's writer edits what it
// shares with the document (see lendListsC, leaveOutUnreferencedC,
// WriterState), and a change nobody foresaw would be written into every
// later copy, judged by the read-back against the changed document itself.
// Kept before the write, the document is held against what it became
// after it; where it changed, it is put back as it was and the write is
// refused (changedByWrite). Where it cannot be put back, or where its state
// cannot be read to tell (undecided, unverifiedCopy), it is read again
// from its bytes and what it held before the write (restoreIntoC), which a
// new file then takes after the question a repaired file asks; only where
// that fails too does no later write continue from it (writeUnrestored).
// The read-back then judges the copy against the document as it was before
// the write.
class KeptDocument {
public:
    explicit KeptDocument(PdfDocument::Impl& d)
    {
        if (d.changedByWrite)
            throw PdfError(PdfErrorCode::writeUnrestored,
                           "an earlier write changed the document, and it could be neither put back nor read again");
        state_ = documentState(d, true);
        entries_.assign(state_.objects.size(), KeptEntry{});
        fz_context* ctx = pdfContext();
        FzError err;
        keepC(ctx, d.doc, entries_.data(), int(entries_.size()), &trailer_, &err);
        if (err.code)
            throw PdfError(PdfErrorCode::unverifiedCopy,
                           std::string("the document could not be kept as it was: ") + err.message, systemErrorOf(err));
    }
    ~KeptDocument()
    {
        for (const KeptEntry& entry : entries_) {
            pdf_drop_obj(pdfContext(), entry.value);
            fz_drop_buffer(pdfContext(), entry.data);
        }
        pdf_drop_obj(pdfContext(), trailer_);
    }
    KeptDocument(const KeptDocument&) = delete;
    KeptDocument& operator=(const KeptDocument&) = delete;

    // Throws PdfError when the document is not as it was kept, or cannot be
    // read to tell.
    void checkUnchanged(PdfDocument::Impl& d) const
    {
        WriteGuardSeams& seams = writeGuardSeams();
        const bool unrestorable = seams.unrestorableWrites > 0 && seams.unrestorableWrites-- > 0;
        DocumentState now;
        try {
            if (unrestorable) changeForTestC(pdfContext(), d.doc);
            if (seams.failingStateReads > 0 && seams.failingStateReads-- > 0) throw std::bad_alloc();
            releaseReadC(pdfContext(), d.doc, entries_.data(), int(entries_.size()));
            now = documentState(d, true);
        } catch (const std::exception& error) {
            // Whether the write changed the document is not known: it is
            // taken for changed, and the write is undecided.
            const bool memory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
            const std::string why = std::string("the document could not be read after the write: ")
                                    + (memory ? "out of memory" : error.what());
            if (!rebuild(d)) throw PdfError(PdfErrorCode::writeUnrestored, why + ", nor read again as it was");
            // Short of memory, the check could not run; otherwise the write
            // left the document unreadable: it changed it.
            throw PdfError(memory ? PdfErrorCode::unverifiedCopy : PdfErrorCode::changedByWrite,
                           why + "; it was read again as it was", memory ? ENOMEM : 0);
        }
        if (now == state_) return;
        bool putBack = !unrestorable;
        if (putBack) {
            FzError err;
            putBackC(pdfContext(), d.doc, entries_.data(), int(entries_.size()), state_.objects.data(),
                     now.objects.data(), int(now.objects.size()), &err);
            pageTreeChanged(d);
            try {
                putBack = !err.code && documentState(d, true) == state_;
            } catch (const std::exception&) {
                putBack = false;
            }
        }
        if (putBack)
            throw PdfError(PdfErrorCode::changedByWrite, "writing changed the document; it was put back as it was");
        if (rebuild(d))
            throw PdfError(PdfErrorCode::changedByWrite,
                           "writing changed the document, and it could not be put back: it was read again from its "
                           "bytes and what it held before the write");
        throw PdfError(PdfErrorCode::writeUnrestored,
                       "writing changed the document, and it could be neither put back nor read again");
    }

private:
    static void keepC(fz_context* ctx, pdf_document* doc, KeptEntry* kept, int count, pdf_obj** trailer, FzError* err)
    {
        fz_try(ctx) {
            keepEntriesC(ctx, doc, kept, count);
            *trailer = pdf_deep_copy_obj(ctx, pdf_trailer(ctx, doc));
        }
        fz_catch(ctx) captureError(ctx, err);
    }

    // The seam's change: one MuPDF's writer might make.
    static void changeForTestC(fz_context* ctx, pdf_document* doc)
    {
        fz_try(ctx)
            pdf_dict_puts_drop(ctx, pdf_dict_get(ctx, pdf_trailer(ctx, doc), PDF_NAME(Root)), "ChangedByWrite",
                               pdf_new_int(ctx, 1));
        fz_catch(ctx) {}
    }

    // Puts a document read again from the bytes `d` was read from and the
    // entries kept (restoreIntoC) in place of the one the write changed;
    // false where it cannot be, and no later write continues from that one.
    bool rebuild(PdfDocument::Impl& d) const noexcept
    {
        d.changedByWrite = true;
        if (WriteGuardSeams& seams = writeGuardSeams(); seams.failingRebuilds > 0 && seams.failingRebuilds-- > 0)
            return false;
        fz_context* ctx = pdfContext();
        pdf_document* fresh = nullptr;
        // Nothing else holds it: dropped at once, never through the retired list.
        const auto drop = [ctx](pdf_document* doc) {
            fz_try(ctx) pdf_drop_document(ctx, doc);
            fz_catch(ctx) {}
            return false;
        };
        try {
            FzError err;
            if (d.source) fresh = openFromBuffer(ctx, d.source, &err);
            else if (d.watch) fresh = openWatchedC(ctx, d.watch, &err);
            else fresh = createBlankC(ctx, 0, 0, 0, &err);
            if (!fresh || (d.passwordProtected && !authenticateC(ctx, fresh, d.password.c_str()))) return drop(fresh);
            restoreIntoC(ctx, fresh, entries_.data(), int(entries_.size()), trailer_, &err);
            if (err.code || documentState(fresh, true) != state_) return drop(fresh);
        } catch (const std::exception&) {
            return drop(fresh);
        }
        // What leads to pages out of the tree goes into the document read.
        moveHeldReferences(d, fresh);
        pdf_document* changed = std::exchange(d.doc, fresh);
        d.changedByWrite = false;
        d.rebuiltAfterWrite = true;
        d.repairedAtOpen = true; // one table, as a repair leaves it: saved anew only
        d.repairLostNothing = false;
        try {
            pageTreeChanged(d);
            retireDocument(changed);
        } catch (const std::exception&) {
            // Out of memory: the changed document stays unreleased.
        }
        return true;
    }

    DocumentState state_;
    std::vector<KeptEntry> entries_;
    pdf_obj* trailer_ = nullptr;
};

// Writes the document into `file`, or into `bytes` without one (see
// writeDocumentC), and reads what it wrote back (readBackWritten), the
// document left as it was (KeptDocument). A failed write that the disk did
// not cause is tried once more without compressing streams: some damaged
// streams cannot be compressed again but can be copied.
void writeDocument(PdfDocument::Impl& d, pdf_write_options opts, ByteSink* bytes, FileSink* file,
                   const PdfSaveOptions& options)
{
    fz_context* ctx = pdfContext();
    FzError err;
    // What a whole file leaves out is no object it meant to write.
    const bool leavesOut = opts.do_garbage && !opts.do_incremental;
    std::vector<unsigned char> leftOut(leavesOut ? std::size_t(std::max(0, xrefLengthC(ctx, d.doc))) : 0);
    const int leftOutLength = int(leftOut.size());
    WrittenTrailer trailer;
    const KeptDocument kept(d);
    bool written = writeDocumentC(ctx, d.doc, &opts, bytes, file, leftOut.data(), leftOutLength, &trailer, &err);
    kept.checkUnchanged(d);
    FzError retryErr;
    if (!written && !opts.do_incremental && !(file && file->systemError)) {
        opts.do_compress = opts.do_compress_images = opts.do_compress_fonts = 0;
        if (file) {
            if (::ftruncate(file->fd, 0) != 0)
                throw PdfError(PdfErrorCode::io, std::string("cannot write the file: ") + std::strerror(errno), errno);
            file->position = 0;
        } else {
            bytes->bytes->clear();
            bytes->failed = 0;
        }
        std::fill(leftOut.begin(), leftOut.end(), 0);
        written = writeDocumentC(ctx, d.doc, &opts, bytes, file, leftOut.data(), leftOutLength, &trailer, &retryErr);
        kept.checkUnchanged(d);
    }
    // A long document lets go again of what the state read.
    releaseUnusedObjects(d);
    if (written) return readBackWritten(d, opts, bytes, file, options, std::move(leftOut), trailer);
    if (file && file->systemError)
        throw PdfError(PdfErrorCode::io, std::string("cannot write the file: ") + std::strerror(file->systemError),
                       file->systemError);
    // Out of memory, the engine could not write the document: no damage of
    // its. zlib fails only so where MuPDF compresses a stream.
    const auto starved = [](const FzError& e) {
        return e.code == FZ_ERROR_MEMORY || std::strstr(e.message, "cannot deflate");
    };
    if (starved(err) || starved(retryErr) || (bytes && bytes->failed))
        throw PdfError(PdfErrorCode::io, "not enough memory to write the document", ENOMEM);
    throwIfFailed(err, PdfErrorCode::general);
}

QByteArray serialize(PdfDocument::Impl& d, const PdfSaveOptions& options, bool forFile, bool intoMemory,
                     bool* incremental, bool updateAsked = false);

// The bytes of `d` written with `options` where its form's fields are to be
// drawn for other readers: drawn in a copy of the document, which is
// written as it is first. What is handed on is read back, against the copy
// (and the bytes `d` was read from, whose damage the copy carries along);
// the copy itself must keep the document's encryption, or what is read
// back would be judged as a file written without it.
QByteArray drawnInCopy(PdfDocument::Impl& d, const PdfSaveOptions& options)
{
    QByteArray plain;
    ByteSink sink{&plain, 0};
    PdfSaveOptions asItIs;
    asItIs.compress = false;
    asItIs.garbageCollect = true; // a broken object nothing refers to would stop the write
    asItIs.readBack = false;      // what is handed on is read back
    writeDocument(d, writeOptions(asItIs), &sink, nullptr, asItIs);
    const std::shared_ptr<PdfDocument> copy = PdfDocument::openBytes(plain);
    if (d.passwordProtected && !copy->unlock(d.password))
        throw PdfError(PdfErrorCode::unopenableCopy, "the copy does not open with the document's password");
    std::lock_guard lock(copy->impl().mutex);
    // Written without its encryption dictionary, the file's encrypted bytes
    // read as noise to every reader, though it "opens" with none.
    if (d.doc->crypt && !copy->impl().doc->crypt)
        throw PdfError(PdfErrorCode::unopenableCopy, "the copy is not encrypted as the document is");
    copy->impl().writtenFromDocument = true;
    inheritOrigins(copy->impl(), d);
    // Under the numbers it keeps, a page taken out is none of the copy's own.
    copy->impl().pagesOut = d.pagesOut;
    bool incremental = false;
    return serialize(copy->impl(), options, false, false, &incremental);
}

// The document's bytes, made under its lock (see prepareSave).
QByteArray serialize(PdfDocument::Impl& d, const PdfSaveOptions& options, bool forFile, bool intoMemory,
                     bool* incremental, bool updateAsked)
{
    return readingSource(d, [&] {
        const pdf_write_options opts = prepareSave(d, options, forFile, intoMemory, incremental, updateAsked);
        // Written anew, the file does not read as the document: an update
        // of the file's own bytes may.
        const auto orUpdate = [&](auto&& write) -> QByteArray {
            try {
                return write();
            } catch (const PdfError& error) {
                // Not where the update would keep a page the user took out, unasked.
                if (*incremental || updateAsked || !forFile || !refusedOnReadBack(error) || !canUpdateFile(d, options)
                    || removedPagesInFile(d))
                    throw;
            }
            return serialize(d, options, forFile, intoMemory, incremental, true);
        };
        if (intoMemory && !*incremental && appearancesToDraw(d))
            return orUpdate([&] { return drawnInCopy(d, options); });
        QByteArray bytes;
        if (*incremental) {
            const FileDescriptor scratch(openPrivateScratchFile());
            if (scratch.fd < 0)
                throw PdfError(PdfErrorCode::io, std::string("cannot make a scratch file: ") + std::strerror(errno),
                               errno);
            FileSink sink{scratch.fd};
            writeDocument(d, opts, nullptr, &sink, options);
            struct stat info = {};
            ::fstat(scratch.fd, &info);
            bytes.resize(qsizetype(info.st_size));
            if (::pread(scratch.fd, bytes.data(), size_t(bytes.size()), 0) != ssize_t(bytes.size())) bytes.clear();
            if (bytes.isEmpty()) throw PdfError(PdfErrorCode::io, "cannot read the update back");
            return bytes;
        }
        ByteSink sink{&bytes, 0};
        return orUpdate([&] {
            writeDocument(d, opts, &sink, nullptr, options);
            if (bytes.isEmpty()) throw PdfError(PdfErrorCode::general, "the document produced no data");
            return bytes;
        });
    });
}

// After an incremental update the document is read again from what was
// written: MuPDF cannot chain a second update onto the same handle.
void adoptWritten(PdfDocument::Impl& d, pdf_document* fresh)
{
    // What was written keeps the encryption: it opens with the same password.
    if (d.passwordProtected) authenticateC(pdfContext(), fresh, d.password.c_str());
    // What leads to pages out of the tree goes back into the document read.
    moveHeldReferences(d, fresh);
    retireDocument(std::exchange(d.doc, fresh));
    pageTreeChanged(d);
    d.repairedAtOpen = wasRepairedC(pdfContext(), fresh) != 0;
    if (d.repairedAtOpen) freeFirstEntryC(pdfContext(), fresh);
    d.repairLostNothing = false;
    d.pageTree = PdfDocument::Impl::PageTree::asFiled;
    d.readAsOthers = false;
    // Read as a file just opened: its objects before the next edit.
    restartSettling(d);
}

} // namespace

QByteArray PdfDocument::save(const PdfSaveOptions& options) const
{
    return asPdfError([&] {
        std::lock_guard lock(d->mutex);
        bool incremental = false;
        return serialize(*d, options, true, true, &incremental);
    });
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> PdfDocument::ownFile() const
{
    std::lock_guard lock(d->mutex);
    return d->ownFile;
}

namespace {

void saveFile(const PdfDocument& document, const ChosenFile& chosen, const PdfSaveOptions& options)
{
    PdfDocument::Impl* const d = &document.impl();
    // Walked once, by the question: what is checked, written and read back
    // is what that walk reached.
    ChosenFile file = chosen;
    struct stat target = {};
    bool incremental = false;
    bool targetIsSource = false, targetExists = false;
    // The document's own file, about to be replaced, judged from its bytes:
    // one that holds a signature starts the new file (keepsSignedBytes).
    // Another file the user chose to write over is theirs to replace.
    std::optional<SignedBytes> signedTarget;
    if (const FileDescriptor replaced(file.openForReading()); replaced.fd >= 0) {
        struct stat seen = {};
        bool own = false;
        if (::fstat(replaced.fd, &seen) == 0) {
            const std::pair<std::uint64_t, std::uint64_t> identity(seen.st_dev, seen.st_ino);
            std::lock_guard lock(d->mutex);
            own = d->ownFile == identity || (d->fileInode != 0 && identity == std::pair(d->fileDevice, d->fileInode));
        }
        if (own) signedTarget = signedBytesOf(replaced.fd);
    }
    {
        std::lock_guard lock(d->mutex);
        targetExists = file.lookAt(&target);
        targetIsSource =
            targetExists && d->fileInode != 0 && target.st_dev == d->fileDevice && target.st_ino == d->fileInode;
        // The settling read of the whole file may be what finds the damage.
        readingSource(*d, [&] { settleBeforeEditing(*d); });
        throwIfSourceChanged(*d);
        // What no file takes is refused before what only this file may not
        // take: offered Save As, the user would be refused again. A PDF
        // without pages is opened by few readers (poppler refuses it): none
        // is written. One read with no pages because its page objects are
        // damaged past finding would also lose what other readers may still
        // find in the file as it is.
        FzError err;
        if (countPagesC(pdfContext(), d->doc, &err) == 0 && !d->locked) {
            if (d->pageTree == PdfDocument::Impl::PageTree::asFiled && !err.code)
                throw PdfError(PdfErrorCode::noPages, "the document has no pages");
            throw PdfError(PdfErrorCode::unreadablePages, "no page of the document can be read");
        }
        if (!d->locked) checkPagesReadable(*d);
        if (d->changedByWrite)
            throw PdfError(PdfErrorCode::writeUnrestored,
                           "an earlier write changed the document, and it could be neither put back nor read again");
        // Names the engine cuts are kept only by an update of the file's bytes.
        const bool byUpdate = keepsFileByUpdate(*d, options);
        if (d->namesCut && !byUpdate)
            throw PdfError(PdfErrorCode::namesTooLong,
                           "the file uses names longer than " + std::to_string(engineNameLimit) + " bytes");
        // What may show less than the file it was read from never goes over
        // that file, and goes to another once the user accepted it.
        if (targetIsSource || !options.lossAccepted) {
            if (const std::optional<PdfError> loss = lossWhenWritten(*d, byUpdate)) {
                if (targetIsSource) throw *loss;
                throw PdfError(PdfErrorCode::lossyCopy, "the copy may show less than the file it comes from");
            }
        }
        // A signed file is never written anew over itself: its signature
        // would no longer verify. Another file may take the document.
        if ((targetIsSource || signedTarget) && rewritesSignedFile(*d, options, signedTarget.has_value()))
            throw PdfError(PdfErrorCode::signedRewrite,
                           "the file is signed, and its changes cannot be written as an update after its signed bytes");
    }
    // MuPDF writes into the new file as it makes the bytes, under the
    // document's lock; the sync and the rename run without it, so pages
    // keep rendering while the disk catches up.
    // A new file the user accepted unread (the read-back could not decide) replaces none.
    PdfSaveOptions writing = options;
    writing.unverifiedAccepted = options.unverifiedAccepted && !targetExists;
    // Nor one put at the name while it is written.
    if (writing.unverifiedAccepted) file.expectNothing();
    const auto write = [&](int fd) {
        std::unique_lock lock(d->mutex);
        readingSource(*d, [&] {
            for (bool updateAsked = false;; updateAsked = true) {
                const pdf_write_options opts =
                    prepareSave(*d, options, true, false, &incremental, updateAsked, signedTarget.has_value());
                FileSink sink{fd};
                try {
                    writeDocument(*d, opts, nullptr, &sink, writing);
                    break;
                } catch (const PdfError& error) {
                    // Written anew, the file does not read as the document:
                    // an update of the file's own bytes may.
                    // Not where the update would keep a page the user took out, unasked.
                    if (incremental || updateAsked || !refusedOnReadBack(error) || !canUpdateFile(*d, options)
                        || removedPagesInFile(*d))
                        throw;
                }
                if (::ftruncate(fd, 0) != 0)
                    throw PdfError(PdfErrorCode::io, std::string("cannot write the file: ") + std::strerror(errno),
                                   errno);
            }
            struct stat written = {};
            if (::fstat(fd, &written) == 0 && written.st_size == 0)
                throw PdfError(PdfErrorCode::general, "the document produced no data");
        });
        lock.unlock();
        // Checked where it lands: the signed bytes start the new file.
        if (signedTarget && !startsWith(fd, *signedTarget))
            throw PdfError(PdfErrorCode::signedRewrite,
                           "the file is signed, and what was written does not start with its signed bytes");
    };
    const FileIdentity savedTo = replaceFileContents(file, write, [&](const std::string& copy) {
        // Written in place, the file the document reads would change under it:
        // it reads the copy of the old bytes from now on.
        if (!targetIsSource) return;
        std::lock_guard lock(d->mutex);
        d->fileDevice = d->fileInode = 0;
        if (!d->watch) return; // it holds its bytes itself
        std::shared_ptr<WatchedFile> original = WatchedFile::open(copy);
        if (!original)
            throw PdfError(PdfErrorCode::io, std::string("cannot read the copy: ") + std::strerror(errno), errno);
        FzError err;
        replaceSourceC(pdfContext(), d->doc, original, &err);
        throwIfFailed(err, PdfErrorCode::io);
        d->watch = std::move(original);
    });
    if (incremental) {
        std::lock_guard lock(d->mutex);
        const int written = file.openForReading();
        adoptWritten(*d, openSource(*d, written < 0 ? nullptr : WatchedFile::adopt(written)));
        holdWhole(*d); // on the saving worker: the window never waits for it
    }
    std::lock_guard lock(d->mutex);
    d->ownFile.emplace(savedTo.device, savedTo.inode);
}

} // namespace

void PdfDocument::saveToFile(const ChosenFile& chosen, const PdfSaveOptions& options) const
{
    // Every failure leaves as the platform's error, memory too.
    asPdfError([&] { saveFile(*this, chosen, options); });
}

bool PdfDocument::copyShowsLess() const
{
    std::lock_guard lock(d->mutex);
    if (d->locked) return false;
    readingSource(*d, [&] { settleBeforeEditing(*d); });
    return lossWhenWritten(*d, keepsFileByUpdate(*d, {})).has_value();
}

bool PdfDocument::updateKeepsRemovedPages() const
{
    std::lock_guard lock(d->mutex);
    // Pages out of the tree come from an edit, which read the file whole
    // and learnt whether it is signed before (removePages): asked on the
    // window's thread, nothing here walks the pages.
    if (d->locked || d->pagesOut.empty()) return false;
    return removedPagesInFile(*d) && savesByUpdate(*d, {});
}

bool PdfDocument::newCopyShowsLess() const
{
    std::lock_guard lock(d->mutex);
    if (d->locked) return false;
    return readingSource(*d, [&] {
        settleBeforeEditing(*d);
        return lossWhenWritten(*d, false).has_value() || usesStreamsCutShort(*d);
    });
}

bool PdfDocument::sourceChanged() const
{
    std::lock_guard lock(d->mutex);
    return d->watch && !d->watch->unchanged(true);
}

bool PdfDocument::isSigned() const
{
    std::lock_guard lock(d->mutex);
    return signedDocument(*d);
}

QByteArray PdfDocument::readingCopy() const
{
    return asPdfError([&] {
        std::lock_guard lock(d->mutex);
        bool incremental = false;
        PdfSaveOptions options;
        options.encryption = PdfSaveOptions::Encryption::none;
        options.compress = false;
        options.garbageCollect = true;
        // A copy to read on another thread is no written file: its writes are.
        options.readBack = false;
        return serialize(*d, options, false, true, &incremental);
    });
}

std::shared_ptr<PdfDocument> PdfDocument::copy() const
{
    std::shared_ptr<PdfDocument> copied = openBytes(readingCopy());
    std::scoped_lock lock(d->mutex, copied->d->mutex);
    copied->d->writtenFromDocument = true;
    inheritOrigins(*copied->d, *d);
    return copied;
}

WriteGuardSeams& writeGuardSeams()
{
    static WriteGuardSeams seams;
    return seams;
}

std::uint64_t documentDigest(const PdfDocument& doc)
{
    PdfDocument::Impl& d = doc.impl();
    std::lock_guard lock(d.mutex);
    if (d.locked) return 0;
    readingSource(d, [&] { settleBeforeEditing(d); });
    const DocumentState state = documentState(d, false);
    releaseUnusedObjects(d);
    objectdigest::Items items;
    for (const std::uint64_t object : state.objects) items.add(object);
    items.add(state.trailer);
    return items.done();
}

} // namespace platform
