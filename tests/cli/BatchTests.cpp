// gloxen-convert on batches: a bad picture is named with its reason and does
// not stop the others, a failed conversion leaves no file and keeps an
// existing icon, the progress line appears only on a terminal, and the number
// of jobs does not change the files.

#include "../common/AsNormalUser.h"
#include "CliTestSupport.h"
#include "PictureConverter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

using namespace clitest;

namespace {

Bytes Picture(int width, int height, int seed = 0) {
    return Bmp24(width, height, [seed](int x, int y) {
        return RGBColor(std::uint8_t(31 * x + seed), std::uint8_t(17 * y + 3 * seed), std::uint8_t(x * y + 90));
    });
}

// A BMP cut short in its pixel rows.
Bytes Truncated() {
    Bytes bytes = Picture(20, 20);
    bytes.resize(54 + 100);
    return bytes;
}

Bytes CoreIcon(const fs::path& picture) { return ConvertPicture(picture.string(), TConvertSettings{}).FileBytes(); }

const Bytes kOldIcon = {'o', 'l', 'd', ' ', 'i', 'c', 'o', 'n'};

using Batch = ScratchTest;

// Each failing picture and what its line on stderr has to say.
struct Failure {
    const char* picture;
    const char* reason;
};

TEST_F(Batch, FailedPicturesAreNamedAndTheOthersAreWritten) {
    const std::vector<Failure> failures = {
        {"broken.bmp", "BMP: "},
        {"missing.png", "No such file or directory"},
        {"folder", "this is a folder, not a picture"},
        {"pics.png", "this is a folder, not a picture"},
        {"notes.txt", "Unsupported picture format \".txt\""},
        {"large.bmp", "The icon would be 300 x 2 pixels, larger than 256 x 256"},
    };
    Put("good1.bmp", Picture(5, 4, 1));
    Put("broken.bmp", Truncated());
    Put("good2.bmp", Picture(9, 3, 2));
    fs::create_directory(Path("folder"));
    fs::create_directory(Path("pics.png"));
    Put("notes.txt", Picture(4, 4));
    Put("large.bmp", Picture(300, 2));
    Put("good3.bmp", Picture(1, 1, 3));
    const auto before = Listing(Root());

    const TRun run = RunConvert(Root(), {"-j", "3", "good1.bmp", "broken.bmp", "missing.png", "good2.bmp", "folder",
                                  "pics.png", "notes.txt", "large.bmp", "good3.bmp"});
    EXPECT_EQ(run.Status, 1);
    for (const Failure& f : failures) {
        const std::string line = std::string("gloxen-convert: ") + f.picture + ": ";
        const std::size_t at = run.Err.find(line);
        ASSERT_NE(at, std::string::npos) << f.picture << " not named in:\n" << run.Err;
        const std::string rest = run.Err.substr(at + line.size(), run.Err.find('\n', at) - at - line.size());
        EXPECT_NE(rest.find(f.reason), std::string::npos) << f.picture << ": " << rest;
    }
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), std::ptrdiff_t(failures.size())) << run.Err;

    auto expected = before;
    for (const char* good : {"good1", "good2", "good3"}) {
        const Bytes icon = CoreIcon(Path(std::string(good) + ".bmp"));
        EXPECT_EQ(ReadFile(Path(std::string(good) + ".ico")), icon) << good;
        expected[std::string(good) + ".ico"] = std::intmax_t(icon.size());
    }
    EXPECT_EQ(Listing(Root()), expected) << "only the good pictures' icons are new";
}

