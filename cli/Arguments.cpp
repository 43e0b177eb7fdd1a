#include "Arguments.h"

#include "ConvertOptions.h"
#include "Libfunc.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* ProgramName = "gloxen-convert";

// A whole positive decimal number that fits the icon writer's int sizes:
// digits only, no sign, no blanks; nothing otherwise.
std::optional<std::int32_t> PositiveDecimal(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0)
        return std::nullopt;
    return value;
}

// The depth list's texts without their "bit": "1", "4", ... "32".
std::string_view DepthNumber(const TDepthItem& item) {
    std::string_view text = item.Text;
    if (text.ends_with("bit"))
        text.remove_suffix(3);
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The name an icon gets from a picture's name. Trailing slashes are dropped
// first, so that a folder given by mistake ("pics/") is planned as
// "pics.ico" and reported as a folder when its turn comes, rather than
// colliding with other such names at ".ico".
std::string IconNameFor(std::string picture) {
    while (picture.size() > 1 && picture.back() == '/')
        picture.pop_back();
    return IconFileName(picture);
}

std::string FileNameOf(std::string picture) {
    while (picture.size() > 1 && picture.back() == '/')
        picture.pop_back();
    return fs::path(picture).filename().string();
}

fs::path Normal(const std::string& path) { return fs::absolute(fs::path(path)).lexically_normal(); }

unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

namespace {

const char* const kSizeHelp = "give original, a side such as 16, 32, 48, 64, 128 or 256, or WIDTHxHEIGHT in pixels (for example 40x30)";

// One item of a size list: "original", N for a square of N pixels (the
// window's list has 16, 32, 48, 64, 128 and 256; icon sets also use 24, 20
// or 40), or WIDTHxHEIGHT; nothing for anything else.
std::optional<TSizeChoice> SizeItem(std::string_view text) {
    if (text == "original") return TSizeChoice{};
    if (const auto side = PositiveDecimal(text)) return TSizeChoice{false, {*side, *side}};
    const std::size_t cross = text.find_first_of("xX");
    if (cross == std::string_view::npos) return std::nullopt;
    const auto width = PositiveDecimal(text.substr(0, cross));
    const auto height = PositiveDecimal(text.substr(cross + 1));
    if (!width || !height) return std::nullopt;
    return TSizeChoice{false, {*width, *height}};
}

// The items of a comma-separated list, empty ones included.
std::vector<std::string> ListItems(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        items.push_back(text.substr(start, comma - start));
    items.push_back(text.substr(start));
    return items;
}

std::string SizeName(const TSizeChoice& size) {
    return size.Original ? "original" : std::to_string(size.Size.Width) + " x " + std::to_string(size.Size.Height);
}

// The value of `option` named `text` among `choices`; otherwise the error
// lists them ("give nearest, box or lanczos").
template <class T>
T OneOf(const char* option, const std::string& text, std::initializer_list<std::pair<const char*, T>> choices) {
    std::string names;
    std::size_t index = 0;
    for (const auto& [name, value] : choices) {
        if (text == name) return value;
        if (index > 0) names += index + 1 == choices.size() ? " or " : ", ";
        names += name;
        ++index;
    }
    throw EArgumentError(std::string(option) + " " + Quoted(text) + ": give " + names);
}

// A colour given as #RRGGBB (hexadecimal digits in either case).
std::optional<TColor> HexColour(const std::string& text) {
    const bool hex = text.size() == 7 && text[0] == '#' &&
                     std::all_of(text.begin() + 1, text.end(),
                                 [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    if (!hex) return std::nullopt;
    const unsigned long rgb = std::stoul(text.substr(1), nullptr, 16);
    return RGBColor(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb));
}

}  // namespace

void ApplySize(const std::string& text, bool allowLarge, TConvertSettings& settings) {
    std::vector<TSizeChoice> sizes;
    for (const std::string& item : ListItems(text)) {
        const std::optional<TSizeChoice> size = SizeItem(item);
        if (!size) throw EArgumentError("--size " + Quoted(text) + ": " + kSizeHelp + ", or several separated by commas");
        if (!size->Original && !allowLarge && NeedsSizeConfirmation(size->Size))
            throw EArgumentError("--size " + item + ": an icon larger than " + std::to_string(MaxIconSide) + " x " +
                                 std::to_string(MaxIconSide) + " is written only with --allow-large");
        if (std::find(sizes.begin(), sizes.end(), *size) != sizes.end())
            throw EArgumentError("--size " + Quoted(text) + ": " + SizeName(*size) +
                                 " is given twice; an icon holds one image of each size");
        sizes.push_back(*size);
    }
    settings.Sizes = sizes;
}

void ApplyPng(const std::string& text, TConvertSettings& settings) {
    if (text == "all") {
        settings.PngAll = true;
        return;
    }
    for (const std::string& item : ListItems(text)) {
        const std::optional<TSizeChoice> size = SizeItem(item);
        if (!size)
            throw EArgumentError("--png " + Quoted(text) + ": give all, or sizes of the --size list separated by commas");
        if (std::find(settings.Sizes.begin(), settings.Sizes.end(), *size) == settings.Sizes.end())
            throw EArgumentError("--png " + item + ": the icon has no image of that size (see --size)");
        settings.PngSizes.push_back(*size);
    }
}

void ApplyImageOptions(const std::string& alpha, const std::string& filter, const std::string& fit,
                       const std::string& background, bool backgroundGiven, TConvertSettings& settings) {
    settings.KeepAlpha = OneOf<bool>("--alpha", alpha, {{"keep", true}, {"off", false}});
    if (settings.KeepAlpha && settings.Depth != pf32bit)
        throw EArgumentError("--alpha keep needs --depth 32: only 32-bit images carry an opacity for each pixel");
    settings.Filter = OneOf<TResampleFilter>(
        "--filter", filter,
        {{"nearest", TResampleFilter::Nearest}, {"box", TResampleFilter::Box}, {"lanczos", TResampleFilter::Lanczos3}});
    settings.Fit = OneOf<TFit>("--fit", fit, {{"stretch", TFit::Stretch}, {"pad", TFit::Pad}, {"crop", TFit::Crop}});

    if (backgroundGiven) {
        if (settings.Fit != TFit::Pad)
            throw EArgumentError("--background colours the space around a padded picture; give it with --fit pad");
        const std::optional<TColor> colour = HexColour(background);
        if (!colour) throw EArgumentError("--background " + Quoted(background) + ": give a colour as #RRGGBB");
        settings.UseBackground = true;
        settings.Background = *colour;
    }
}

TPixelFormat ParseDepth(const std::string& text) {
    std::string accepted;
    for (const TDepthItem& item : DepthItems) {
        if (DepthNumber(item) == text)
            return item.Format;
        accepted += (accepted.empty() ? "" : ", ") + std::string(DepthNumber(item));
    }
    throw EArgumentError("--depth " + Quoted(text) + ": give one of " + accepted + " (bits per pixel)");
}

void ApplyTransparency(const std::string& text, TConvertSettings& settings) {
    if (text == "off") {
        settings.Transparency = TTransparencyChoice::Off;
        return;
    }
    if (text == "top-left") {
        settings.Transparency = TTransparencyChoice::TopLeft;
        return;
    }
    const std::optional<TColor> colour = HexColour(text);
    if (!colour)
        throw EArgumentError("--transparent " + Quoted(text) + ": give off, top-left or a colour as #RRGGBB");
    settings.Transparency = TTransparencyChoice::Colour;
    settings.Colour = *colour;
}

std::vector<TIconJob> PlanIcons(const std::vector<std::string>& pictures, const std::string& output) {
    if (pictures.empty())
        throw EArgumentError("no picture given");
    std::vector<TIconJob> jobs;
    jobs.reserve(pictures.size());
    if (output.empty()) {
        for (const std::string& picture : pictures)
            jobs.push_back({picture, IconNameFor(picture)});
    } else {
        std::error_code error;
        const bool isFolder = fs::is_directory(output, error);
        if (output.back() == '/' && !isFolder) {
            // "file/" does not exist as such; ask about "file".
            const bool exists = fs::exists(fs::path(output).parent_path(), error);
            throw EArgumentError("-o " + output + ": " + (exists ? "not a folder" : "no such folder"));
        }
        if (isFolder) {
            for (const std::string& picture : pictures)
                jobs.push_back({picture, (fs::path(output) / IconNameFor(FileNameOf(picture))).string()});
        } else {
            if (pictures.size() > 1)
                throw EArgumentError("-o " + output + " names one icon, but " + std::to_string(pictures.size()) +
                                     " pictures were given; end the name with \"/\" for a folder");
            jobs.push_back({pictures.front(), output});
        }
    }

    // Two pictures writing one icon would leave the user with whichever
    // finished last; refuse that before anything is converted.
    std::map<fs::path, const TIconJob*> planned;
    for (const TIconJob& job : jobs) {
        const auto [at, added] = planned.emplace(Normal(job.Icon), &job);
        if (!added)
            throw EArgumentError(at->second->Picture + " and " + job.Picture + " would both be written to " + job.Icon);
    }
    // An icon written over its own picture (photo.ico converted beside
    // itself) would lose the picture; the user names another icon with -o.
    // (An icon over another picture of the list is caught above: that
    // picture's own icon has the same name.)
    for (const TIconJob& job : jobs)
        if (Normal(job.Picture) == Normal(job.Icon))
            throw EArgumentError(job.Picture + ": its icon would replace the picture itself; name another icon with -o");
    return jobs;
}

int ParseCommandLine(int argc, const char* const* argv, TCommandLine& line) {
    CLI::App app{"Turns pictures (BMP, JPEG, PNG, GIF, ICO) into Windows icons (.ico).", ProgramName};
    std::vector<std::string> pictures;
    std::string output, size = "original", depth = "24", transparent, png, alpha = "off", filter = "nearest",
                fit = "stretch", background;
    bool allowLarge = false;
    int jobs = int(std::min(DefaultJobs(), 1024u));

    app.add_option("PICTURE", pictures, "The pictures to convert")->type_name("");
    app.add_option("-o,--output", output,
                   "The icon's file name (one picture), or a folder for all icons (ends in /, or exists); "
                   "by default each icon is written beside its picture as NAME.ico")
        ->type_name("FILE|DIR/");
    app.add_option("--size", size,
                   "original (the picture's size, default), a side (16, 24, 32, 48, 64, 128, 256...) or WxH; "
                   "several, separated by commas, make an icon of several images")
        ->type_name("SIZE");
    app.add_option("--depth", depth, "Colour depth in bits per pixel: 1, 4, 8, 15, 16, 24 (default) or 32")
        ->type_name("BITS");
    app.add_option("--transparent", transparent,
                   "off, top-left (the picture's top-left colour) or #RRGGBB; by default black is transparent "
                   "when the top-left pixel is black")
        ->type_name("COLOUR");
    app.add_flag("--allow-large", allowLarge, "Write icons larger than 256 x 256");
    app.add_option("--png", png,
                   "Store these sizes of the --size list (or all) PNG-compressed, as 32-bit RGBA")
        ->type_name("SIZES|all");
    app.add_option("--alpha", alpha,
                   "keep: 32-bit images keep the picture's own opacity (needs --depth 32); off (default): it is "
                   "composed over white")
        ->type_name("keep|off");
    app.add_option("--filter", filter,
                   "nearest (default, as the window), box or lanczos: smooth scaling in linear light")
        ->type_name("NAME");
    app.add_option("--fit", fit,
                   "stretch (default, as the window), pad (whole picture centred, the rest transparent) or crop "
                   "(the centred part of the icon's aspect)")
        ->type_name("HOW");
    app.add_option("--background", background, "With --fit pad: this colour around the picture instead of transparency")
        ->type_name("#RRGGBB");
    app.add_option("-j,--jobs", jobs, "Pictures converted at the same time (default: the number of processors)")
        ->type_name("N");
    app.add_flag("-v,--verbose", line.Verbose, "One line per icon written, on standard output");
    app.set_version_flag("--version", [] {
        std::string version = GetShortVersion("/proc/self/exe");
        if (version.empty())
            throw Exception("the program's version record cannot be read");
        return version;
    });

    const std::string hint = std::string("Run ") + ProgramName + " --help for the options.\n";
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == int(CLI::ExitCodes::Success))
            return app.exit(e);  // --help, --version
        std::cerr << ProgramName << ": " << e.what() << "\n" << hint;
        return ExitBadArguments;
    }

    try {
        if (jobs < 1)
            throw EArgumentError("-j " + std::to_string(jobs) + ": give 1 or more jobs");
        if (app.count("--output") > 0 && output.empty())
            throw EArgumentError("-o: give a file or folder name");
        ApplySize(size, allowLarge, line.Settings);
        line.Settings.Depth = ParseDepth(depth);
        if (app.count("--transparent") > 0)
            ApplyTransparency(transparent, line.Settings);
        line.Settings.AllowLarge = allowLarge;
        if (app.count("--png") > 0)
            ApplyPng(png, line.Settings);
        ApplyImageOptions(alpha, filter, fit, background, app.count("--background") > 0, line.Settings);
        line.Jobs = PlanIcons(pictures, output);
        line.Threads = unsigned(std::min<std::size_t>(std::size_t(jobs), line.Jobs.size()));
    } catch (const EArgumentError& e) {
        std::cerr << ProgramName << ": " << e.Message() << "\n" << hint;
        return ExitBadArguments;
    }
    return -1;
}
