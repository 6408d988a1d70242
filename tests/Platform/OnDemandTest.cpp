#include "Platform/OnDemand.h"
#include "Platform/TextRecognition.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

namespace {

bool mapped(const char* library)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

} // namespace

// Tesseract is loaded by the first recognition, not with the platform library.
TEST(OnDemand, TextRecognitionLoadsTesseractOnFirstUse)
{
    if (mapped("libtesseract")) GTEST_SKIP() << "an earlier test in this process recognised text";
    if (platform::TextRecognition::dataPath().empty()) GTEST_SKIP() << "no Tesseract language data here";
    QImage blank(64, 64, QImage::Format_Grayscale8);
    blank.fill(255);
    EXPECT_TRUE(platform::TextRecognition::recognize(blank, {"eng"}).empty());
    EXPECT_TRUE(mapped("libravlen-ocr.so"));
    EXPECT_TRUE(mapped("libtesseract"));
}

TEST(OnDemand, AMissingLibraryOrEntryGivesNothing)
{
    EXPECT_EQ(platform::ondemand::table("libravlen-nothing.so", "ravlenTextRecognitionEngine"), nullptr);
    EXPECT_EQ(platform::ondemand::table("libravlen-ocr.so", "ravlenNothing"), nullptr);
    EXPECT_NE(platform::ondemand::table("libravlen-ocr.so", "ravlenTextRecognitionEngine"), nullptr);
}
