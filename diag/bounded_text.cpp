// Bounded copy, length and format over fixed buffers. Output that does not fit
// is cut to the capacity minus one and always terminated; the result says so.
#include <cstdarg>
#include <type_traits>

#include "diag/report.h"

namespace {

const HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
const HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);
const size_t kMaxCapacity = 2147483647;

template <typename Char>
HRESULT CopyBounded(Char* dest, size_t n, const Char* src) {
    if (n == 0) return kInvalidArg;
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < n && src[i] != 0; ++i) dest[i] = src[i];
    }
    dest[i] = 0;
    return src != nullptr && src[i] != 0 ? kInsufficientBuffer : S_OK;
}

// Appends to a destination of capacity n, remembering whether anything fell off.
class Writer {
public:
    Writer(WCHAR* dest, size_t n) : dest_(dest), last_(n - 1) {}

    void Put(WCHAR c) {
        if (length_ < last_) {
            dest_[length_++] = c;
        } else {
            cut_ = true;
        }
    }
    void Repeat(WCHAR c, int count) {
        for (int i = 0; i < count; ++i) Put(c);
    }
    HRESULT Finish(bool failed) {
        dest_[length_] = 0;
        return failed || cut_ ? kInsufficientBuffer : S_OK;
    }

private:
    WCHAR* dest_;
    size_t last_;
    size_t length_ = 0;
    bool cut_ = false;
};

struct Directive {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    char length = 0;  // 'l', 'h' or 0
    char conversion = 0;
};

// Reads flags, width, precision and length after a '%'; returns the position
// of the conversion character.
const WCHAR* ParseDirective(const WCHAR* p, Directive& d) {
    for (;; ++p) {
        if (*p == '-') {
            d.left = true;
        } else if (*p == '0') {
            d.zero = true;
        } else {
            break;
        }
    }
    for (; *p >= '0' && *p <= '9'; ++p) d.width = d.width * 10 + (*p - '0');
    if (*p == '.') {
        d.precision = 0;
        for (++p; *p >= '0' && *p <= '9'; ++p) d.precision = d.precision * 10 + (*p - '0');
    }
    if (*p == 'l' || *p == 'h') d.length = static_cast<char>(*p++);
    d.conversion = *p >= 0x20 && *p < 0x7F ? static_cast<char>(*p) : 0;
    return p;
}

void PutPadded(Writer& out, const Directive& d, int length, const auto& putText) {
    const int pad = d.width > length ? d.width - length : 0;
    if (!d.left) out.Repeat(' ', pad);
    putText();
    if (d.left) out.Repeat(' ', pad);
}

// Narrow text widens byte for byte, with no code page; a null string prints as
// "(null)", as on Windows.
template <typename Char>
void PutString(Writer& out, const Directive& d, const Char* text) {
    static const char kNull[] = "(null)";
    if (text == nullptr) {
        PutString(out, d, kNull);
        return;
    }
    int length = 0;
    while ((d.precision < 0 || length < d.precision) && text[length] != 0) ++length;
    PutPadded(out, d, length, [&] {
        for (int i = 0; i < length; ++i) {
            out.Put(static_cast<WCHAR>(static_cast<std::make_unsigned_t<Char>>(text[i])));
        }
    });
}

// Integers are 32 bits whatever the length modifier, as on Windows.
void PutInteger(Writer& out, const Directive& d, uint32_t bits) {
    const bool isSigned = d.conversion == 'd' || d.conversion == 'i';
    const bool negative = isSigned && static_cast<int32_t>(bits) < 0;
    uint32_t magnitude = negative ? 0u - bits : bits;
    const uint32_t base = d.conversion == 'x' || d.conversion == 'X' ? 16 : 10;
    const char* digitSet = d.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

    char digits[10];
    int count = 0;
    for (; magnitude != 0; magnitude /= base) digits[count++] = digitSet[magnitude % base];
    const int minimum = d.precision < 0 ? 1 : d.precision;
    const int zeros = minimum > count ? minimum - count : 0;
    int length = (negative ? 1 : 0) + zeros + count;

    // The '0' flag pads with zeros only when no precision is given.
    if (d.zero && !d.left && d.precision < 0 && d.width > length) {
        Directive padded = d;
        padded.precision = d.width - (negative ? 1 : 0);
        PutInteger(out, padded, bits);
        return;
    }
    PutPadded(out, d, length, [&] {
        if (negative) out.Put('-');
        out.Repeat('0', zeros);
        while (count > 0) out.Put(static_cast<WCHAR>(digits[--count]));
    });
}

}  // namespace

HRESULT BoundedCopy(char* dest, size_t n, const char* src) { return CopyBounded(dest, n, src); }

HRESULT BoundedCopyWide(WCHAR* dest, size_t n, LPCWSTR src) { return CopyBounded(dest, n, src); }

HRESULT BoundedLengthWide(LPCWSTR text, size_t n, size_t* length) {
    if (text == nullptr || n == 0) return kInvalidArg;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] == 0) {
            if (length != nullptr) *length = i;
            return S_OK;
        }
    }
    return kInvalidArg;
}

HRESULT BoundedFormatWide(WCHAR* dest, size_t n, LPCWSTR format, ...) {
    if (n == 0 || n > kMaxCapacity) return kInvalidArg;
    Writer out(dest, n);
    if (format == nullptr) return out.Finish(true);

    va_list args;
    va_start(args, format);
    bool failed = false;
    for (const WCHAR* p = format; !failed && *p != 0; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        Directive d;
        p = ParseDirective(p + 1, d);
        switch (d.conversion) {
            case '%':
                out.Put('%');
                break;
            case 's':
            case 'S':
                // Windows' wide rules: "%s" and "%ls" wide, "%S" and "%hs" narrow.
                if ((d.conversion == 'S' && d.length != 'l') || d.length == 'h') {
                    PutString(out, d, va_arg(args, const char*));
                } else {
                    PutString(out, d, va_arg(args, LPCWSTR));
                }
                break;
            case 'd':
            case 'i':
                PutInteger(out, d, static_cast<uint32_t>(va_arg(args, int32_t)));
                break;
            case 'u':
            case 'x':
            case 'X':
                PutInteger(out, d, va_arg(args, uint32_t));
                break;
            default:  // an unknown directive or a format ending in '%'
                failed = true;
                break;
        }
    }
    va_end(args);
    return out.Finish(failed);
}
