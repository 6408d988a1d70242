// What a write of the document meant to write, as the engine holds it: the
// one side of the read-back that reads MuPDF's objects (PdfReadBack.h).
#include "Platform/PdfInternal.h"
#include "Platform/PdfReadBack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace platform {
namespace {

namespace digest = objectdigest;

// MuPDF keeps a name of at most this many bytes (see PdfDocument.cpp): one
// as long may have been cut, and what it names is not known.
constexpr std::size_t engineNameLimit = 127;

digest::Digest nameDigest(const char* name, int* undecidable)
{
    const std::size_t length = std::strlen(name);
    if (length >= engineNameLimit) *undecidable = 1;
    return digest::ofName(std::string_view(name, length));
}

// Sums up `obj` as PdfObjectDigest.h says; references are not followed.
// `whole` counts what a writer sets anew too (a stream's storage keys, the
// catalog's /Extensions). Throws (MuPDF).
digest::Digest digestC(fz_context* ctx, pdf_obj* obj, int depth, int stream, int* undecidable, bool whole = false)
{
    if (depth > digest::depthLimit) return digest::ofDeep();
    if (depth > 0 && pdf_is_indirect(ctx, obj)) return digest::ofReference(pdf_to_num(ctx, obj), pdf_to_gen(ctx, obj));
    if (pdf_is_bool(ctx, obj)) return digest::ofBoolean(pdf_to_bool(ctx, obj));
    if (pdf_is_int(ctx, obj)) return digest::ofInteger(pdf_to_int64(ctx, obj));
    if (pdf_is_real(ctx, obj)) return digest::ofReal(pdf_to_real(ctx, obj));
    if (pdf_is_name(ctx, obj)) return nameDigest(pdf_to_name(ctx, obj), undecidable);
    if (pdf_is_string(ctx, obj))
        return digest::ofString(std::string_view(pdf_to_str_buf(ctx, obj), pdf_to_str_len(ctx, obj)));
    if (pdf_is_array(ctx, obj)) {
        digest::Items items;
        const int n = pdf_array_len(ctx, obj);
        for (int i = 0; i < n; ++i)
            items.add(digestC(ctx, pdf_array_get(ctx, obj, i), depth + 1, 0, undecidable, whole));
        return items.done();
    }
    if (pdf_is_dict(ctx, obj)) {
        digest::Entries entries;
        const int n = pdf_dict_len(ctx, obj);
        const bool catalog = depth == 0 && pdf_name_eq(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Type)), PDF_NAME(Catalog));
        for (int i = 0; i < n; ++i) {
            const char* key = pdf_to_name(ctx, pdf_dict_get_key(ctx, obj, i));
            pdf_obj* value = pdf_dict_get_val(ctx, obj, i);
            if (!whole && stream && digest::isStorageKey(key)) continue;
            if (!whole && catalog && digest::isWritersCatalogKey(key)) continue;
            if (!pdf_is_indirect(ctx, value) && pdf_is_null(ctx, value)) continue;
            nameDigest(key, undecidable);
            entries.add(key, digestC(ctx, value, depth + 1, 0, undecidable, whole));
        }
        const digest::Digest dictionary = entries.done();
        return stream ? digest::ofStream(dictionary) : dictionary;
    }
    return digest::ofNull();
}

// The digest of object `num` as the document holds it, or 0 in `*held`
// for a number under which it holds none. An object MuPDF cannot load is
// written as null.
digest::Digest heldDigestC(fz_context* ctx, pdf_document* doc, int num, int* held, int* undecidable, FzError* err)
{
    pdf_obj* obj = nullptr;
    digest::Digest result = 0;
    *held = 0;
    fz_var(obj);
    fz_var(result);
    fz_try(ctx) {
        if (num > 0 && num < pdf_xref_len(ctx, doc)) {
            pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            *held = entry && (entry->type == 'n' || entry->type == 'o');
        }
        if (*held) {
            fz_try(ctx) obj = pdf_load_object(ctx, doc, num);
            fz_catch(ctx) {
                if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx); // no reading of the object
                obj = nullptr;
            }
            result = obj ? digestC(ctx, obj, 0, pdf_obj_num_is_stream(ctx, doc, num), undecidable) : digest::ofNull();
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) captureError(ctx, err);
    return result;
}

