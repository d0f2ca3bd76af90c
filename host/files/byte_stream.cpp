#include "host/files/byte_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>

#include "host/files/utf8_path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

size_t ByteInput::Read(void* data, size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    size_t done = std::min(size, pending_.size());
    std::copy_n(pending_.begin(), done, out);
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(done));
    if (done < size) done += std::fread(out + done, 1, size - done, file_);
    if (done < size && std::ferror(file_)) {
        throw IoError(name_ + ": cannot read: " + std::strerror(errno));
    }
    return done;
}

uint64_t ByteInput::Skip(uint64_t size) {
    uint64_t done = std::min<uint64_t>(size, pending_.size());
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(done));
    if (done == size) return done;
#ifndef _WIN32
    // A regular file skips without reading, but never past its end: what
    // lies beyond must still read as the end of the input.
    struct stat status;
    if (fstat(fileno(file_), &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t here = ftello(file_);
        if (here >= 0) {
            const uint64_t left = status.st_size > here ? uint64_t(status.st_size - here) : 0;
            const uint64_t step = std::min(size - done, left);
            if (fseeko(file_, off_t(step), SEEK_CUR) == 0) return done + step;
        }
    }
#endif
    unsigned char buffer[65536];
    while (done < size) {
        const size_t wanted = size_t(std::min<uint64_t>(sizeof buffer, size - done));
        const size_t got = Read(buffer, wanted);
        done += got;
        if (got < wanted) break;
    }
    return done;
}

void ByteInput::Unread(const void* data, size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    pending_.insert(pending_.begin(), bytes, bytes + size);
}

template <typename Element>
size_t ByteInput::ReadGrowing(std::vector<Element>& buffer, size_t size) {
    constexpr size_t kFirstStep = size_t(1) << 20;
    if (buffer.size() > size) buffer.resize(size);
    // A buffer that already held a frame of this size takes the next in one
    // read; growing in steps is for data that has not proved itself yet.
    if (buffer.size() == size) return Read(buffer.data(), size * sizeof(Element)) / sizeof(Element);
    size_t have = 0;
    while (have < size) {
        size_t target = std::min(size, std::max(have * 2, kFirstStep / sizeof(Element)));
        if (buffer.size() < target) buffer.resize(target);
        size_t wanted = (target - have) * sizeof(Element);
        size_t got = Read(buffer.data() + have, wanted);
        have += got / sizeof(Element);
        if (got < wanted) return have;
    }
    return have;
}
template size_t ByteInput::ReadGrowing(std::vector<uint8_t>&, size_t);
template size_t ByteInput::ReadGrowing(std::vector<uint16_t>&, size_t);

void ByteOutput::Write(const void* data, size_t size) {
    if (std::fwrite(data, 1, size, file_) != size) {
        throw IoError(name_ + ": cannot write: " + std::strerror(errno));
    }
}

void ByteOutput::Flush() {
    if (std::fflush(file_) != 0) throw IoError(name_ + ": cannot write: " + std::strerror(errno));
}

namespace {

std::FILE* StandardStream(std::FILE* stream) {
#ifdef _WIN32
    _setmode(_fileno(stream), _O_BINARY);
#endif
    return stream;
}

std::FILE* Open(const std::string& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(Utf8Path(path).c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace

OpenedFile OpenedFile::ForReading(const std::string& path, const std::string& name) {
    if (path == "-") return OpenedFile(StandardStream(stdin), false);
    std::FILE* file = Open(path, "rb");
    if (!file) throw IoError(name + ": cannot open: " + std::strerror(errno));
    return OpenedFile(file, true);
}

OpenedFile::~OpenedFile() { Close(); }

bool OpenedFile::Close() {
    if (!file_) return true;
    bool ok = owned_ ? std::fclose(file_) == 0 : std::fflush(file_) == 0;
    file_ = nullptr;
    return ok;
}
