#pragma once
// Finds a named section in an ELF file (32- or 64-bit, either byte order)
// by reading its section headers. Only what the headers promise is trusted
// after it has been checked against the file's real size.

#include "ByteSource.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace gloxen::version {

struct FileRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// True when the source starts with the ELF magic bytes.
bool LooksLikeElf(const ByteSource& source);

// The file bytes of the first section called `name` that has contents in the
// file. nullopt when the file is not a well-formed ELF file as far as the
// section headers go, or has no such section.
std::optional<FileRange> FindElfSection(const ByteSource& source, std::string_view name);

} // namespace gloxen::version