// How stream `obj` stores its data: objectdigest::ofStorage of its
// /Filter and /DecodeParms. Throws (MuPDF).
digest::Digest storageC(fz_context* ctx, pdf_obj* obj, int* undecidable)
{
    const auto valueOf = [&](pdf_obj* key) -> digest::Digest {
        pdf_obj* value = pdf_dict_get(ctx, obj, key);
        if (pdf_is_array(ctx, value) && digest::isLoneItem(pdf_array_len(ctx, value)))
            value = pdf_array_get(ctx, value, 0);
        return !pdf_is_indirect(ctx, value) && pdf_is_null(ctx, value) ? 0 : digestC(ctx, value, 1, 0, undecidable);
    };
    return digest::ofStorage(valueOf(PDF_NAME(Filter)), valueOf(PDF_NAME(DecodeParms)));
}

// Where object `num`'s stream data lies in the file the document was read
// from, when the document holds no data of its own for it (the writer then
// copies that data unchanged), and how it is stored. 0 for none.
int storedDataC(fz_context* ctx, pdf_document* doc, int num, std::int64_t* offset, std::int64_t* length,
                digest::Digest* storage, FzError* err)
{
    pdf_obj* obj = nullptr;
    int stored = 0;
    fz_var(obj);
    fz_var(stored);
    fz_try(ctx) {
        pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        if (entry && entry->type == 'n' && !entry->stm_buf && entry->stm_ofs > 0
            && pdf_obj_num_is_stream(ctx, doc, num)) {
            obj = pdf_load_object(ctx, doc, num);
            *offset = entry->stm_ofs;
            *length = pdf_dict_get_int(ctx, obj, PDF_NAME(Length));
            int cut = 0;
            *storage = storageC(ctx, obj, &cut);
            stored = *length >= 0;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) {
        captureError(ctx, err);
        stored = 0;
    }
    return stored;
}

// The digest of stream `num`'s data as the document holds it, `decoded`
// by its filters or as stored, in rows of `rowBits` where not 0
// (objectdigest::Data); 0 in `*read` where it cannot be read.
digest::Digest heldDataC(fz_context* ctx, pdf_document* doc, int num, int decoded, std::uint64_t rowBits, int* read)
{
    fz_stream* stm = nullptr;
    digest::Data data{rowBits};
    *read = 0;
    fz_var(stm);
    fz_try(ctx) {
        // Data the engine holds in memory is held as stored; MuPDF's raw
        // reader reads only what lies in the file.
        const pdf_xref_entry* entry = decoded ? nullptr : pdf_cache_object(ctx, doc, num);
        stm = decoded                   ? pdf_open_stream_number(ctx, doc, num)
              : entry && entry->stm_buf ? fz_open_buffer(ctx, entry->stm_buf)
                                        : pdf_open_raw_stream_number(ctx, doc, num);
        for (;;) {
            const size_t n = fz_available(ctx, stm, 1 << 16);
            if (n == 0) break;
            data.add(stm->rp, n);
            stm->rp += n;
        }
        *read = 1;
    }
    fz_always(ctx) fz_drop_stream(ctx, stm);
    fz_catch(ctx) *read = 0;
    return data.done();
}

// How stream `num` stores its data as the engine holds it: its /Filter and
// /DecodeParms (objectdigest::ofStorage); 0 in `*read` where it cannot tell.
digest::Digest heldStorageC(fz_context* ctx, pdf_document* doc, int num, int* read)
{
    pdf_obj* obj = nullptr;
    digest::Digest storage = 0;
    *read = 0;
    fz_var(obj);
    fz_var(storage);
    fz_try(ctx) {
        if (num > 0 && num < pdf_xref_len(ctx, doc) && pdf_obj_num_is_stream(ctx, doc, num)) {
            obj = pdf_load_object(ctx, doc, num);
            int cut = 0;
            storage = storageC(ctx, obj, &cut);
            *read = cut == 0;
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) *read = 0;
    return storage;
}

// Stream `num`'s stored data with the /ASCIIHexDecode at the head of its
// filter list taken off, and how it is stored then, as MuPDF's writer takes
// it off (PdfWriteIntent::unhexed), summed up into `*storage` and `*data`;
// 0 where its filters do not start so, or its data does not read. The list
// left, and its decode parameters', count as ofStorage counts them.
int unhexedC(fz_context* ctx, pdf_document* doc, int num, digest::Digest* storage, digest::Digest* data)
{
    pdf_obj* obj = nullptr;
    pdf_obj* lists[2] = {};
    fz_stream* raw = nullptr;
    fz_stream* stm = nullptr;
    int found = 0;
    fz_var(obj);
    fz_var(raw);
    fz_var(stm);
    fz_var(found);
    fz_try(ctx) {
        if (num > 0 && num < pdf_xref_len(ctx, doc) && pdf_obj_num_is_stream(ctx, doc, num)) {
            obj = pdf_load_object(ctx, doc, num);
            pdf_obj* filters = pdf_dict_get(ctx, obj, PDF_NAME(Filter));
            found = pdf_is_array(ctx, filters)
                    && pdf_name_eq(ctx, pdf_array_get(ctx, filters, 0), PDF_NAME(ASCIIHexDecode));
        }
        if (found) {
            digest::Digest values[2] = {};
            int cut = 0;
            for (int i = 0; i < 2; ++i) {
                pdf_obj* list = pdf_dict_get(ctx, obj, i == 0 ? PDF_NAME(Filter) : PDF_NAME(DecodeParms));
                if (!pdf_is_array(ctx, list)) {
                    values[i] = list && !pdf_is_null(ctx, list) ? digestC(ctx, list, 1, 0, &cut) : 0;
                    continue;
                }
                lists[i] = pdf_new_array(ctx, doc, pdf_array_len(ctx, list));
                for (int k = 1, n = pdf_array_len(ctx, list); k < n; ++k)
                    pdf_array_push(ctx, lists[i], pdf_array_get(ctx, list, k));
                pdf_obj* value = lists[i];
                if (digest::isLoneItem(pdf_array_len(ctx, value))) value = pdf_array_get(ctx, value, 0);
                values[i] =
                    pdf_array_len(ctx, lists[i]) == 0 || pdf_is_null(ctx, value) ? 0 : digestC(ctx, value, 1, 0, &cut);
            }
            *storage = digest::ofStorage(values[0], values[1]);
            const pdf_xref_entry* entry = pdf_cache_object(ctx, doc, num);
            raw = entry->stm_buf ? fz_open_buffer(ctx, entry->stm_buf) : pdf_open_raw_stream_number(ctx, doc, num);
            stm = fz_open_ahxd(ctx, raw);
            digest::Data bytes;
            for (;;) {
                const size_t n = fz_available(ctx, stm, 1 << 16);
                if (n == 0) break;
                bytes.add(stm->rp, n);
                stm->rp += n;
            }
            *data = bytes.done();
        }
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, stm);
        fz_drop_stream(ctx, raw);
        for (pdf_obj* list : lists) pdf_drop_obj(ctx, list);
        pdf_drop_obj(ctx, obj);
    }
    fz_catch(ctx) found = 0;
    return found;
}

// Whether object `num` is one a change made or changed since the file was
// read: one of the document's update section, which the engine writes as it
// holds it.
int changedC(fz_context* ctx, pdf_document* doc, int num)
{
    int changed = 0;
    fz_var(changed);
    fz_try(ctx) {
        if (doc->num_incremental_sections > 0 && pdf_xref_is_incremental(ctx, doc, num)) {
            const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            changed = entry && (entry->type == 'n' || entry->type == 'o');
        }
    }
    fz_catch(ctx) changed = 0;
    return changed;
}

// markReachedC, its failure captured in `err`.
void reachedC(fz_context* ctx, pdf_document* doc, int keepsEncryption, unsigned char* reached, FzError* err)
{
    fz_try(ctx) markReachedC(ctx, doc, keepsEncryption, reached);
    fz_catch(ctx) captureError(ctx, err);
}

int holdsC(fz_context* ctx, pdf_document* doc, int num, int gen)
{
    int holds = 0;
    fz_var(holds);
    fz_try(ctx) {
        if (num > 0 && num < pdf_xref_len(ctx, doc)) {
            pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
            holds = entry && ((entry->type == 'n' && entry->gen == gen) || (entry->type == 'o' && gen == 0));
        }
    }
    fz_catch(ctx) holds = 0;
    return holds;
}

// The state of object `num` (DocumentState): its kind of entry and
// generation, its whole value and the bytes its stream stores, or, unless
// `asStored`, its value but for how its stream is stored and the data
// decoded; 0 for a number under which the document holds none, and for the
// tables and object streams a file is written in, which hold none of it.
// Throws (MuPDF).
digest::Digest objectStateC(fz_context* ctx, pdf_document* doc, int num, int asStored)
{
    const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
    if (!entry || (entry->type != 'n' && entry->type != 'o')) return 0;
    digest::Items items;
    // Readers take an object of an object stream for one of generation 0,
    // wherever it is written; MuPDF notes its place in the stream there.
    if (asStored) items.add(digest::ofInteger(entry->type));
    items.add(digest::ofInteger(asStored || entry->type == 'n' ? entry->gen : 0));
    // One not read yet is as the file holds it, which no write changes.
    if (asStored && !entry->obj && !entry->stm_buf) {
        items.add(digest::ofInteger(entry->ofs));
        return items.done();
    }
    pdf_obj* obj = nullptr;
    int structural = 0;
    fz_var(obj);
    fz_var(items);
    fz_var(structural);
    fz_try(ctx) obj = pdf_load_object(ctx, doc, num);
    fz_catch(ctx) {
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
        obj = nullptr; // one MuPDF cannot read counts alike while it stays so
    }
    fz_try(ctx) {
        int cut = 0;
        const int stream = obj && pdf_obj_num_is_stream(ctx, doc, num);
        pdf_obj* type = stream ? pdf_dict_get(ctx, obj, PDF_NAME(Type)) : nullptr;
        structural = pdf_name_eq(ctx, type, PDF_NAME(XRef)) || pdf_name_eq(ctx, type, PDF_NAME(ObjStm));
        items.add(obj ? digestC(ctx, obj, 0, stream, &cut, asStored) : digest::ofString("unreadable"));
        const pdf_xref_entry* held = stream && !structural ? pdf_get_xref_entry(ctx, doc, num) : nullptr;
        if (held && asStored && !held->stm_buf) {
            // Bytes of the file, which no write changes: where they lie.
            items.add(digest::ofInteger(held->stm_ofs));
        } else if (held) {
            int read = 0;
            const digest::Digest data = heldDataC(ctx, doc, num, !asStored, 0, &read);
            items.add(read ? data : digest::ofString("unreadable data"));
        }
    }
    fz_always(ctx) pdf_drop_obj(ctx, obj);
    fz_catch(ctx) fz_rethrow(ctx);
    return structural ? 0 : items.done();
}

// The trailer's entries that name the document (DocumentState). Throws (MuPDF).
digest::Digest trailerStateC(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* trailer = pdf_trailer(ctx, doc);
    digest::Entries entries;
    int cut = 0;
    for (pdf_obj* key : {PDF_NAME(Root), PDF_NAME(Info), PDF_NAME(Encrypt)})
        if (pdf_obj* value = pdf_dict_get(ctx, trailer, key))
            entries.add(pdf_to_name(ctx, key), digestC(ctx, value, 1, 0, &cut, true));
    pdf_obj* id = pdf_dict_get(ctx, trailer, PDF_NAME(ID));
    if (pdf_array_len(ctx, id) > 0) entries.add("ID", digestC(ctx, pdf_array_get(ctx, id, 0), 1, 0, &cut, true));
    return entries.done();
}

// Whether `obj` is a page object: a dictionary of /Type /Page that no
// /Kids make a node of a page tree, as the read-back takes one.
int isPageObjectC(fz_context* ctx, pdf_obj* obj)
{
    return pdf_is_dict(ctx, obj) && pdf_name_eq(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Type)), PDF_NAME(Page))
           && !pdf_dict_get(ctx, obj, PDF_NAME(Kids));
}

