// The guard across real processes: a child holds the name, the parent asks.

#include "InstanceGuard.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
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

}  // namespace
