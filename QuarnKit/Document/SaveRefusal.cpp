#include "QuarnKit/Document/SaveRefusal.h"

#include <QCoreApplication>

namespace quarnkit {

SaveRemedies saveRemedies(DocumentError::Code code)
{
    using Code = DocumentError::Code;
    switch (code) {
    // Another name, folder or disk takes the file; the export's copy too.
    case Code::fileWriteUnknown:
    case Code::fileWriteOutOfSpace:
    case Code::fileWriteNoPermission:
    case Code::fileWriteVolumeReadOnly:
    case Code::fileWriteForeignLink:
    case Code::fileWriteForeignFile:
    case Code::fileWriteFileReplaced:
    // Refused over this file alone: another file takes the document.
    case Code::fileWriteRepairedFile:
    case Code::fileWriteUnparsedObjects:
    case Code::fileWriteSignedRewrite:
    // Put back as it was, or read again from its file and the user's
    // changes: a new file takes it, once asked whether it may show less.
    case Code::fileWriteChangedByWrite:
    // A new file, which replaces none, may be kept unchecked.
    case Code::fileWriteUnverifiedCopy: return {true, true, true, false};
    // Any file this writer makes would be refused alike; the export's copy
    // is written otherwise (without the file's encryption, anew), and read
    // back on its own; the pages as drawn need none (Flattened PDF, first).
    case Code::fileWriteUnfaithfulCopy:
    case Code::fileWriteUnopenableCopy: return {false, true, true, false, true};
    // No PDF keeps those names whole; pages are still drawn as the window
    // shows them. A file too large for this process: an image a page is not.
    case Code::fileWriteNamesTooLong:
    case Code::fileWriteTooLarge: return {false, false, true, false};
    // Changed past putting back: pages are still drawn as the window shows
    // them, into images or a new document.
    case Code::fileWriteUnrestored: return {false, false, true, false, true};
    // Another program's version of the file is all there is to go back to.
    case Code::fileWriteSourceChanged: return {false, false, false, true};
    // Every copy, the export's too, meets the same damage or the same empty document.
    case Code::fileWriteDamagedSinceOpen:
    case Code::fileWriteUnreadablePages:
    case Code::fileWriteNoPages:
    case Code::fileWriteDamagedContent:
    // Questions, asked before anything is written.
    case Code::fileWriteCopyShowsLess:
    // Not a save's.
    case Code::fileReadCorruptFile:
    case Code::fileReadNoSuchFile:
    case Code::fileReadIsFolder:
    case Code::fileReadNoPermission: return {};
    }
    return {};
}

QString stillWorks(const SaveRemedies& remedies)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("SaveRefusal", text); };
    if (remedies.saveAs && remedies.exportPdf)
        return tr("Your changes are still here: Save As keeps them in a new file under another name, and Export "
                  "writes them as a PDF or a Flattened PDF, marks included, or as an image of each page.");
    if (remedies.exportPdf)
        return tr("Your changes are still here: Export writes them as a PDF or a Flattened PDF, marks included, or as "
                  "an image of each page.");
    if (remedies.exportFlattened)
        return tr("Your changes are still here: Export draws the pages as ravlen shows them, marks included, into a "
                  "Flattened PDF or an image of each page.");
    if (remedies.exportImages)
        return tr("Your changes are still here: Export writes an image of each page (PNG, JPEG or TIFF), marks "
                  "included, as ravlen shows it.");
    if (remedies.revert) return tr("Revert opens the file as it is now; your changes will be lost.");
    return {};
}

} // namespace quarnkit
