#pragma once
// Writing a whole file so that its name shows either the old contents or the
// complete new ones, never a truncated or half-written mixture.
//
// The bytes go to a temporary file in the target's folder; Commit() flushes
// them to the disk, closes the file and renames it over the target. Until
// then the target is untouched, and a writer destroyed without Commit()
// removes its temporary file. Errors are raised, never ignored:
//   - the temporary file cannot be made, or the target cannot be replaced:
//     EFCreateError "Cannot create file "<full path>". <system reason>";
//   - a write, flush or close stores fewer bytes than asked or fails:
//     EWriteError naming the file and the system's reason.
//
// The new file gets the mode a freshly created file would get
// (0666 & ~umask), or the old file's mode when it replaces one.

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

// The absolute form of `fileName`, relative to the current folder, with "."
// and ".." parts and doubled separators removed (symbolic links are kept).
std::string ExpandFileName(const std::string& fileName);

class TSafeFile {
public:
    // The call that stores bytes, with the signature and the errno contract of
    // POSIX write(). Replaceable so that a full disk can be simulated.
    using TWriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
    // The call that flushes a file or a folder to the disk, with the
    // signature and the errno contract of POSIX fsync(). Replaceable so that
    // a failing disk can be simulated.
    using TSyncFunction = std::function<int(int fd)>;

    // Creates the temporary file for `fileName` (UTF-8 path). A target that is
    // a symbolic link is resolved: the file it points to is replaced.
    explicit TSafeFile(const std::string& fileName, TWriteFunction write = {}, TSyncFunction sync = {});
    ~TSafeFile();

    TSafeFile(const TSafeFile&) = delete;
    TSafeFile& operator=(const TSafeFile&) = delete;

    // Appends `size` bytes. Short writes are retried; a write that fails or
    // makes no progress raises EWriteError.
    void Write(const void* data, std::size_t size);

    // Flushes, closes and renames the temporary file over the target. After a
    // failed Commit() the target is as it was and the temporary file is gone.
    // Once the rename has succeeded the file is written and Commit() returns
    // normally: the folder is then flushed so that the new name survives a
    // crash, but a failure of that flush is not reported, since the caller
    // would otherwise announce a failure for a file that is in place.
    void Commit();

    // The expanded name of the target, as it appears in error messages.
    const std::string& FileName() const { return fileName_; }
    // The temporary file's path; empty once committed or removed.
    const std::string& TemporaryName() const { return tempName_; }

private:
    std::string fileName_;   // expanded, as given (used in messages)
    std::string finalPath_;  // the path actually replaced (links resolved)
    std::string tempName_;
    int fd_ = -1;
    TWriteFunction write_;
    TSyncFunction sync_;

    [[noreturn]] void RaiseWriteError(int error) const;
    void Discard() noexcept;
};
