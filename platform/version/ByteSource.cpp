#include "ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gloxen::version {

bool MemorySource::ReadAt(std::uint64_t offset, void* out, std::size_t count) const
{
    if (offset > size_ || count > size_ - offset)
        return false;
    if (count != 0)
        std::memcpy(out, data_ + offset, count);
    return true;
}

FileSource::FileSource(const char* path)
{
    if (path == nullptr || *path == '\0')
        return;
    // Non-blocking so that a named pipe given as the path cannot stall us
    // before fstat tells us it is not a regular file.
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0)
        return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

FileSource::~FileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileSource::ReadAt(std::uint64_t offset, void* out, std::size_t count) const
{
    if (fd_ < 0 || offset > size_ || count > size_ - offset)
        return false;
    auto* dst = static_cast<unsigned char*>(out);
    while (count > 0) {
        const ssize_t got = ::pread(fd_, dst, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;  // error, or the file shrank under us
        dst += got;
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace gloxen::version