// A walk summing up what a page object outside the tree is (strayPageIdentityC).
struct IdentityWalk {
    pdf_document* doc = nullptr;
    std::vector<int> path; // the objects being summed up, the outermost first
    int budget = 4096;     // objects followed at most: past them, each counts alike
};

// `obj` summed up as digestC sums it up, but a reference by what it leads
// to: a road back by how far back it leads, another page as a page alone;
// where a page sits in a tree (/Parent) counts for nothing, a stream's data
// decoded does. Throws (MuPDF).
digest::Digest identityC(fz_context* ctx, IdentityWalk& w, pdf_obj* obj, int depth, int stream)
{
    if (depth > digest::depthLimit) return digest::ofDeep();
    if (pdf_is_indirect(ctx, obj)) {
        const int num = pdf_to_num(ctx, obj);
        const auto back = std::find(w.path.begin(), w.path.end(), num);
        if (back != w.path.end()) return digest::ofReference(int(w.path.end() - back), 0);
        if (w.budget-- <= 0) return digest::ofDeep();
        pdf_obj* value = pdf_resolve_indirect(ctx, obj);
        if (!w.path.empty() && isPageObjectC(ctx, value)) return digest::ofName("Page");
        const int isStream = pdf_obj_num_is_stream(ctx, w.doc, num);
        w.path.push_back(num);
        digest::Items items;
        items.add(identityC(ctx, w, value, depth + 1, isStream));
        if (isStream) {
            int read = 0;
            const digest::Digest data = heldDataC(ctx, w.doc, num, 1, 0, &read);
            items.add(read ? data : digest::ofString("unreadable data"));
        }
        w.path.pop_back();
        return items.done();
    }
    if (pdf_is_array(ctx, obj)) {
        digest::Items items;
        for (int i = 0, n = pdf_array_len(ctx, obj); i < n; ++i)
            items.add(identityC(ctx, w, pdf_array_get(ctx, obj, i), depth + 1, 0));
        return items.done();
    }
    if (pdf_is_dict(ctx, obj)) {
        digest::Entries entries;
        for (int i = 0, n = pdf_dict_len(ctx, obj); i < n; ++i) {
            const char* key = pdf_to_name(ctx, pdf_dict_get_key(ctx, obj, i));
            pdf_obj* value = pdf_dict_get_val(ctx, obj, i);
            if ((stream && digest::isStorageKey(key)) || std::strcmp(key, "Parent") == 0) continue;
            if (!pdf_is_indirect(ctx, value) && pdf_is_null(ctx, value)) continue;
            entries.add(key, identityC(ctx, w, value, depth + 1, 0));
        }
        return entries.done();
    }
    int cut = 0;
    return digestC(ctx, obj, depth, 0, &cut);
}

