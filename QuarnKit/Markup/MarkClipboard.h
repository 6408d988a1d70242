#pragma once
// Marks on the clipboard: a small one-page PDF that carries copies of the
// marks at their page coordinates, beside plain text of any text boxes and
// notes. Only the keys a mark needs travel, so a PDF from elsewhere on the
// clipboard brings no actions, scripts, links or popups in.
#include "Platform/PdfAnnotations.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class QClipboard;
class QMimeData;

namespace quarnkit {

namespace MarkClipboard {

inline constexpr const char* mimeType = "application/x-com.ombri.ravlen.marks";

// The clipboard PDF; empty for no marks or when it cannot be made. Page
// bounds of 1 point or less give a US Letter page.
QByteArray data(const std::vector<platform::PdfAnnotation>& annotations, const platform::PdfRect& pageBounds);
// The marks carried by clipboard bytes, in copy order, ready to add to a page;
// empty for bytes that are no PDF or carry no mark.
std::vector<platform::PdfAnnotation> annotations(const QByteArray& data);
// The trimmed words of the copied text boxes and notes, joined by blank lines.
QString plainText(const std::vector<platform::PdfAnnotation>& annotations);

// One clipboard item: the marks and, when there are words, plain text. Null
// when no data could be made.
std::unique_ptr<QMimeData> mimeData(const std::vector<platform::PdfAnnotation>& annotations,
                                    const platform::PdfRect& pageBounds);
// Replaces the clipboard's contents; false, with the clipboard untouched, when nothing could be made.
bool write(const std::vector<platform::PdfAnnotation>& annotations, const platform::PdfRect& pageBounds,
           QClipboard* clipboard);
bool canRead(const QMimeData* mime); // plain text alone does not count
std::vector<platform::PdfAnnotation> read(const QMimeData* mime);

} // namespace MarkClipboard

} // namespace quarnkit
