// File names travel through the host as UTF-8 on every platform; these turn
// them into paths and back (on Windows, narrow paths would mean the ANSI
// code page).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

inline std::filesystem::path Utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8String(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The length of the well-formed UTF-8 character that `text` starts with, or
// 0 when it starts with a stray byte (a lone continuation, an overlong form,
// a surrogate, beyond U+10FFFF, or cut short). A file's name on Unix may be
// any bytes; what shows it to a browser or a shell must tell them apart.
inline size_t Utf8CharLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    if (lead < 0x80) return 1;
    const size_t length = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                        : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
    if (!length || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
    }
    // The second byte's range rules out overlong forms, surrogates and
    // code points past U+10FFFF.
    const unsigned second = byte(1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f) || (lead == 0xf0 && second < 0x90) ||
        (lead == 0xf4 && second > 0x8f)) {
        return 0;
    }
    return length;
}
