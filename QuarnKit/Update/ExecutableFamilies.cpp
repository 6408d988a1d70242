#include "QuarnKit/Update/ExecutableFamilies.h"

#include <QFile>

#include <cstdint>

namespace quarnkit {

namespace {

std::uint32_t bigEndian32(const QByteArray& b, qsizetype at)
{
    return std::uint32_t(std::uint8_t(b[at])) << 24 | std::uint32_t(std::uint8_t(b[at + 1])) << 16
           | std::uint32_t(std::uint8_t(b[at + 2])) << 8 | std::uint32_t(std::uint8_t(b[at + 3]));
}

std::uint32_t littleEndian32(const QByteArray& b, qsizetype at)
{
    return std::uint32_t(std::uint8_t(b[at + 3])) << 24 | std::uint32_t(std::uint8_t(b[at + 2])) << 16
           | std::uint32_t(std::uint8_t(b[at + 1])) << 8 | std::uint32_t(std::uint8_t(b[at]));
}

constexpr std::uint32_t machArm64 = 0x0100000C;
constexpr std::uint32_t machX86_64 = 0x01000007;

void addMachCpu(ChipSet& chips, std::uint32_t cpu)
{
    if (cpu == machArm64) chips.insert(Chip::arm64);
    if (cpu == machX86_64) chips.insert(Chip::x86_64);
}

} // namespace

ChipSet MachOSlices::chips(const QByteArray& header)
{
    ChipSet found;
    if (header.size() < 8) return found;
    const std::uint32_t magic = bigEndian32(header, 0);
    if (magic == 0xCAFEBABE || magic == 0xCAFEBABF) {
        const std::uint32_t count = bigEndian32(header, 4);
        if (count == 0 || count > 16) return found;
        const qsizetype entrySize = magic == 0xCAFEBABE ? 20 : 32;
        for (std::uint32_t i = 0; i < count; ++i) {
            const qsizetype at = 8 + qsizetype(i) * entrySize;
            if (header.size() < at + 4) break;
            addMachCpu(found, bigEndian32(header, at));
        }
        return found;
    }
    if (magic == 0xCFFAEDFE) addMachCpu(found, littleEndian32(header, 4));
    return found;
}

ChipSet ElfHeader::chips(const QByteArray& header)
{
    // e_ident (16 bytes), e_type (2), e_machine (2).
    if (header.size() < 20
        || !header.startsWith("\x7F"
                              "ELF"))
        return {};
    constexpr char elfClass64 = 2, littleEndian = 1, bigEndian = 2;
    if (header[4] != elfClass64) return {};
    const std::uint8_t low = std::uint8_t(header[18]), high = std::uint8_t(header[19]);
    std::uint16_t machine = 0;
    if (header[5] == littleEndian) machine = std::uint16_t(high << 8 | low);
    else if (header[5] == bigEndian) machine = std::uint16_t(low << 8 | high);
    if (machine == 62) return {Chip::x86_64};
    if (machine == 183) return {Chip::arm64};
    return {};
}

ChipSet ExecutableFamilies::chips(const QByteArray& header)
{
    return header.startsWith("\x7F"
                             "ELF")
               ? ElfHeader::chips(header)
               : MachOSlices::chips(header);
}

ChipSet ExecutableFamilies::chips(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.read(4096);
    if (head.isEmpty()) return {};
    return chips(head);
}

} // namespace quarnkit
