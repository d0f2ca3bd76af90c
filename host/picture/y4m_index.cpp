#include "host/picture/y4m_index.h"

#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/files/utf8_path.h"

namespace {

// A frame header line is "FRAME" and rarely any parameter at all.
constexpr size_t kMaxFrameLine = 4096;

bool SeekTo(std::FILE* file, int64_t offset) { return fseeko(file, off_t(offset), SEEK_SET) == 0; }

}  // namespace

Y4mFrameIndex::Y4mFrameIndex(const std::string& displayName, const std::string& path)
    : file_(OpenedFile::ForReading(path, displayName)), name_(displayName) {
    std::FILE* file = file_.get();
    {
        ByteInput input(file, displayName);
        info_ = Y4mReader(input).info();
    }
    // The reader takes the header a byte at a time, so the stream stands
    // right after it.
    const int64_t headerEnd = ftello(file);
    header_.resize(size_t(headerEnd));
    if (headerEnd <= 0 || !SeekTo(file, 0) || std::fread(header_.data(), 1, header_.size(), file) != header_.size()) {
        throw IoError(displayName + ": cannot read");
    }
    std::error_code error;
    const int64_t fileSize = int64_t(std::filesystem::file_size(Utf8Path(path), error));
    if (error) throw IoError(displayName + ": cannot read its size: " + error.message());
    Picture shape;
    shape.width = info_.width;
    shape.height = info_.height;
    shape.format = info_.format;
    const int64_t frameBytes = int64_t(shape.ByteCount());

    // A frame cut short at the end is left out, as the clip's last complete
    // frame is what a run over the whole file would write last.
    std::string line(kMaxFrameLine, '\0');
    for (int64_t offset = headerEnd; offset < fileSize;) {
        if (!SeekTo(file, offset)) throw IoError(displayName + ": cannot read");
        const size_t got = std::fread(line.data(), 1, line.size(), file);
        const size_t newline = std::string_view(line.data(), got).find('\n');
        if (newline == std::string::npos) break;
        if (line.compare(0, 5, "FRAME") != 0) {
            throw IoError(displayName + ": frame " + std::to_string(offsets_.size()) + ": no FRAME header");
        }
        const int64_t next = offset + int64_t(newline) + 1 + frameBytes;
        if (next > fileSize) break;
        offsets_.push_back(offset);
        offset = next;
    }
    if (offsets_.empty()) throw IoError(displayName + ": holds no complete frame");
}

void Y4mFrameIndex::Read(int index, Picture& picture) {
    if (!SeekTo(file_.get(), offsets_.at(size_t(index)))) throw IoError(name_ + ": cannot read");
    // The reader wants the stream header first; it is handed the copy.
    ByteInput input(file_.get(), name_);
    input.Unread(header_.data(), header_.size());
    Y4mReader reader(input);
    reader.StartAtFrame(index);
    if (!reader.ReadFrame(picture)) throw IoError(name_ + ": frame " + std::to_string(index) + ": missing");
}
