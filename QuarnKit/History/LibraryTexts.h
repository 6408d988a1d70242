#pragma once
// The short texts of the library's rows (History, the file index search and
// the welcome window): a PDF's own title when it is worth showing, readable
// folder names, counts, page details and sizes. No state, no disk.
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace quarnkit {

namespace DocumentTitle {

// The title with its white space tidied, or none when it says nothing the
// file name does not: generic ("Untitled", "Scan_0012"), a file name or a
// path, no letter or digit, under 2 or over 200 characters, or the file's
// own name. `fileName` is the file's name with its extension.
std::optional<QString> sensible(const std::optional<QString>& raw, const std::optional<QString>& fileName);

} // namespace DocumentTitle

namespace FolderLabel {

// "~" for the home folder and "~/…" below it; a folder of a desktop network
// mount (/run/user/UID/gvfs/google-drive:host=…,user=…/Books) as the
// service's name and the rest ("google-drive/Books"); any other path as it is.
QString display(const QString& path, const QString& home);

} // namespace FolderLabel

namespace LibraryFormat {

// "1 PDF", "0 PDFs", "12,500 PDFs".
QString pdfCount(std::int64_t count, const QLocale& locale);
// "12 pages · 1.3 MB"; either part left out when unknown or below 1.
QString detail(std::optional<std::int64_t> pageCount, std::optional<std::int64_t> size,
               const QLocale& locale = QLocale());
// The locale's digits with its grouping.
QString number(std::int64_t n, const QLocale& locale);
// A file size in decimal units as file managers show it: "999 bytes",
// "2 KB", "1.3 MB", "4.07 GB"; zero is "0 bytes".
QString size(std::int64_t bytes, const QLocale& locale = QLocale());

} // namespace LibraryFormat

} // namespace quarnkit
