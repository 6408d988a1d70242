#include "QuarnKit/Explore/ExploreRequest.h"

#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/History/HistoryGrouping.h"

#include <QDir>
#include <QObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

namespace quarnkit {

QString name(ExploreMode mode)
{
    switch (mode) {
    case ExploreMode::names: return QStringLiteral("names");
    case ExploreMode::contents: return QStringLiteral("contents");
    }
    return {};
}

QString name(ExploreLocation location)
{
    switch (location) {
    case ExploreLocation::all: return QStringLiteral("all");
    case ExploreLocation::downloads: return QStringLiteral("downloads");
    case ExploreLocation::desktop: return QStringLiteral("desktop");
    case ExploreLocation::documents: return QStringLiteral("documents");
    }
    return {};
}

QString name(ExploreSort sort)
{
    switch (sort) {
    case ExploreSort::lastOpened: return QStringLiteral("lastOpened");
    case ExploreSort::name: return QStringLiteral("name");
    case ExploreSort::dateAdded: return QStringLiteral("dateAdded");
    case ExploreSort::size: return QStringLiteral("size");
    }
    return {};
}

namespace {

template <typename T, std::size_t N>
std::optional<T> named(const std::array<T, N>& all, const QString& text)
{
    for (T value : all)
        if (name(value) == text) return value;
    return std::nullopt;
}

} // namespace

std::optional<ExploreMode> exploreModeNamed(const QString& text) { return named(allExploreModes, text); }
std::optional<ExploreLocation> exploreLocationNamed(const QString& text) { return named(allExploreLocations, text); }
std::optional<ExploreSort> exploreSortNamed(const QString& text) { return named(allExploreSorts, text); }

QString title(ExploreMode mode)
{
    switch (mode) {
    case ExploreMode::names: return QObject::tr("Names");
    case ExploreMode::contents: return QObject::tr("Contents");
    }
    return {};
}

QString title(ExploreLocation location)
{
    switch (location) {
    case ExploreLocation::all: return QObject::tr("All");
    case ExploreLocation::downloads: return QObject::tr("Downloads");
    case ExploreLocation::desktop: return QObject::tr("Desktop");
    case ExploreLocation::documents: return QObject::tr("Documents");
    }
    return {};
}

QString title(ExploreSort sort)
{
    switch (sort) {
    case ExploreSort::lastOpened: return QObject::tr("Last opened");
    case ExploreSort::name: return QObject::tr("Name");
    case ExploreSort::dateAdded: return QObject::tr("Date added");
    case ExploreSort::size: return QObject::tr("Size");
    }
    return {};
}

QString hint(ExploreMode mode)
{
    switch (mode) {
    case ExploreMode::names: return QObject::tr("Search file names and PDF titles.");
    case ExploreMode::contents: return QObject::tr("Search names and the text inside PDFs.");
    }
    return {};
}

// ---------------------------------------------------------------- folders

ExploreFolders ExploreFolders::standard()
{
    const auto location = [](QStandardPaths::StandardLocation which) {
        return QDir::cleanPath(QStandardPaths::writableLocation(which));
    };
    return {QDir::cleanPath(QDir::homePath()), location(QStandardPaths::DownloadLocation),
            location(QStandardPaths::DesktopLocation), location(QStandardPaths::DocumentsLocation)};
}

std::optional<QString> ExploreFolders::folder(ExploreLocation location) const
{
    switch (location) {
    case ExploreLocation::all: return std::nullopt;
    case ExploreLocation::downloads: return downloads;
    case ExploreLocation::desktop: return desktop;
    case ExploreLocation::documents: return documents;
    }
    return std::nullopt;
}

std::vector<QString> ExploreFolders::roots() const
{
    const auto inside = [](const QString& path, const QString& folder) {
        return path == folder
               || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
    };
    std::vector<QString> roots{home};
    for (const QString& folder : {downloads, desktop, documents}) {
        if (folder.isEmpty()
            || std::any_of(roots.begin(), roots.end(), [&](const QString& r) { return inside(folder, r); }))
            continue;
        roots.push_back(folder);
    }
    return roots;
}

// ---------------------------------------------------------------- request

bool ExploreRequest::isRecents() const
{
    return LibrarySearchText::words(text).isEmpty() && location == ExploreLocation::all;
}

QStringList ExploreRequest::searchedWords() const
{
    QStringList words = LibrarySearchText::words(text);
    for (QString& word : words) word.truncate(maximumWordLength);
    return words;
}

bool ExploreRequest::isCut() const
{
    static const QRegularExpression space(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    const QStringList all = text.split(space, Qt::SkipEmptyParts);
    return all.size() > LibrarySearchText::maximumWords
           || std::any_of(all.begin(), all.end(), [](const QString& w) { return w.size() > maximumWordLength; });
}

QString ExploreRequest::cutSentence()
{
    return QObject::tr("Only the first %1 words of a search, up to %2 characters each, are searched.")
        .arg(LibrarySearchText::maximumWords)
        .arg(maximumWordLength);
}

platform::MetadataQuery ExploreRequest::indexQuery(const ExploreFolders& folders) const
{
    platform::MetadataQuery query;
    for (const QString& word : searchedWords()) {
        // Control and format characters are dropped, as a quoted query value
        // would drop them; the word is otherwise matched as typed.
        QString kept;
        for (const QChar c : word)
            if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format) kept.append(c);
        query.words.push_back(kept);
    }
    query.contents = mode == ExploreMode::contents;
    query.folder = folders.folder(location).value_or(QString());
    return query;
}

bool ExploreRequest::matches(const ExploreItem& item) const
{
    const QString haystack = item.name + QLatin1Char('\n') + item.title.value_or(QString());
    const QStringList words = searchedWords();
    return std::all_of(words.begin(), words.end(),
                       [&](const QString& word) { return LibrarySearchText::contains(haystack, word); });
}

} // namespace quarnkit
