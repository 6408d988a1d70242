#pragma once
// One search of every PDF on the computer: what the user typed, what it is
// matched against, where and in which order, and how that becomes a query of
// the file index. Values only; any thread.
#include "Platform/Metadata.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace quarnkit {

struct ExploreItem;

// What the words are matched against.
enum class ExploreMode { names, contents };
// Where to search: everywhere indexed, or one of the user's folders.
enum class ExploreLocation { all, downloads, desktop, documents };
// The order of the results (see ExploreRanking).
enum class ExploreSort { lastOpened, name, dateAdded, size };

inline constexpr std::array<ExploreMode, 2> allExploreModes{ExploreMode::names, ExploreMode::contents};
inline constexpr std::array<ExploreLocation, 4> allExploreLocations{
    ExploreLocation::all, ExploreLocation::downloads, ExploreLocation::desktop, ExploreLocation::documents};
inline constexpr std::array<ExploreSort, 4> allExploreSorts{ExploreSort::lastOpened, ExploreSort::name,
                                                            ExploreSort::dateAdded, ExploreSort::size};

// How each is stored ("names", "downloads", "lastOpened", …) and read back:
// exactly the stored name, case included; none for any other text.
QString name(ExploreMode mode);
QString name(ExploreLocation location);
QString name(ExploreSort sort);
std::optional<ExploreMode> exploreModeNamed(const QString& text);
std::optional<ExploreLocation> exploreLocationNamed(const QString& text);
std::optional<ExploreSort> exploreSortNamed(const QString& text);

// "Names", "Contents"; "All", "Downloads", "Desktop", "Documents";
// "Last opened", "Name", "Date added", "Size".
QString title(ExploreMode mode);
QString title(ExploreLocation location);
QString title(ExploreSort sort);
// "Search file names and PDF titles." / "Search names and the text inside PDFs."
QString hint(ExploreMode mode);

// The user's folders the locations stand for.
struct ExploreFolders {
    QString home;
    QString downloads;
    QString desktop;
    QString documents;

    // The desktop's own (XDG user folders through QStandardPaths).
    static ExploreFolders standard();
    // None for `all`.
    std::optional<QString> folder(ExploreLocation location) const;
    // The folders to index: the home folder and any location outside it.
    std::vector<QString> roots() const;
};

struct ExploreRequest {
    QString text; // as typed
    ExploreMode mode = ExploreMode::names;
    ExploreLocation location = ExploreLocation::all;
    ExploreSort sort = ExploreSort::lastOpened;

    // A word longer than this is searched by its first characters.
    static constexpr int maximumWordLength = 100;

    // No words, everywhere: the PDFs opened most recently ("Recently opened").
    bool isRecents() const;
    // The words searched: the first eight, each cut to maximumWordLength.
    QStringList searchedWords() const;
    // The text holds more than is searched (a paste of a page, say).
    bool isCut() const;
    // "Only the first 8 words of a search, up to 100 characters each, are
    // searched.": said wherever the results of a cut search show.
    static QString cutSentence();
    // The query of the file index: the searched words (control characters
    // dropped from each), the mode, and the location's folder.
    platform::MetadataQuery indexQuery(const ExploreFolders& folders) const;
    // Whether every word occurs in the item's name or title, ignoring case
    // and accents (mode, location and sort play no part).
    bool matches(const ExploreItem& item) const;

    friend bool operator==(const ExploreRequest&, const ExploreRequest&) = default;
};

} // namespace quarnkit