TEST_F(Batch, AllFailedIsStatus1) {
    Put("broken.bmp", Truncated());
    const TRun run = RunConvert(Root(), {"broken.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("gloxen-convert: broken.bmp: BMP: "), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(Path("broken.ico")));
}

TEST_F(Batch, FailedConversionKeepsTheExistingIcon) {
    Put("broken.bmp", Truncated());
    Put("broken.ico", kOldIcon);
    Put("large.bmp", Picture(2, 257));
    Put("named.ico", kOldIcon);
    Put("out/large.ico", kOldIcon);
    const auto before = Listing(Root());

    EXPECT_EQ(RunConvert(Root(), {"broken.bmp"}).Status, 1);
    EXPECT_EQ(RunConvert(Root(), {"-o", "named.ico", "large.bmp"}).Status, 1);
    EXPECT_EQ(RunConvert(Root(), {"-o", "out/", "large.bmp", "broken.bmp"}).Status, 1);
    EXPECT_EQ(Listing(Root()), before) << "no new or half-written file";
    for (const char* icon : {"broken.ico", "named.ico", "out/large.ico"})
        EXPECT_EQ(ReadFile(Path(icon)), kOldIcon) << icon;

    // The same tall picture with --allow-large replaces the icon.
    EXPECT_EQ(RunConvert(Root(), {"--allow-large", "-o", "out/", "large.bmp"}).Status, 0);
    TConvertSettings settings;
    settings.AllowLarge = true;
    EXPECT_EQ(ReadFile(Path("out/large.ico")), ConvertPicture(Path("large.bmp").string(), settings).FileBytes());
}

TEST_F(Batch, UnwritableFolderFailsThatIconOnly) {
    if (RanAsNormalUser())
        return;
    Put("open/a.bmp", Picture(4, 4));
    Put("locked/b.bmp", Picture(4, 4));
    fs::create_directory(Path("locked-out"));
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(Path("locked-out").c_str(), 0555), 0);

    TRun run = RunConvert(Root(), {"open/a.bmp", "locked/b.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(ReadFile(Path("open/a.ico")), CoreIcon(Path("open/a.bmp")));
    EXPECT_NE(run.Err.find("gloxen-convert: locked/b.bmp: Cannot create file \""), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Permission denied"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(Path("locked/b.ico")));

    run = RunConvert(Root(), {"-o", "locked-out/", "open/a.bmp"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("gloxen-convert: open/a.bmp: Cannot create file"), std::string::npos) << run.Err;
    EXPECT_TRUE(fs::is_empty(Path("locked-out")));
}

TEST_F(Batch, ProgressLineOnATerminalOnly) {
    std::vector<std::string> args = {"-j", "1"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = "picture-" + std::to_string(i) + ".bmp";
        Put(name, Picture(30, 30, i));
        args.push_back(name);
    }

    const TRun terminal = RunOnTerminal(Root(), args);
    EXPECT_EQ(terminal.Status, 0) << terminal.Out;
    // Drawn at the start with the count and the current file, rewritten in
    // place, and cleared at the end: the last thing written is a return to
    // the start of a blank line.
    EXPECT_NE(terminal.Out.find("0/4: picture-0.bmp"), std::string::npos) << terminal.Out;
    ASSERT_FALSE(terminal.Out.empty());
    EXPECT_EQ(terminal.Out.back(), '\r');
    const std::size_t lastDraw = terminal.Out.rfind("/4");
    ASSERT_NE(lastDraw, std::string::npos);
    const std::string end = terminal.Out.substr(terminal.Out.find('\r', lastDraw));
    EXPECT_EQ(end.find_first_not_of(" \r"), std::string::npos) << "the line is cleared at the end";
    EXPECT_EQ(terminal.Out.find('\n'), std::string::npos) << "the line never scrolls";

    // Converted again with a failure: the error gets a line of its own.
    Put("broken.bmp", Truncated());
    args.push_back("broken.bmp");
    const TRun failing = RunOnTerminal(Root(), args);
    EXPECT_EQ(failing.Status, 1);
    EXPECT_NE(failing.Out.find("\rgloxen-convert: broken.bmp: BMP: "), std::string::npos) << failing.Out;

    const TRun pipe = RunConvert(Root(), args);
    EXPECT_EQ(pipe.Status, 1);
    EXPECT_EQ(pipe.Err.find('\r'), std::string::npos) << pipe.Err;
    EXPECT_EQ(pipe.Err.find("/5"), std::string::npos) << pipe.Err;
    EXPECT_EQ(pipe.Err.rfind("gloxen-convert: broken.bmp: BMP: ", 0), 0u) << pipe.Err;
}

TEST_F(Batch, JobCountDoesNotChangeTheFiles) {
    std::vector<std::string> pictures;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bmp";
        Put(name, Picture(3 + 7 * i, 40 - 3 * i, i));
        pictures.push_back(name);
    }
    fs::create_directory(Path("one"));
    fs::create_directory(Path("four"));
    std::vector<std::string> args = {"--depth", "8", "--transparent", "top-left"};
    args.insert(args.end(), pictures.begin(), pictures.end());

    std::vector<std::string> one = args, four = args;
    one.insert(one.end(), {"-j", "1", "-o", "one/"});
    four.insert(four.end(), {"-j", "4", "-o", "four/"});
    ASSERT_EQ(RunConvert(Root(), one).Status, 0);
    ASSERT_EQ(RunConvert(Root(), four).Status, 0);

    TConvertSettings settings;
    settings.Depth = pf8bit;
    settings.Transparency = TTransparencyChoice::TopLeft;
    for (const std::string& picture : pictures) {
        const std::string icon = fs::path(picture).replace_extension(".ico").string();
        const Bytes expected = ConvertPicture(Path(picture).string(), settings).FileBytes();
        EXPECT_EQ(ReadFile(Path("one/" + icon)), expected) << icon;
        EXPECT_EQ(ReadFile(Path("four/" + icon)), expected) << icon;
    }
    EXPECT_EQ(Listing(Path("one")).size(), pictures.size());
    EXPECT_EQ(Listing(Path("four")).size(), pictures.size());
}

}  // namespace

TEST_F(Batch, AStopSignalEndsBetweenPicturesWithNoFileHalfWritten) {
    // Many pictures, each slow enough (a smooth shrink) that the batch is
    // still running when the first icon appears.
    const fs::path first = Put("p0.bmp", Picture(1500, 1500));
    constexpr int kPictures = 400;
    std::vector<std::string> args{GLOXEN_CONVERT_EXE, "--size", "256", "--filter", "lanczos", "-j", "1", "-o", "out/"};
    fs::create_directory(Path("out"));
    for (int i = 0; i < kPictures; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bmp";
        if (i > 0) fs::create_hard_link(first, Path(name));
        args.push_back(name);
    }
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        for (const auto& entry : fs::directory_iterator(Path("out"))) fs::remove(entry.path());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(Root().c_str()) != 0) ::_exit(127);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Wait for the first icon, then ask the batch to stop.
        for (int waited = 0; waited < 60000 && !fs::exists(Path("out/p0.ico")); waited += 5) ::usleep(5000);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "it should end by the signal, status " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        int icons = 0;
        for (const auto& entry : fs::directory_iterator(Path("out"))) {
            // Only finished icons: no temporary file is left behind.
            ASSERT_EQ(entry.path().extension(), ".ico") << entry.path();
            EXPECT_EQ(ReadFile(entry.path()), ReadFile(Path("out/p0.ico"))) << entry.path();
            ++icons;
        }
        EXPECT_GE(icons, 1);
        EXPECT_LT(icons, kPictures);
    }
}
