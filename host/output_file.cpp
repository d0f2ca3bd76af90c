#include "host/output_file.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/byte_stream.h"
#include "host/utf8_path.h"

namespace fs = std::filesystem;

void WriteWholeFile(const std::string& displayName, const std::string& path, std::string_view bytes) {
    const fs::path target = Utf8Path(path);
    std::error_code error;
    // Pipes and devices cannot be renamed over; they are written directly.
    const bool special = path == "-" || (fs::exists(target, error) && !fs::is_regular_file(target, error));
    const std::string writtenPath = special ? path : path + ".kelo-partial";
    OpenedFile file = OpenedFile::ForWriting(writtenPath, displayName);
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    written = file.Close() && written;
    if (!written) {
        if (!special) fs::remove(Utf8Path(writtenPath), error);
        throw IoError(displayName + ": cannot write");
    }
    if (special) return;
    fs::rename(Utf8Path(writtenPath), target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(Utf8Path(writtenPath), ignored);
        throw IoError(displayName + ": cannot write (" + error.message() + ")");
    }
}
