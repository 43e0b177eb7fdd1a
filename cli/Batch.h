#pragma once
// Runs the conversions of one command line: each picture rendered with
// ConvertPicture, then written with WriteIconFile, in several worker threads.
// A picture that fails is reported with its reason on stderr and does not
// stop the others; its icon is not written, and an icon already there under
// that name stays as it was.

#include "Arguments.h"

#include <cstddef>

// Converts every job of `line` and returns how many failed. With -v, one
// line per written icon goes to stdout. With `showProgress` (stderr is a
// terminal), a progress line on stderr is rewritten in place and cleared at
// the end.
// SIGINT, SIGTERM and SIGHUP stop the batch between pictures: no picture is
// started after one of them, and no file is left half-written.
std::size_t RunBatch(const TCommandLine& line, bool showProgress);

// Ends the program by the signal that stopped the batch, if one did, so that
// the caller learns how it ended; returns otherwise.
void EndIfAskedToStop();
