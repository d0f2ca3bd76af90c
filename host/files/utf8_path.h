// File names travel through the host as UTF-8 on every platform; these turn
// them into paths and back (on Windows, narrow paths would mean the ANSI
// code page).
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path Utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8String(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