// What page object `num` outside the tree is, whatever number a copy holds
// it and what it leads to under (Impl::strayPagesCarried); 0 in `*read`
// where it cannot be read, and `err` set where memory ran short.
digest::Digest strayPageIdentityC(fz_context* ctx, pdf_document* doc, int num, IdentityWalk* w, int* read, FzError* err)
{
    pdf_obj* ref = nullptr;
    digest::Digest identity = 0;
    *read = 0;
    fz_var(ref);
    fz_var(identity);
    fz_try(ctx) {
        ref = pdf_new_indirect(ctx, doc, num, 0);
        identity = identityC(ctx, *w, ref, 0, 0);
        *read = 1;
    }
    fz_always(ctx) pdf_drop_obj(ctx, ref);
    fz_catch(ctx) {
        if (fz_caught(ctx) == FZ_ERROR_MEMORY) captureError(ctx, err);
    }
    return identity;
}

// Whether object `num` of `doc` is a page object, read as the file holds
// it; one read for this alone is let go of again where `release`.
int pageObjectC(fz_context* ctx, pdf_document* doc, int num, int release, FzError* err)
{
    pdf_obj* obj = nullptr;
    int page = 0;
    fz_var(obj);
    fz_var(page);
    fz_try(ctx) {
        const pdf_xref_entry* entry = pdf_get_xref_entry(ctx, doc, num);
        const int wasRead = entry && entry->obj;
        if (entry && (entry->type == 'n' || entry->type == 'o')) {
            fz_try(ctx) obj = pdf_load_object(ctx, doc, num);
            fz_catch(ctx) {
                if (fz_caught(ctx) == FZ_ERROR_MEMORY) fz_rethrow(ctx);
                obj = nullptr; // one that cannot be read is no page of any reader's
            }
            page = isPageObjectC(ctx, obj);
            pdf_drop_obj(ctx, obj);
            obj = nullptr;
            if (release && !wasRead && !page) releaseParsedObjectC(ctx, doc, num);
        }
    }
    fz_catch(ctx) {
        pdf_drop_obj(ctx, obj);
        captureError(ctx, err);
        page = 0;
    }
    return page;
}

