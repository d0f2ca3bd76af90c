// ID3DXEffect on the stand-in device: the parameters live here, each pass's
// pixel shader is a ShaderProgram of the device, and BeginPass hands the
// device the pass's shader with the parameters' current values.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/device.h"
#include "platform/d3d9/shader_program.h"
#include "platform/d3dx9/fx_parser.h"
#include "platform/d3dx9/hlsl_compiler.h"
#include "platform/d3dx9_api.h"

class Effect final : public ID3DXEffect {
public:
    // Compiles every pass of the effect source; false with the compiler's
    // messages when any pass fails.
    static HRESULT Create(Device* device, const std::string& file, const std::string& source,
                          const D3DXMACRO* defines, ID3DXEffect** effect, std::string* messages);

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    D3DXHANDLE GetParameterByName(D3DXHANDLE hParameter, LPCSTR pName) override;
    HRESULT SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) override;
    HRESULT SetTexture(D3DXHANDLE hParameter, LPDIRECT3DBASETEXTURE9 pTexture) override;
    HRESULT SetTechnique(D3DXHANDLE hTechnique) override;
    HRESULT Begin(UINT* pPasses, DWORD Flags) override;
    HRESULT BeginPass(UINT Pass) override;
    HRESULT EndPass() override;
    HRESULT End() override;

private:
    // One compiled pixel shader, shared by the passes that compile the same
    // function with the same arguments.
    struct Program {
        std::string entry;
        std::vector<std::vector<float>> arguments;
        std::unique_ptr<ShaderProgram> shader;
        std::vector<std::pair<size_t, ShaderUniform>> uniforms;  // parameter, place
        std::vector<size_t> samplerTextures;  // texture parameter per sampler, or npos
        std::vector<uint8_t> uniformBytes;
        std::vector<Texture*> textures;
    };
    struct Technique {
        std::string name;
        std::vector<Program*> passes;  // null: the pass sets no pixel shader
    };

    Effect(Device* device, FxEffect description);
    ~Effect() override;
    HRESULT Compile(const std::string& hlsl, const std::string& file, std::string* messages);
    HRESULT AddProgram(const FxShader& shader, const CompiledShader& compiled,
                       Program** program, std::string* messages);
    // A handle is the pointer GetParameterByName returned or a name.
    int FindParameter(D3DXHANDLE handle) const;
    int FindTechnique(D3DXHANDLE handle) const;
    int FindParameterByName(const std::string& name) const;
    void WriteUniforms(Program* program);

    ULONG refs_ = 1;
    Device* device_;
    std::vector<FxParameter> parameters_;
    std::vector<IDirect3DBaseTexture9*> textures_;  // per parameter, counted
    std::vector<FxTechnique> passDescriptions_;
    std::vector<FxFunction> functions_;
    std::vector<std::unique_ptr<Program>> programs_;
    std::vector<Technique> techniques_;
    int technique_ = -1;
    bool begun_ = false;
    bool inPass_ = false;
};
