#include "LockFolder.h"

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

namespace {

// `path` when it is a private folder, after making it (mode 0700) if it did
// not exist; empty otherwise. An existing folder is never changed: one that
// another user made, or that is open to others, is refused.
std::string MadePrivate(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return IsPrivateFolder(path) ? path : std::string();
}

// Makes `path` and any missing folders above it, each with mode 0700, as Qt
// does for a missing runtime folder.
void MakePath(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::string PrivateLockFolder() {
    // A runtime folder that is named but missing is made now, before the
    // lock is taken: Qt would make it later anyway, and a copy started after
    // that must choose the same folder as this one.
    const std::string runtime = Variable("XDG_RUNTIME_DIR");
    struct stat info {};
    if (!runtime.empty() && runtime.front() == '/' && ::lstat(runtime.c_str(), &info) != 0 && errno == ENOENT)
        MakePath(runtime);
    if (IsPrivateFolder(runtime))
        return runtime;
    std::string temp = Variable("TMPDIR");
    if (temp.empty() || temp.front() != '/')
        temp = "/tmp";
    if (std::string made = MadePrivate(temp + "/gloxen-" + std::to_string(::geteuid())); !made.empty())
        return made;
    if (const std::string home = Variable("HOME"); !home.empty() && home.front() == '/')
        return MadePrivate(home + "/.gloxen");
    return {};
}
