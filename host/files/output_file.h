// The one place that decides how kelo-host writes a file, so that no run,
// whatever stops it, loses or damages what the user already had.
//
// - A regular file, or a name that does not exist yet, is written to a
//   temporary file beside it and renamed over it only when complete. A
//   symlink is written through: the file it points to is replaced, keeps its
//   mode, and the link stays.
// - A pipe, terminal, FIFO, device or "-" (standard output) is written
//   directly, and never removed or renamed.
// - Every failure names the file and carries the system's reason.
// - Once a stop is asked for (host/files/stop_signals.h), no file is
//   replaced: a run either replaces its files and succeeds, or stops and
//   leaves them as they were.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "host/files/byte_stream.h"
#include "host/files/stop_signals.h"

class OutputFile {
public:
    // Opens the target for writing (or its temporary file); throws IoError,
    // or Stopped when a stop ends the wait for a FIFO's reader.
    OutputFile(std::string displayName, std::string path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Without Commit: as Abandon(false).
    ~OutputFile();

    ByteOutput& output() { return *output_; }
    const std::string& displayName() const { return displayName_; }
    // True when the bytes go to the target itself (pipe, device, "-").
    bool direct() const { return direct_; }

    // Everything written so far forms whole units (Y4M frames): an abandoned
    // stream can be kept up to here. Flushes.
    void MarkWhole();
    // Flushes, closes and, for a temporary file, renames it over the target.
    // After a stop was asked for, the temporary file is removed instead and
    // Stopped thrown, unless the run already replaced another file: its
    // outputs then go together.
    void Commit();
    // Closes and removes the temporary file. With `keepWhole` and at least
    // one MarkWhole beyond the first, the whole units are kept instead as
    // TARGET.partial (an older one is replaced); returns that file's display
    // name, or an empty string when nothing was kept.
    std::string Abandon(bool keepWhole);

private:
    std::string displayName_, path_;
    std::string finalPath_;  // the file a temporary one replaces
    std::string tempPath_;   // empty when direct
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    bool direct_ = false;
    bool done_ = false;
    uint64_t wholeBytes_ = 0;
    int wholeMarks_ = 0;
    std::optional<ByteOutput> output_;
};

// Writes a whole small file under the same rules as OutputFile.
void WriteWholeFile(const std::string& displayName, const std::string& path, std::string_view bytes);

// A regular file's device and inode, which name it whatever path reaches
// it; anything else (a pipe, a device, a missing file) is not known, since
// reading it cannot be overwriting it.
struct FileIdentity {
    bool known = false;
    uint64_t device = 0, inode = 0;
    bool Is(const FileIdentity& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
};
FileIdentity IdentifyPath(const std::string& path);
// Of standard input (0) or standard output (1).
FileIdentity IdentifyStandardStream(int fd);

