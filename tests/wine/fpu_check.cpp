// The editor computes doubles on the thread that calls FilterInit: starting
// the filter must leave that thread's x87 precision as it found it.
#include <cstdio>

#include "host/filter/filter_plugin.h"

namespace {

// Precision control: bits 8 and 9 of the x87 control word (11 = double
// extended, 10 = double, 00 = single).
constexpr unsigned kPrecisionBits = 0x300;

unsigned ControlWord() {
    unsigned short word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelo_fpu_check PLUGIN.auf (run beside a kelo.fx that loads)\n");
        return 2;
    }
    try {
        PluginLibrary library(argv[1]);
        RunningFilter filter(library.descriptor(), DefaultSettings(DescribeFilter(library.descriptor())));
        const unsigned before = ControlWord();
        const bool started = filter.Init();
        const unsigned after = ControlWord();
        filter.Exit();
        std::printf("FilterInit %s; x87 control word 0x%04X before, 0x%04X after\n", started ? "true" : "false",
                    before, after);
        if (!started) return 1;
        return (before & kPrecisionBits) == (after & kPrecisionBits) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo_fpu_check: %s\n", error.what());
        return 1;
    }
}
