#include "Batch.h"

#include "Exception.h"
#include "PictureConverter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The message the user reads for a failure: the innermost non-empty message
// of the chain, as the window shows it (without the window's final dot, as
// command-line messages go).
std::string MessageOf(const Exception& e) {
    std::string text = e.Message();
    for (const Exception* inner = e.InnerException(); inner && inner != &e; inner = inner->InnerException())
        if (!inner->Message().empty())
            text = inner->Message();
    return text.empty() ? "the conversion failed for an unknown reason" : text;
}

// Characters (not bytes) of a UTF-8 text, for fitting the progress line.
std::size_t Columns(const std::string& text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The last `columns` characters of `text`, never splitting a character.
std::string Tail(const std::string& text, std::size_t columns) {
    std::size_t at = text.size();
    for (std::size_t kept = 0; at > 0 && kept < columns;) {
        --at;
        if ((text[at] & 0xC0) != 0x80)
            ++kept;
    }
    return text.substr(at);
}

std::size_t TerminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Everything the workers print goes through here, under one lock, so that
// lines never interleave and the progress line is taken away before another
// line is written and put back after it.
class TReporter {
public:
    TReporter(std::size_t total, bool verbose, bool progress)
        : total_(total), verbose_(verbose), progress_(progress), start_(Clock::now()) {}

    void Started(const std::string& picture) {
        const std::lock_guard lock(mutex_);
        current_ = picture;
        Draw(false);
    }

    void Converted(const TIconJob& job, const TConvertedIcon& icon, int depthBits) {
        const std::lock_guard lock(mutex_);
        ++done_;
        if (verbose_) {
            Clear();
            std::string sizes;
            for (const TIconEntry& entry : icon.Entries)
                sizes += (sizes.empty() ? "" : ", ") + std::to_string(entry.Width) + " x " +
                         std::to_string(entry.Height) + (entry.Png ? " PNG" : "");
            std::fprintf(stdout, "%s -> %s (%s, %d bits)\n", job.Picture.c_str(), job.Icon.c_str(), sizes.c_str(),
                         depthBits);
            std::fflush(stdout);
        }
        Draw(verbose_);
    }

    void Failed(const std::string& picture, const std::string& reason) {
        const std::lock_guard lock(mutex_);
        ++done_;
        ++failed_;
        Clear();
        std::fprintf(stderr, "gloxen-convert: %s: %s\n", picture.c_str(), reason.c_str());
        std::fflush(stderr);
        Draw(true);
    }

    // The folder of each icon written, for the flush at the end.
    void Written(const std::string& icon) {
        const std::lock_guard lock(mutex_);
        std::filesystem::path folder = std::filesystem::absolute(icon).parent_path();
        folders_.insert(folder.string());
    }

    std::set<std::string> Folders() {
        const std::lock_guard lock(mutex_);
        return folders_;
    }

    std::size_t Failures() {
        const std::lock_guard lock(mutex_);
        return failed_;
    }

    void Finish() {
        const std::lock_guard lock(mutex_);
        Clear();
    }

private:
    // Redraws at most ten times a second, unless `force` (the line was just
    // cleared for another message).
    void Draw(bool force) {
        if (!progress_)
            return;
        const Clock::time_point now = Clock::now();
        if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100))
            return;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char head[96];
        if (done_ > 0 && seconds > 0)
            std::snprintf(head, sizeof head, "%zu/%zu, %.1f pictures/s: ", done_, total_, double(done_) / seconds);
        else
            std::snprintf(head, sizeof head, "%zu/%zu: ", done_, total_);
        std::string text = head;
        // One column stays free: a line that fills the terminal wraps on
        // some terminals, and \r then returns to the wrong line.
        const std::size_t width = TerminalWidth() - 1;
        const std::size_t room = width > Columns(text) ? width - Columns(text) : 0;
        if (Columns(current_) <= room)
            text += current_;
        else if (room > 3)
            text += "..." + Tail(current_, room - 3);
        Clear();
        std::fprintf(stderr, "%s", text.c_str());
        std::fflush(stderr);
        shown_ = Columns(text);
        drawn_ = true;
        lastDraw_ = now;
    }

    void Clear() {
        if (!progress_ || shown_ == 0)
            return;
        std::fprintf(stderr, "\r%s\r", std::string(shown_, ' ').c_str());
        std::fflush(stderr);
        shown_ = 0;
    }

    std::mutex mutex_;
    const std::size_t total_;
    const bool verbose_;
    const bool progress_;
    const Clock::time_point start_;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::string current_;
    std::set<std::string> folders_;
    std::size_t shown_ = 0;  // columns of the progress line on screen
    bool drawn_ = false;
    Clock::time_point lastDraw_;
};

