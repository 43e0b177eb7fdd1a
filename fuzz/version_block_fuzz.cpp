// Feeds arbitrary bytes to the version readers as a whole file (ELF image or
// bare block), then queries the block they accept.
#include "VersionInfo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint32_t need = VersionInfoSizeFromImage(data, size);
    if (need == 0)
        return 0;
    std::vector<unsigned char> block(need);
    if (!VersionInfoFromImage(data, size, need, block.data()))
        __builtin_trap();  // the size call accepted this image
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\FileVersion",
                             "\\StringFileInfo", "\\stringfileinfo\\040904e4\\comments"}) {
        void* value = nullptr;
        std::uint32_t length = 0;
        VerQueryValueA(block.data(), path, &value, &length);
    }
    return 0;
}
