#pragma once
// The rules that turn the user's output choices into the arguments of the
// icon writer: the size list, the colour-depth list, reading a typed size as
// an integer, the output file's name and the colour handed to the writer.
//
// The main window's Convert command and the command-line converter both use
// these, so each rule exists once. No Qt here: texts are UTF-8 std::strings.

#include "Graphics.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The largest side of an icon the icon format describes without a question;
// anything wider or taller is written only after the user agrees.
constexpr std::int32_t MaxIconSide = 256;

// One entry of the size list. Width and Height are 0 for the two entries
// whose size is not fixed: the picture's own size and the custom size.
struct TSizeItem {
    const char* Text;
    std::int32_t Width;
    std::int32_t Height;
};

// The size list in the order the window shows it. The spelling of the first
// entry is the one the program has always shown.
constexpr int OriginalSizeItem = 0;
constexpr int CustomSizeItem = 7;
constexpr std::array<TSizeItem, 8> SizeItems{{
    {"Orginal Size", 0, 0},
    {"16 * 16", 16, 16},
    {"32 * 32", 32, 32},
    {"48 * 48", 48, 48},
    {"64 * 64", 64, 64},
    {"128 * 128", 128, 128},
    {"256 * 256", 256, 256},
    {"Custom Size", 0, 0},
}};

// One entry of the colour-depth list.
struct TDepthItem {
    const char* Text;
    TPixelFormat Format;
};

// The depth list in the order the window shows it; "24bit" is the default.
constexpr int DefaultDepthItem = 5;
constexpr std::array<TDepthItem, 7> DepthItems{{
    {"1bit", pf1bit},
    {"4bit", pf4bit},
    {"8bit", pf8bit},
    {"15bit", pf15bit},
    {"16bit", pf16bit},
    {"24bit", pf24bit},
    {"32bit", pf32bit},
}};

struct TIconSize {
    std::int32_t Width = 0;
    std::int32_t Height = 0;

    friend bool operator==(const TIconSize&, const TIconSize&) = default;
};

// Reads `text` as a 32-bit signed integer the way the platform's StrToInt
// does: any number of leading blanks (spaces only), an optional "+" or "-",
// then either decimal digits whose value fits a 32-bit signed integer, or
// "$", "x", "X", "0x" or "0X" followed by hexadecimal digits (either case)
// whose value fits 32 bits, taken as a two's-complement value ("$FFFFFFFF"
// is -1; leading zeros do not count against the 8 digits). Nothing may
// follow the digits, not even a blank, and at least one digit is needed.
// Anything else raises EConvertError "''<text>'' is not a valid integer
// value" with the text as given.
std::int32_t StrToInt(std::string_view text);

// The icon size for the size list's entry `itemIndex`. The picture's own
// size is sourceWidth x sourceHeight; the custom entry, and any index
// outside the list (nothing chosen), converts widthText and then heightText
// with StrToInt, so an error names the width's text first. The custom values
// are not limited: 0 and negative sizes are passed on for the writer to
// refuse.
TIconSize OutputSize(int itemIndex, std::int32_t sourceWidth, std::int32_t sourceHeight,
                     std::string_view widthText, std::string_view heightText);

// Whether `size` goes beyond MaxIconSide on either side, so that the user is
// asked before it is written. Exactly 256 asks nothing.
bool NeedsSizeConfirmation(const TIconSize& size);

// The pixel format for the depth list's entry `itemIndex`; pf24bit when the
// index lies outside the list (nothing chosen).
TPixelFormat OutputPixelFormat(int itemIndex);

// `fileName` with its extension replaced by ".ico". The extension runs from
// the last "." that comes after the last "/" to the end; a name without one
// gets ".ico" appended. So "a.b/c" gives "a.b/c.ico", "icon.ICO" gives
// "icon.ico" and "picture." gives "picture.ico".
std::string IconFileName(std::string_view fileName);

// The colour handed to the writer: the chosen transparent colour when
// transparency is used, otherwise the picture's top-left pixel (which then
// has no effect on the file).
TColor ConvertColor(bool useTransparent, TColor transparentColor, TColor topLeftPixel);