// The depth as the user gave it, for the -v line (the file itself is 24-bit
// for every depth but 32).
int DepthBits(TPixelFormat format) {
    switch (format) {
        case pf1bit: return 1;
        case pf4bit: return 4;
        case pf8bit: return 8;
        case pf15bit: return 15;
        case pf16bit: return 16;
        case pf32bit: return 32;
        default: return 24;
    }
}

// Flushing each new icon to the disk before the next would cost a batch
// more than converting (a few milliseconds per file). A new icon replaces
// nothing, so it is written without that flush, and the batch flushes the
// file systems it wrote to once at the end (FlushWrittenFolders). An icon
// that replaces a file is flushed before it takes the file's name, as the
// window does: a crash can then leave the old file or the new one, never a
// part of either.
int NoSync(int) { return 0; }

bool ReplacesAFile(const std::string& icon) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(icon, error));
}

void FlushWrittenFolders(const std::set<std::string>& folders) {
    for (const std::string& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        // Failing to flush is not reported: the icons are written and named;
        // only their surviving a crash of the system is at stake.
        static_cast<void>(::syncfs(fd));
        ::close(fd);
    }
}

// Renders first and writes only a finished icon, so a failure leaves no file
// behind and keeps an existing one.
void ConvertOne(const TIconJob& job, const TConvertSettings& settings, TReporter& reporter) {
    reporter.Started(job.Picture);
    try {
        // The decoders refuse a folder too, but by then an extension-less
        // folder name has been refused as an unknown format; say what it is.
        std::error_code error;
        if (std::filesystem::is_directory(job.Picture, error))
            throw EFOpenError("this is a folder, not a picture");
        const TConvertedIcon icon = ConvertPicture(job.Picture, settings);
        WriteIconEntries(job.Icon, icon.Entries, {}, ReplacesAFile(job.Icon) ? TSafeFile::TSyncFunction{} : NoSync);
        reporter.Written(job.Icon);
        reporter.Converted(job, icon, DepthBits(settings.Depth));
    } catch (const Exception& e) {
        reporter.Failed(job.Picture, MessageOf(e));
    } catch (const std::bad_alloc&) {
        reporter.Failed(job.Picture, "out of memory");
    } catch (const std::exception& e) {
        reporter.Failed(job.Picture, e.what());
    }
}

}  // namespace

namespace {

// The signal that asked the batch to stop (SIGINT, SIGTERM or SIGHUP), or 0.
// Killed in the middle of a write, the program would leave the temporary
// file of the icon it was writing; asked to stop, it starts no new picture,
// lets the ones under way finish (each is a fraction of a second), and then
// ends by the same signal, so that a calling shell sees it.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void AskToStop(int signal) { g_stopSignal.store(signal); }

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program at once.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

void EndIfAskedToStop() {
    const int signal = g_stopSignal.load();
    if (signal == 0) return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::size_t RunBatch(const TCommandLine& line, bool showProgress) {
    CatchStopSignals();
    TReporter reporter(line.Jobs.size(), line.Verbose, showProgress);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; g_stopSignal.load() == 0 && (i = next.fetch_add(1)) < line.Jobs.size();)
            ConvertOne(line.Jobs[i], line.Settings, reporter);
    };

    // This thread is one of the workers. When the system grants fewer
    // threads than asked, the ones there are share the work.
    std::vector<std::jthread> helpers;
    for (unsigned n = 1; n < line.Threads; ++n) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::jthread& helper : helpers)
        helper.join();
    reporter.Finish();
    FlushWrittenFolders(reporter.Folders());
    if (g_stopSignal.load() != 0) {
        const std::size_t started = std::min(next.load(), line.Jobs.size());
        std::fprintf(stderr, "gloxen-convert: stopped; %zu of %zu pictures were not converted\n",
                     line.Jobs.size() - started, line.Jobs.size());
        std::fflush(stderr);
    }
    return reporter.Failures();
}
