#pragma once
// Changing the page sequence of a document by page object. A page taken out
// of the page tree keeps its object in the document, so an undo puts the very
// same page back with its marks; pages come in as objects made first (blank,
// grafted from another file, copied) and are then put into the tree.
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageIdentity.h"

#include <utility>
#include <vector>

namespace platform {

// Every function throws PdfError: passwordRequired while the document is
// locked, pageOutOfRange for an index outside it, damaged when MuPDF fails.

// The page's rotation (its own /Rotate or the one it inherits), normalised.
int pageRotation(const PdfDocument& document, PdfPageId page);
// Writes /Rotate on the page itself (normalised). A page no longer in the
// document throws pageOutOfRange.
void setPageRotation(PdfDocument& document, PdfPageId page, int degrees);

// Takes the page at `index` out of the page tree. Its inherited MediaBox,
// CropBox, Rotate and Resources are written onto the page first, so it looks
// the same wherever it goes back in. Whatever leads to it lets go of it
// while it is out (the document holds what it took): outline entries,
// marks, named destinations and actions lose their destinations there; its
// marks, its beads, the form fields whose widgets are all on pages out and
// the structure elements that mark content on them alone leave what holds
// them, but what a page in the tree lists too; so that every reader of a
// saved copy reads the rest whole, and a whole-file save keeps nothing of
// the page.
void removePage(PdfDocument& document, int index);
// The pages at `indexes` out, as removePage takes each; the document is
// walked for what leads to them once, however many they are.
void removePages(PdfDocument& document, std::vector<int> indexes);
// Puts a page object that is not in the tree at `index`, clamped to 0 … count.
// It takes no MediaBox, CropBox, Rotate or Resources from its new place in
// the tree: a page moved into a turned part of the tree stays as it was.
// What led to it when it was taken out leads to it again, also after a save
// that read the document again from its update; throws PdfError when some
// of it cannot, with the page in.
void insertPage(PdfDocument& document, PdfPageId page, int index);
// Each page at its index in turn, as insertPage puts it.
void insertPages(PdfDocument& document, const std::vector<std::pair<PdfPageId, int>>& placements);

// A new empty page object of width by height points, not yet in the tree.
PdfPageId createBlankPage(PdfDocument& document, double width, double height);

// A document's layer settings (its catalog's /OCProperties: which layers
// it has, which of them show), as a graft found or left them: the object
// that holds them, none (0) without layers; `inCatalog` when the catalog
// held them itself, the object then a copy of them.
struct PdfLayerSettings {
    int object = 0;
    int generation = 0;
    bool inCatalog = false;
    friend bool operator==(const PdfLayerSettings&, const PdfLayerSettings&) = default;
};

// What a graft did to the target's layer settings: nothing when `from` and
// `to` are the same. The settings it found stay in the document as they
// were, so that an undo puts them back (setLayerSettings(from)), and a redo
// the new ones.
struct PdfLayerChange {
    PdfLayerSettings from, to;
    explicit operator bool() const { return from != to; }
    friend bool operator==(const PdfLayerChange&, const PdfLayerChange&) = default;
};

// Copies of pages of `source` into `target`, not yet in the tree, in the
// order given. One graft map serves the call, so resources the pages share
// are copied once. Marks come along: links to pages that are copied in the
// same call point at the copies, other links into `source` are left out;
// form widgets become fields of their own in `target`'s /AcroForm, renamed
// when `target` already has a field of that name. The layers the pages'
// content and marks name come along too, shown or hidden as `source` shows
// them: `target`'s own keep their state, and one of them named and shown
// alike serves for one of source's; what that did to `target`'s layer
// settings goes to `layers`. `source` is left as it was.
std::vector<PdfPageId> graftPages(PdfDocument& target, const PdfDocument& source, const std::vector<int>& indexes,
                                  PdfLayerChange* layers = nullptr);

// Copies of pages of the document itself, not yet in the tree: marks and form
// widgets are copied deeply (a copied widget's field gets a new name), so an
// edit of a copy never touches the original; links keep their targets, and
// the copies show and hide the document's layers as the pages do.
std::vector<PdfPageId> copyPages(PdfDocument& document, const std::vector<int>& indexes,
                                 PdfLayerChange* layers = nullptr);

// Makes `settings`, which a graft found or made, the document's layer
// settings again: what the page view and every save show from then on.
void setLayerSettings(PdfDocument& document, const PdfLayerSettings& settings);

// What tests change in the walk for what leads to pages out: the next so
// many walks run out of memory once they found a reference.
struct ReferenceWalkSeams {
    int walksCutShort = 0;
};
ReferenceWalkSeams& referenceWalkSeams();

} // namespace platform
