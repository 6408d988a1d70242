#pragma once
// PDF files dropped on a page view: the view takes a drag that carries a
// local PDF file and hands the first PDF of the drop to `open`; drags of
// anything else are refused.
#include <functional>

class QString;

namespace quarn {

class QuarnPDFView;

void acceptDroppedPdfs(QuarnPDFView& view, std::function<void(const QString& path)> open);

} // namespace quarn
