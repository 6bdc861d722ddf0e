#include "tools/mubtool/library_header.h"

#include <cstdio>

namespace mub::tool {
namespace {

std::uint32_t littleEndian(const std::uint8_t* at, int count) {
    std::uint32_t value = 0;
    for (int k = count - 1; k >= 0; --k) value = value << 8 | at[k];
    return value;
}

std::string unknownMachine(std::uint16_t machine) {
    char text[24];
    std::snprintf(text, sizeof text, "machine 0x%04x", static_cast<unsigned>(machine));
    return text;
}

void readPe(const std::uint8_t* bytes, std::size_t size, LibraryHeader& header) {
    const std::uint32_t signature = littleEndian(bytes + 0x3C, 4);
    // The signature, the file header (20 bytes) and the optional header's magic.
    if (signature > size || size - signature < 6) return;
    const std::uint8_t* pe = bytes + signature;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return;
    header.format = LibraryHeader::Format::Pe;
    header.machine = static_cast<std::uint16_t>(littleEndian(pe + 4, 2));
    switch (header.machine) {
    case 0x014C: header.machineName = "x86"; header.bits = 32; break;
    case 0x8664: header.machineName = "x64"; header.bits = 64; break;
    case 0xAA64: header.machineName = "ARM64"; header.bits = 64; break;
    case 0x01C4: header.machineName = "ARM"; header.bits = 32; break;
    default: header.machineName = unknownMachine(header.machine);
    }
    if (size - signature >= 26) {
        const std::uint32_t magic = littleEndian(pe + 24, 2);
        if (magic == 0x010B) header.bits = 32;
        if (magic == 0x020B) header.bits = 64;
    }
}

void readElf(const std::uint8_t* bytes, std::size_t size, LibraryHeader& header) {
    if (size < 20 || (bytes[4] != 1 && bytes[4] != 2) || (bytes[5] != 1 && bytes[5] != 2)) return;
    header.format = LibraryHeader::Format::Elf;
    header.bits = bytes[4] == 1 ? 32 : 64;
    header.machine = static_cast<std::uint16_t>(bytes[5] == 1 ? bytes[18] | bytes[19] << 8 : bytes[18] << 8 | bytes[19]);
    switch (header.machine) {
    case 3: header.machineName = "x86"; break;
    case 62: header.machineName = "x86-64"; break;
    case 40: header.machineName = "ARM"; break;
    case 183: header.machineName = "AArch64"; break;
    default: header.machineName = unknownMachine(header.machine);
    }
}

} // namespace

LibraryHeader readLibraryHeader(const std::uint8_t* bytes, std::size_t size) {
    LibraryHeader header;
    if (size >= 0x40 && bytes[0] == 'M' && bytes[1] == 'Z') readPe(bytes, size, header);
    else if (size >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') readElf(bytes, size, header);
    return header;
}

std::string libraryHeaderText(const LibraryHeader& header) {
    if (header.format == LibraryHeader::Format::Unknown) return "not a library this program knows";
    std::string text = header.format == LibraryHeader::Format::Pe ? "PE " : "ELF ";
    text += header.bits ? std::to_string(header.bits) + "-bit" : "of unknown width";
    return text + " (" + header.machineName + ")";
}

} // namespace mub::tool
