#pragma once
// Helpers for the decoder tests: decoding files and bytes, writing small
// fixtures, and reading the same files with an independent reader (Pillow).

#include "Graphics.h"
#include "ImageCodec.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace codectest {

// The folder of public test pictures beside the project (../shared/corpora).
std::filesystem::path CorpusDir();

// Fails the test for every file with `extension` in the corpus `folders`
// whose "folder/name" is not in `listed`: a corpus file without an expected
// outcome would go untested.
void ExpectEveryCorpusFileListed(const std::vector<std::string>& folders, const std::string& extension,
                                 const std::vector<std::string>& listed);

// Appends a little-endian 16- or 32-bit value, for writing fixtures.
void Put16(std::vector<std::uint8_t>& v, unsigned x);
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x);

// A fresh scratch folder for one test program, removed at exit.
std::filesystem::path ScratchDir();
// Writes `bytes` to a file named `name` in the scratch folder; its path.
std::filesystem::path WriteFixture(const std::string& name, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

const TImageFormat& Format(const char* name);  // "BMP", "JPEG", ...

// Decodes through the format table into a bitmap.
TBitmap Decode(const std::filesystem::path& path, const char* format);
TBitmap DecodeBytes(const std::vector<std::uint8_t>& bytes, const char* format);
// The message of the exception that decoding raises; fails the test and
// gives "" when decoding succeeds.
std::string DecodeError(const std::filesystem::path& path, const char* format);

// Records how rows arrive, for checking the decoders' row contract.
class TRecordingSink : public IRowSink {
public:
    void Begin(const TImageInfo& info) override;
    std::uint8_t* RowBuffer(int y) override;
    void RowDone(int y) override;
    void End() override { ended = true; }

    TImageInfo info;
    std::vector<int> order;  // row numbers in delivery order
    bool begun = false, ended = false;

private:
    std::vector<std::uint8_t> row_;
};

// A pixel as an independent reader gives it: straight (not premultiplied)
// colour channels and opacity.
struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};
struct ReferenceImage {
    int width = 0, height = 0;
    std::string mode;          // Pillow's mode before conversion ("P", "RGB", ...)
    std::vector<Rgba> pixels;  // row-major, top row first
    Rgba At(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};
// Reads `path` with Pillow (first frame, converted to RGBA). A missing Python
// or Pillow fails the test that asked: a comparison never passes by skipping.
ReferenceImage ReadWithPillow(const std::filesystem::path& path);

// A picture decoded for a sink that asks for straight alpha
// (IRowSink::WantsStraightAlpha): what the decoder announced, and the rows
// it delivered, kept in a bitmap of that format.
struct StraightPicture {
    TImageInfo info;
    TBitmap bitmap;
    // Pixel (x, y) as delivered: the B, G, R, A bytes of a 32-bit picture
    // with alpha, otherwise the colour with opacity 255.
    Rgba At(int x, int y) const;
};
// The sink fails the test when the decoder calls Begin without having asked
// WantsStraightAlpha first.
StraightPicture DecodeStraight(const std::filesystem::path& path, const char* format);
StraightPicture DecodeStraightBytes(const std::vector<std::uint8_t>& bytes, const char* format);
// Compares every pixel of `got` with `want` (its width x height pixels,
// top-down), reports the first three that differ and returns how many do.
int CountDifferentPixels(const StraightPicture& got, const std::vector<Rgba>& want);

// Our pixel (x, y) in the same terms: the colour, and the opacity of a 32-bit
// bitmap with alpha (255 otherwise). Premultiplied channels are given as they
// are stored.
Rgba PixelOf(const TBitmap& bitmap, int x, int y);

}  // namespace codectest
