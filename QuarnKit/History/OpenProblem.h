#pragma once
// Why a file picked in a library panel did not open, or could not be shown
// in its folder, as the panel tells it in its banner: a headline and a line
// of explanation. Every place that opens a library entry words its problems
// with these.
#include <QString>

namespace quarnkit {

struct OpenProblem {
    QString title;
    QString detail;

    // “Report” from the file's name without its last extension.
    // "ravlen couldn't open “Report”." with the reason, or a plain guess when
    // there is none.
    static OpenProblem couldNotOpen(const QString& path, const QString& reason);
    // "“Report” was moved or deleted." for a file found gone when opened.
    static OpenProblem moved(const QString& path);
    // The same headline for a file a search found, which need not be in
    // History: the detail makes no claim about where it is kept.
    static OpenProblem movedSearchResult(const QString& path);
    // The same headline for an entry by its own name (its title or file name),
    // with the advice the History panel gives.
    static OpenProblem missingEntry(const QString& name);
    // "ravlen couldn't show “Report” in its folder." with the reason: no file
    // manager could be reached.
    static OpenProblem notShownInFolder(const QString& path, const QString& reason);

    friend bool operator==(const OpenProblem&, const OpenProblem&) = default;
};

} // namespace quarnkit
