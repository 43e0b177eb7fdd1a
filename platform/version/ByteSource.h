#pragma once
// Random access to the bytes of a file or of a memory image, so the ELF and
// block readers can fetch just the headers and the one section they need
// instead of loading a whole executable.

#include <cstddef>
#include <cstdint>

namespace gloxen::version {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies `count` bytes at `offset`; false when any of them lies outside
    // the source or cannot be read.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    const unsigned char* data_;
    std::size_t size_;
};

// A regular file opened read-only; anything else (directory, device, missing
// file) gives an empty source.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const char* path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t count) const override;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

} // namespace gloxen::version