// What page object `num` outside d's tree is (strayPageIdentityC); none
// where it cannot be read. Throws PdfError when memory runs short.
std::optional<digest::Digest> strayPageIdentity(pdf_document* doc, int num)
{
    fz_context* ctx = pdfContext();
    IdentityWalk walk;
    walk.doc = doc;
    // As deep as the walk goes, so that nothing allocates inside MuPDF's try.
    walk.path.reserve(std::size_t(digest::depthLimit) + 2);
    FzError err;
    int read = 0;
    const digest::Digest identity = strayPageIdentityC(ctx, doc, num, &walk, &read, &err);
    throwIfFailed(err, PdfErrorCode::unverifiedCopy);
    if (!read) return std::nullopt;
    return identity;
}

// Adds to `into` what the page objects outside `source`'s tree that a file
// written of it may hold are, and those it carries: its own are looked for
// where `own`, in a walk of its objects. A tree that cannot be read tells
// no page outside it: none is carried then. Throws PdfError.
void strayPagesOf(const PdfDocument::Impl& source, bool own, std::unordered_set<std::uint64_t>& into)
{
    into.insert(source.strayPagesCarried.begin(), source.strayPagesCarried.end());
    if (!own || !source.doc) return;
    std::vector<int> inTree;
    try {
        // The page map is a cache of the document's, which it holds as it reads.
        for (const PdfPageId& page : pageMap(const_cast<PdfDocument::Impl&>(source)).ids)
            if (page) inTree.push_back(page.object);
    } catch (const PdfError&) {
        return;
    }
    std::sort(inTree.begin(), inTree.end());
    const auto fileOwn = ownPageOutsideTree(source, false);
    const auto allowed = mayHoldPageOutsideTree(source, false);
    fz_context* ctx = pdfContext();
    for (int num = 1, n = pdf_xref_len(ctx, source.doc); num < n; ++num) {
        if (std::binary_search(inTree.begin(), inTree.end(), num)) continue;
        // Neither its file's nor one like those it carries: no page it may hold.
        if (!(!source.writtenFromDocument && fileOwn(num)) && source.strayPagesCarried.empty()) continue;
        FzError err;
        const int page = pageObjectC(ctx, source.doc, num, source.releasesWhatItReads, &err);
        throwIfFailed(err);
        if (!page || !allowed(num)) continue;
        if (const auto identity = strayPageIdentity(source.doc, num)) into.insert(*identity);
    }
}

} // namespace

