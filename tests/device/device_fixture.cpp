#include "tests/device/device_fixture.h"

#include <cstring>

uint32_t Image::Bits(UINT x, UINT y, int c) const {
    size_t at = size_t{y} * rowBytes() + (size_t{x} * 4 + c) * componentBytes;
    uint32_t bits = 0;
    std::memcpy(&bits, &bytes[at], componentBytes);
    return bits;
}

void Image::SetBits(UINT x, UINT y, int c, uint32_t bits) {
    size_t at = size_t{y} * rowBytes() + (size_t{x} * 4 + c) * componentBytes;
    std::memcpy(&bytes[at], &bits, componentBytes);
}

Image MakeImage(UINT width, UINT height, bool half) {
    Image image{width, height, half ? 2u : 4u, {}};
    image.bytes.resize(image.rowBytes() * height);
    return image;
}

void WriteTexture(IDirect3DTexture9* texture, const Image& image) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK), D3D_OK);
    for (UINT y = 0; y < image.height; ++y) {
        std::memcpy(static_cast<BYTE*>(locked.pBits) + size_t{y} * locked.Pitch,
                    &image.bytes[y * image.rowBytes()], image.rowBytes());
    }
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
}

Image ReadTexture(IDirect3DTexture9* texture, UINT width, UINT height, bool half) {
    Image image = MakeImage(width, height, half);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK),
              D3D_OK);
    if (locked.pBits == nullptr) return image;
    for (UINT y = 0; y < height; ++y) {
        std::memcpy(&image.bytes[y * image.rowBytes()],
                    static_cast<const BYTE*>(locked.pBits) + size_t{y} * locked.Pitch,
                    image.rowBytes());
    }
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    return image;
}

::testing::AssertionResult SameBits(const Image& expected, const Image& actual) {
    size_t differences = 0;
    ::testing::AssertionResult result = ::testing::AssertionFailure();
    for (UINT y = 0; y < expected.height; ++y) {
        for (UINT x = 0; x < expected.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                uint32_t want = expected.Bits(x, y, c);
                uint32_t got = actual.Bits(x, y, c);
                if (want == got) continue;
                if (differences++ < 8) {
                    result << "texel (" << x << ", " << y << ") component " << c
                           << ": expected bits 0x" << std::hex << want << ", got 0x" << got
                           << std::dec << "\n";
                }
            }
        }
    }
    if (differences == 0) return ::testing::AssertionSuccess();
    return result << differences << " components differ";
}
