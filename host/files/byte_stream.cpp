#include "host/files/byte_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>

#include "host/files/stop_signals.h"
#include "host/files/utf8_path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

// Pipes, FIFOs, terminals and sockets can keep a read or a write waiting
// for the other side; files and block devices cannot.
int WaitingDescriptor([[maybe_unused]] std::FILE* file) {
#ifdef _WIN32
    return -1;
#else
    const int fd = file ? fileno(file) : -1;
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) return -1;
    return fd;
#endif
}

// Small reads from a waiting stream come out of a buffer of this size.
constexpr size_t kReadAhead = size_t(1) << 16;

}  // namespace

ByteInput::ByteInput(std::FILE* file, std::string name)
    : file_(file), name_(std::move(name)), waitingFd_(WaitingDescriptor(file)) {}

size_t ByteInput::ReadSome(void* data, size_t size) {
#ifndef _WIN32
    if (waitingFd_ >= 0) {
        for (;;) {
            WaitUntilReady(waitingFd_, POLLIN);
            const ssize_t got = read(waitingFd_, data, size);
            if (got >= 0) return size_t(got);
            if (errno != EINTR && errno != EAGAIN) throw IoError(name_ + ": cannot read: " + std::strerror(errno));
        }
    }
#endif
    // Windows: a console or pipe read is not cut short by Ctrl+C, which is
    // honoured where the output would be replaced.
    const size_t got = std::fread(data, 1, size, file_);
    if (got < size && std::ferror(file_)) throw IoError(name_ + ": cannot read: " + std::strerror(errno));
    return got;
}

size_t ByteInput::Read(void* data, size_t size) {
    auto* out = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        if (pendingAt_ < pending_.size()) {
            const size_t take = std::min(size - done, pending_.size() - pendingAt_);
            std::copy_n(pending_.begin() + ptrdiff_t(pendingAt_), take, out + done);
            pendingAt_ += take;
            done += take;
            continue;
        }
        size_t got;
        if (waitingFd_ >= 0 && size - done < kReadAhead) {
            pending_.resize(kReadAhead);
            pendingAt_ = 0;
            got = ReadSome(pending_.data(), pending_.size());
            pending_.resize(got);
        } else {
            // A file's reads are whole; a stream's may come in pieces.
            got = ReadSome(out + done, size - done);
            done += got;
        }
        if (got == 0 || (waitingFd_ < 0 && done < size)) break;
    }
    return done;
}

uint64_t ByteInput::Skip(uint64_t size) {
    uint64_t done = std::min<uint64_t>(size, pending_.size() - pendingAt_);
    pendingAt_ += size_t(done);
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
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(pendingAt_));
    pendingAt_ = 0;
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

ByteOutput::ByteOutput(std::FILE* file, std::string name)
    : file_(file), name_(std::move(name)), waitingFd_(WaitingDescriptor(file)) {
#ifndef _WIN32
    if (waitingFd_ >= 0) {
        ownFd_ = open(("/proc/self/fd/" + std::to_string(waitingFd_)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
#endif
}

void ByteOutput::Write(const void* data, size_t size) {
#ifndef _WIN32
    if (waitingFd_ >= 0) {
        Flush();
        // Without a description of its own (a socket), a write of no more
        // than PIPE_BUF bytes after a poll that finds room does not wait.
        const int fd = ownFd_ >= 0 ? ownFd_ : waitingFd_;
        const size_t most = ownFd_ >= 0 ? size : PIPE_BUF;
        auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            if (ownFd_ < 0) WaitUntilReady(fd, POLLOUT);
            const ssize_t written = write(fd, bytes, std::min(size, most));
            if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
                // A frame goes on while the reader takes it; only a wait
                // for room gives way to a stop.
                if (ownFd_ >= 0) WaitUntilReady(fd, POLLOUT);
                continue;
            }
            if (written <= 0) throw IoError(name_ + ": cannot write: " + std::strerror(written < 0 ? errno : EIO));
            bytes += written;
            size -= size_t(written);
        }
        return;
    }
#endif
    if (std::fwrite(data, 1, size, file_) != size) {
        throw IoError(name_ + ": cannot write: " + std::strerror(errno));
    }
}

void ByteOutput::Flush() {
    if (std::fflush(file_) != 0) throw IoError(name_ + ": cannot write: " + std::strerror(errno));
}

void ByteOutput::Close() {
#ifndef _WIN32
    if (ownFd_ >= 0) close(ownFd_);
#endif
    ownFd_ = -1;
}

namespace {

std::FILE* StandardStream(std::FILE* stream) {
#ifdef _WIN32
    _setmode(_fileno(stream), _O_BINARY);
#endif
    return stream;
}

#ifdef _WIN32
std::FILE* Open(const std::string& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    return _wfopen(Utf8Path(path).c_str(), wideMode.c_str());
}
#endif

}  // namespace

OpenedFile OpenedFile::ForReading(const std::string& path, const std::string& name) {
    if (path == "-") return OpenedFile(StandardStream(stdin), false);
#ifdef _WIN32
    std::FILE* file = Open(path, "rb");
#else
    // Opening a FIFO would wait for a writer where no stop can end it.
    // Without O_NONBLOCK again, its reads wait as a pipe's do.
    std::FILE* file = nullptr;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 || !(file = fdopen(fd, "rb"))) {
            const int saved = errno;
            close(fd);
            errno = saved;
        }
    }
#endif
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
