// Runs an effect's technique over a texture the way the plug-in does, on the
// stand-in device: the frame is uploaded into "txTgt", pass i draws a
// full-target quad into "txTmp" when i is even and into "txTgt" when odd, and
// both targets are read back.
#pragma once

#include <string>

#include "platform/d3dx9_api.h"
#include "tests/device/device_fixture.h"

// Writes an effect file into the test's temporary folder; returns its path.
std::string WriteEffectFile(const std::string& name, const std::string& text);

struct PassResults {
    HRESULT result = E_FAIL;  // of the first step that failed, else S_OK
    UINT passes = 0;
    Image target;     // "txTgt" after the passes
    Image temporary;  // "txTmp" after the passes
};

class EffectRunner {
public:
    EffectRunner(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format);
    ~EffectRunner();

    // Loads the effect; the compiler's result and its messages.
    HRESULT Load(const std::string& path, std::string* messages = nullptr);
    ID3DXEffect* effect() const { return effect_; }
    // Uploads the image, runs the technique's passes and reads both targets.
    PassResults Run(const Image& image, const char* technique = "ColorCorrection");

private:
    Image ReadTarget(IDirect3DTexture9* texture);

    IDirect3DDevice9* device_;
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    ID3DXEffect* effect_ = nullptr;
    IDirect3DTexture9* texTgt_ = nullptr;
    IDirect3DTexture9* texTmp_ = nullptr;
    IDirect3DTexture9* texSys_ = nullptr;
    IDirect3DVertexBuffer9* quad_ = nullptr;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
};
