#pragma once
// The command line of gloxen-convert: reading the options with CLI11, turning
// their texts into conversion settings, and planning which icon each picture
// becomes. Every mistake on the command line is found here, before any
// picture is read or any file is written.

#include "Exception.h"
#include "PictureConverter.h"

#include <string>
#include <vector>

// A mistake on the command line; the program ends with status 2 and writes
// nothing. The message names the option and the value as typed.
class EArgumentError : public Exception {
public:
    using Exception::Exception;
};

// One picture to convert and the icon it becomes, both as the user will
// read them in messages (relative paths stay relative).
struct TIconJob {
    std::string Picture;
    std::string Icon;
};

struct TCommandLine {
    TConvertSettings Settings;
    std::vector<TIconJob> Jobs;
    // Worker threads; never more than there are pictures.
    unsigned Threads = 1;
    bool Verbose = false;
};

// The exit statuses.
constexpr int ExitAllConverted = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitBadArguments = 2;

// Reads argv. When the program is to go on, fills `line` and returns -1;
// otherwise returns the exit status, having printed what the user asked for
// (--help, --version on stdout) or what is wrong (on stderr, status 2).
int ParseCommandLine(int argc, const char* const* argv, TCommandLine& line);

// The option values, each raising EArgumentError for a text it does not
// take. Exposed for the program's own use; the tests drive the executable.
// --size: one size, or several separated by commas (no size twice).
void ApplySize(const std::string& text, bool allowLarge, TConvertSettings& settings);
TPixelFormat ParseDepth(const std::string& text);
void ApplyTransparency(const std::string& text, TConvertSettings& settings);
// --png, once the sizes are known: "all", or sizes of the --size list.
void ApplyPng(const std::string& text, TConvertSettings& settings);
// --alpha, --filter, --fit and --background, once the depth is known.
void ApplyImageOptions(const std::string& alpha, const std::string& filter, const std::string& fit,
                       const std::string& background, bool backgroundGiven, TConvertSettings& settings);

// The icon of each picture: beside it under IconFileName when `output` is
// empty; `output` itself when it names a file (one picture only); the name
// rule applied to the picture's file name inside `output` when that ends in
// "/" or is an existing folder. Raises EArgumentError for a folder that does
// not exist, a file name given for several pictures, and two pictures that
// would write the same icon.
std::vector<TIconJob> PlanIcons(const std::vector<std::string>& pictures, const std::string& output);
