#pragma once
// Joins single-page TIFF files into one multi-page TIFF on disk, one page at
// a time: each page's bytes are copied as they are, the file offsets inside
// its directories moved by where the page lands, and the pages' first
// directories chained. Nothing is decoded. Sizes and offsets are computed in
// 64 bits, so no crafted page passes a bounds check by wrapping around.
#include "QuarnKit/Export/ExportSettings.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quarnkit {

enum class TIFFByteOrder { little, big }; // "II", "MM"

class MultiPageTIFF {
public:
    // The largest 32-bit offset: a classic TIFF file cannot be larger.
    static constexpr std::uint64_t maximumSize = 4294967295ULL;
    static QString tooLargeReason();

    // Writes into the empty file open at `fd`, which stays the caller's (the
    // replacing file a save writes through); `name` is the file's for the
    // messages. The file may grow to min(limit, maximumSize) bytes.
    MultiPageTIFF(int fd, const QString& name, std::uint64_t limit);
    MultiPageTIFF(const MultiPageTIFF&) = delete;
    MultiPageTIFF& operator=(const MultiPageTIFF&) = delete;

    // Adds the first image of a single-page TIFF file as the next page.
    // Throws ExportError: writeFailed for a malformed page or one in the other
    // byte order (the file is unchanged by it), cannotWrite when the file
    // would grow past the limit or cannot be written.
    void append(const QByteArray& page);
    // Ends the writing: nothing more is appended. Throws ExportError::empty
    // when no page was appended.
    void finish();

    int pages() const { return pages_; }

private:
    [[noreturn]] void failWrite(int error) const;

    QString name_;
    int fd_ = -1;
    std::uint64_t limit_;
    std::optional<TIFFByteOrder> order_;
    std::uint64_t link_ = 4; // where the next page's first-directory offset goes
    std::uint64_t end_ = 8;  // just behind the last byte written
    int pages_ = 0;
};

} // namespace quarnkit
