#pragma once
// Layers (optional content groups) as the engine draws them, and as pages
// copied from one document into another bring them along; for the Platform
// sources that draw and copy pages, never included outside Platform/.
//
// Pages grafted into another document bring along the layers (optional
// content groups) that their content and marks name, with the settings that
// show or hide them, so that every reader, the window among them, shows and
// hides on the copies what the source did. Every road that copies pages
// between documents grafts them through a LayerGraft: a copy of pages,
// flattened or not (export, print), pages inserted, duplicated or
// extracted, pages appended.
#include "Platform/PdfInternal.h"

namespace platform {

// Object numbers of layers paired with others: a source's and their copies,
// by turns.
struct LayerPairs {
    int* nums = nullptr;
    int count = 0, capacity = 0;
};

// What a graft did to the target's layer settings (its catalog's
// /OCProperties): nothing unless `changed`. `before` is the object that held
// them (0: none), left as it was, or, when the catalog held them itself
// (`beforeInCatalog`), a copy of them made for the purpose; `after` holds
// them now. Putting `before` back (putLayerSettingsC) undoes the change.
struct LayerSettingsChange {
    int changed = 0;
    int before = 0, beforeGeneration = 0, beforeInCatalog = 0;
    int after = 0;
};

struct LayerGraft {
    pdf_graft_map* map = nullptr; // grafts the pages and what they use
    LayerPairs layers;            // the source's layers and the target's copies
    LayerPairs pageCopies;        // the map's copies of them, which endLayerGraftC replaces
    int firstNew = 0;             // the first object the map made
    LayerSettingsChange settings;
};

// Gives `dst` the layers of `src` with the settings readers start from
// (which are shown, in what order a reader lists them) and makes
// graft->map, through which the pages of src and what they use are to be
// grafted. A document without layers takes src's whole; one with layers
// keeps its own, shown and hidden as they were, and uses one of them for a
// layer of src named and shown alike, else gains a copy of src's, shown or
// hidden as src shows it. Settings it adds to are new ones: those found stay
// as they were (graft->settings).
void beginLayerGraftC(fz_context* ctx, pdf_document* dst, pdf_document* src, LayerGraft* graft);
// Once the pages are grafted: points what the map made at dst's copy of
// each layer, one copy of each however many pages name it, and drops the
// map's own copies of them (dropPageCopiesC).
void endLayerGraftC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft);
// The same for what the map made from object `from` on, the map's own
// copies kept: a graft that goes on, page by page, relinks each page as it
// is made, and drops the copies once no page is to come.
void relinkLayersSinceC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft, int from);
void dropPageCopiesC(fz_context* ctx, pdf_document* dst, const LayerGraft& graft);
// Lets go of what the graft holds; never throws.
void dropLayerGraftC(fz_context* ctx, LayerGraft* graft);

// Makes object `num` (generation `gen`) the document's layer settings, or,
// with `inCatalog`, a copy of it written into the catalog itself; `num` 0
// takes them away. The engine reads the settings anew when it next draws.
void putLayerSettingsC(fz_context* ctx, pdf_document* doc, int num, int gen, int inCatalog);

// Has MuPDF read the document's layer settings anew (after a change, or as
// the document opens) and draw each layer as they show it. MuPDF matches the
// entries of the lists of layers shown and hidden to the layers by their
// content, so that of two layers alike (one copied in from another file under
// the same name, shown the other way round) one takes the other's state:
// here each layer takes the state of the entry that is that very object.
void readLayerStatesC(fz_context* ctx, pdf_document* doc);
// The same, as a document opens: never throws.
void readLayerStatesQuietlyC(fz_context* ctx, pdf_document* doc);

// Whether `obj` leads to a page or the page tree (a go-to action's
// destination, say), through any of the objects it refers to: grafted, it
// would drag that page, and through its parent the whole source, into the
// copy. One that leads too far to tell counts as leading there.
int leadsToPagesC(fz_context* ctx, pdf_obj* obj);

} // namespace platform
