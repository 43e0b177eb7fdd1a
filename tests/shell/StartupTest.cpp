// The real program, started as a user would start it (headless): one copy per
// user, a crashed copy does not block the next, the command line is ignored.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gloxen-start-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        runtime_ = tmpl;
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::filesystem::remove_all(runtime_);
    }

    // Starts the program. `environment` holds NAME=value settings applied
    // after the defaults (a NAME= with no value unsets NAME); `errors`, when
    // given, receives the program's standard error.
    pid_t Start(const std::vector<std::string>& args = {}, const std::vector<std::string>& environment = {},
                const std::string& errors = "") {
        pid_t pid = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
            setenv("TMPDIR", runtime_.c_str(), 1);
            for (const std::string& setting : environment) {
                const std::size_t equals = setting.find('=');
                const std::string name = setting.substr(0, equals), value = setting.substr(equals + 1);
                if (value.empty())
                    unsetenv(name.c_str());
                else
                    setenv(name.c_str(), value.c_str(), 1);
            }
            if (!errors.empty() && !freopen(errors.c_str(), "w", stderr))
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(GLOXEN_EXE)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(GLOXEN_EXE, argv.data());
            _exit(127);
        }
        started_.push_back(pid);
        return pid;
    }

    // Whether `pid` holds an flock, as the kernel lists it. Looking does not
    // touch the lock, so it cannot race with the program taking it.
    static bool HoldsLock(pid_t pid) {
        std::ifstream locks("/proc/locks");
        std::string line;
        while (std::getline(locks, line)) {
            std::istringstream in(line);
            std::string id, kind, mode, access;
            pid_t holder = 0;
            in >> id >> kind >> mode >> access >> holder;
            if (kind == "FLOCK" && access == "WRITE" && holder == pid) return true;
        }
        return false;
    }

    static bool WaitUntilHolding(pid_t pid) {
        for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
            if (HoldsLock(pid)) return true;
            if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The exit status of `pid` if it ends within `limit`, -1 otherwise.
    int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(started_, pid);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    std::string runtime_;
    std::vector<pid_t> started_;
};

TEST_F(StartupTest, SecondCopyEndsAtOnceAndTheFirstRunsOn) {
    pid_t first = Start();
    ASSERT_TRUE(WaitUntilHolding(first));

    pid_t second = Start();
    EXPECT_EQ(WaitForExit(second, 10s), 0);
    EXPECT_TRUE(Running(first));
    EXPECT_TRUE(HoldsLock(first));
}

TEST_F(StartupTest, ACopyStartsOnceTheFirstWasKilled) {
    pid_t first = Start();
    ASSERT_TRUE(WaitUntilHolding(first));
    kill(first, SIGKILL);
    ASSERT_EQ(WaitForExit(first, 10s), 128 + SIGKILL);

    pid_t next = Start();
    EXPECT_TRUE(WaitUntilHolding(next));
    EXPECT_TRUE(Running(next));
}

TEST_F(StartupTest, CommandLineIsIgnoredQtOptionsToo) {
    // Were the options handed to Qt, "-platform" would pick a platform that
    // does not exist and the program would abort.
    // The guard is taken before Qt starts, so give Qt time to fail.
    pid_t copy = Start({"-platform", "no-such-platform", "/tmp/picture.png"});
    ASSERT_TRUE(WaitUntilHolding(copy));
    EXPECT_EQ(WaitForExit(copy, 1500ms), -1) << "the program ended";
}

// Every copy of one user agrees on the lock's folder even when the runtime
// folder is missing, is a file or a link, or belongs to someone else.
TEST_F(StartupTest, GuardHoldsWhateverTheRuntimeFolderIs) {
    const std::string file = runtime_ + "/plain-file";
    std::ofstream(file) << "x";
    const std::string link = runtime_ + "/link";
    std::filesystem::create_directory_symlink(runtime_, link);
    const std::vector<std::string> runtimes = {runtime_ + "/missing", file, link, "/"};
    for (const std::string& runtime : runtimes) {
        SCOPED_TRACE(runtime);
        pid_t first = Start({}, {"XDG_RUNTIME_DIR=" + runtime});
        ASSERT_TRUE(WaitUntilHolding(first));
        pid_t second = Start({}, {"XDG_RUNTIME_DIR=" + runtime});
        EXPECT_EQ(WaitForExit(second, 10s), 0);
        EXPECT_TRUE(Running(first));
        kill(first, SIGKILL);
        WaitForExit(first, 10s);
    }
}

// Without a usable display the program says which display it could not open,
// in one line, and ends with a failure status instead of aborting.
TEST_F(StartupTest, NoDisplayIsOneClearLineAndAFailureStatus) {
    struct TCase {
        std::string display;  // empty: DISPLAY unset
        std::string line;
    };
    const TCase cases[] = {
        {"", "gloxen: cannot open a display: DISPLAY is not set"},
        {":987", "gloxen: cannot open display \":987\""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.display);
        const std::string errors = runtime_ + "/errors.txt";
        pid_t copy = Start({}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + c.display, "WAYLAND_DISPLAY="}, errors);
        EXPECT_EQ(WaitForExit(copy, 20s), 1);
        std::ifstream in(errors);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        EXPECT_EQ(lines, std::vector<std::string>{c.line});
    }
}

}  // namespace
