#include "Platform/QpdfCompaction.h"

#include "Platform/QpdfReadBack.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <mutex>

namespace platform {
namespace {

// The document written by libqpdf at a compression level, with what it
// meant to write (QpdfReadBack.h).
Compacted written(QPDF& document, int level)
{
    Pl_Flate::setCompressionLevel(level);
    QPDFWriter writer(document);
    writer.setOutputMemory();
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.setCompressStreams(true);
    // Its default decode level reads every Flate stream; setting one, even
    // that one, would write an encrypted file unencrypted.
    writer.setRecompressFlate(true);
    writer.write();
    const auto buffer = writer.getBufferSharedPointer();
    Compacted result;
    result.pdf = QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
    result.objects = digestsAsWritten(document, writer);
    return result;
}

Compacted compact(const QByteArray& pdf, int pages, const std::string& password)
{
    // The compression level is one setting for the whole library.
    static std::mutex oneAtATime;
    std::lock_guard lock(oneAtATime);
    try {
        QPDF document;
        document.setSuppressWarnings(true);
        document.processMemoryFile("pdf", pdf.constData(), size_t(pdf.size()),
                                   password.empty() ? nullptr : password.c_str());
        // A file it had to repair may have lost pages on the way.
        if (int(QPDFPageDocumentHelper(document).getAllPages().size()) != pages) return {};
        const bool encrypted = document.isEncrypted();
        bool needsPassword = false;
        if (encrypted) {
            try {
                QPDF bare;
                bare.setSuppressWarnings(true);
                bare.processMemoryFile("pdf", pdf.constData(), size_t(pdf.size()), nullptr);
            } catch (const QPDFExc& e) {
                needsPassword = e.getErrorCode() == qpdf_e_password;
            }
        }
        // zlib's highest level is not always its smallest: on short streams
        // its default level sometimes gives a few bytes less.
        Compacted highest = written(document, 9);
        Compacted usual = written(document, 6);
        Compacted& smaller = usual.pdf.size() < highest.pdf.size() ? usual : highest;
        smaller.encrypted = encrypted;
        smaller.needsPassword = needsPassword;
        return std::move(smaller);
    } catch (const std::exception&) {
        return {};
    }
}

const QpdfCompaction compaction{compact};

} // namespace
} // namespace platform

extern "C" const void* ravlenQpdfCompaction() { return &platform::compaction; }
