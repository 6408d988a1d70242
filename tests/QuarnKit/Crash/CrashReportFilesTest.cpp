#include "QuarnKit/Crash/CrashReportFiles.h"
#include "support/OtherUsers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using namespace quarnkit;
using nlohmann::json;
using testsupport::writeFile;

namespace {

const QString process = QStringLiteral("ravlen");
const QString bundle = QStringLiteral("com.ombri.ravlen");

json crashHeader(const std::string& incident, const std::string& time = "2024-01-15 10:23:45.12 +0100")
{
    return {{"bug_type", "309"}, {"incident_id", incident}, {"timestamp", time}, {"bundleID", "com.ombri.ravlen"}};
}

void writeReport(const QString& path, const json& header, const std::string& body = "{\n  \"threads\" : []\n}\n")
{
    writeFile(path, QByteArray::fromStdString(header.dump() + "\n" + body));
}

QStringList namesOf(const std::vector<CrashReportFile>& files)
{
    QStringList names;
    for (const auto& file : files) names << QFileInfo(file.path).fileName();
    return names;
}

} // namespace

TEST(CrashReportScanner, FindsOnlyThisProgramsCrashReports)
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("DiagnosticReports"));
    struct Case {
        const char* name;
        json header;
        bool found;
    };
    const json otherApp{{"bug_type", "309"},
                        {"incident_id", "B"},
                        {"timestamp", "2024-01-15 10:00:00 +0000"},
                        {"bundleID", "com.example.other"},
                        {"app_name", "ravlen"}};
    const json namedOnly{{"bug_type", 309},
                         {"incident_id", "C"},
                         {"timestamp", "2024-01-15 10:00:00 +0000"},
                         {"bundleID", ""},
                         {"name", "ravlen"}};
    json notCrash = crashHeader("D");
    notCrash["bug_type"] = "288";
    json noIncident = crashHeader("");
    json isoTime = crashHeader("F", "2024-01-15T10:23:45Z");
    json longLine = crashHeader("G");
    longLine["padding"] = std::string(16384, 'x');
    const std::vector<Case> cases{
        {"ravlen-2024-01-15-102345.IPS", crashHeader("A"), true},
        {"Ravlen-2024-01-15-102345.ips", crashHeader("A2"), false},
        {"ravlen-other.ips", otherApp, false},
        {"ravlen-named.ips", namedOnly, true},
        {"ravlen-288.ips", notCrash, false},
        {"ravlen-noid.ips", noIncident, false},
        {"ravlen-iso.ips", isoTime, false},
        {"ravlen-long.ips", longLine, false},
        {".ravlen-1234.ips.tmp", crashHeader("H"), false},
        {"ravlen-text.txt", crashHeader("I"), false},
    };
    for (const Case& c : cases) writeReport(QDir(folder).filePath(QLatin1String(c.name)), c.header);
    // A folder and a link named like reports are passed over.
    QDir(folder).mkpath(QStringLiteral("ravlen-folder.ips"));
    writeReport(home.filePath(QStringLiteral("elsewhere.ips")), crashHeader("J"));
    QFile::link(home.filePath(QStringLiteral("elsewhere.ips")),
                QDir(folder).filePath(QStringLiteral("ravlen-link.ips")));

    QStringList expected;
    for (const Case& c : cases)
        if (c.found) expected << QLatin1String(c.name);
    QStringList found = namesOf(CrashReportScanner::find(CrashReportScanner::standardFolders(folder), bundle, process));
    found.sort();
    expected.sort();
    EXPECT_EQ(found, expected);
    // The scan reads only the first 16384 bytes; the reader takes the whole line.
    EXPECT_EQ(IPSReport::read(QDir(folder).filePath(QStringLiteral("ravlen-long.ips"))).header.incidentID(),
              QStringLiteral("G"));
}

