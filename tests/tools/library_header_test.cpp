// The library-file header reader of mubtool doctor, on headers made by hand.
#include "tools/mubtool/library_header.h"

#include <gtest/gtest.h>

#include <string>

namespace mub::tool {
namespace {

// The start of a PE file: the stub's pointer to the signature at `at`, the
// Machine field and the optional header's magic when `size` leaves room.
std::string pe(std::uint16_t machine, std::uint16_t magic, std::uint32_t at = 0x80, std::size_t size = 512) {
    std::string bytes(size, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int k = 0; k < 4; ++k) bytes[0x3C + k] = static_cast<char>(at >> (8 * k));
    bytes.replace(at, 4, std::string("PE\0\0", 4));
    bytes[at + 4] = static_cast<char>(machine & 0xFF);
    bytes[at + 5] = static_cast<char>(machine >> 8);
    if (at + 26 > size) return bytes;
    bytes[at + 24] = static_cast<char>(magic & 0xFF);
    bytes[at + 25] = static_cast<char>(magic >> 8);
    return bytes;
}

// The first 20 bytes of an ELF file of `elfClass` (1: 32-bit, 2: 64-bit),
// byte order `order` (1: little, 2: big endian) and e_machine `machine`.
std::string elf(char elfClass, char order, std::uint16_t machine) {
    std::string bytes(64, '\0');
    bytes.replace(0, 4, "\x7f" "ELF");
    bytes[4] = elfClass;
    bytes[5] = order;
    const char low = static_cast<char>(machine & 0xFF), high = static_cast<char>(machine >> 8);
    bytes[18] = order == 1 ? low : high;
    bytes[19] = order == 1 ? high : low;
    return bytes;
}

LibraryHeader read(const std::string& bytes) {
    return readLibraryHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(LibraryHeader, PeFilesByMachineAndMagic) {
    const LibraryHeader x86 = read(pe(0x014C, 0x010B));
    EXPECT_EQ(x86.format, LibraryHeader::Format::Pe);
    EXPECT_EQ(x86.bits, 32);
    EXPECT_EQ(libraryHeaderText(x86), "PE 32-bit (x86)");
    const LibraryHeader x64 = read(pe(0x8664, 0x020B));
    EXPECT_EQ(x64.bits, 64);
    EXPECT_EQ(libraryHeaderText(x64), "PE 64-bit (x64)");
    EXPECT_EQ(read(pe(0xAA64, 0x020B)).machineName, "ARM64");
    // The magic tells the width where the machine is not known here ...
    const LibraryHeader odd = read(pe(0x5064, 0x020B));
    EXPECT_EQ(odd.bits, 64);
    EXPECT_EQ(odd.machineName, "machine 0x5064");
    // ... and the machine where the header ends before the magic.
    const LibraryHeader cut = read(pe(0x8664, 0, 0x40, 0x40 + 6));
    EXPECT_EQ(cut.format, LibraryHeader::Format::Pe);
    EXPECT_EQ(cut.bits, 64);
}

TEST(LibraryHeader, ElfFilesByClassAndByteOrder) {
    const LibraryHeader i386 = read(elf(1, 1, 3));
    EXPECT_EQ(i386.format, LibraryHeader::Format::Elf);
    EXPECT_EQ(i386.bits, 32);
    EXPECT_EQ(i386.machineName, "x86");
    const LibraryHeader amd64 = read(elf(2, 1, 62));
    EXPECT_EQ(amd64.bits, 64);
    EXPECT_EQ(libraryHeaderText(amd64), "ELF 64-bit (x86-64)");
    // e_machine in the file's own byte order: 183 big-endian is AArch64.
    EXPECT_EQ(read(elf(2, 2, 183)).machineName, "AArch64");
    EXPECT_EQ(read(elf(2, 2, 183)).machine, 183);
}

TEST(LibraryHeader, AnythingElseIsNoLibrary) {
    std::string noSignature = pe(0x8664, 0x020B);
    noSignature[0x81] = 'X';
    std::string beyondEnd = pe(0x8664, 0x020B);
    beyondEnd[0x3C] = '\xF0'; // the signature would lie past the 512 bytes
    std::string badClass = elf(3, 1, 62);
    for (const std::string& bytes : {noSignature, beyondEnd, badClass, std::string("MZ"), std::string("\x7f" "EL"),
                                     std::string("not a library at all")}) {
        const LibraryHeader header = read(bytes);
        EXPECT_EQ(header.format, LibraryHeader::Format::Unknown) << bytes.size();
        EXPECT_EQ(header.bits, 0);
        EXPECT_EQ(libraryHeaderText(header), "not a library this program knows");
    }
}

} // namespace
} // namespace mub::tool
