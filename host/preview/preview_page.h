// The preview page's files (host/preview_page/), embedded at build time.
#pragma once

#include <cstddef>

struct EmbeddedFile {
    const char* name;
    const unsigned char* data;
    size_t size;
};

extern const EmbeddedFile kPreviewPageFiles[];
extern const size_t kPreviewPageFileCount;
