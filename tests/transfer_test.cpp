#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/report_sink.h"
#include "plugin/plugin.h"
#include "renderer/renderer.h"
#include "tests/mocks/d3d9_mocks.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;

namespace {

constexpr int32_t kWidth = 37, kHeight = 5, kPitch = 40;
constexpr int32_t kTexWidth = 64, kTexHeight = 8;

class RecordingSink final : public ReportSink {
public:
    std::u16string output;
    int boxes = 0;
    void DebugOutput(LPCWSTR text) override { output += text; }
    int MessageBox(HWND, LPCWSTR, LPCWSTR, UINT) override {
        ++boxes;
        return IDNO;
    }
    void DebugBreak() override {}
    bool DebuggerPresent() override { return false; }
};

// GetSurfaceLevel handing out a counted reference to surface.
auto Hand(FakeSurface& surface) {
    return [&surface](UINT, IDirect3DSurface9** out) {
        surface.AddRef();
        *out = &surface;
        return D3D_OK;
    };
}

// A device whose copies are plain memory copies: UpdateTexture moves texSys's
// bytes into the render target's and scribbles over texSys, GetRenderTargetData
// brings them back, so a frame sent up and down returns only what the
// conversions kept. The locked pitch carries bytes beyond whole texels.
class TransferTest : public ::testing::TestWithParam<std::pair<bool, bool>> {
protected:
    void SetUp() override {
        useF16 = GetParam().first;
        texelBytes = useF16 ? 8 : 16;
        lockedPitch = kTexWidth * texelBytes + texelBytes - 4;
        systemMemory.assign(lockedPitch * kTexHeight / 16 + 1, {});
        targetMemory.assign(systemMemory.size(), {});
        rowBuf.assign(kWidth, {});

        renderer.device = &device;
        renderer.texSys = &texSys;
        renderer.texTgt = &texTgt;
        renderer.rowBuf = rowBuf.data()->c;
        renderer.width = kWidth;
        renderer.height = kHeight;
        renderer.pitch = kPitch;
        renderer.texWidth = kTexWidth;
        renderer.texHeight = kTexHeight;
        renderer.useF16 = useF16;
        renderer.useSimd = GetParam().second;
        g_renderer = &renderer;

        ON_CALL(texSys, LockRect(0, _, nullptr, _))
            .WillByDefault(Invoke([this](UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) {
                locked->Pitch = lockedPitch;
                locked->pBits = systemMemory.data();
                return D3D_OK;
            }));
        ON_CALL(texSys, UnlockRect(0)).WillByDefault(Return(D3D_OK));
        ON_CALL(device, UpdateTexture(&texSys, &texTgt)).WillByDefault(Invoke([this](auto, auto) {
            targetMemory = systemMemory;
            std::memset(systemMemory.data(), 0xFF, systemMemory.size() * 16);
            return D3D_OK;
        }));
        ON_CALL(device, GetRenderTargetData(&targetSurface, &systemSurface))
            .WillByDefault(Invoke([this](auto, auto) {
                systemMemory = targetMemory;
                return D3D_OK;
            }));
        ON_CALL(texTgt, GetSurfaceLevel(0, _)).WillByDefault(Invoke(Hand(targetSurface)));
        ON_CALL(texSys, GetSurfaceLevel(0, _)).WillByDefault(Invoke(Hand(systemSurface)));

        frame.resize((kHeight - 1) * kPitch + kWidth);
        for (size_t i = 0; i < frame.size(); ++i) {
            const int16_t v = static_cast<int16_t>(i * 13 - 900);
            frame[i] = PIXEL_YC{v, static_cast<int16_t>(-v), static_cast<int16_t>(v / 2)};
        }
        SetReportSink(&sink);
    }

    void TearDown() override {
        SetReportSink(nullptr);
        g_renderer = nullptr;
    }

    const unsigned char* SystemTexel(int32_t row, int32_t column) const {
        // Rows lie whole texels apart: the bytes beyond them in the pitch are unused.
        const size_t rowTexels = lockedPitch / texelBytes;
        return reinterpret_cast<const unsigned char*>(systemMemory.data()) +
               (row * rowTexels + column) * texelBytes;
    }

    struct alignas(16) Texel {
        float c[4];
    };

