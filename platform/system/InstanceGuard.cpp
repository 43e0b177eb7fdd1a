#include "InstanceGuard.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TInstanceGuard::TInstanceGuard(const std::string& folder, const std::string& name) {
    if (folder.empty() || name.empty())
        return;  // nowhere private to put the lock: run unguarded
    const std::string path = folder + "/" + name + ".lock";
    // 0600: the folder is the user's own, but a lock file readable by others
    // would tell them nothing useful anyway.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return;  // cannot open the lock: never mistake that for "already running"
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        state_ = State::Owned;
        return;
    }
    state_ = (errno == EWOULDBLOCK) ? State::AlreadyRunning : State::Unguarded;
    ::close(fd_);
    fd_ = -1;
}

TInstanceGuard::~TInstanceGuard() { Close(); }

void TInstanceGuard::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
