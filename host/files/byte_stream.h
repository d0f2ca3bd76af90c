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

class ByteInput {
public:
    // `file` stays owned by the caller.
    ByteInput(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}

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
    std::FILE* file_;
    std::string name_;
    std::vector<unsigned char> pending_;
};

class ByteOutput {
public:
    ByteOutput(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::FILE* file() const { return file_; }
    // Throws IoError when the bytes cannot be written.
    void Write(const void* data, size_t size);
    void Flush();

private:
    std::FILE* file_;
    std::string name_;
};

// Opens the file at `path` for reading, or standard input for "-" (binary
// mode); failures name the file as the user spelt it. The result closes what
// it opened. Outputs are opened by OutputFile (host/output_file.h).
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