TEST(CrashReportScanner, ListsNewestFirstAndPrefersTheMainFolder)
{
    QTemporaryDir home;
    const QStringList folders = CrashReportScanner::standardFolders(home.filePath(QStringLiteral("DiagnosticReports")));
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[1], home.filePath(QStringLiteral("DiagnosticReports/Retired")));
    writeReport(folders[0] + QStringLiteral("/ravlen-a.ips"), crashHeader("A", "2024-01-15 10:00:00 +0000"));
    writeReport(folders[0] + QStringLiteral("/ravlen-b.ips"), crashHeader("B", "2024-01-15 12:00:00 +0000"));
    writeReport(folders[1] + QStringLiteral("/ravlen-c.ips"), crashHeader("C", "2024-01-15 11:00:00 +0000"));
    writeReport(folders[1] + QStringLiteral("/ravlen-a-copy.ips"), crashHeader("A", "2024-01-15 13:00:00 +0000"));

    const auto files = CrashReportScanner::find(folders, bundle, process);
    EXPECT_EQ(namesOf(files), (QStringList{"ravlen-b.ips", "ravlen-c.ips", "ravlen-a.ips"}));
    EXPECT_EQ(files[0].date, QDateTime(QDate(2024, 1, 15), QTime(12, 0), Qt::UTC));

    EXPECT_TRUE(CrashReportScanner::find(folders, bundle, QString()).empty());
    EXPECT_TRUE(CrashReportScanner::find({home.filePath(QStringLiteral("missing"))}, bundle, process).empty());
}

