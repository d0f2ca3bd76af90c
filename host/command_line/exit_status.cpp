#include "host/command_line/exit_status.h"

#include <cstdio>
#include <exception>
#include <new>

#include "host/files/stop_signals.h"

int ReportFailure() {
    try {
        throw;
    } catch (const Stopped& stop) {
        std::fprintf(stderr, "kelo-host: %s\n", stop.what());
        return 128 + stop.signal();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kelo-host: out of memory\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo-host: %s\n", error.what());
    }
    return kUsageOrIoFailure;
}
