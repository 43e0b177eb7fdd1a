// The file step: errors leave the file system as it was, an existing file is
// replaced whole or not at all, and the failures carry their exact texts.

#include "Convert_func.h"
#include "Exception.h"
#include "IconTestSupport.h"
#include "../common/AsNormalUser.h"
#include "SafeFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace icontest;
namespace fs = std::filesystem;

namespace {

enum class Kind { InvalidGraphic, Resource, ResourceOrMemory };

bool IsKind(const Exception& e, Kind kind) {
    switch (kind) {
    case Kind::InvalidGraphic:
        return dynamic_cast<const EInvalidGraphic*>(&e) != nullptr;
    case Kind::Resource:
        return dynamic_cast<const EOutOfResources*>(&e) != nullptr;
    case Kind::ResourceOrMemory:
        return dynamic_cast<const EOutOfResources*>(&e) || dynamic_cast<const EOutOfMemory*>(&e);
    }
    return false;
}

mode_t FileMode(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

const Bytes kOldContents = {'o', 'l', 'd', ' ', 'i', 'c', 'o', 'n', 0, 1, 2, 3};

struct RenderFailure {
    const char* name;
    int width, height;
    TPixelFormat format;
    Kind kind;
    const char* message;  // null: any text
};

void PrintTo(const RenderFailure& c, std::ostream* os) { *os << c.name; }

class RenderFailures : public ScratchFolderTest, public ::testing::WithParamInterface<RenderFailure> {};

TEST_P(RenderFailures, RaiseTheirErrorAndTouchNoFile) {
    const RenderFailure c = GetParam();
    const TBitmap source = MakeSolid(4, 4, clTeal);
    const fs::path fresh = Path("fresh.ico"), existing = Path("existing.ico");
    WriteFileBytes(existing, kOldContents);

    for (const fs::path& target : {fresh, existing}) {
        try {
            SaveBmpAsIconEx(source, target.string(), c.width, c.height, true, clTeal, c.format);
            ADD_FAILURE() << "no error for " << target;
        } catch (const Exception& e) {
            EXPECT_TRUE(IsKind(e, c.kind)) << "wrong kind: " << e.Message();
            if (c.message) {
                EXPECT_EQ(e.Message(), c.message);
            }
        }
    }
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"existing.ico"});
    EXPECT_EQ(ReadFileBytes(existing), kOldContents);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderFailures,
    ::testing::Values(
        RenderFailure{"ZeroWidth", 0, 16, pf24bit, Kind::InvalidGraphic, "Bitmap image is not valid"},
        RenderFailure{"ZeroHeight", 16, 0, pf32bit, Kind::InvalidGraphic, "Bitmap image is not valid"},
        RenderFailure{"ZeroBoth", 0, 0, pf1bit, Kind::InvalidGraphic, "Bitmap image is not valid"},
        RenderFailure{"NegativeWidth", -1, 16, pf24bit, Kind::Resource, nullptr},
        RenderFailure{"NegativeHeight", 16, -5, pf8bit, Kind::Resource, nullptr},
        RenderFailure{"CustomFormat", 16, 16, pfCustom, Kind::InvalidGraphic, "Invalid pixel format"},
        RenderFailure{"CustomFormatBeforeSize", 0, 0, pfCustom, Kind::InvalidGraphic, "Invalid pixel format"},
        RenderFailure{"Huge", 100000, 100000, pf24bit, Kind::ResourceOrMemory, nullptr},
        RenderFailure{"RowBeyond32Bits", 0x7FFFFFFF, 1, pf32bit, Kind::ResourceOrMemory, nullptr},
        RenderFailure{"TallBeyond32Bits", 1, 0x7FFFFFFF, pf24bit, Kind::ResourceOrMemory, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

class IconFile : public ScratchFolderTest {};

TEST_F(IconFile, WritesTheRenderedBytesAndReplacesALongerFile) {
    const TBitmap source = MakeBitmap(5, 3, pf24bit, PatternColour);
    const fs::path target = Path("out.ico");
    WriteFileBytes(target, Bytes(100000, 0xAB));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    SaveBmpAsIconEx(source, target.string(), 7, 9, true, PatternColour(0, 0), pf32bit);
    EXPECT_EQ(ReadFileBytes(target), RenderIconEx(source, 7, 9, true, PatternColour(0, 0), pf32bit).FileBytes());
    EXPECT_EQ(FileMode(target), 0640u) << "the replaced file's mode is kept";

    SaveBmpAsIcon(source, target.string(), false, true, 1, 2);
    EXPECT_EQ(ReadFileBytes(target), RenderIcon(source, false, true, 1, 2).FileBytes());
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"out.ico"});
}

TEST_F(IconFile, NewFileGetsTheUsualModeUnderTheUmask) {
    const mode_t saved = ::umask(027);
    SaveBmpAsIconEx(MakeSolid(1, 1, clTeal), Path("new.ico").string(), 1, 1, false, clWhite, pf24bit);
    ::umask(saved);
    EXPECT_EQ(FileMode(Path("new.ico")), 0640u);
}

TEST_F(IconFile, ReplacesTheFileALinkPointsTo) {
    const fs::path real = Path("real.ico"), link = Path("link.ico");
    WriteFileBytes(real, kOldContents);
    fs::create_symlink(real, link);
    SaveBmpAsIconEx(MakeSolid(2, 2, clGray), link.string(), 2, 2, false, clWhite, pf24bit);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(real).size(), 62u + 16 + 8);
}

