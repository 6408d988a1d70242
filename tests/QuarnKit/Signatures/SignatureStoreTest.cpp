// The signature record and its file: sizes on the page, the file read and
// written back byte for byte, and what happens to missing, damaged and
// unreadable files.
#include "QuarnKit/Signatures/SignatureStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

using namespace quarnkit;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

Signature make(const char* id, double created, Signature::Kind kind = Signature::Kind::signature)
{
    Signature s;
    s.id = QUuid::fromString(QString::fromLatin1(id));
    s.kind = kind;
    s.strokes = {{{0.1, 0.2}, {0.3, 0.4}}};
    s.aspect = 3;
    s.lineWidth = 0.01;
    s.created = created;
    return s;
}

const char* const idA = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
const char* const idB = "0D2C4E1A-1111-4222-8333-944445555666";
const char* const idC = "A1B2C3D4-0000-4000-8000-000000000001";

// A file as ravlen writes it: sorted keys, no spaces, newest first.
const QByteArray handWritten =
    R"({"signatures":[)"
    R"({"aspect":2.5,"created":786123456.789,"id":"0D2C4E1A-1111-4222-8333-944445555666","kind":"initials",)"
    R"("lineWidth":0.0123,"source":"typed","strokes":[[0.1,0.2,0.3,0.4],[],[0.5,0.5]],"text":"J. Q."},)"
    R"({"aspect":3.0,"created":700000000.0,"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","kind":"signature",)"
    R"("lineWidth":0.008,"source":"drawn","strokes":[[0.0,0.0,1.0,1.0]]}],"version":1})";

} // namespace

TEST(Signature, PlacedSizeKeepsWithinItsCaps)
{
    struct Case {
        Signature::Kind kind;
        double aspect;
        double width, height;
    };
    const Case cases[] = {
        {Signature::Kind::signature, 3, 180, 60},  {Signature::Kind::signature, 2, 144, 72},
        {Signature::Kind::signature, 10, 180, 18}, {Signature::Kind::initials, 1, 44, 44},
        {Signature::Kind::initials, 2, 60, 30},    {Signature::Kind::signature, 0, 3.6, 72},
        {Signature::Kind::signature, -4, 3.6, 72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.aspect);
        Signature s;
        s.kind = c.kind;
        s.aspect = c.aspect;
        EXPECT_NEAR(s.placedSize().width, c.width, 1e-9);
        EXPECT_NEAR(s.placedSize().height, c.height, 1e-9);
    }
}

TEST(Signature, DrawnPenIsClampedAndTypedPenIsNot)
{
    Signature s;
    s.lineWidth = 0.001;
    EXPECT_NEAR(s.penWidth(180), 0.9, 1e-12);
    s.lineWidth = 0.1;
    EXPECT_NEAR(s.penWidth(180), 3.2, 1e-12);
    s.source = Signature::Source::typed;
    EXPECT_NEAR(s.penWidth(180), 18, 1e-12);
    s.lineWidth = 0.001;
    EXPECT_NEAR(s.penWidth(180), 0.18, 1e-12);
}

TEST(SignatureStore, FileReadsAndWritesBackByteForByte)
{
    QTemporaryDir dir;
    SignatureStore store(dir.path());
    writeFile(store.filePath(), handWritten);

    const auto all = store.all();
    ASSERT_EQ(all.size(), 2u);
    const Signature& typed = all[0];
    EXPECT_EQ(typed.id, QUuid::fromString(QString::fromLatin1(idB)));
    EXPECT_EQ(typed.kind, Signature::Kind::initials);
    EXPECT_EQ(typed.source, Signature::Source::typed);
    EXPECT_EQ(typed.text, "J. Q.");
    EXPECT_EQ(typed.created, 786123456.789);
    ASSERT_EQ(typed.strokes.size(), 3u);
    EXPECT_TRUE(typed.strokes[1].empty());
    EXPECT_EQ(all[1].text, std::nullopt);
    EXPECT_EQ(store.list(Signature::Kind::signature).size(), 1u);

    // Adding and deleting a signature rewrites the file exactly as it was.
    store.add(make(idC, 800000000));
    EXPECT_NE(readFile(store.filePath()), handWritten);
    const auto after = store.remove(QUuid::fromString(QString::fromLatin1(idC)));
    EXPECT_EQ(after.signatures, all);
    EXPECT_FALSE(after.problem);
    EXPECT_EQ(readFile(store.filePath()), handWritten);
}

