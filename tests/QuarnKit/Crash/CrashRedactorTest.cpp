#include "QuarnKit/Crash/CrashRedactor.h"

#include <gtest/gtest.h>

using namespace quarnkit;
using nlohmann::json;

namespace {

struct Example {
    const char* input;
    const char* output;
};

void expectScrubs(const CrashRedactor& redactor, const std::vector<Example>& examples)
{
    for (const Example& e : examples)
        EXPECT_EQ(redactor.scrub(QString::fromUtf8(e.input)).toStdString(), e.output) << e.input;
}

} // namespace

// The examples of the report format's documentation, with the home of a Mac.
TEST(CrashRedactor, ScrubsTheDocumentedExamples)
{
    const CrashRedactor redactor(QStringLiteral("/Users/tmarsh"), QStringLiteral("tmarsh"),
                                 QStringLiteral("Tova Marsh"));
    expectScrubs(redactor,
                 {
                     {"Library not loaded: '/Users/tmarsh/lib/libq.dylib'", "Library not loaded: '~/lib/libq.dylib'"},
                     {"open /private/Users/tmarsh/Documents/Tax return.pdf failed", "open <path>"},
                     {"by TOVA MARSH and tmarsh2", "by user and tmarsh2"},
                     {"/Users/tmarsh2/a", "<path>"},
                     {"/var/folders/xy/ab12cd/T/AppTranslocation/9F1E/d/Viewer.app/Contents/MacOS/Viewer",
                      "/var/folders/*/T/AppTranslocation/9F1E/d/Viewer.app/Contents/MacOS/Viewer"},
                     {"(~/x (copy).pdf) ok", "(<path>) ok"},
                     {"'~/Tova's notes/x' missing", "'<path>' missing"},
                     {"a:/usr/lib/libz.dylib:/Users/x/b", "a:/usr/lib/libz.dylib:<path>"},
                     {"/tmp/*/x and /tmp/y", "/tmp/*/x and <path>"},
                     {"see file:///Users/tmarsh/a.pdf", "see <path>"},
                     {"file:///System/Library/Fonts/A.ttf", "file:///System/Library/Fonts/A.ttf"},
                     {"/Applications/Tile Maker.app/Contents/MacOS/Tile Maker",
                      "/Applications/Tile Maker.app/Contents/MacOS/Tile Maker"},
                     {"/Applications/Notes 2.0/Tile Maker.app/Contents", "<path>"},
                     {"x/usr/lib/a", "x/usr/lib/a"},
                     {"", ""},
                     {"/Users/x/a \t", "<path> \t"},
                     {"~/a\r\n/Users/x", "<path>\r\n<path>"},
                 });
    // The path pass alone leaves the user's names to the others.
    EXPECT_EQ(CrashRedactor::scrubPaths(QStringLiteral("'~/Tova's notes/x' missing")),
              QStringLiteral("'<path>' missing"));
}

// The same rules with Linux's folders: /home/<user>, the system's library
// folders, shared objects, /run/user/N and /tmp; and a path starts after any
// character that is not a letter or a number.
TEST(CrashRedactor, ScrubsLinuxPaths)
{
    const CrashRedactor redactor(QStringLiteral("/home/tmarsh/"), QStringLiteral("tmarsh"),
                                 QStringLiteral("Tova Marsh"));
    expectScrubs(
        redactor,
        {
            {"/home/tmarsh/.local/opt/ravlen/lib/libravlen-kit.so", "~/.local/opt/ravlen/lib/libravlen-kit.so"},
            {"/opt/ravlen/lib/libQt6Pdf.so.6.4.2 (deleted)", "/opt/ravlen/lib/libQt6Pdf.so.6.4.2 (deleted)"},
            // A library in another person's folder keeps only its own name.
            {"/home/ilse/build/libx.so.1", "<path>/libx.so.1"},
            {"/media/ilse/usb/Tool.app/Contents/Tool", "<path>/Tool.app/Contents/Tool"},
            {"/usr/lib/x86_64-linux-gnu/libQt6Core.so.6", "/usr/lib/x86_64-linux-gnu/libQt6Core.so.6"},
            {"/lib64/ld-linux-x86-64.so.2", "/lib64/ld-linux-x86-64.so.2"},
            {"/opt/ravlen/bin/ravlen", "<path>"},
            {"/tmp/ravlen-export/Tax return.pdf", "<path>"},
            {"/run/user/1000/ravlen/instance", "<path>"},
            {"socket x/run/user/1000/bus", "socket x/run/user/*/bus"},
            {"@/home/tmarsh/Secret.pdf", "@<path>"},
            {"path=~/Documents/x.pdf", "path=<path>"},
            {"../Secret/x.pdf", "..<path>"},
            {"home is /home/tmarsh", "home is ~"},
            {"Tova Marsh's file", "user's file"},
            {"résumé of tmarsh_2", "résumé of tmarsh_2"},
        });
}

TEST(CrashRedactor, RedactsValuesNeverKeysAndDropsIdentifiers)
{
    const CrashRedactor redactor(QStringLiteral("/Users/tmarsh"), QStringLiteral("tmarsh"),
                                 QStringLiteral("Tova Marsh"));
    const json report{{"crashReporterKey", "x"},
                      {"procPath", "/Users/tmarsh/Apps/q"},
                      {"threads", json::array({{{"userID", 501}, {"name", "tmarsh"}, {"id", 7}}})},
                      {"/Users/tmarsh", 1},
                      {"flags", json::array({true, nullptr, 2.5})}};
    const json expected{{"procPath", "<path>"},
                        {"threads", json::array({{{"name", "user"}, {"id", 7}}})},
                        {"/Users/tmarsh", 1},
                        {"flags", json::array({true, nullptr, 2.5})}};
    EXPECT_EQ(redactor.redact(report), expected);
    EXPECT_EQ(CrashRedactor::droppedKeys().size(), 8u);
}

TEST(CrashRedactor, HomeSpellingsAndShortNames)
{
    // The longest spelling wins; a trailing "/" changes nothing.
    const CrashRedactor mac(QStringLiteral("/Users/tmarsh/"), QStringLiteral("tmarsh"), QString());
    EXPECT_EQ(mac.scrub(QStringLiteral("at /private/Users/tmarsh")), QStringLiteral("at ~"));
    EXPECT_EQ(mac.scrub(QStringLiteral("at /System/Volumes/Data/Users/tmarsh")), QStringLiteral("at ~"));
    // A home of "/" has only the spellings of the user's name; a name of two
    // characters is no name pattern but still such a spelling.
    const CrashRedactor root(QStringLiteral("/"), QStringLiteral("tm"), QStringLiteral("Tm"));
    EXPECT_EQ(root.scrub(QStringLiteral("x=/home/tm")), QStringLiteral("x=~"));
    EXPECT_EQ(root.scrub(QStringLiteral("x=/Users/tm")), QStringLiteral("x=~"));
    EXPECT_EQ(root.scrub(QStringLiteral("tm and Tm")), QStringLiteral("tm and Tm"));
}
