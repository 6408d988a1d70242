#include "Platform/PdfError.h"

#include <cerrno>
#include <new>

namespace platform {
namespace {

// Made as the library loads: throwing a copy allocates nothing more.
const PdfError outOfMemory(PdfErrorCode::general, "out of memory", ENOMEM);

} // namespace

void throwOutOfMemory() { throw PdfError(outOfMemory); }

void rethrowAsPdfError()
{
    try {
        throw;
    } catch (const PdfError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throwOutOfMemory();
    } catch (const std::exception& e) {
        PdfError failure = outOfMemory;
        try {
            failure = PdfError(PdfErrorCode::general, e.what());
        } catch (const std::bad_alloc&) {}
        throw failure;
    }
}

} // namespace platform
