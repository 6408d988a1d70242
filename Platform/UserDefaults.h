#pragma once
// The user's settings: typed values in one JSON file under the config folder
// (~/.config/ravlen/defaults.json), written atomically with sorted keys.
// Typed, so that "missing" and "not a Boolean" can be told apart.
#include <nlohmann/json.hpp>

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class UserDefaults {
public:
    // Reads the file at `path`; a missing or malformed file reads as empty
    // (a malformed one is kept aside as "<name>.corrupt.json", or
    // "<name>.corrupt-2.json" and so on when that is taken: never overwritten).
    // Changes are written `writeDelay` after the first change the file does
    // not hold yet.
    explicit UserDefaults(const QString& path, std::chrono::milliseconds writeDelay = std::chrono::milliseconds(250));
    ~UserDefaults(); // writes any pending change
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application-wide settings. The folder comes from RAVLEN_CONFIG_DIR
    // when set (tests), else the user's config location + "/ravlen".
    static UserDefaults& standard();

    bool contains(const std::string& key) const;
    std::optional<nlohmann::json> value(const std::string& key) const;
    // Each is none when the key is missing or holds another type.
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::int64_t> intValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const; // integers read as doubles too
    std::optional<std::string> stringValue(const std::string& key) const;

    void set(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

    // Writes pending changes now (changes are otherwise written shortly after,
    // off the calling thread). Returns false when the file could not be written.
    bool synchronize();
    QString path() const;
    // When the changes the file does not hold yet are due to be written; none
    // when it holds every change.
    std::optional<std::chrono::steady_clock::time_point> writeDue() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace platform
