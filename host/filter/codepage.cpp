#include "host/filter/codepage.h"

#ifdef _WIN32
#include "platform/win32_api.h"
#else
#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#endif

#ifdef _WIN32

std::string Cp932ToUtf8(const std::string& text) {
    if (text.empty()) return {};
    // MultiByteToWideChar already replaces invalid bytes with U+30FB or
    // U+FFFD depending on the system; asking for no flags keeps that choice.
    int wideLength = MultiByteToWideChar(932, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(wideLength), L'\0');
    MultiByteToWideChar(932, 0, text.data(), int(text.size()), wide.data(), wideLength);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

#else

std::string Cp932ToUtf8(const std::string& text) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert from CP932");
    std::string utf8;
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[256];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, size_t(out - buffer));
        if (result == size_t(-1) && errno != E2BIG) {
            // An invalid or incomplete sequence: replace one byte and go on.
            utf8 += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    return utf8;
}

#endif
