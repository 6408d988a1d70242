#include "QuarnKit/Update/ExecutableFamilies.h"

#include "QuarnKit/Update/UpdateFixtures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

using namespace quarnkit;

namespace {

void put32(QByteArray& bytes, qsizetype at, std::uint32_t value, bool bigEndian)
{
    if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (bigEndian ? 24 - 8 * i : 8 * i));
}

// A universal header claiming `count` entries and holding the given CPU types.
QByteArray universal(std::uint32_t magic, std::uint32_t count, const std::vector<std::uint32_t>& cpus)
{
    QByteArray bytes;
    put32(bytes, 0, magic, true);
    put32(bytes, 4, count, true);
    const int entry = magic == 0xCAFEBABE ? 20 : 32;
    for (size_t i = 0; i < cpus.size(); ++i) {
        put32(bytes, 8 + qsizetype(i) * entry, cpus[i], true);
        bytes.resize(8 + qsizetype(i + 1) * entry, '\0');
    }
    return bytes;
}

QByteArray single(std::uint32_t magic, std::uint32_t cpu)
{
    QByteArray bytes;
    put32(bytes, 0, magic, true);
    put32(bytes, 4, cpu, false);
    bytes.resize(32, '\0');
    return bytes;
}

QByteArray elf(char elfClass, char byteOrder, std::uint16_t machine)
{
    QByteArray bytes("\x7F"
                     "ELF",
                     4);
    bytes.append(elfClass).append(byteOrder).append(1);
    bytes.resize(64, '\0');
    const bool big = byteOrder == 2;
    bytes[18] = char(big ? machine >> 8 : machine & 0xFF);
    bytes[19] = char(big ? machine & 0xFF : machine >> 8);
    return bytes;
}

constexpr std::uint32_t arm = 0x0100000C, intel = 0x01000007, arm32 = 12;

} // namespace

TEST(ExecutableFamilies, HeadersGiveTheirFamilies)
{
    const ChipSet both{Chip::arm64, Chip::x86_64}, armOnly{Chip::arm64}, intelOnly{Chip::x86_64}, none;
    QByteArray cutInSecond = universal(0xCAFEBABE, 3, {arm, intel});
    cutInSecond.truncate(8 + 20 + 2); // the second CPU type is incomplete
    QByteArray secondTypeOnly = universal(0xCAFEBABE, 3, {arm, intel});
    secondTypeOnly.truncate(8 + 20 + 4);
    const std::vector<std::tuple<const char*, QByteArray, ChipSet>> cases = {
        {"universal with both", universal(0xCAFEBABE, 2, {arm, intel}), both},
        {"universal arm64e", universal(0xCAFEBABE, 1, {arm}), armOnly},
        {"17 entries", universal(0xCAFEBABE, 17, {arm}), none},
        {"16 entries", universal(0xCAFEBABE, 16, {arm}), armOnly},
        {"0 entries", universal(0xCAFEBABE, 0, {}), none},
        {"a cut second entry", cutInSecond, armOnly},
        {"a second entry's CPU type only", secondTypeOnly, both},
        {"64-bit offsets read 32 bytes apart", universal(0xCAFEBABF, 2, {intel, arm}), both},
        {"32-bit ARM only", universal(0xCAFEBABE, 1, {arm32}), none},
        {"single arm64", single(0xCFFAEDFE, arm), armOnly},
        {"single x86_64", single(0xCFFAEDFE, intel), intelOnly},
        {"single with a 32-bit magic", single(0xCEFAEDFE, arm), none},
        {"ELF x86-64", elf(2, 1, 62), intelOnly},
        {"ELF AArch64", elf(2, 1, 183), armOnly},
        {"big-endian ELF AArch64", elf(2, 2, 183), armOnly},
        {"32-bit ELF", elf(1, 1, 62), none},
        {"ELF for RISC-V", elf(2, 1, 243), none},
        {"seven bytes", QByteArray("\xCA\xFE\xBA\xBE\0\0\0", 7), none},
        {"text", QByteArray("#!/bin/sh\necho hello\n"), none},
        {"nothing", QByteArray(), none},
    };
    for (const auto& [why, header, expected] : cases) EXPECT_EQ(ExecutableFamilies::chips(header), expected) << why;
}

TEST(ExecutableFamilies, FilesAreReadFromTheirStart)
{
    QTemporaryDir dir;
    EXPECT_EQ(ExecutableFamilies::chips(QCoreApplication::applicationFilePath()), ChipSet{nativeChip()});
    EXPECT_EQ(ExecutableFamilies::chips(dir.filePath("missing")), ChipSet{});
    ASSERT_TRUE(updatefixtures::writeFile(dir.filePath("empty"), {}));
    EXPECT_EQ(ExecutableFamilies::chips(dir.filePath("empty")), ChipSet{});
    ASSERT_TRUE(updatefixtures::writeFile(dir.filePath("universal"), universal(0xCAFEBABE, 2, {arm, intel})));
    EXPECT_EQ(ExecutableFamilies::chips(dir.filePath("universal")), (ChipSet{Chip::arm64, Chip::x86_64}));
}

TEST(Chip, NamesAndLabels)
{
    EXPECT_EQ(chipFromRaw("arm64"), Chip::arm64);
    EXPECT_EQ(chipFromRaw("x86_64"), Chip::x86_64);
    EXPECT_EQ(chipFromRaw("ARM64"), std::nullopt);
    EXPECT_EQ(chipFromRaw("ppc"), std::nullopt);
    EXPECT_EQ(chipOfMachine("aarch64"), Chip::arm64);
    EXPECT_EQ(chipOfMachine("x86_64"), Chip::x86_64);
    EXPECT_EQ(buildLabel(Chip::arm64), "ARM64");
    EXPECT_EQ(buildLabel(Chip::x86_64), "x86-64");
    // This computer runs the build the tests were made with.
    EXPECT_EQ(nativeChip(), builtChip());
}