TEST(SignatureStore, StrokesReadAsPairsOfNumbers)
{
    struct Case {
        const char* strokes;
        std::vector<std::vector<PdfPoint>> expected;
    };
    const Case cases[] = {
        {"[[0.1,0.2,0.3]]", {{{0.1, 0.2}}}},
        {"[[0.1]]", {{}}},
        {"[[],[1,2,3,4]]", {{}, {{1, 2}, {3, 4}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strokes);
        QTemporaryDir dir;
        SignatureStore store(dir.path());
        writeFile(store.filePath(), QByteArray(R"({"version":1,"signatures":[{"aspect":1,"created":0,"id":")") + idA
                                        + R"(","kind":"signature","lineWidth":0.01,"source":"drawn","strokes":)"
                                        + c.strokes + "}]}");
        const auto all = store.all();
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].strokes, c.expected);
    }
}

TEST(SignatureStore, VersionMustBeAnIntegerOfAnyValue)
{
    struct Case {
        const char* version;
        size_t count;
    };
    const Case cases[] = {
        {R"("version":2,)", 1}, {R"("version":1,)", 1}, {"", 0}, {R"("version":"1",)", 0}, {R"("version":1.5,)", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        QTemporaryDir dir;
        SignatureStore store(dir.path());
        writeFile(store.filePath(), QByteArray("{") + c.version + R"("signatures":[{"aspect":1,"created":0,"id":")"
                                        + idA
                                        + R"(","kind":"signature","lineWidth":0.01,"source":"drawn","strokes":[]}]})");
        EXPECT_EQ(store.all().size(), c.count);
    }
}

TEST(SignatureStore, NewestFirstWithTiesInFileOrder)
{
    QTemporaryDir dir;
    SignatureStore store(dir.path());
    writeFile(store.filePath(), QByteArray(R"({"signatures":[)") + R"({"aspect":1,"created":5,"id":")" + idA
                                    + R"(","kind":"signature","lineWidth":0.01,"source":"drawn","strokes":[]},)"
                                    + R"({"aspect":1,"created":9,"id":")" + idC
                                    + R"(","kind":"signature","lineWidth":0.01,"source":"drawn","strokes":[]},)"
                                    + R"({"aspect":1,"created":5,"id":")" + idB
                                    + R"(","kind":"initials","lineWidth":0.01,"source":"drawn","strokes":[]})"
                                    + R"(],"version":1})");
    const auto all = store.all();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].id, QUuid::fromString(QString::fromLatin1(idC)));
    EXPECT_EQ(all[1].id, QUuid::fromString(QString::fromLatin1(idA)));
    EXPECT_EQ(all[2].id, QUuid::fromString(QString::fromLatin1(idB)));
    ASSERT_EQ(store.list(Signature::Kind::initials).size(), 1u);
}

