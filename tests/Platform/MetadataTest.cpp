#include "Platform/Metadata.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
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
