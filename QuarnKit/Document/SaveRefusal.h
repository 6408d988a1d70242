#pragma once
// What still keeps the user's work when a save of the document was refused
// or failed: the one rule every refusal of a save is told by, so that no
// alert leaves the user with OK alone while something else would work.
#include "QuarnKit/Document/QuarnDocument.h"

#include <QString>

namespace quarnkit {

struct SaveRemedies {
    bool saveAs = false;       // a new file under another name, or in another folder
    bool exportPdf = false;    // Export: PDF and Flattened PDF keep the marks; page images too
    bool exportImages = false; // Export: an image of each page (what the window draws)
    bool revert = false;       // the file as it is now, dropping the changes
    // Export: Flattened PDF, the pages drawn into a new document, which
    // needs no PDF written from the document itself: the sheet opens on it
    bool exportFlattened = false;
    bool any() const { return saveAs || exportPdf || exportImages || revert || exportFlattened; }
    friend bool operator==(const SaveRemedies&, const SaveRemedies&) = default;
};

// What still works after a save refused or failed with `code`: Save As
// where another file would be written (not where every write fails alike),
// Export where the export's own copy is made otherwise (without the file's
// encryption, written anew) or only drawn, Revert where another program
// rewrote the file. Nothing for the questions asked before writing.
SaveRemedies saveRemedies(DocumentError::Code code);

// The sentence that says what still works, to follow the refusal's reason;
// empty when nothing does.
QString stillWorks(const SaveRemedies& remedies);

} // namespace quarnkit
