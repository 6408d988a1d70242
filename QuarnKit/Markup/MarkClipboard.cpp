#include "QuarnKit/Markup/MarkClipboard.h"

#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Markup/MarkCatalog.h"

#include <QClipboard>
#include <QMimeData>
#include <QStringList>

namespace quarnkit {

namespace MarkClipboard {

QByteArray data(const std::vector<platform::PdfAnnotation>& annotations, const platform::PdfRect& pageBounds)
{
    if (annotations.empty()) return {};
    return platform::PdfAnnotations::clipboardPdf(annotations, pageBounds);
}

std::vector<platform::PdfAnnotation> annotations(const QByteArray& bytes)
{
    if (bytes.isEmpty()) return {};
    try {
        const auto doc = platform::PdfDocument::openBytes(bytes);
        if (doc->isLocked() || doc->pageCount() < 1) return {};
        std::vector<platform::PdfAnnotation> out;
        for (auto& a : platform::PdfAnnotations::list(*doc, 0)) {
            if (!AnnotationFactory::isMarkup(a)) continue;
            a.objectNumber = 0; // a new annotation wherever it is pasted
            a.hasPopup = false;
            out.push_back(std::move(a));
        }
        return out;
    } catch (const platform::PdfError&) {
        return {};
    }
}

QString plainText(const std::vector<platform::PdfAnnotation>& annotations)
{
    QStringList words;
    for (const auto& a : annotations) {
        const auto k = MarkCatalog::kind(a);
        if (k != MarkKind::text && k != MarkKind::note) continue;
        const QString w = QString::fromStdString(a.contents).trimmed();
        if (!w.isEmpty()) words.push_back(w);
    }
    return words.join(QStringLiteral("\n\n"));
}

std::unique_ptr<QMimeData> mimeData(const std::vector<platform::PdfAnnotation>& annotations,
                                    const platform::PdfRect& pageBounds)
{
    const QByteArray bytes = data(annotations, pageBounds);
    if (bytes.isEmpty()) return nullptr;
    auto mime = std::make_unique<QMimeData>();
    mime->setData(QString::fromLatin1(mimeType), bytes);
    const QString text = plainText(annotations);
    if (!text.isEmpty()) mime->setText(text);
    return mime;
}

bool write(const std::vector<platform::PdfAnnotation>& annotations, const platform::PdfRect& pageBounds,
           QClipboard* clipboard)
{
    if (!clipboard) return false;
    auto mime = mimeData(annotations, pageBounds);
    if (!mime) return false;
    clipboard->setMimeData(mime.release()); // the clipboard takes ownership
    return true;
}

bool canRead(const QMimeData* mime) { return mime && mime->hasFormat(QString::fromLatin1(mimeType)); }

std::vector<platform::PdfAnnotation> read(const QMimeData* mime)
{
    if (!canRead(mime)) return {};
    return annotations(mime->data(QString::fromLatin1(mimeType)));
}

} // namespace MarkClipboard

} // namespace quarnkit
