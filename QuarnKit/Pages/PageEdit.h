#pragma once
// One undoable change of a document's pages: the pages taken out (with the
// index each had), the pages put in (with the index each has after), the
// rotations changed and the layer settings that pages brought in changed.
// Pages are named by their page object, which stays in the document while
// the page is out of it, so an edit and its inverse can be applied any number
// of times.
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageEditing.h"
#include "Platform/PdfPageIdentity.h"

#include <QString>

#include <set>
#include <stdexcept>
#include <vector>

namespace quarnkit {

struct PagePlacement {
    platform::PdfPageId page;
    int index = 0;
    friend bool operator==(const PagePlacement&, const PagePlacement&) = default;
};

struct PageRotation {
    platform::PdfPageId page;
    int from = 0; // degrees
    int to = 0;
    friend bool operator==(const PageRotation&, const PageRotation&) = default;
};

struct PageEdit {
    std::vector<PagePlacement> removed;
    std::vector<PagePlacement> inserted;
    std::vector<PageRotation> rotations;
    platform::PdfLayerChange layers;

    // The edit that undoes this one.
    PageEdit inverse() const;
    std::set<int> insertedIndexes() const;
    // The largest of the three list lengths: the number in names like "Rotate 3 Pages".
    int pageCount() const;
    // Removes, then inserts (by index, ascending, clamped into the document),
    // then rotates, then puts the layer settings `to`. Pages the document no
    // longer holds are passed over.
    // Throws platform::PdfError only when the document cannot be edited at all.
    void apply(platform::PdfDocument& document) const;

    friend bool operator==(const PageEdit&, const PageEdit&) = default;
};

// The failures of page operations, each with its fixed sentence.
class PageEditError : public std::runtime_error {
public:
    enum class Code { locked, unreadable, unsupported, lastPage };
    // `name`: the file's name, for the file cases.
    explicit PageEditError(Code code, const QString& name = {});
    Code code() const { return code_; }
    const QString& name() const { return name_; }
    QString description() const;
    friend bool operator==(const PageEditError& a, const PageEditError& b)
    {
        return a.code_ == b.code_ && a.name_ == b.name_;
    }

private:
    static QString describe(Code code, const QString& name);
    Code code_;
    QString name_;
};

} // namespace quarnkit
