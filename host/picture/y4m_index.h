// A Y4M file opened for reading its frames in any order: the offset of
// every frame is found once, by skipping over the frames' data, so the
// memory used does not depend on what the frames hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/files/byte_stream.h"
#include "host/picture/y4m.h"

class Y4mFrameIndex {
public:
    // Throws IoError naming the file when it is not a Y4M stream of at
    // least one complete frame.
    Y4mFrameIndex(const std::string& displayName, const std::string& path);

    int count() const { return int(offsets_.size()); }
    const Y4mStreamInfo& info() const { return info_; }
    // Reads frame `index` (0 .. count - 1) into `picture`.
    void Read(int index, Picture& picture);

private:
    OpenedFile file_;
    std::string name_;
    std::string header_;  // the stream header line, with its newline
    Y4mStreamInfo info_;
    std::vector<int64_t> offsets_;
};