    bool useF16 = false;
    int32_t texelBytes = 16;
    int32_t lockedPitch = 0;
    std::vector<Texel> systemMemory, targetMemory, rowBuf;
    Renderer renderer{};
    NiceMock<MockDevice> device;
    NiceMock<MockTexture> texSys, texTgt;
    FakeSurface targetSurface, systemSurface;
    std::vector<PIXEL_YC> frame;
    RecordingSink sink;
};

TEST_P(TransferTest, FrameGoesUpAndComesBackWithTheRightLocksAndCopies) {
    EXPECT_CALL(texSys, LockRect(0, _, nullptr, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK));
    EXPECT_CALL(device, UpdateTexture(&texSys, &texTgt));
    ASSERT_TRUE(UploadFrame(frame.data()));
    ::testing::Mock::VerifyAndClearExpectations(&texSys);

    // The last pixel of the last row sits at the texel that whole-texel rows put it at.
    std::memcpy(systemMemory.data(), targetMemory.data(), systemMemory.size() * sizeof(Texel));
    const PIXEL_YC& last = frame[(kHeight - 1) * kPitch + kWidth - 1];
    const unsigned char* texel = SystemTexel(kHeight - 1, kWidth - 1);
    if (useF16) {
        D3DXFLOAT16 green;
        std::memcpy(&green, texel + 2, 2);
        float value;
        D3DXFloat16To32Array(&value, &green, 1);
        EXPECT_EQ(value, last.y / 4096.0f);
    } else {
        float green;
        std::memcpy(&green, texel + 4, 4);
        EXPECT_EQ(green, last.y / 4096.0f);
    }

    // Host padding must keep its bytes through the read-back.
    std::vector<PIXEL_YC> back = frame;
    for (int32_t r = 0; r < kHeight; ++r) {
        for (int32_t i = 0; i < kWidth; ++i) back[r * kPitch + i] = PIXEL_YC{0, 0, 0};
    }
    EXPECT_CALL(device, GetRenderTargetData(&targetSurface, &systemSurface));
    EXPECT_CALL(texSys, LockRect(0, _, nullptr, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK));
    ASSERT_TRUE(DownloadFrame(back.data()));
    EXPECT_EQ(targetSurface.refs(), 0);
    EXPECT_EQ(systemSurface.refs(), 0);
    // The frame's values all fit half precision exactly.
    for (size_t i = 0; i < frame.size(); ++i) {
        EXPECT_EQ(back[i].y, frame[i].y) << "pixel " << i;
        EXPECT_EQ(back[i].cb, frame[i].cb) << "pixel " << i;
        EXPECT_EQ(back[i].cr, frame[i].cr) << "pixel " << i;
    }
    EXPECT_TRUE(sink.output.empty());
}

TEST_P(TransferTest, FailedUploadLockCopiesNothingAndFails) {
    EXPECT_CALL(texSys, LockRect(_, _, _, _)).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_CALL(texSys, UnlockRect(_)).Times(0);
    EXPECT_CALL(device, UpdateTexture(_, _)).Times(0);
    EXPECT_FALSE(UploadFrame(frame.data()));
}

TEST_P(TransferTest, FailedReadBackReleasesBothSurfacesAndLeavesTheFrameAlone) {
    EXPECT_CALL(device, GetRenderTargetData(_, _)).WillOnce(Return(D3DERR_DEVICELOST));
    EXPECT_CALL(texSys, LockRect(_, _, _, _)).Times(0);
    const std::vector<PIXEL_YC> before = frame;
    EXPECT_FALSE(DownloadFrame(frame.data()));
    EXPECT_EQ(targetSurface.refs(), 0);
    EXPECT_EQ(systemSurface.refs(), 0);
    EXPECT_EQ(std::memcmp(before.data(), frame.data(), frame.size() * sizeof(PIXEL_YC)), 0);
}

TEST_P(TransferTest, FailedStagingSurfaceReleasesTheTargetSurface) {
    EXPECT_CALL(texSys, GetSurfaceLevel(_, _)).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_CALL(device, GetRenderTargetData(_, _)).Times(0);
    EXPECT_FALSE(DownloadFrame(frame.data()));
    EXPECT_EQ(targetSurface.refs(), 0);
}

TEST_P(TransferTest, FailedFinalUnlockFailsAfterTheFrameIsWritten) {
    ASSERT_TRUE(UploadFrame(frame.data()));
    std::vector<PIXEL_YC> back(frame.size());
    EXPECT_CALL(texSys, UnlockRect(0)).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_FALSE(DownloadFrame(back.data()));
    const PIXEL_YC& last = frame[(kHeight - 1) * kPitch + kWidth - 1];
    EXPECT_EQ(back[(kHeight - 1) * kPitch + kWidth - 1].y, last.y);
    EXPECT_EQ(back[(kHeight - 1) * kPitch + kWidth - 1].cr, last.cr);
}

// Each failure above is reported once, with its message, the code's name and
// its value, and asks for the message box.
TEST_P(TransferTest, EachFailureIsReportedOnceWithItsMessageAndCode) {
    struct Expected {
        std::u16string message, code;
    };
    auto reportedOnce = [this](const Expected& expected) {
        EXPECT_NE(sink.output.find(expected.message), std::u16string::npos);
        EXPECT_NE(sink.output.find(u"hr=" + expected.code), std::u16string::npos);
        EXPECT_EQ(sink.output.find(u"hr="), sink.output.rfind(u"hr="));
        EXPECT_EQ(sink.output.back(), u'\n');
        EXPECT_EQ(sink.boxes, 1);
        sink.output.clear();
        sink.boxes = 0;
    };

    EXPECT_CALL(texSys, LockRect(_, _, _, _)).WillOnce(Return(D3DERR_INVALIDCALL));
    EXPECT_FALSE(UploadFrame(frame.data()));
    reportedOnce({u"デバイスへコピーできませんでした", u"D3DERR_INVALIDCALL (0x8876086c)"});
    ::testing::Mock::VerifyAndClearExpectations(&texSys);

    EXPECT_CALL(device, GetRenderTargetData(_, _)).WillOnce(Return(D3DERR_DEVICELOST));
    EXPECT_FALSE(DownloadFrame(frame.data()));
    reportedOnce({u"デバイスからコピーできませんでした", u"D3DERR_DEVICELOST (0x88760868)"});
    ::testing::Mock::VerifyAndClearExpectations(&device);

    EXPECT_CALL(texSys, UnlockRect(0)).WillOnce(Return(D3D_OK)).WillOnce(Return(E_FAIL));
    ASSERT_TRUE(UploadFrame(frame.data()));
    EXPECT_FALSE(DownloadFrame(frame.data()));
    reportedOnce({u"デバイスからコピーできませんでした", u"E_FAIL (0x80004005)"});
}

INSTANTIATE_TEST_SUITE_P(AllPaths, TransferTest,
                         ::testing::Values(std::pair{false, false}, std::pair{false, true},
                                           std::pair{true, false}, std::pair{true, true}),
                         [](const auto& info) {
                             return std::string(info.param.first ? "F16" : "F32") +
                                    (info.param.second ? "Simd" : "Scalar");
                         });

}  // namespace
