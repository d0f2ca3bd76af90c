// Temporary files holding given bytes, for the readers and writers, and the
// pictures the program writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "host/files/byte_stream.h"
#include "host/picture/png_io.h"

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

inline Picture ReadPicture(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_TRUE(file) << path;
    ByteInput input(file, path.string());
    Picture picture = ReadPng(input);
    std::fclose(file);
    return picture;
}
