#pragma once
// Version information of a file, in the shape of the Windows calls our
// program was written against. Linux executables carry no version resource,
// so ours carry the same binary block (see VersionBlock.h) in an ELF section
// named ".gloxen.version", put there by gloxen_embed_version() in CMake. A
// file may also hold nothing but a block, starting with its VS_VERSION_INFO
// node; that keeps test fixtures small.
//
// Everything read from a file is untrusted: sizes and offsets are checked
// before use and a malformed file or block makes the call fail (return 0).
// Nothing here throws or reports.
//
// Narrow strings (paths, query paths, returned text) are UTF-8.

#include <cstddef>
#include <cstdint>

namespace gloxen::version {
inline constexpr char kVersionSectionName[] = ".gloxen.version";
}

// Bytes the caller must give GetFileVersionInfoA for `path`: the block
// itself followed by twice its length of room, where VerQueryValueA writes
// narrow copies of the texts it returns. 0 when the file has no readable
// block or cannot be read. `handle`, when not null, is set to 0; it exists
// for the calling convention only.
std::uint32_t GetFileVersionInfoSizeA(const char* path, std::uint32_t* handle);

// Reads the block of `path` into `block` and clears the room after it.
// Fails (0) when the file has no readable block, or when `size` is smaller
// than what GetFileVersionInfoSizeA reports: a cut-off block would make
// later queries wrong. `handle` is ignored.
int GetFileVersionInfoA(const char* path, std::uint32_t handle, std::uint32_t size, void* block);

// Looks up `subBlock` in a block filled by GetFileVersionInfoA (or laid out
// the same way: block, then 2 x its wLength bytes of room). The path is a
// "\"-separated list of keys, compared without regard to ASCII case:
//   "\"                                   the VS_FIXEDFILEINFO (52 bytes)
//   "\VarFileInfo\Translation"            language/code-page pairs
//   "\StringFileInfo\040904E4\FileVersion" a text
// For a text value `*buffer` points at a zero-terminated UTF-8 copy written
// into the room after the block (so `block` must be writable there) and
// `*length` is that copy's length in bytes including its terminating zero,
// the way the narrow platform call counts characters; the text ends at its
// first zero unit or after wValueLength units. For binary values `*buffer`
// points at the bytes inside the block and `*length` is their number.
// `length` may be null. Returns 0, leaving both outputs untouched, when the
// path is not found or the block is malformed.
int VerQueryValueA(const void* block, const char* subBlock, void** buffer, std::uint32_t* length);

// The same two steps as GetFileVersionInfoSizeA / GetFileVersionInfoA for a
// file already in memory (an ELF image or a bare block).
std::uint32_t VersionInfoSizeFromImage(const void* data, std::size_t size);
int VersionInfoFromImage(const void* data, std::size_t size, std::uint32_t bufferSize, void* block);
