// Files and standard streams as the readers and writers see them, with the
// name used in every message about them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// A malformed or unreadable input, or an output that could not be written;
// the message names the file and, for video, the frame.
struct IoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads from a pipe, a FIFO or a terminal wait for data, and a stop ends
// the wait with Stopped (host/files/stop_signals.h).
class ByteInput {
public:
    // `file` stays owned by the caller. A stream that can wait is read past
    // its stdio buffer, which must still be empty.
    ByteInput(std::FILE* file, std::string name);

    const std::string& name() const { return name_; }

    // Reads up to `size` bytes; fewer only at the end of the input.
    size_t Read(void* data, size_t size);
    // Passes over up to `size` bytes, seeking where the input allows it;
    // fewer only at the end of the input. Returns the number passed over.
    uint64_t Skip(uint64_t size);
    // Puts bytes back in front of what is still to be read.
    void Unread(const void* data, size_t size);
    // Fills `buffer` with exactly `size` bytes. The buffer grows as the data
    // arrives, so a header promising more than the input holds costs no more
    // memory than the input itself. Returns the number of bytes read.
    template <typename Element>
    size_t ReadGrowing(std::vector<Element>& buffer, size_t size);

private:
    // One read from the system, waiting for data as long as it takes.
    size_t ReadSome(void* data, size_t size);

    std::FILE* file_;
    std::string name_;
    int waitingFd_ = -1;  // the descriptor of a stream that can wait, or -1
    // Bytes read ahead or put back, from `pendingAt_` on.
    std::vector<unsigned char> pending_;
    size_t pendingAt_ = 0;
};

// Writes to a pipe, a FIFO or a terminal wait for room, and a stop ends the
// wait with Stopped.
class ByteOutput {
public:
    ByteOutput(std::FILE* file, std::string name);
    ByteOutput(const ByteOutput&) = delete;
    ByteOutput& operator=(const ByteOutput&) = delete;
    ~ByteOutput() { Close(); }

    const std::string& name() const { return name_; }
    std::FILE* file() const { return file_; }
    // Throws IoError when the bytes cannot be written.
    void Write(const void* data, size_t size);
    void Flush();
    // Lets go of the stream's own descriptor (below), so that the reader
    // at the other end sees the end; `file` stays open. Flushes.
    void Close();

private:
    std::FILE* file_;
    std::string name_;
    int waitingFd_ = -1;
    // For a pipe or FIFO, a description of its own that does not wait
    // (opened anew, so that the one shared with other programs keeps its
    // flags): whole frames go in one write where the pipe has room.
    int ownFd_ = -1;
};

// Opens the file at `path` for reading, or standard input for "-" (binary
// mode); failures name the file as the user spelt it. A FIFO is opened
// without waiting for a writer: the first read waits, and a stop ends that
// wait. The result closes what it opened. Outputs are opened by OutputFile (host/output_file.h).
class OpenedFile {
public:
    static OpenedFile ForReading(const std::string& path, const std::string& name);
    OpenedFile(OpenedFile&& other) noexcept : file_(other.file_), owned_(other.owned_) { other.file_ = nullptr; }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    ~OpenedFile();
    std::FILE* get() const { return file_; }
    // Closes an owned file, reporting write errors the stream still held.
    bool Close();

private:
    OpenedFile(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    std::FILE* file_;
    bool owned_;
};
