// Temporary files holding given bytes, for the readers and writers.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;

inline TempFile TempFileWith(const std::string& bytes) {
    TempFile file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    return file;
}

inline std::string ContentsOf(std::FILE* file) {
    std::rewind(file);
    std::string bytes;
    char buffer[4096];
    while (size_t got = std::fread(buffer, 1, sizeof buffer, file)) bytes.append(buffer, got);
    return bytes;
}
