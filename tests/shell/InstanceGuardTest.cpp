// The guard across real processes: a child holds the name, the parent asks.

#include "InstanceGuard.h"
#include "LockFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gloxen-guard-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        folder_ = tmpl;
    }
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        std::filesystem::remove_all(folder_);
    }

    // Starts a child that takes the guard, tells us through a pipe, and then
    // sleeps until it is killed.
    void StartHolder() {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        child_ = fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            close(fds[0]);
            TInstanceGuard guard(folder_, "Pravik");
            char state = static_cast<char>(guard.GetState());
            (void)!write(fds[1], &state, 1);
            for (;;) pause();
        }
        close(fds[1]);
        char state = -1;
        ASSERT_EQ(read(fds[0], &state, 1), 1);
        close(fds[0]);
        ASSERT_EQ(state, static_cast<char>(TInstanceGuard::State::Owned));
    }

    void KillHolder() {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
        child_ = -1;
    }

    std::string folder_;
    pid_t child_ = -1;
};

TEST_F(InstanceGuardTest, FirstCopyOwnsTheName) {
    TInstanceGuard guard(folder_, "Pravik");
    EXPECT_EQ(guard.GetState(), TInstanceGuard::State::Owned);
}

TEST_F(InstanceGuardTest, SecondCopyIsToldWhileTheFirstLives) {
    StartHolder();
    TInstanceGuard second(folder_, "Pravik");
    EXPECT_EQ(second.GetState(), TInstanceGuard::State::AlreadyRunning);
    // Another name is another program: not blocked.
    TInstanceGuard other(folder_, "Other");
    EXPECT_EQ(other.GetState(), TInstanceGuard::State::Owned);
}

TEST_F(InstanceGuardTest, AKilledHolderDoesNotBlockTheNextCopy) {
    StartHolder();
    KillHolder();
    TInstanceGuard next(folder_, "Pravik");
    EXPECT_EQ(next.GetState(), TInstanceGuard::State::Owned);
    // The lock file stays; only the lock went with its holder.
    EXPECT_TRUE(std::filesystem::exists(folder_ + "/Pravik.lock"));
}

TEST_F(InstanceGuardTest, ClosingGivesTheNameUp) {
    TInstanceGuard first(folder_, "Pravik");
    ASSERT_EQ(first.GetState(), TInstanceGuard::State::Owned);
    first.Close();
    TInstanceGuard second(folder_, "Pravik");
    EXPECT_EQ(second.GetState(), TInstanceGuard::State::Owned);
}

TEST_F(InstanceGuardTest, AnUnusableFolderMeansUnguardedNotRunning) {
    // A folder we cannot create files in, or no folder at all, must never be
    // mistaken for another running copy.
    for (const std::string& folder : {folder_ + "/missing", std::string()}) {
        TInstanceGuard guard(folder, "Pravik");
        EXPECT_EQ(guard.GetState(), TInstanceGuard::State::Unguarded) << folder;
    }
    // A lock path that is a symbolic link someone planted is not followed.
    const std::string target = folder_ + "/elsewhere";
    ASSERT_EQ(symlink(target.c_str(), (folder_ + "/Pravik.lock").c_str()), 0);
    TInstanceGuard guard(folder_, "Pravik");
    EXPECT_EQ(guard.GetState(), TInstanceGuard::State::Unguarded);
    EXPECT_FALSE(std::filesystem::exists(target));
}

// The lock's folder: the runtime folder only when it is the user's own and
// closed to others; otherwise a private folder made in the temporary folder.
TEST_F(InstanceGuardTest, LockFolderIsAlwaysPrivate) {
    // The variables this test changes, put back at its end.
    struct Restore {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        Restore() {
            for (const char* name : {"TMPDIR", "HOME", "XDG_RUNTIME_DIR"}) {
                const char* value = std::getenv(name);
                saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            }
        }
        ~Restore() {
            for (const auto& [name, value] : saved)
                value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    } restore;
    const std::string runtime = folder_ + "/runtime";
    const std::string temp = folder_ + "/temp";
    ASSERT_TRUE(std::filesystem::create_directory(temp));
    const std::string fallback = temp + "/gloxen-" + std::to_string(geteuid());
    mkdir(runtime.c_str(), 0700);
    const std::string open = folder_ + "/open";
    mkdir(open.c_str(), 0755);
    chmod(open.c_str(), 0755);
    const std::string link = folder_ + "/link";
    ASSERT_EQ(symlink(runtime.c_str(), link.c_str()), 0);
    const std::string file = folder_ + "/file";
    std::ofstream(file) << "x";

    struct TCase {
        std::string xdg;
        std::string expected;
    };
    const TCase cases[] = {
        {runtime, runtime},          {folder_ + "/missing/deeper", folder_ + "/missing/deeper"}, {file, fallback},
        {link, fallback},            {open, fallback},                 {"/", fallback},
        {"", fallback},
    };
    setenv("TMPDIR", temp.c_str(), 1);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.xdg);
        setenv("XDG_RUNTIME_DIR", c.xdg.c_str(), 1);
        EXPECT_EQ(PrivateLockFolder(), c.expected);
    }
    for (const std::string& made : {fallback, folder_ + "/missing/deeper"}) {
        struct stat info {};
        ASSERT_EQ(stat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }

    // A fallback folder that someone opened to others is not used.
    chmod(fallback.c_str(), 0755);
    setenv("HOME", folder_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(PrivateLockFolder(), folder_ + "/.gloxen");
}

}  // namespace
