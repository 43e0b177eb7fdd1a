#include "ConvertOptions.h"

#include "Exception.h"

namespace {

[[noreturn]] void RaiseNotAnInteger(std::string_view text) {
    throw EConvertError("''" + std::string(text) + "'' is not a valid integer value");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::int32_t StrToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // The value is built in 32 unsigned bits and reinterpreted at the end,
    // which is what makes "$FFFFFFFF" read as -1.
    std::uint32_t value = 0;
    bool anyDigit = false;
    const auto rest = text.substr(i);
    const bool hex = rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X') ||
                     rest.starts_with("0x") || rest.starts_with("0X");
    if (hex) {
        i += rest.starts_with('0') ? 2 : 1;
        for (; i < text.size(); ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0)
                break;
            if (value > 0x0FFFFFFFu)  // a ninth significant digit
                RaiseNotAnInteger(text);
            value = (value << 4) | std::uint32_t(digit);
            anyDigit = true;
        }
    } else {
        // The magnitude may reach 2^31 only for the negative limit.
        const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            const std::uint32_t digit = std::uint32_t(text[i] - '0');
            if (value > (limit - digit) / 10)
                RaiseNotAnInteger(text);
            value = value * 10 + digit;
            anyDigit = true;
        }
    }
    if (!anyDigit || i != text.size())
        RaiseNotAnInteger(text);
    if (negative)
        value = 0u - value;
    return std::int32_t(value);
}

TIconSize OutputSize(int itemIndex, std::int32_t sourceWidth, std::int32_t sourceHeight,
                     std::string_view widthText, std::string_view heightText) {
    if (itemIndex == OriginalSizeItem)
        return {sourceWidth, sourceHeight};
    if (itemIndex > OriginalSizeItem && itemIndex < CustomSizeItem)
        return {SizeItems[std::size_t(itemIndex)].Width, SizeItems[std::size_t(itemIndex)].Height};
    // The custom entry, or no entry at all. The width is read first so that
    // its error is the one reported when both texts are wrong.
    const std::int32_t width = StrToInt(widthText);
    const std::int32_t height = StrToInt(heightText);
    return {width, height};
}

bool NeedsSizeConfirmation(const TIconSize& size) {
    return size.Width > MaxIconSide || size.Height > MaxIconSide;
}

TPixelFormat OutputPixelFormat(int itemIndex) {
    if (itemIndex < 0 || std::size_t(itemIndex) >= DepthItems.size())
        return pf24bit;
    return DepthItems[std::size_t(itemIndex)].Format;
}

std::string IconFileName(std::string_view fileName) {
    const std::size_t slash = fileName.rfind('/');
    const std::size_t dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
    std::string result(hasExtension ? fileName.substr(0, dot) : fileName);
    result += ".ico";
    return result;
}

TColor ConvertColor(bool useTransparent, TColor transparentColor, TColor topLeftPixel) {
    return useTransparent ? transparentColor : topLeftPixel;
}
