#include "Platform/PdfCompaction.h"

#include "Platform/OnDemand.h"
#include "Platform/QpdfCompaction.h"

namespace platform::PdfCompaction {

QByteArray compact(const QByteArray& pdf, int pages, const std::string& password)
{
    const auto* qpdf = ondemand::tableOf<QpdfCompaction>("libravlen-qpdf.so", "ravlenQpdfCompaction");
    if (!qpdf) return pdf;
    const QByteArray compacted = qpdf->compact(pdf, pages, password);
    return !compacted.isEmpty() && compacted.size() < pdf.size() ? compacted : pdf;
}

} // namespace platform::PdfCompaction
