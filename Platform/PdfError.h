#pragma once
// The platform's one error type: every failure that leaves Platform/ comes
// out as a PdfError, memory included (general, "out of memory").
#include <stdexcept>
#include <string>

namespace platform {

enum class PdfErrorCode {
    damaged,          // not a PDF, or a PDF that cannot be parsed
    passwordRequired, // the operation needs the document unlocked first
    io,               // the file cannot be read or written
    pageOutOfRange,
    general,
    missingFile,      // opening: nothing at that path
    folder,           // opening: the path is a folder
    unreadable,       // opening: no permission to read the file
    changedSinceOpen, // saving: MuPDF rebuilt the file after opening, or the pages changed under the views
    repairedFile,     // saving over a file MuPDF had to rebuild to read: it may hold more than was read
    unreadablePages,  // saving: the page tree holds entries that are no readable pages
    noPages,          // saving: the document has no pages, and its file held none either
    damagedPage,      // editing: the page's dictionary cannot be read or changed
    cancelled,        // page work called off (PdfDocument::stopPageWork)
    sourceChanged,    // saving: another program rewrote the file the document reads, in place
    unparsedObjects,  // saving over a file with objects MuPDF could not parse, or parsed only by guessing past damage
    namesTooLong,     // saving: the file uses names longer than MuPDF keeps, which it would cut on one side only
    foreignLink,      // writing: the path goes through a link another user made in a folder others can write to
    foreignFile,      // writing: the file is another user's, made in a folder others can write to
    unopenableCopy,   // writing: the written file would not open with the document's password
    lossyCopy,        // writing another file: it may show less than the file the document was read from
    fileReplaced,     // saving onto the document's own file: another file than that one is at its name now
    unfaithfulCopy,   // writing: the written file, read back, is not what was written (PdfReadBack.h)
    unverifiedCopy,   // writing: the written file could not be read back to be judged
    signedRewrite,    // saving over a signed file the engine cannot update: written anew, its signature would break
    changedByWrite,   // writing changed the document: it was put back, or read again from its file and edits
    writeUnrestored,  // an earlier write changed the document, and it could be neither put back nor read again
};

class PdfError : public std::runtime_error {
public:
    // `systemError` is the errno of a failed file operation, 0 for none.
    PdfError(PdfErrorCode code, const std::string& message, int systemError = 0)
        : std::runtime_error(message), code_(code), systemError_(systemError)
    {}
    PdfErrorCode code() const { return code_; }
    int systemError() const { return systemError_; }

private:
    PdfErrorCode code_;
    int systemError_;
};

// Throws the error memory runs short as: (general, "out of memory", ENOMEM),
// made without allocating.
[[noreturn]] void throwOutOfMemory();
// Within a catch block: throws what was caught as the platform's error, a
// PdfError as it is, std::bad_alloc as throwOutOfMemory does, any other
// std::exception as (general, its words).
[[noreturn]] void rethrowAsPdfError();

// Runs `work`: what it throws leaves as the platform's error.
template <typename Work>
auto asPdfError(Work&& work) -> decltype(work())
{
    try {
        return work();
    } catch (...) {
        rethrowAsPdfError();
    }
}

} // namespace platform