TEST_F(IconFile, CannotCreateGivesTheFullNameAndTheReason) {
    const TBitmap source = MakeSolid(2, 2, clTeal);
    fs::create_directory(Path("folder"));
    const fs::path readOnly = Path("readonly.ico");
    WriteFileBytes(readOnly, kOldContents);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);

    struct {
        std::string given, expanded;
        std::string reason;
        bool needsNonRoot;
    } const cases[] = {
        // Relative parts are expanded in the message.
        {(folder_ / "folder" / ".." / "missing" / "." / "x.ico").string(), (folder_ / "missing" / "x.ico").string(),
         std::strerror(ENOENT), false},
        {Path("folder").string(), Path("folder").string(), std::strerror(EISDIR), false},
        {readOnly.string(), readOnly.string(), std::strerror(EACCES), true},
    };
    for (const auto& c : cases) {
        if (c.needsNonRoot && ::geteuid() == 0) {
            std::cout << "skipped (running as root): " << c.given << "\n";
            continue;
        }
        try {
            SaveBmpAsIconEx(source, c.given, 2, 2, false, clWhite, pf24bit);
            ADD_FAILURE() << "no error for " << c.given;
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.Message(), "Cannot create file \"" + c.expanded + "\". " + c.reason);
        }
    }
    EXPECT_EQ(ReadFileBytes(readOnly), kOldContents);
    EXPECT_EQ(FolderEntries(folder_), (std::set<std::string>{"folder", "readonly.ico"}));
}

TEST_F(IconFile, UnwritableFolderIsACreateError) {
    if (RanAsNormalUser())
        return;
    const fs::path locked = Path("locked");
    fs::create_directory(locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    const std::string name = (locked / "x.ico").string();
    try {
        SaveBmpAsIconEx(MakeSolid(2, 2, clTeal), name, 2, 2, false, clWhite, pf24bit);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + name + "\". " + std::strerror(EACCES));
    }
    EXPECT_TRUE(FolderEntries(locked).empty());
}

// A write call that stores at most `budget` bytes in all, then reports a full
// device (or, with `silent`, stops making progress without an error).
TSafeFile::TWriteFunction FullAfter(std::size_t budget, bool silent = false) {
    auto left = std::make_shared<std::size_t>(budget);
    return [left, silent](int fd, const void* data, std::size_t size) -> ssize_t {
        if (*left == 0) {
            if (silent)
                return 0;
            errno = ENOSPC;
            return -1;
        }
        const std::size_t n = std::min(size, *left);
        const ssize_t written = ::write(fd, data, n);
        if (written > 0)
            *left -= std::size_t(written);
        return written;
    };
}

TEST_F(IconFile, FullDiskRaisesAndKeepsTheOldFile) {
    const TIconImage icon = RenderIconEx(MakeSolid(16, 16, clTeal), 16, 16, false, clWhite, pf24bit);
    const fs::path target = Path("keep.ico");
    WriteFileBytes(target, kOldContents);
    // Inside each of the four parts and right at their borders.
    for (std::size_t budget : {std::size_t(0), std::size_t(5), std::size_t(22), std::size_t(61), std::size_t(62),
                               std::size_t(500), icon.FileSize() - 1}) {
        for (bool silent : {false, true}) {
            try {
                WriteIconFile(target.string(), icon, FullAfter(budget, silent));
                ADD_FAILURE() << "no error with " << budget << " bytes of room";
            } catch (const EWriteError& e) {
                EXPECT_EQ(e.Message(), "Cannot write file \"" + target.string() + "\". " + std::strerror(ENOSPC));
            }
            EXPECT_EQ(ReadFileBytes(target), kOldContents) << budget;
            EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"keep.ico"}) << "temporary file left";
        }
    }
    // Exactly enough room succeeds.
    WriteIconFile(target.string(), icon, FullAfter(icon.FileSize()));
    EXPECT_EQ(ReadFileBytes(target), icon.FileBytes());
}

