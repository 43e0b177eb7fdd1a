// gloxen-convert: turns pictures into Windows icons from the
// command line, with the same decoders, rules and icon writer as the window.
// Exit status: 0 when every icon was written, 1 when some picture failed,
// 2 when the command line is wrong (then nothing is written). Stopped by
// SIGINT, SIGTERM or SIGHUP, it finishes the pictures under way and ends by
// that signal.

#include "Arguments.h"
#include "Batch.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    try {
        TCommandLine line;
        if (const int status = ParseCommandLine(argc, argv, line); status >= 0)
            return status;
        const std::size_t failed = RunBatch(line, ::isatty(STDERR_FILENO) == 1);
        std::fflush(stdout);
        EndIfAskedToStop();
        // -v lines that could not be written (a full disk behind stdout) are a
        // failure too, even when every icon was written.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "gloxen-convert: cannot write to standard output\n");
            return ExitSomeFailed;
        }
        return failed == 0 ? ExitAllConverted : ExitSomeFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gloxen-convert: %s\n", e.what());
        return ExitSomeFailed;
    }
}
