#include "Platform/UserDefaults.h"

#include "Platform/FileMoves.h"
#include "Platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// A failed write is tried again later rather than in a tight loop (the folder
// may stay unwritable).
constexpr auto retryDelay = std::chrono::seconds(5);

// Reads the settings file. A file that is not a JSON object is moved aside so
// that the next write does not destroy what the user may still want back.
nlohmann::json readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return nlohmann::json::object();
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty()) return nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) return parsed;
    FileMoves::moveAside(path); // numbered: an earlier damaged copy stays as it was
    return nlohmann::json::object();
}

// The settings name the user's files: theirs alone (0600 in a 0700 folder).
bool writeFile(const QString& path, const std::string& text)
{
    return PrivateFiles::write(path, QByteArray::fromStdString(text));
}

} // namespace

struct UserDefaults::Impl {
    QString path;
    std::chrono::milliseconds writeDelay; // changes made in a burst are written once

    mutable std::mutex mutex;                         // guards everything below
    nlohmann::json values = nlohmann::json::object(); // std::map underneath: keys stay sorted
    std::uint64_t changes = 0;                        // raised by every change
    std::uint64_t written = 0;                        // the value of `changes` that the file holds
    Clock::time_point due;
    bool stopping = false;
    std::condition_variable wake;
    std::thread writer;

    std::mutex fileMutex; // one write of the file at a time

    bool dirty() const { return written != changes; }

    // Writes the current values; returns false when the file could not be written.
    bool flush()
    {
        std::lock_guard fileLock(fileMutex);
        std::string text;
        std::uint64_t snapshot = 0;
        {
            std::lock_guard lock(mutex);
            if (!dirty()) return true;
            // Invalid UTF-8 in a stored string must not stop the whole file from being written.
            text = values.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
            snapshot = changes;
        }
        const bool ok = writeFile(path, text);
        std::lock_guard lock(mutex);
        if (ok && snapshot > written) written = snapshot;
        return ok;
    }

    void run()
    {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (!dirty()) {
                wake.wait(lock);
                continue;
            }
            if (Clock::now() < due) {
                wake.wait_until(lock, due);
                continue;
            }
            lock.unlock();
            const bool ok = flush();
            lock.lock();
            if (!ok && dirty()) due = Clock::now() + retryDelay;
        }
    }

    // Called with `mutex` held after every change.
    void changed()
    {
        // The delay counts from the first unwritten change, so that a steady
        // stream of changes (a dragged slider) cannot put the write off forever.
        if (!dirty()) due = Clock::now() + writeDelay;
        ++changes;
        if (!writer.joinable()) writer = std::thread([this] { run(); });
        wake.notify_one();
    }
};

UserDefaults::UserDefaults(const QString& path, std::chrono::milliseconds writeDelay) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->writeDelay = writeDelay;
    d->values = readFile(path);
}

UserDefaults::~UserDefaults()
{
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_one();
    if (d->writer.joinable()) d->writer.join();
    d->flush();
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults defaults([] {
        QString folder = qEnvironmentVariable("RAVLEN_CONFIG_DIR");
        if (folder.isEmpty())
            folder =
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/ravlen");
        return QDir(folder).filePath(QStringLiteral("defaults.json"));
    }());
    return defaults;
}

bool UserDefaults::contains(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    return d->values.contains(key);
}

std::optional<nlohmann::json> UserDefaults::value(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    if (it == d->values.end()) return std::nullopt;
    return *it;
}

std::optional<bool> UserDefaults::boolValue(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    if (it == d->values.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<std::int64_t> UserDefaults::intValue(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    if (it == d->values.end()) return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto u = it->get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return std::int64_t(u);
    }
    if (it->is_number_integer()) return it->get<std::int64_t>();
    return std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    if (it == d->values.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    if (it == d->values.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

void UserDefaults::set(const std::string& key, const nlohmann::json& value)
{
    std::lock_guard lock(d->mutex);
    const auto it = d->values.find(key);
    // Types are compared too: JSON numbers compare equal across int and double.
    if (it != d->values.end() && it->type() == value.type() && *it == value) return;
    d->values[key] = value;
    d->changed();
}

void UserDefaults::remove(const std::string& key)
{
    std::lock_guard lock(d->mutex);
    if (d->values.erase(key) == 0) return;
    d->changed();
}

bool UserDefaults::synchronize() { return d->flush(); }

QString UserDefaults::path() const { return d->path; }

std::optional<Clock::time_point> UserDefaults::writeDue() const
{
    std::lock_guard lock(d->mutex);
    if (!d->dirty()) return std::nullopt;
    return d->due;
}

} // namespace platform
