#include "SafeFile.h"

#include "Exception.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemReason(int error) {
    return std::strerror(error);
}

[[noreturn]] void RaiseCreateError(const std::string& fileName, const std::string& reason) {
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
}

// The process's file-creation mask. /proc gives it without touching it; the
// fallback sets and restores it, which is only safe while one thread runs.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        constexpr std::string_view key = "Umask:";
        if (line.compare(0, key.size(), key) == 0)
            return mode_t(std::strtoul(line.c_str() + key.size(), nullptr, 8)) & 0777;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// Temporary files are named after the target so that a stray one left by a
// crash says what it was, but the name is cut so that the whole stays within
// the 255 bytes a file name may have.
std::string TemporaryTemplate(const std::filesystem::path& target) {
    std::string base = target.filename().string();
    constexpr std::size_t maxBase = 200;
    if (base.size() > maxBase)
        base.resize(maxBase);
    return (target.parent_path() / ("." + base + ".XXXXXX")).string();
}

ssize_t SystemWrite(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

}  // namespace

std::string ExpandFileName(const std::string& fileName) {
    if (fileName.empty())
        return fileName;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(fileName, error);
    if (error)
        absolute = fileName;
    return absolute.lexically_normal().string();
}

TSafeFile::TSafeFile(const std::string& fileName, TWriteFunction write, TSyncFunction sync)
    : fileName_(ExpandFileName(fileName)),
      write_(write ? std::move(write) : TWriteFunction(SystemWrite)),
      sync_(sync ? std::move(sync) : TSyncFunction(::fsync)) {
    if (fileName_.empty())
        RaiseCreateError(fileName_, SystemReason(ENOENT));

    std::filesystem::path target = fileName_;
    if (!target.has_filename())
        RaiseCreateError(fileName_, SystemReason(EISDIR));

    // Replacing a link must replace what it points to, as opening it would;
    // a dangling link is replaced itself.
    struct stat linkInfo {};
    if (::lstat(target.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        if (char* resolved = ::realpath(target.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }

    mode_t mode = 0666 & ~CurrentUmask();
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            RaiseCreateError(fileName_, SystemReason(EISDIR));
        if (!S_ISREG(info.st_mode))
            RaiseCreateError(fileName_, "Not a regular file");
        // A file we could not open for writing must not be replaced by a
        // rename either: the folder's rights are not the file's.
        if (::access(target.c_str(), W_OK) != 0)
            RaiseCreateError(fileName_, SystemReason(errno));
        mode = info.st_mode & 07777;
    }
    finalPath_ = target.string();

    std::string name = TemporaryTemplate(target);
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0)
        RaiseCreateError(fileName_, SystemReason(errno));
    fd_ = fd;
    tempName_ = buffer.data();

    if (::fchmod(fd_, mode) != 0) {
        const int error = errno;
        Discard();
        RaiseCreateError(fileName_, SystemReason(error));
    }
}

TSafeFile::~TSafeFile() {
    Discard();
}

void TSafeFile::Discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempName_.empty()) {
        ::unlink(tempName_.c_str());
        tempName_.clear();
    }
}

void TSafeFile::RaiseWriteError(int error) const {
    throw EWriteError("Cannot write file \"" + fileName_ + "\". " + SystemReason(error));
}

void TSafeFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0)
        RaiseWriteError(EBADF);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        // One call stores at most SSIZE_MAX bytes; larger buffers loop.
        const std::size_t chunk = size < std::size_t(SSIZE_MAX) ? size : std::size_t(SSIZE_MAX);
        const ssize_t written = write_(fd_, bytes, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            RaiseWriteError(errno);
        }
        // No progress without an error is what a full device looks like.
        if (written == 0)
            RaiseWriteError(ENOSPC);
        if (std::size_t(written) > chunk)
            RaiseWriteError(EIO);
        bytes += written;
        size -= std::size_t(written);
    }
}

void TSafeFile::Commit() {
    if (fd_ < 0)
        RaiseWriteError(EBADF);
    if (sync_(fd_) != 0) {
        const int error = errno;
        Discard();
        RaiseWriteError(error);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        Discard();
        RaiseWriteError(error);
    }
    if (::rename(tempName_.c_str(), finalPath_.c_str()) != 0) {
        const int error = errno;
        Discard();
        RaiseCreateError(fileName_, SystemReason(error));
    }
    tempName_.clear();

    // From here on the new file is in place under its name: the write has
    // succeeded. Flushing the folder only makes the rename survive a crash.
    // Its failure (some file systems cannot flush a folder at all) is not
    // reported: raising now would tell the user that a file which is there
    // could not be written, and there is nothing the user could do about it.
    const std::string folder = std::filesystem::path(finalPath_).parent_path().string();
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        static_cast<void>(sync_(dirFd));
        ::close(dirFd);
    }
}