TEST(SignatureStore, AddingAKnownIdReplacesIt)
{
    QTemporaryDir dir;
    SignatureStore store(dir.path() + "/not/yet/there");
    EXPECT_TRUE(store.all().empty());
    store.add(make(idA, 10));
    store.add(make(idB, 20));
    Signature again = make(idA, 5);
    again.text = "Ada";
    const auto after = store.add(again);
    ASSERT_EQ(after.signatures.size(), 2u);
    EXPECT_EQ(after.signatures[0].id, QUuid::fromString(QString::fromLatin1(idB)));
    EXPECT_EQ(after.signatures[1], again);
    // The new one is first in the file, whatever its date.
    EXPECT_TRUE(readFile(store.filePath()).startsWith(R"({"signatures":[{"aspect":3.0,"created":5.0,"id":"6F9619FF)"));
}

TEST(SignatureStore, DeletingAnUnknownIdWritesNothing)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/absent";
    SignatureStore store(folder);
    const auto result = store.remove(QUuid::createUuid());
    EXPECT_TRUE(result.signatures.empty());
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(SignatureStore, DamagedFileIsKeptAsideAndReported)
{
    QTemporaryDir dir;
    SignatureStore store(dir.path());
    const QByteArray damaged[] = {"{\"signatures\":[{\"aspe", R"({"version":1,"signatures":[{"kind":"scribble"}]})"};

    writeFile(store.filePath(), damaged[0]);
    const auto first = store.read();
    EXPECT_TRUE(first.signatures.empty());
    ASSERT_TRUE(first.problem);
    EXPECT_EQ(first.problem->code(), SignatureStoreError::Code::keptAside);
    EXPECT_EQ(first.problem->description(),
              "Your saved signatures file was damaged. ravlen kept it as signatures.corrupt.json.");
    EXPECT_EQ(readFile(dir.filePath("signatures.corrupt.json")), damaged[0]);
    EXPECT_FALSE(QFileInfo::exists(store.filePath()));

    // A second damaged file does not go over the first copy; an add after it
    // succeeds and still tells of the file kept aside.
    writeFile(store.filePath(), damaged[1]);
    const auto added = store.add(make(idA, 1));
    ASSERT_EQ(added.signatures.size(), 1u);
    ASSERT_TRUE(added.problem);
    EXPECT_EQ(added.problem->keptAs(), "signatures.corrupt-2.json");
    EXPECT_EQ(readFile(dir.filePath("signatures.corrupt.json")), damaged[0]);
    EXPECT_EQ(readFile(dir.filePath("signatures.corrupt-2.json")), damaged[1]);
    EXPECT_FALSE(store.read().problem);
}

TEST(SignatureStore, UnreadableFileIsLeftAloneAndChangesAreRefused)
{
    enum class Block { permissions, directory };
    for (const Block block : {Block::permissions, Block::directory}) {
        SCOPED_TRACE(int(block));
        if (block == Block::permissions && ::geteuid() == 0) continue; // root reads every file
        QTemporaryDir dir;
        SignatureStore store(dir.path());
        if (block == Block::permissions) {
            writeFile(store.filePath(), handWritten);
            QFile::setPermissions(store.filePath(), QFileDevice::WriteOwner);
        } else {
            ASSERT_TRUE(QDir().mkpath(store.filePath()));
        }

        const auto reading = store.read();
        EXPECT_TRUE(reading.signatures.empty());
        ASSERT_TRUE(reading.problem);
        EXPECT_EQ(reading.problem->code(), SignatureStoreError::Code::unreadable);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                if (attempt == 0) store.add(make(idC, 1));
                else store.remove(QUuid::fromString(QString::fromLatin1(idA)));
                ADD_FAILURE() << "a change was written over an unreadable file";
            } catch (const SignatureStoreError& e) {
                EXPECT_EQ(e.code(), SignatureStoreError::Code::unreadable);
                EXPECT_EQ(e.description(), "ravlen couldn't read your saved signatures.");
            }
        }
        if (block == Block::permissions) {
            QFile::setPermissions(store.filePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            EXPECT_EQ(readFile(store.filePath()), handWritten);
        } else {
            EXPECT_TRUE(QFileInfo(store.filePath()).isDir());
        }
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("signatures.corrupt.json")));
    }
}

TEST(SignatureStore, FailedWriteLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    // The folder's place is taken by a file: nothing can be written there.
    const QString blocked = dir.filePath("blocked");
    writeFile(blocked, "x");
    SignatureStore nowhere(blocked);
    try {
        nowhere.add(make(idA, 1));
        ADD_FAILURE() << "no error";
    } catch (const SignatureStoreError& e) {
        EXPECT_EQ(e.code(), SignatureStoreError::Code::writeFailed);
        EXPECT_EQ(e.description(), "ravlen couldn't update your saved signatures.");
    }
    EXPECT_EQ(readFile(blocked), "x");
}

TEST(SignatureStore, ADiskThatFillsUpMidWriteLeavesTheFileWhole)
{
    QTemporaryDir dir;
    SignatureStore store(dir.path());
    store.add(make(idA, 1));
    const QByteArray before = readFile(store.filePath());
    {
        testsupport::FileSizeLimit full(quint64(before.size())); // room for the old file, not the longer new one
        EXPECT_THROW(store.add(make(idB, 2)), SignatureStoreError);
    }
    EXPECT_EQ(readFile(store.filePath()), before);
    EXPECT_EQ(store.all().size(), 1u);
}

TEST(SignatureStore, LivesInTheApplicationDataFolder)
{
    QTemporaryDir dir;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    const QString folder = SignatureStore::defaultDirectory();
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(folder, dir.path() + "/ravlen");
    EXPECT_EQ(SignatureStore(folder).filePath(), dir.path() + "/ravlen/signatures.json");
    EXPECT_FALSE(QFileInfo::exists(folder)); // nothing is made by asking
}