// Handled reports leave the main folder for "Retired", which keeps only the
// newest few; whatever is not this program's crash report is left alone.
TEST(CrashReportScanner, RetiresHandledReportsAndKeepsAFewOfThem)
{
    QTemporaryDir home;
    const QStringList folders = CrashReportScanner::standardFolders(home.filePath(QStringLiteral("DiagnosticReports")));
    const auto at = [](int hour) { return QStringLiteral("2024-01-15 %1:00:00 +0000").arg(hour, 2, 10, QChar(u'0')); };
    for (int hour = 0; hour < 6; ++hour)
        writeReport(folders[0] + QStringLiteral("/ravlen-%1.ips").arg(hour),
                    crashHeader("H" + std::to_string(hour), at(hour).toStdString()));
    writeReport(folders[1] + QStringLiteral("/ravlen-old.ips"), crashHeader("OLD", "2023-01-01 00:00:00 +0000"));
    writeFile(folders[1] + QStringLiteral("/notes.txt"), "not a report");

    // H5 still waits for an answer; the others are handled.
    CrashReportScanner::retire(
        folders, bundle, process, [](const CrashReportFile& r) { return r.incidentID != QStringLiteral("H5"); }, 3);
    EXPECT_EQ(namesOf(CrashReportScanner::find({folders[0]}, bundle, process)), QStringList{"ravlen-5.ips"});
    EXPECT_EQ(namesOf(CrashReportScanner::find({folders[1]}, bundle, process)),
              (QStringList{"ravlen-4.ips", "ravlen-3.ips", "ravlen-2.ips"}));
    EXPECT_TRUE(QFile::exists(folders[1] + QStringLiteral("/notes.txt")));
    EXPECT_EQ(QFileInfo(folders[1]).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
}

TEST(CrashReport, ReadsTwoJsonObjectsUpToTheSizeLimit)
{
    const auto unreadable = [](const QByteArray& bytes) {
        try {
            IPSReport::fromData(bytes);
            return false;
        } catch (const CrashReportFailure& failure) {
            return failure.error == CrashReportError::unreadable;
        }
    };
    const IPSReport report = IPSReport::fromData("{\"incident_id\":\"A\"}\r\n{\"x\":1,\n\"y\":\"a\\nb\"}");
    EXPECT_EQ(report.header.incidentID(), QStringLiteral("A"));
    EXPECT_EQ(report.body["y"], "a\nb");
    EXPECT_TRUE(unreadable("{\"incident_id\":\"A\"}\n"));
    EXPECT_TRUE(IPSHeader::fromLine("{\"incident_id\":\"A\"}"));
    EXPECT_TRUE(unreadable("{}"));
    EXPECT_TRUE(unreadable("[]\n{}"));
    EXPECT_TRUE(unreadable("{}\n[1]"));

    // Exactly 8 MiB passes; one byte more does not, from bytes or from a file.
    QByteArray limit = "{}\n{\"pad\":\"\"}";
    limit.insert(limit.size() - 2, QByteArray(IPSReport::sizeLimit - limit.size(), 'x'));
    EXPECT_NO_THROW(IPSReport::fromData(limit));
    EXPECT_TRUE(unreadable(limit + ' '));
    QTemporaryDir folder;
    writeFile(folder.filePath(QStringLiteral("r.ips")), limit + ' ');
    EXPECT_THROW(IPSReport::read(folder.filePath(QStringLiteral("r.ips"))), CrashReportFailure);
    EXPECT_THROW(IPSReport::read(folder.filePath(QStringLiteral("missing.ips"))), CrashReportFailure);
}

TEST(CrashReport, ValueReadersStayInRange)
{
    const json values = json::parse(R"({"text":"309","num":309,"yes":true,"no":false,"frac":-2.75,
        "big":18446744073709551615,"max":9223372036854775807,"huge":1e30,"neg":-1,
        "plus":"+42","minus":"-42","zeros":"-000","spaced":" 7","hex":"0x10","empty":"",
        "over":"18446744073709551616","sixtyfour":"9223372036854775808","obj":{},"null":null})");
    const auto v = [&](const char* key) { return ipsMember(values, key); };
    using S = std::optional<QString>;
    EXPECT_EQ(ipsString(v("text")), S("309"));
    EXPECT_EQ(ipsString(v("num")), S("309"));
    EXPECT_EQ(ipsString(v("yes")), S("1"));
    EXPECT_EQ(ipsString(v("frac")), S("-2.75"));
    EXPECT_EQ(ipsString(v("obj")), std::nullopt);
    EXPECT_EQ(ipsString(v("missing")), std::nullopt);
    EXPECT_EQ(ipsBool(v("yes")), true);
    EXPECT_EQ(ipsBool(v("num")), true);
    EXPECT_EQ(ipsBool(v("text")), std::nullopt);

    using I = std::optional<std::int64_t>;
    EXPECT_EQ(ipsInt(v("num")), I(309));
    EXPECT_EQ(ipsInt(v("frac")), I(-2));
    EXPECT_EQ(ipsInt(v("no")), I(0));
    EXPECT_EQ(ipsInt(v("max")), I(std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(ipsInt(v("big")), std::nullopt);
    EXPECT_EQ(ipsInt(v("huge")), std::nullopt);
    EXPECT_EQ(ipsInt(v("plus")), I(42));
    EXPECT_EQ(ipsInt(v("minus")), I(-42));
    EXPECT_EQ(ipsInt(v("sixtyfour")), std::nullopt);
    for (const char* key : {"spaced", "hex", "empty", "null"}) EXPECT_EQ(ipsInt(v(key)), std::nullopt) << key;

    using U = std::optional<std::uint64_t>;
    EXPECT_EQ(ipsUInt64(v("big")), U(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_EQ(ipsUInt64(v("sixtyfour")), U(9223372036854775808u));
    EXPECT_EQ(ipsUInt64(v("zeros")), U(0));
    EXPECT_EQ(ipsUInt64(v("yes")), U(1));
    for (const char* key : {"neg", "frac", "huge", "minus", "over", "spaced", "obj"})
        EXPECT_EQ(ipsUInt64(v(key)), std::nullopt) << key;
}

TEST(CrashReport, TimestampsParseOnlyInTheReportForm)
{
    const QDateTime base(QDate(2024, 1, 15), QTime(9, 23, 45), Qt::UTC);
    struct Case {
        const char* text;
        std::optional<QDateTime> date;
    };
    const std::vector<Case> cases{
        {"2024-01-15 10:23:45 +0100", base},
        {"2024-01-15 10:23:45.5 +0100", base.addMSecs(500)},
        {"2024-01-15   10:23:45.12 +0100", base.addMSecs(120)},
        {"2024-01-15 10:23:45.5x +0100", base},
        {"2024-01-15 10:23:45.5e3 +0100", base}, // only digits count as a fraction
        {"2024-01-15 10:23:45. +0100", base},
        {"2024-01-15 09:23:45 +0000", base},
        {"2024-01-15 10:23:45 +0100 later", std::nullopt},
        {"2024-01-15T10:23:45Z", std::nullopt},
        {"2024-02-30 10:23:45 +0000", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(CrashDate::parse(QString::fromLatin1(c.text)), c.date) << c.text;
    EXPECT_EQ(CrashDate::iso(base.addMSecs(120)), QStringLiteral("2024-01-15T09:23:45Z"));
}

// The tidy-up moves and removes reports only through folders of the user's
// own: a "Retired" folder another user made, or their link in its place,
// takes no report, and nothing in it or behind it is removed. The user is
// nobody, in a child.
TEST(CrashReportScanner, TheTidyUpWorksOnlyInFoldersOfTheUsersOwn)
{
    using testsupport::kOtherUser;
    using testsupport::kUser;
    if (!testsupport::canBecomeOtherUsers()) GTEST_SKIP() << "another user's folders need root to make";
    enum class Retired { own, othersFolder, othersLink };
    const struct {
        const char* what;
        Retired retired;
    } cases[] = {{"the user's own", Retired::own},
                 {"another user's, open to the user", Retired::othersFolder},
                 {"another user's link to a folder of the user's", Retired::othersLink}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir home;
        const QStringList folders = CrashReportScanner::standardFolders(home.filePath("DiagnosticReports"));
        const QString elsewhere = home.filePath("elsewhere");
        for (int hour = 0; hour < 3; ++hour)
            writeReport(folders[0] + QStringLiteral("/ravlen-%1.ips").arg(hour),
                        crashHeader("H" + std::to_string(hour),
                                    QStringLiteral("2024-01-15 0%1:00:00 +0000").arg(hour).toStdString()));
        const QString kept = (c.retired == Retired::othersLink ? elsewhere : folders[1]) + "/ravlen-old.ips";
        writeReport(kept, crashHeader("OLD", "2023-01-01 00:00:00 +0000"));
        if (c.retired == Retired::othersLink) {
            ASSERT_TRUE(QFile::link(elsewhere, folders[1]));
        }
        ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
        for (QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            ::lchown(QFile::encodeName(it.next()).constData(), kUser, kUser);
        if (c.retired == Retired::othersFolder) {
            ::chown(QFile::encodeName(folders[1]).constData(), kOtherUser, kOtherUser);
            ::chmod(QFile::encodeName(folders[1]).constData(), 0777);
        }
        if (c.retired == Retired::othersLink)
            ::lchown(QFile::encodeName(folders[1]).constData(), kOtherUser, kOtherUser);

        EXPECT_TRUE(testsupport::asUser(kUser, [&] {
            CrashReportScanner::retire(
                folders, bundle, process, [](const CrashReportFile&) { return true; }, 1);
        }));
        const bool tidied = c.retired == Retired::own;
        EXPECT_EQ(CrashReportScanner::find({folders[0]}, bundle, process).size(), tidied ? 0u : 3u);
        EXPECT_EQ(QFile::exists(kept), !tidied);
        if (tidied) {
            EXPECT_EQ(namesOf(CrashReportScanner::find({folders[1]}, bundle, process)), QStringList{"ravlen-2.ips"});
        }
    }
}