void documentStateC(fz_context* ctx, pdf_document* doc, int asStored, std::uint64_t* objects, int count,
                    std::uint64_t* trailer, FzError* err)
{
    fz_try(ctx) {
        for (int num = 1; num < count; ++num) objects[num] = objectStateC(ctx, doc, num, asStored);
        *trailer = trailerStateC(ctx, doc);
    }
    fz_catch(ctx) captureError(ctx, err);
}

void writtenTrailerC(fz_context* ctx, pdf_document* doc, WrittenTrailer* trailer)
{
    if (!trailer) return;
    pdf_obj* dict = pdf_trailer(ctx, doc);
    int cut = 0;
    const auto entry = [&](pdf_obj* key) -> digest::Digest {
        pdf_obj* value = pdf_dict_get(ctx, dict, key);
        return !value || (!pdf_is_indirect(ctx, value) && pdf_is_null(ctx, value)) ? 0
                                                                                   : digestC(ctx, value, 1, 0, &cut);
    };
    trailer->root = entry(PDF_NAME(Root));
    trailer->info = entry(PDF_NAME(Info));
    trailer->id = entry(PDF_NAME(ID));
}

std::shared_ptr<const OriginBytes> OriginBytes::of(const PdfDocument::Impl& d)
{
    if (!d.source && !d.watch) return nullptr;
    std::shared_ptr<OriginBytes> origin(new OriginBytes);
    origin->file_ = d.watch;
    if (!d.watch) origin->buffer_ = fz_keep_buffer(pdfContext(), d.source);
    return origin;
}

OriginBytes::~OriginBytes() { fz_drop_buffer(pdfContext(), buffer_); }

ReadBackBytes OriginBytes::bytes(std::unique_ptr<MappedFile>* mapped) const
{
    if (buffer_) {
        unsigned char* data = nullptr;
        const size_t size = fz_buffer_storage(pdfContext(), buffer_, &data);
        return {reinterpret_cast<const char*>(data), size};
    }
    *mapped = std::make_unique<MappedFile>(file_->fd());
    return (*mapped)->bytes();
}

