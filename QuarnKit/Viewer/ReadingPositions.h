#pragma once
// Where each PDF was left: page, scroll point, zoom and display mode, given
// back only while the file is unchanged. Kept as one JSON object in the user
// defaults under "ravlenReadingPositions", bounded to the most recent files.
#include "Platform/PdfGeometry.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

// The path with "." and ".." resolved against the current folder (symbolic
// links are left alone), so that two spellings of one file share state.
QString standardizedPath(const QString& path);

// Seconds since 2001-01-01 00:00:00 UTC, the reference date of stored dates.
double referenceSeconds(const QDateTime& time);
QDateTime fromReferenceSeconds(double seconds); // invalid beyond the range of dates

// One version of one file.
struct FileFingerprint {
    QString path;
    std::int64_t size = 0;
    double modified = 0; // reference seconds, rounded to 1/1000 s

    FileFingerprint() = default;
    // Rounds `modified` to the nearest 1/1000 s, halves away from zero.
    FileFingerprint(QString path, std::int64_t size, double modified);
    // The fingerprint of the file at `path` (standardized); none when it
    // cannot be read or is not a file.
    static std::optional<FileFingerprint> of(const QString& path);

    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

struct ReadingZoom {
    enum class Kind { scale, fitPage, fitWidth };
    Kind kind = Kind::fitPage;
    double scale = 1; // only with Kind::scale

    static ReadingZoom fixed(double scale) { return {Kind::scale, scale}; }
    static ReadingZoom fitPage() { return {Kind::fitPage, 1}; }
    static ReadingZoom fitWidth() { return {Kind::fitWidth, 1}; }

    friend bool operator==(const ReadingZoom& a, const ReadingZoom& b)
    {
        return a.kind == b.kind && (a.kind != Kind::scale || a.scale == b.scale);
    }
};

struct ReadingPosition {
    int page = 0;                            // zero-based
    std::optional<platform::PdfPoint> point; // scroll point on that page, user space
    ReadingZoom zoom;
    DisplayMode mode = DisplayMode::continuous;
    bool coverSeparately = false;

    friend bool operator==(const ReadingPosition&, const ReadingPosition&) = default;
};

class ReadingPositionStore {
public:
    static constexpr int defaultLimit = 300;
    static constexpr const char* defaultKey = "ravlenReadingPositions";

    // A limit below 1 counts as 1. Nothing is read until first needed.
    explicit ReadingPositionStore(platform::UserDefaults& defaults, std::string key = defaultKey,
                                  int limit = defaultLimit);
    // The application's store, over the standard user defaults.
    static ReadingPositionStore& shared();

    // The position saved for this path, when size and modification time
    // (within 2 ms) still match.
    std::optional<ReadingPosition> position(const FileFingerprint& file);
    // Stores the position for the file and drops the files read longest ago
    // beyond the limit.
    void save(const ReadingPosition& position, const FileFingerprint& file,
              const QDateTime& at = QDateTime::currentDateTimeUtc());
    // When the position of `path` was last saved, whatever the file's state;
    // none for a stored date beyond the range of dates.
    std::optional<QDateTime> lastRead(const QString& path);
    void forget(const QString& path);
    void removeAll();
    int count();

    int limit() const { return limit_; }

private:
    struct Entry {
        std::int64_t size = 0;
        double modified = 0;
        double date = 0; // reference seconds
        ReadingPosition position;
    };
    using Entries = std::map<QString, Entry>;

    Entries& load();
    void write(Entries entries);

    platform::UserDefaults& defaults_;
    std::string key_;
    int limit_;
    std::mutex mutex_;
    std::optional<Entries> cache_;
};

// The reader settings, each read from the given defaults with its default.
namespace ReaderPreferences {

inline constexpr const char* restorePositionKey = "ravlenRestorePosition"; // Boolean, default on
inline constexpr const char* defaultZoomKey = "ravlenDefaultZoom";         // ZoomPreset name, default fitPage
inline constexpr const char* defaultModeKey = "ravlenDefaultDisplayMode";  // DisplayMode name, default continuous
inline constexpr const char* showWelcomeKey = "ravlenShowWelcome";         // Boolean, default on

// Anything but a Boolean reads as on.
bool restorePosition(const platform::UserDefaults& defaults);
bool showWelcome(const platform::UserDefaults& defaults);
// An exact preset name, else fitPage.
ZoomPreset defaultZoom(const platform::UserDefaults& defaults);
// An exact mode name, else continuous.
DisplayMode defaultMode(const platform::UserDefaults& defaults);

} // namespace ReaderPreferences

} // namespace quarnkit
