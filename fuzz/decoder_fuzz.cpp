// Feeds arbitrary bytes to one decoder of the format table (chosen at build
// time by GLOXEN_FUZZ_FORMAT, "BMP", "PNG", ...). Our own exceptions are the
// expected way to refuse a file; anything else, and any break of the row
// contract, is a finding.

#include "Exception.h"
#include "ImageCodec.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Checks the row contract without keeping the picture: every row number is
// in range and delivered at most once, every wanted row is delivered, and
// every byte of the row buffer is writable. A sampling sink wants every
// third row only, so the decoders' ways of leaving rows out run too. A
// straight sink asks for straight alpha, so the decoders' straight paths
// run as well; straight alpha may only come to a sink that asked, and only
// on a 32-bit picture with alpha.
class CheckingSink : public IRowSink {
public:
    CheckingSink(bool sampling, bool straight) : sampling_(sampling), straight_(straight) {}
    bool WantsRow(int y) const override { return !sampling_ || y % 3 == 0; }
    bool WantsStraightAlpha() const override { return straight_; }
    void Begin(const TImageInfo& info) override {
        if (begun_ || info.Width <= 0 || info.Height <= 0) __builtin_trap();
        if (info.StraightAlpha && (!straight_ || info.Format != pf32bit || !info.HasAlpha)) __builtin_trap();
        begun_ = true;
        height_ = info.Height;
        row_.assign(RowStride(info.Width, BitsPerPixel(info.Format)), 0);
        seen_.assign(std::size_t(info.Height), false);
    }
    std::uint8_t* RowBuffer(int y) override {
        if (!begun_ || y < 0 || y >= height_ || seen_[std::size_t(y)]) __builtin_trap();
        return row_.data();
    }
    void RowDone(int y) override {
        if (y < 0 || y >= height_ || seen_[std::size_t(y)]) __builtin_trap();
        seen_[std::size_t(y)] = true;
    }
    void End() override {
        for (std::size_t y = 0; y < seen_.size(); ++y)
            if (!seen_[y] && WantsRow(int(y))) __builtin_trap();
    }

private:
    bool sampling_;
    bool straight_;
    bool begun_ = false;
    int height_ = 0;
    std::vector<std::uint8_t> row_;
    std::vector<bool> seen_;
};

const TImageFormat& Target() {
    for (const TImageFormat& format : ImageFormats())
        if (std::strcmp(format.Name, GLOXEN_FUZZ_FORMAT) == 0) return format;
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every row, every third row, and every row with straight alpha.
    static constexpr struct {
        bool sampling, straight;
    } kSinks[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& kind : kSinks) {
        CheckingSink sink(kind.sampling, kind.straight);
        try {
            DecodeMemory(data, size, Target(), sink);
        } catch (const Exception&) {
        }
    }
    return 0;
}