void inheritOrigins(PdfDocument::Impl& target, const PdfDocument::Impl& source)
{
    const auto known = [&target](const std::shared_ptr<const OriginBytes>& origin) {
        return std::any_of(target.origins.begin(), target.origins.end(),
                           [&](const std::shared_ptr<const OriginBytes>& held) { return held->sameAs(*origin); });
    };
    const auto add = [&](const std::shared_ptr<const OriginBytes>& origin) {
        if (origin && !known(origin)) target.origins.push_back(origin);
    };
    const std::shared_ptr<const OriginBytes> own = OriginBytes::of(source);
    // The pages outside the tree of bytes inherited before were found then:
    // no edit makes a page of the file's own outside its tree.
    std::unordered_set<std::uint64_t> stray;
    strayPagesOf(source, !own || !known(own), stray);
    target.strayPagesCarried.insert(stray.begin(), stray.end());
    add(own);
    for (const auto& origin : source.origins) add(origin);
}

std::function<bool(int num)> mayHoldPageOutsideTree(const PdfDocument::Impl& d, bool update)
{
    std::vector<int> out;
    if (!update)
        for (const PdfPageId& page : d.pagesOut) out.push_back(page.object);
    auto carried = std::make_shared<const std::unordered_set<std::uint64_t>>(d.strayPagesCarried);
    return [doc = d.doc, own = ownPageOutsideTree(d, update), ownFile = update || !d.writtenFromDocument,
            out = std::move(out), carried = std::move(carried)](int num) {
        if (ownFile && own(num)) return true;
        if (carried->empty() || std::find(out.begin(), out.end(), num) != out.end()) return false;
        const std::optional<digest::Digest> identity = strayPageIdentity(doc, num);
        return identity && carried->count(*identity) > 0;
    };
}

