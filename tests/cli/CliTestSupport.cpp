#include "CliTestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <pty.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

namespace {

void Put16(Bytes& v, unsigned x) {
    v.push_back(std::uint8_t(x));
    v.push_back(std::uint8_t(x >> 8));
}
void Put32(Bytes& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(GLOXEN_CONVERT_EXE));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// In the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void Exec(const fs::path& cwd, const std::vector<char*>& argv) {
    if (::chdir(cwd.c_str()) != 0)
        ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int StatusOf(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Drain(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, std::size_t(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return text;  // end of file, or EIO once the terminal's last writer is gone
    }
}

}  // namespace

TRun RunConvert(const fs::path& cwd, const std::vector<std::string>& args) {
    // Memory files hold the output, so the scratch folder sees no extra files.
    const int out = ::memfd_create("stdout", MFD_CLOEXEC);
    const int err = ::memfd_create("stderr", MFD_CLOEXEC);
    if (out < 0 || err < 0) {
        ADD_FAILURE() << "memfd_create failed";
        return {};
    }
    const std::vector<char*> argv = Argv(args);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        Exec(cwd, argv);
    }
    TRun run;
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
    } else {
        run.Status = StatusOf(pid);
        ::lseek(out, 0, SEEK_SET);
        ::lseek(err, 0, SEEK_SET);
        run.Out = Drain(out);
        run.Err = Drain(err);
    }
    ::close(out);
    ::close(err);
    return run;
}

TRun RunOnTerminal(const fs::path& cwd, const std::vector<std::string>& args) {
    const std::vector<char*> argv = Argv(args);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 120;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0)
        Exec(cwd, argv);
    TRun run;
    if (pid < 0) {
        ADD_FAILURE() << "forkpty failed";
        return run;
    }
    run.Out = Drain(terminal);
    run.Status = StatusOf(pid);
    ::close(terminal);
    return run;
}

Bytes Bmp24(int width, int height, const std::function<TColor(int, int)>& pixel) {
    const std::uint32_t stride = (std::uint32_t(width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * std::uint32_t(height);
    Bytes b{'B', 'M'};
    Put32(b, 54 + imageSize);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, std::uint32_t(width));
    Put32(b, std::uint32_t(height));
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, imageSize);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const TColor c = pixel(x, y);
            b.push_back(GetBValue(c));
            b.push_back(GetGValue(c));
            b.push_back(GetRValue(c));
        }
        b.resize(b.size() + (stride - std::uint32_t(width) * 3), 0);
    }
    return b;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::intmax_t> Listing(const fs::path& root) {
    std::map<std::string, std::intmax_t> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        entries[fs::relative(entry.path(), root).string()] =
            entry.is_directory() ? -1 : std::intmax_t(entry.file_size());
    return entries;
}

void ScratchTest::SetUp() {
    char pattern[] = "/tmp/gloxen-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
}

void ScratchTest::TearDown() {
    std::error_code error;
    // A test may leave a folder without write access; give it back first.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_, error))
        if (entry.is_directory())
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(root_, error);
}

fs::path ScratchTest::Put(const std::string& relative, const Bytes& bytes) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    WriteFile(path, bytes);
    return path;
}

}  // namespace clitest
