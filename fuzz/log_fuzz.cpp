// Logger line assembly and hex dumps on arbitrary text, written to /dev/null.
#include "base/linux/linux_log.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    static bool opened = false;
    if (!opened) {
        hl_openlog("(0x3F,0x1FF,-1)file:/dev/null");
        opened = true;
    }
    std::string text(reinterpret_cast<char const *>(data), size);
    log("%s", text.c_str());
    hl_log(1, "%s", text.c_str());
    hl_log(8, "%s\n", text.c_str());
    hl_log(2, "%s", text.c_str());
    hexdump(data, static_cast<int>(size));
    return 0;
}
