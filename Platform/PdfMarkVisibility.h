#pragma once
// Which marks (annotations and form fields) a drawing of a page shows, by
// the flags of each (its /F entry, ISO 32000-1 12.5.3): a Hidden mark never;
// on screen every other mark but one flagged NoView; on paper only a mark
// flagged Print, NoView or not. A flattened copy shows what the screen
// shows: its marks become page content that every reader shows alike, and
// marks without the Print flag are common. The page view's drawing follows
// the same rule (MuPDF's, for its "View" use).

namespace platform {

// The bits of the flags the rule reads.
inline constexpr int pdfMarkHidden = 1 << 1;
inline constexpr int pdfMarkPrint = 1 << 2;
inline constexpr int pdfMarkNoView = 1 << 5;

enum class PdfMarkUse { screen, flatten, print };

constexpr bool drawsMark(int flags, PdfMarkUse use)
{
    if (flags & pdfMarkHidden) return false;
    if (use != PdfMarkUse::print) return !(flags & pdfMarkNoView);
    return (flags & pdfMarkPrint) != 0;
}

} // namespace platform
