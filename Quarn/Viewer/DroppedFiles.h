#pragma once
// PDF files dropped on a page view: the view takes a drag that carries a
// local PDF file and hands the first PDF of the drop to `open`; drags of
// anything else are refused.
#include <QStringList>

#include <functional>

class QMimeData;

namespace quarn {

class QuarnPDFView;

// The local PDF files a drag carries, in its order (".pdf" in any case):
// what every drop target of a document window takes.
QStringList droppedPdfs(const QMimeData* mime);

void acceptDroppedPdfs(QuarnPDFView& view, std::function<void(const QString& path)> open);

} // namespace quarn
