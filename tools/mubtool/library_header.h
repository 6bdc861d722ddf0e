// What a library file is built for, read from the first bytes of the file
// itself (a PE or an ELF header), without loading it: the doctor names a
// bridge library of the wrong width even where the system's loader would
// only say that it cannot load it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mub::tool {

struct LibraryHeader {
    enum class Format { Unknown, Pe, Elf };
    Format format = Format::Unknown;
    int bits = 0;          // 32 or 64; 0 when the header does not tell
    std::uint16_t machine = 0; // the PE Machine field, or the ELF e_machine
    std::string machineName;   // "x86", "x64", "ARM64", "x86-64", ...; "machine 0x1234" when not known here
};

// Reads the header at the start of `bytes` (the first few kilobytes of a
// file are enough). A PE file: the "MZ" stub, its pointer to the "PE\0\0"
// signature, the Machine field, and the width from the optional header's
// magic (PE32 or PE32+) when it is there, else from the machine. An ELF
// file: its class byte, and e_machine in the byte order it declares.
// Anything else, or a header cut short, is Format::Unknown.
LibraryHeader readLibraryHeader(const std::uint8_t* bytes, std::size_t size);

// "PE 32-bit (x86)", "ELF 64-bit (x86-64)", "not a library this program knows".
std::string libraryHeaderText(const LibraryHeader& header);

} // namespace mub::tool
