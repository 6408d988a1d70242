#pragma once
// The export sheet's choices and what it says about them: the remembered
// choices, the page list of a scope, the pages line, the pixel size, whether
// the export can run and why not, and the notes under the options. Pure
// functions of the choices and the document, so the sheet only shows them.
#include "Platform/UserDefaults.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/MarksSummary.h"

#include <QString>

#include <optional>
#include <set>
#include <variant>
#include <vector>

namespace quarnkit {

// The choices kept between exports (never the range text or passwords).
struct ExportChoices {
    ExportFormat format = ExportFormat::flattenedPDF;
    ExportScope scope = ExportScope::allPages;
    int dpi = 150;
    double quality = 0.85;
    bool searchable = false;

    // Read with their checks: an unknown format or scope, a resolution that
    // is not offered, a quality outside 0.3…1 are mended; a saved range
    // comes back as all pages.
    static ExportChoices saved(const platform::UserDefaults& defaults);
    void save(platform::UserDefaults& defaults) const;

    friend bool operator==(const ExportChoices&, const ExportChoices&) = default;
};

// What the sheet knows of the window's document.
struct ExportSource {
    const QuarnDocument* document = nullptr; // none without a document
    int pageIndex = 0;                       // the current page
    std::set<int> selectedPages;             // in the sidebar
    std::optional<QString> filePath;
};

struct ExportForm {
    ExportFormat format = ExportFormat::flattenedPDF;
    ExportScope scope = ExportScope::allPages;
    QString rangeText;
    int dpi = 150;
    double quality = 0.85;
    bool searchable = false;
    QString openPassword;
    QString editPassword;
    std::optional<MarkCensus> census;

    // The pages the scope names, or why there are none.
    using PageList = std::variant<std::vector<int>, QString>;
    PageList pageList(const ExportSource& source) const;
    std::vector<int> pages(const ExportSource& source) const; // empty for an error

    // The scopes offered: "Selected pages" only with a selection.
    static std::vector<ExportScope> scopes(const ExportSource& source);
    // Why a format cannot be chosen ("No marks yet"), or none.
    std::optional<QString> unavailableReason(ExportFormat format) const;

    struct Line {
        QString text;
        bool isError = false;
    };
    // The line under the scope: "12 pages", "Page 4", "4 pages: 1-3, 7", a
    // hint for an empty range, or the page list's error.
    Line pagesLine(const ExportSource& source) const;
    // "1275 × 1650 px" for the first page to export at the resolution.
    QString pixelSize(const ExportSource& source) const;
    // Why the export cannot run, or none.
    std::optional<QString> validationMessage(const ExportSource& source) const;
    bool canExport(const ExportSource& source, bool working) const;
    std::optional<QString> passwordCaption() const;
    std::optional<QString> formatNote(const ExportSource& source) const;
    // "Choose Folder" for several PNG or JPEG pages, else "Export".
    QString actionTitle(const ExportSource& source) const;
    QString qualityText() const; // "85%"

    ExportSettings settings(const ExportSource& source) const;
    ExportChoices choices() const { return {format, scope, dpi, quality, searchable}; }
};

} // namespace quarnkit
