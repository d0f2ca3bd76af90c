#include "platform/d3dx9/buffer.h"

Buffer* Buffer::FromText(const std::string& text) {
    auto* buffer = new Buffer();
    buffer->bytes_.assign(text.begin(), text.end());
    buffer->bytes_.push_back('\0');
    return buffer;
}

ULONG Buffer::Release() {
    if (refs_ == 0) return 0;
    ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
}
