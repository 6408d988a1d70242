#pragma once
// Which processor families an executable file holds code for, read from its
// header: ELF, which this system runs (one family per file), and Mach-O,
// whose universal files hold one slice of code per family. The updater
// checks that a downloaded copy runs on this computer.
#include "QuarnKit/Update/Chip.h"

#include <QByteArray>
#include <QString>

#include <set>

namespace quarnkit {

using ChipSet = std::set<Chip>;

namespace MachOSlices {
// A Mach-O header: a universal file (0xCAFEBABE, 20-byte entries, or
// 0xCAFEBABF, 32-byte entries; 1 to 16 entries, read as far as the bytes
// reach) or a single 64-bit little-endian one (0xCFFAEDFE). CPU types
// 0x0100000C are arm64, 0x01000007 x86_64. Anything else is empty.
ChipSet chips(const QByteArray& header);
} // namespace MachOSlices

namespace ElfHeader {
// A 64-bit ELF header in either byte order: e_machine 62 is x86_64, 183 is
// arm64. 32-bit files, other machines and short headers are empty.
ChipSet chips(const QByteArray& header);
} // namespace ElfHeader

namespace ExecutableFamilies {
// The families of the first bytes of a file, ELF or Mach-O.
ChipSet chips(const QByteArray& header);
// The families of a file, from its first 4096 bytes; a missing, unreadable or
// empty file is the empty set.
ChipSet chips(const QString& path);
} // namespace ExecutableFamilies

} // namespace quarnkit
