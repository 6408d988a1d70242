#include "Platform/Metadata.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <set>
#include <sys/stat.h>

using namespace platform;

namespace {

MetadataRecord record(const std::string& path, std::optional<std::string> title, std::string text)
{
    MetadataRecord r;
    r.path = path;
    r.title = std::move(title);
    r.pageCount = 1;
    r.size = 100;
    r.modifiedNs = 1;
    r.inode = std::hash<std::string>{}(path);
    r.text = std::move(text);
    return r;
}

std::set<std::string> found(const MetadataIndex& index, const MetadataQuery& query)
{
    std::set<std::string> paths;
    index.query(query, [&](const MetadataEntry& e) { paths.insert(e.path.toStdString()); });
    return paths;
}

MetadataQuery names(std::vector<QString> words, QString folder = {})
{
    return {std::move(words), false, std::move(folder)};
}
MetadataQuery contents(std::vector<QString> words) { return {std::move(words), true, {}}; }

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

struct MetadataTest : ::testing::Test {
    QTemporaryDir dir;
    std::string path() const { return dir.filePath("cache/ravlen/index.sqlite").toStdString(); }
};

} // namespace

TEST_F(MetadataTest, NamesAndTitlesMatchAsFoldedSubstringsContentsByWordPrefix)
{
    MetadataIndex index(path());
    index.begin();
    index.put(record("/h/Docs/Résumé 2024.pdf", "Curriculum Vitae", "experience with databases and e-mail"));
    index.put(record("/h/Docs/invoice.pdf", std::nullopt, "Invoice total: 42 EUR, café au lait"));
    index.put(record("/h/Downloads/Manual.PDF", "Ångström units", "calibration procedure"));
    index.put(record("/h/Downloads2/other.pdf", "Invoice copy", ""));
    index.commit();

    struct Case {
        const char* what;
        MetadataQuery query;
        std::set<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"no words: everything",
         names({}),
         {"/h/Docs/Résumé 2024.pdf", "/h/Docs/invoice.pdf", "/h/Downloads/Manual.PDF", "/h/Downloads2/other.pdf"}},
        {"name without accents or case", names({"RESUME"}), {"/h/Docs/Résumé 2024.pdf"}},
        {"inside a word of the name", names({"voic"}), {"/h/Docs/invoice.pdf", "/h/Downloads2/other.pdf"}},
        {"title", names({"angstrom"}), {"/h/Downloads/Manual.PDF"}},
        {"every word must match", names({"invoice", "copy"}), {"/h/Downloads2/other.pdf"}},
        {"names mode never reads the text", names({"calibration"}), {}},
        {"the folder alone, not its look-alike", names({"invoice"}, "/h/Docs"), {"/h/Docs/invoice.pdf"}},
        {"the folder's name is no match", names({"Downloads"}), {}},
        {"text by word prefix", contents({"calib"}), {"/h/Downloads/Manual.PDF"}},
        {"text without accents", contents({"CAFE"}), {"/h/Docs/invoice.pdf"}},
        {"text: the middle of a word is no match", contents({"alibration"}), {}},
        {"text: a word split as the text was", contents({"e-ma"}), {"/h/Docs/Résumé 2024.pdf"}},
        {"contents mode still matches names", contents({"manual"}), {"/h/Downloads/Manual.PDF"}},
        {"a word in the text, another in the name", contents({"invoice", "42"}), {"/h/Docs/invoice.pdf"}},
        // What would be syntax in SQL or in a MATCH expression is only text.
        {"a quote is a character the text's words drop", contents({"\"invoice"}), {"/h/Docs/invoice.pdf"}},
        {"FTS operators", contents({"invoice", "OR", "NEAR(a"}), {}},
        {"SQL", contents({"x');", "DROP", "TABLE", "files;--"}), {}},
        {"an asterisk alone", contents({"*"}), {}},
        {"LIKE wildcards are plain", names({"%"}), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(found(index, c.query), c.expected) << c.what;
    EXPECT_EQ(index.count(), 4);
}

TEST_F(MetadataTest, MovesAndRemovalsCarryTheTextAlong)
{
    MetadataIndex index(path());
    index.begin();
    index.put(record("/h/a/one.pdf", std::nullopt, "alpha"));
    index.put(record("/h/a/deep/two.pdf", "Second", "beta"));
    index.put(record("/h/ab/three.pdf", std::nullopt, "gamma"));
    index.move("/h/a/one.pdf", "/h/a/renamed.pdf");
    index.moveFolder("/h/a", "/h/z");
    index.commit();
    EXPECT_EQ(found(index, contents({"alpha"})), std::set<std::string>{"/h/z/renamed.pdf"});
    EXPECT_EQ(found(index, names({"renamed"})), std::set<std::string>{"/h/z/renamed.pdf"});
    EXPECT_EQ(found(index, names({"second"})), std::set<std::string>{"/h/z/deep/two.pdf"});
    EXPECT_EQ(found(index, names({"one"})), std::set<std::string>{});
    EXPECT_EQ(found(index, names({}, "/h/ab")), std::set<std::string>{"/h/ab/three.pdf"});

    index.begin();
    index.remove("/h/z/renamed.pdf"); // number 1: the next file's, were numbers reused
    index.removeFolder("/h/z");
    index.remove("/h/ab/three.pdf");
    index.commit();
    EXPECT_TRUE(index.isEmpty());
    // The next file takes no number a removed one had, and no removed file's
    // words are left to name it: another program finds none in the file.
    index.put(record("/h/new.pdf", std::nullopt, "weather"));
    for (const char* word : {"alpha", "beta", "gamma"})
        EXPECT_EQ(found(index, contents({word})), std::set<std::string>{}) << word;
    EXPECT_EQ(found(index, contents({"weather"})), std::set<std::string>{"/h/new.pdf"});
    EXPECT_EQ(testsupport::runProgram("sqlite3",
                                      {QString::fromStdString(path()),
                                       "SELECT count(*) FROM contents WHERE contents MATCH 'alpha OR beta OR gamma'"})
                  .trimmed(),
              "0");
}

// A folder holds the files under it and no file of a folder whose name only
// starts with its name: "/h/a" holds neither "/h/a b/x.pdf" nor
// "/h/a-old/x.pdf". Every road that takes a folder (a search within it, its
// files listed, removed, moved away, another moved in its place) meets the
// same files.
TEST_F(MetadataTest, AFolderHoldsOnlyTheFilesUnderIt)
{
    const std::set<std::string> inside = {"/h/a/x.pdf", "/h/a/deep/y.pdf", "/h/a/a b/z.pdf", "/h/a/-/w.pdf"};
    // Names that sort just before, among and after the folder's files.
    const std::set<std::string> beside = {"/h/a b/x.pdf", "/h/a-old/x.pdf", "/h/a.pdf",           "/h/a!/x.pdf",
                                          "/h/a0/x.pdf",  "/h/ab/x.pdf",    "/h/a\xc3\xa9/x.pdf", "/h/b/a/x.pdf",
                                          "/h/a",         "/h/x.pdf"};
    const auto all = [](const MetadataIndex& index) {
        const std::vector<std::string> paths = index.pathsIn("/h");
        return std::set<std::string>(paths.begin(), paths.end());
    };
    const auto under = [](const std::string& folder, const std::set<std::string>& paths) {
        std::set<std::string> moved;
        for (const std::string& path : paths) moved.insert(folder + path.substr(4));
        return moved;
    };
    struct Road {
        const char* name;
        std::function<void(MetadataIndex&)> act;
        std::set<std::string> left; // every file of "/h" afterwards
    };
    const std::set<std::string> moved = [&] {
        std::set<std::string> paths = beside;
        const std::set<std::string> away = under("/h/z", inside);
        paths.insert(away.begin(), away.end());
        return paths;
    }();
    const std::set<std::string> replaced = [&] {
        std::set<std::string> paths = beside;
        paths.insert("/h/a/new.pdf");
        return paths;
    }();
    const std::vector<Road> roads = {
        {"the folder removed", [](MetadataIndex& index) { index.removeFolder("/h/a"); }, beside},
        {"the folder moved away", [](MetadataIndex& index) { index.moveFolder("/h/a", "/h/z"); }, moved},
        {"another folder moved in its place",
         [](MetadataIndex& index) {
             index.put(record("/h/q/new.pdf", std::nullopt, "q"));
             index.moveFolder("/h/q", "/h/a");
         },
         replaced},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        MetadataIndex::discard(path());
        MetadataIndex index(path());
        index.begin();
        for (const std::set<std::string>* paths : {&inside, &beside})
            for (const std::string& file : *paths) index.put(record(file, std::nullopt, "words"));
        index.commit();
        EXPECT_EQ(found(index, names({}, "/h/a")), inside) << "searched within";
        const std::vector<std::string> listed = index.pathsIn("/h/a");
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), inside) << "listed";
        index.begin();
        road.act(index);
        index.commit();
        EXPECT_EQ(all(index), road.left);
    }
}

TEST_F(MetadataTest, TheIndexIsPrivateAndADamagedOneIsRefused)
{
    {
        MetadataIndex index(path());
        index.begin();
        index.put(record("/h/a.pdf", std::nullopt, "secret words"));
        index.commit();
        EXPECT_EQ(modeOf(dir.filePath("cache/ravlen")), 0700u);
        EXPECT_EQ(modeOf(QString::fromStdString(path())), 0600u);
        EXPECT_EQ(modeOf(QString::fromStdString(path() + "-wal")), 0600u);
    }
    // A folder left open to others is closed again.
    ::chmod(QFile::encodeName(dir.filePath("cache/ravlen")).constData(), 0755);
    MetadataIndex(path()).count();
    EXPECT_EQ(modeOf(dir.filePath("cache/ravlen")), 0700u);

    MetadataIndex::discard(path());
    QFile file(QString::fromStdString(path()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(8192, 'x'));
    file.close();
    EXPECT_THROW(MetadataIndex{path()}, MetadataError);
    MetadataIndex::discard(path());
    EXPECT_TRUE(MetadataIndex(path()).isEmpty());
}
