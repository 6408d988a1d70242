#pragma once
// A history library of its own per test: its file, settings, reading
// positions and PDFs in a scratch folder.
#include "Platform/UserDefaults.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/Viewer/ReadingPositions.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

#include <memory>
#include <string>

namespace historytest {

// A PDF of `pages` pages whose document info holds `title`.
inline QByteArray titledPdf(const std::string& title, int pages)
{
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(3 + i) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    objects.push_back("<< /Title (" + title + ") >>");
    return testsupport::writePdf(objects, "1.4", " /Info " + std::to_string(objects.size()) + " 0 R");
}

struct Library {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<quarnkit::HistoryLibrary> library;

    // The folder of history.json.
    QString data() const { return dir.filePath("data"); }
    QString historyFile() const { return dir.filePath("data/history.json"); }

    quarnkit::HistoryLibrary& make(double saveDelay = 60, std::optional<QString> recents = std::nullopt)
    {
        library.reset();
        quarnkit::HistoryStore::Options options;
        options.saveDelay = saveDelay;
        library = std::make_unique<quarnkit::HistoryLibrary>(
            std::make_unique<quarnkit::HistoryStore>(data(), std::move(options)), positions, defaults, recents);
        return *library;
    }

    struct Seed {
        Seed(QString path, std::optional<QString> title = std::nullopt,
             QDateTime lastOpened = QDateTime::currentDateTimeUtc(), std::optional<int> pageCount = std::nullopt)
            : path(std::move(path)), title(std::move(title)), lastOpened(std::move(lastOpened)), pageCount(pageCount)
        {}
        QString path;
        std::optional<QString> title;
        QDateTime lastOpened;
        std::optional<int> pageCount;
    };
    // A history file holding these entries, for the next make().
    void seed(const std::vector<Seed>& entries) const
    {
        std::vector<quarnkit::HistoryEntry> written;
        for (const Seed& s : entries)
            written.push_back({QUuid::createUuid(), s.path, std::nullopt, s.title,
                               s.pageCount ? std::optional<std::int64_t>(*s.pageCount) : std::nullopt, s.lastOpened,
                               s.lastOpened, 1});
        QDir().mkpath(data());
        QFile file(historyFile());
        file.open(QIODevice::WriteOnly);
        file.write(quarnkit::HistoryFile::encode(written));
    }

    // A file in the scratch folder (its folders made).
    QString write(const QString& name, const QByteArray& bytes) const
    {
        const QString path = dir.filePath("files/" + name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }
};

} // namespace historytest
