// ID3DXBuffer: a block of bytes, here the compiler's messages as text.
#pragma once

#include <string>
#include <vector>

#include "platform/d3dx9_api.h"

class Buffer final : public ID3DXBuffer {
public:
    // A buffer holding the text and its terminating zero.
    static Buffer* FromText(const std::string& text);

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    void* GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    ~Buffer() override = default;

    ULONG refs_ = 1;
    std::vector<char> bytes_;
};
