#include "QuarnKit/Explore/ExploreIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace quarnkit {

namespace ExploreIndex {

QString path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QStringLiteral("/ravlen/index.sqlite");
}

QString readerProgram() { return readerProgram(QCoreApplication::applicationDirPath()); }

QString readerProgram(const QString& executableFolder)
{
    const QString name = QStringLiteral("ravlen-index-reader");
    const QString install = QFileInfo(executableFolder).dir().absolutePath();
    for (const QString& folder :
         {executableFolder, install + QStringLiteral("/libexec"), install + QStringLiteral("/bin")}) {
        const QFileInfo reader(folder + QLatin1Char('/') + name);
        if (reader.isFile() && reader.isExecutable()) return reader.absoluteFilePath();
    }
    return {};
}

platform::MetadataIndexerOptions indexerOptions()
{
    const ExploreFolders folders = ExploreFolders::standard();
    platform::MetadataIndexerOptions options;
    options.indexPath = QFile::encodeName(path()).toStdString();
    for (const QString& root : folders.roots()) options.roots.push_back(root.toStdString());
    options.skipsFolder = [exclusions = ExploreExclusions::standard()](const std::string& folder) {
        return exclusions.excludesFolder(QString::fromStdString(folder));
    };
    options.readerPath = QFile::encodeName(readerProgram()).toStdString();
    // A quarter of the cores, at idle priority: the index fills without the
    // machine noticing.
    options.readers = std::clamp(QThread::idealThreadCount() / 4, 1, 4);
    return options;
}

IndexSearch::Settings searchSettings()
{
    return {QFile::encodeName(path()).toStdString(), ExploreSummary::limit, ExploreExclusions::standard(),
            ExploreFolders::standard(), LastUsedDates::standard()};
}

platform::MetadataIndexer& indexer()
{
    static platform::MetadataIndexer shared(indexerOptions());
    return shared;
}

} // namespace ExploreIndex

} // namespace quarnkit
