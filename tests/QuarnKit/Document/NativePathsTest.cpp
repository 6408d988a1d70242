#include "QuarnKit/Document/NativePaths.h"

#include <gtest/gtest.h>

using quarnkit::nativePath;
using quarnkit::pathFromNative;

TEST(NativePaths, EveryFileNameComesBackAsTheSameBytes)
{
    const std::vector<QByteArray> names = {
        "/home/ana/plain.pdf",
        "/home/ana/caf\xc3\xa9 \xce\xb1\xce\xb2 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\x84.pdf", // UTF-8 in every length
        "/home/ana/caf\xe9.pdf",                                                                // Latin-1
        "/home/ana/cut\xe6\x97.pdf",                                                            // a sequence cut short
        "/home/ana/overlong\xc0\xaf.pdf",                                                       // an overlong slash
        "/home/ana/surrogate\xed\xb3\xa9.pdf",                                                  // an encoded surrogate
        "\xff\xfe\x80", // nothing but stray bytes
    };
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toHex().toStdString());
        EXPECT_EQ(nativePath(pathFromNative(name)), name);
    }
    // Valid UTF-8 reads as the text it is; stray bytes never pass for other text.
    EXPECT_EQ(pathFromNative("/home/ana/caf\xc3\xa9.pdf"), QString::fromUtf8("/home/ana/café.pdf"));
    EXPECT_NE(pathFromNative("/home/ana/caf\xe9.pdf"), QString::fromUtf8("/home/ana/café.pdf"));
    EXPECT_NE(nativePath(pathFromNative("caf\xe9.pdf")), nativePath(pathFromNative("caf\xc3\xa9.pdf")));
}
