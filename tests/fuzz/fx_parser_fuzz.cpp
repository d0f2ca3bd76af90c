// libFuzzer target: the effect parser must turn any bytes into an effect or
// an error message, without crashing, hanging or touching memory it does not
// own, and the HLSL it hands on must keep the source's line count.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/d3dx9/fx_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view source(reinterpret_cast<const char*>(data), size);
    FxEffect effect;
    std::string messages;
    if (ParseEffect(source, "fuzz.fx", &effect, &messages)) {
        if (std::count(effect.hlsl.begin(), effect.hlsl.end(), '\n') !=
            std::count(source.begin(), source.end(), '\n')) {
            std::abort();
        }
    } else if (messages.empty()) {
        std::abort();
    }
    return 0;
}
