#pragma once
// For tests whose point is a permission that the superuser is not held to
// (an unreadable file, a folder without write access). Run as root, such a
// test runs itself again as the user "nobody", from a copy of the test program
// that this user can reach, and passes when that run passes; it is never
// skipped.
//
// Use at the top of the test:
//     if (RanAsNormalUser()) return;

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

inline bool RanAsNormalUser() {
    if (::geteuid() != 0)
        return false;
    namespace fs = std::filesystem;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test->test_suite_name()) + "." + test->name();

    char pattern[] = "/tmp/gloxen-as-user-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "cannot make a folder for the normal user's run";
        return true;
    }
    const fs::path folder = pattern;
    const fs::path program = folder / "tests";
    const fs::path log = folder / "log.txt";
    std::error_code error;
    fs::copy_file("/proc/self/exe", program, error);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec | fs::perms::others_write,
                    error);
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec,
                    error);
    // setpriv comes with util-linux on every Debian system. The runtime
    // folder and home of root are not the other user's to use.
    const std::string command = "setpriv --reuid=nobody --regid=nogroup --clear-groups env -u XDG_RUNTIME_DIR HOME=" +
                                folder.string() + " '" + program.string() + "' --gtest_filter='" + filter + "' > '" +
                                log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(log);
    const std::string output{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                output.find("[  PASSED  ] 1 test.") != std::string::npos)
        << "run as the user nobody:\n" << output;
    fs::remove_all(folder, error);
    return true;
}
