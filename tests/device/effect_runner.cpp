#include "tests/device/effect_runner.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

std::u16string Utf16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

std::string WriteEffectFile(const std::string& name, const std::string& text) {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kelo-device-tests-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::path path = folder / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

EffectRunner::EffectRunner(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format)
    : device_(device), width_(width), height_(height), format_(format) {
    EXPECT_EQ(device_->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format,
                                     D3DPOOL_DEFAULT, &texTmp_, nullptr),
              D3D_OK);
    EXPECT_EQ(device_->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format,
                                     D3DPOOL_DEFAULT, &texTgt_, nullptr),
              D3D_OK);
    EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, &texSys_,
                                     nullptr),
              D3D_OK);
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
        D3DDECL_END()};
    EXPECT_EQ(device_->CreateVertexDeclaration(elements, &declaration_), D3D_OK);
    EXPECT_EQ(device_->CreateVertexBuffer(128, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &quad_, nullptr),
              D3D_OK);
    float w = static_cast<float>(width) - 0.5f;
    float h = static_cast<float>(height) - 0.5f;
    const float vertices[4][8] = {{-0.5f, -0.5f, 1, 1, 0, 0, 0, 0},
                                  {w, -0.5f, 1, 1, 1, 0, 1, 0},
                                  {-0.5f, h, 1, 1, 0, 1, 0, 1},
                                  {w, h, 1, 1, 1, 1, 1, 1}};
    void* data = nullptr;
    if (quad_ != nullptr && quad_->Lock(0, 128, &data, D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK) == D3D_OK) {
        std::memcpy(data, vertices, 128);
        quad_->Unlock();
    }
}

EffectRunner::~EffectRunner() {
    for (IUnknown* object : std::initializer_list<IUnknown*>{effect_, quad_, declaration_, texSys_,
                                                             texTmp_, texTgt_}) {
        if (object != nullptr) object->Release();
    }
}

HRESULT EffectRunner::Load(const std::string& path, std::string* messages) {
    if (effect_ != nullptr) effect_->Release();
    effect_ = nullptr;
    ID3DXBuffer* errors = nullptr;
    std::u16string wide = Utf16(path);
    HRESULT result = D3DXCreateEffectFromFileW(device_, wide.c_str(), nullptr, nullptr, 0,
                                               nullptr, &effect_, &errors);
    if (errors != nullptr) {
        if (messages != nullptr) *messages = static_cast<const char*>(errors->GetBufferPointer());
        errors->Release();
    }
    if (effect_ != nullptr) {
        D3DXHANDLE tgt = effect_->GetParameterByName(nullptr, "txTgt");
        D3DXHANDLE tmp = effect_->GetParameterByName(nullptr, "txTmp");
        if (tgt != nullptr) {
            EXPECT_EQ(effect_->SetTexture(tgt, texTgt_), D3D_OK);
        }
        if (tmp != nullptr) {
            EXPECT_EQ(effect_->SetTexture(tmp, texTmp_), D3D_OK);
        }
    }
    return result;
}

Image EffectRunner::ReadTarget(IDirect3DTexture9* texture) {
    IDirect3DSurface9* source = nullptr;
    IDirect3DSurface9* staging = nullptr;
    texture->GetSurfaceLevel(0, &source);
    texSys_->GetSurfaceLevel(0, &staging);
    EXPECT_EQ(device_->GetRenderTargetData(source, staging), D3D_OK);
    staging->Release();
    source->Release();
    return ReadTexture(texSys_, width_, height_, format_ == D3DFMT_A16B16G16R16F);
}

PassResults EffectRunner::Run(const Image& image, const char* technique) {
    PassResults results;
    WriteTexture(texSys_, image);
    results.result = device_->UpdateTexture(texSys_, texTgt_);
    if (FAILED(results.result)) return results;
    results.result = device_->BeginScene();
    if (FAILED(results.result)) return results;
    effect_->SetTechnique(technique);
    device_->SetVertexDeclaration(declaration_);
    if (FAILED(effect_->Begin(&results.passes, 0))) results.passes = 0;
    IDirect3DTexture9* ring[2] = {texTmp_, texTgt_};
    for (UINT i = 0; i < results.passes && SUCCEEDED(results.result); ++i) {
        IDirect3DSurface9* surface = nullptr;
        ring[i % 2]->GetSurfaceLevel(0, &surface);
        device_->SetRenderTarget(0, surface);
        surface->Release();
        results.result = effect_->BeginPass(i);
        if (SUCCEEDED(results.result)) {
            device_->SetStreamSource(0, quad_, 0, 32);
            results.result = device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
            effect_->EndPass();
        }
    }
    effect_->End();
    device_->EndScene();
    if (FAILED(results.result)) return results;
    results.target = ReadTarget(texTgt_);
    results.temporary = ReadTarget(texTmp_);
    return results;
}
