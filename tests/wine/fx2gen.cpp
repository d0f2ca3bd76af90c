// kelo-fx2gen: writes one of the test effects as a compiled effect binary,
// to be placed where the plug-in opens "kelo.fx".
#include <cstdio>
#include <cstring>

#include "tests/wine/fx2_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "identity") != 0 &&
                      std::strcmp(argv[1], "add-ycoffs") != 0)) {
        std::fprintf(stderr,
                     "usage: kelo-fx2gen identity|add-ycoffs OUTPUT\n"
                     "  identity    two passes that copy txTgt -> txTmp -> txTgt\n"
                     "  add-ycoffs  the same, each pass adding the float4 ycOffs\n");
        return 2;
    }
    const auto effect = std::strcmp(argv[1], "identity") == 0 ? fx2::Effect::kIdentity
                                                              : fx2::Effect::kAddYcOffs;
    const std::vector<uint8_t> bytes = fx2::BuildEffect(effect);
    std::FILE* file = std::fopen(argv[2], "wb");
    if (file == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