TEST_F(IconFile, ShortWritesAreContinued) {
    const TIconImage icon = RenderIconEx(MakeBitmap(9, 4, pf24bit, PatternColour), 9, 4, true, clWhite, pf32bit);
    auto trickle = [](int fd, const void* data, std::size_t size) -> ssize_t {
        static int calls = 0;
        if (++calls % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<std::size_t>(size, 7));
    };
    WriteIconFile(Path("slow.ico").string(), icon, trickle);
    EXPECT_EQ(ReadFileBytes(Path("slow.ico")), icon.FileBytes());
}

// A flush call whose `failing`-th use (1: the file, 2: the folder after the
// rename) fails with `error`; every other use flushes for real.
TSafeFile::TSyncFunction SyncFailingAt(int failing, int error) {
    auto calls = std::make_shared<int>(0);
    return [calls, failing, error](int fd) {
        if (++*calls == failing) {
            errno = error;
            return -1;
        }
        return ::fsync(fd);
    };
}

TEST_F(IconFile, AFailedFlushIsAnErrorOnlyBeforeTheRename) {
    const TIconImage icon = RenderIconEx(MakeSolid(4, 4, clTeal), 4, 4, false, clWhite, pf24bit);
    const fs::path target = Path("flush.ico");
    struct {
        int failing;
        int error;
        bool written;
    } const cases[] = {
        {1, EIO, false},
        {1, ENOSPC, false},
        // The new file already has its name: the write has succeeded.
        {2, EIO, true},
        {2, EINVAL, true},
    };
    for (const auto& c : cases) {
        WriteFileBytes(target, kOldContents);
        if (c.written) {
            EXPECT_NO_THROW(WriteIconFile(target.string(), icon, {}, SyncFailingAt(c.failing, c.error)));
            EXPECT_EQ(ReadFileBytes(target), icon.FileBytes());
        } else {
            try {
                WriteIconFile(target.string(), icon, {}, SyncFailingAt(c.failing, c.error));
                ADD_FAILURE() << "no error when the file's flush fails";
            } catch (const EWriteError& e) {
                EXPECT_EQ(e.Message(), "Cannot write file \"" + target.string() + "\". " + std::strerror(c.error));
            }
            EXPECT_EQ(ReadFileBytes(target), kOldContents);
        }
        EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"flush.ico"}) << "temporary file left";
    }
}

TEST_F(IconFile, UncommittedWriterLeavesNothingBehind) {
    const fs::path target = Path("t.ico");
    WriteFileBytes(target, kOldContents);
    {
        TSafeFile file(target.string());
        EXPECT_EQ(fs::path(file.TemporaryName()).parent_path(), folder_);
        file.Write("new", 3);
    }
    EXPECT_EQ(ReadFileBytes(target), kOldContents);
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"t.ico"});
    {
        TSafeFile file(Path("never.ico").string());
    }
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{"t.ico"});
}

TEST_F(IconFile, LongNamesStillGetATemporaryFile) {
    const std::string name(250, 'n');
    SaveBmpAsIconEx(MakeSolid(1, 1, clTeal), Path(name).string(), 1, 1, false, clWhite, pf24bit);
    EXPECT_EQ(FolderEntries(folder_), std::set<std::string>{name});
}

TEST(ExpandFileName, MakesAbsoluteAndDropsDotParts) {
    const std::string cwd = fs::current_path().string();
    struct {
        std::string in, out;
    } const cases[] = {
        {"/a/./b/../c.ico", "/a/c.ico"},
        {"/a//b///c.ico", "/a/b/c.ico"},
        {"rel.ico", cwd + "/rel.ico"},
        {"./x/../y.ico", cwd + "/y.ico"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandFileName(c.in), c.out) << c.in;
}

}  // namespace
