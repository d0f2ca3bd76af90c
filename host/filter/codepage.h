// The plug-in's strings are in code page 932 (Shift-JIS); the host shows and
// matches them as UTF-8.
#pragma once

#include <string>

// Bytes that are not valid code page 932 become U+FFFD.
std::string Cp932ToUtf8(const std::string& text);
