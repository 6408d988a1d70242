#include "Platform/PdfCompaction.h"

#include "Platform/OnDemand.h"
#include "Platform/PdfReadBack.h"
#include "Platform/QpdfCompaction.h"

namespace platform::PdfCompaction {

QByteArray compact(const QByteArray& pdf, int pages, const std::string& password)
{
    const auto* qpdf = ondemand::tableOf<QpdfCompaction>("libravlen-qpdf.so", "ravlenQpdfCompaction");
    if (!qpdf) return pdf;
    const Compacted compacted = qpdf->compact(pdf, pages, password);
    if (compacted.pdf.isEmpty() || compacted.pdf.size() >= pdf.size()) return pdf;
    // Read back as every written file is, against the file it was made from:
    // what does not read as that file does is not handed on, that file is.
    PdfWriteIntent meant;
    meant.pageCount = pages;
    meant.encrypted = compacted.encrypted;
    meant.password = password;
    meant.needsPassword = compacted.needsPassword;
    meant.original = {pdf.constData(), std::size_t(pdf.size())};
    meant.originalPassword = password;
    meant.keepsNumbers = false;
    meant.object = [&](int num, bool*) -> std::optional<objectdigest::Digest> {
        const auto it = compacted.objects.find(num);
        if (it == compacted.objects.end()) return std::nullopt;
        return it->second;
    };
    meant.holds = [&](int num, int gen) { return gen == 0 && compacted.objects.count(num) > 0; };
    try {
        readBack(ReadBackBytes{compacted.pdf.constData(), std::size_t(compacted.pdf.size())}, meant);
    } catch (const PdfError&) {
        return pdf;
    }
    return compacted.pdf;
}

} // namespace platform::PdfCompaction