PdfWriteIntent writeIntent(PdfDocument::Impl& d, const pdf_write_options& opts,
                           std::vector<std::unique_ptr<MappedFile>>* mapped, std::vector<unsigned char> leftOut)
{
    fz_context* ctx = pdfContext();
    PdfWriteIntent meant;
    FzError err;
    meant.pageCount = countPagesC(ctx, d.doc, &err);
    throwIfFailed(err);
    const bool kept = opts.do_encrypt == PDF_ENCRYPT_KEEP && d.doc->crypt;
    meant.encrypted = kept || (opts.do_encrypt != PDF_ENCRYPT_KEEP && opts.do_encrypt != PDF_ENCRYPT_NONE);
    // With no password of its own the document opened with the empty one.
    meant.password = kept              ? (d.passwordProtected ? d.password : std::string())
                     : meant.encrypted ? std::string(opts.upwd_utf8)
                                       : std::string();
    meant.needsPassword = !meant.password.empty();
    meant.appended = opts.do_incremental != 0;
    meant.originalPassword = d.password;
    if (const auto own = OriginBytes::of(d)) {
        mapped->emplace_back();
        meant.original = own->bytes(&mapped->back());
    }
    // The streams whose data a copy takes as the file stores it, where
    // neither is encrypted: judged by those bytes.
    if (meant.original.data && !meant.encrypted && !d.doc->crypt) {
        meant.copiedData = [doc = d.doc, original = meant.original](const std::vector<int>& nums) {
            std::unordered_map<int, StoredData> copied;
            fz_context* ctx = pdfContext();
            for (const int num : nums) {
                std::int64_t offset = 0, length = 0;
                digest::Digest storage = 0;
                FzError ignored;
                if (num > 0 && num < pdf_xref_len(ctx, doc)
                    && storedDataC(ctx, doc, num, &offset, &length, &storage, &ignored)
                    && std::uint64_t(offset) + std::uint64_t(length) <= original.size)
                    copied[num] = {{original.data + offset, std::size_t(length)}, storage};
            }
            return copied;
        };
    }
    for (const auto& origin : d.origins) {
        mapped->emplace_back();
        meant.ancestors.push_back(origin->bytes(&mapped->back()));
    }
    pdf_document* doc = d.doc;
    const auto left = std::make_shared<const std::vector<unsigned char>>(std::move(leftOut));
    const auto isLeftOut = [left](int num) { return num > 0 && std::size_t(num) < left->size() && (*left)[num]; };
    meant.object = [doc, isLeftOut](int num, bool* undecidable) -> std::optional<digest::Digest> {
        if (isLeftOut(num)) return std::nullopt;
        fz_context* ctx = pdfContext();
        FzError err;
        int held = 0, cut = 0;
        const digest::Digest digest = heldDigestC(ctx, doc, num, &held, &cut, &err);
        // What the document holds could not be read: no verdict on the copy.
        throwIfFailed(err, PdfErrorCode::unverifiedCopy);
        *undecidable = cut != 0;
        if (!held) return std::nullopt;
        return digest;
    };
    meant.holds = [doc, isLeftOut](int num, int gen) {
        return !isLeftOut(num) && holdsC(pdfContext(), doc, num, gen) != 0;
    };
    meant.data = [doc](int num, bool decoded, std::uint64_t rowBits) -> std::optional<digest::Digest> {
        int read = 0;
        const digest::Digest data = heldDataC(pdfContext(), doc, num, decoded, rowBits, &read);
        if (!read) return std::nullopt;
        return data;
    };
    meant.unhexed = [doc](int num) -> std::optional<PdfWriteIntent::Unhexed> {
        PdfWriteIntent::Unhexed unhexed;
        if (!unhexedC(pdfContext(), doc, num, &unhexed.storage, &unhexed.data)) return std::nullopt;
        return unhexed;
    };
    meant.decodes = [doc](int num) {
        FzError err;
        // A decoding the engine warned of (zlib data that stops part way) is
        // what it made of damage, not the stream's data to its end.
        const EngineWarnings warnings(pdfContext());
        const bool decodes = decodesToItsEndC(pdfContext(), doc, num, streamCheckLimit, &err) != 0;
        // No verdict on the copy from a stream that could not be read for memory.
        throwIfFailed(err, PdfErrorCode::unverifiedCopy);
        return decodes && warnings.count() == 0;
    };
    meant.storage = [doc](int num) -> std::optional<digest::Digest> {
        int read = 0;
        const digest::Digest storage = heldStorageC(pdfContext(), doc, num, &read);
        if (!read) return std::nullopt;
        return storage;
    };
    if (doc->num_incremental_sections > 0)
        for (int num = 1, objects = pdf_xref_len(ctx, doc); num < objects; ++num)
            if (changedC(ctx, doc, num)) meant.changed.push_back(num);
    // A whole file written with the engine's collection leaves out what
    // nothing reaches; an update, and a write without it, all it holds.
    if (!opts.do_incremental && opts.do_garbage) {
        const bool keepsEncryption = opts.do_encrypt == PDF_ENCRYPT_KEEP;
        auto reached = std::make_shared<std::vector<unsigned char>>();
        meant.written = [doc, keepsEncryption, reached](int num) {
            fz_context* ctx = pdfContext();
            if (reached->empty()) {
                reached->assign(std::size_t(pdf_xref_len(ctx, doc)) + 1, 0);
                FzError err;
                reachedC(ctx, doc, keepsEncryption, reached->data(), &err);
                if (err.code) {
                    reached->clear();
                    throw PdfError(PdfErrorCode::unverifiedCopy,
                                   std::string("the written file could not be read back: ") + err.message,
                                   systemErrorOf(err));
                }
            }
            return num > 0 && std::size_t(num) < reached->size() && (*reached)[std::size_t(num)] != 0;
        };
    }
    if (opts.do_garbage && !opts.do_incremental) meant.pageOutsideTreeAllowed = mayHoldPageOutsideTree(d, false);
    if (opts.do_incremental) {
        // An update writes every object made since, also one nothing leads
        // to any more (a page whose insertion was undone): no road, but a
        // new page something still leads to is one.
        auto reached = std::make_shared<std::vector<unsigned char>>();
        meant.pageOutsideTreeAllowed = [doc, reached, own = mayHoldPageOutsideTree(d, true)](int num) {
            if (own(num)) return true;
            fz_context* ctx = pdfContext();
            if (reached->empty()) {
                reached->assign(std::size_t(pdf_xref_len(ctx, doc)) + 1, 0);
                FzError err;
                reachedC(ctx, doc, 1, reached->data(), &err);
                if (err.code) reached->clear();
                throwIfFailed(err, PdfErrorCode::unverifiedCopy);
            }
            return num <= 0 || std::size_t(num) >= reached->size() || !(*reached)[std::size_t(num)];
        };
    }
    return meant;
}

} // namespace platform
