#pragma once
// A named lock scoped to the user, standing in for a named kernel mutex: it
// only tells whether another live copy already holds the name.
//
// The lock is an exclusive, non-blocking flock() on a file named after the
// guard in the user's private runtime folder. The file is opened close-on-exec
// (a program we start does not inherit the lock) and never unlinked (unlinking
// would let a third copy lock a fresh file while the first still runs). The
// kernel drops the lock when its holder ends, however it ends, so a crashed
// copy never blocks the next start.

#include <string>

class TInstanceGuard {
public:
    enum class State {
        Owned,           // we hold the name: this is the only copy
        AlreadyRunning,  // a live copy holds it
        Unguarded,       // the lock file could not be opened or locked for another reason
    };

    // Tries to take the guard `name` in `folder` (normally $XDG_RUNTIME_DIR).
    TInstanceGuard(const std::string& folder, const std::string& name);
    ~TInstanceGuard();
    TInstanceGuard(const TInstanceGuard&) = delete;
    TInstanceGuard& operator=(const TInstanceGuard&) = delete;

    State GetState() const { return state_; }
    // Gives the name up (also done by the destructor and by process exit).
    void Close();

private:
    int fd_ = -1;
    State state_ = State::Unguarded;
};
