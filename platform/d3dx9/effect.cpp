#include "platform/d3dx9/effect.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "platform/d3d9/texture.h"
#include "platform/d3dx9/buffer.h"
#include "platform/d3dx9/pretransformed_vertex_shader.h"
#include "platform/win32/utf8.h"

namespace {

constexpr size_t kNoParameter = std::numeric_limits<size_t>::max();

// The name the compiler's #line directive can carry.
std::string LineDirectiveName(const std::string& file) {
    std::string name = file;
    for (char& c : name) {
        if (c == '"' || c == '\\' || c == '\n' || c == '\r') c = '_';
    }
    return name;
}

void WriteComponent(uint8_t* at, UniformType type, float value) {
    uint32_t bits = 0;
    switch (type) {
        case UniformType::Float: std::memcpy(&bits, &value, 4); break;
        case UniformType::Int: bits = static_cast<uint32_t>(static_cast<int32_t>(value)); break;
        case UniformType::Bool: bits = value != 0.0f ? 1u : 0u; break;
    }
    std::memcpy(at, &bits, 4);
}

}  // namespace

HRESULT D3DXCreateEffectFromFileW(LPDIRECT3DDEVICE9 pDevice, LPCWSTR pSrcFile,
                                  const D3DXMACRO* pDefines, LPD3DXINCLUDE, DWORD,
                                  LPD3DXEFFECTPOOL, LPD3DXEFFECT* ppEffect,
                                  LPD3DXBUFFER* ppCompilationErrors) {
    if (ppEffect != nullptr) *ppEffect = nullptr;
    if (ppCompilationErrors != nullptr) *ppCompilationErrors = nullptr;
    auto* device = dynamic_cast<Device*>(pDevice);
    if (device == nullptr || pSrcFile == nullptr || ppEffect == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    std::string file = Utf16ToUtf8(pSrcFile);
    std::string messages;
    HRESULT result;
    std::error_code error;
    std::ifstream stream;
    if (std::filesystem::is_regular_file(file, error)) stream.open(file, std::ios::binary);
    if (!stream.is_open()) {
        messages = file + "(1,1): error: cannot open the effect file\n";
        result = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    } else {
        std::ostringstream source;
        source << stream.rdbuf();
        result = Effect::Create(device, file, source.str(), pDefines, ppEffect, &messages);
    }
    if (!messages.empty() && ppCompilationErrors != nullptr) {
        *ppCompilationErrors = Buffer::FromText(messages);
    }
    return result;
}

HRESULT Effect::Create(Device* device, const std::string& file, const std::string& source,
                       const D3DXMACRO* defines, ID3DXEffect** effect, std::string* messages) {
    FxEffect description;
    if (!ParseEffect(source, file, &description, messages)) return E_FAIL;

    std::string hlsl;
    for (const D3DXMACRO* macro = defines; macro != nullptr && macro->Name != nullptr; ++macro) {
        hlsl += std::string("#define ") + macro->Name + " " +
                (macro->Definition != nullptr ? macro->Definition : "") + "\n";
    }
    hlsl += "#line 1 \"" + LineDirectiveName(file) + "\"\n";
    hlsl += description.hlsl;

    auto* created = new Effect(device, std::move(description));
    HRESULT result = created->Compile(hlsl, LineDirectiveName(file), messages);
    if (FAILED(result)) {
        created->Release();
        return result;
    }
    *effect = created;
    return D3D_OK;
}

Effect::Effect(Device* device, FxEffect description)
    : device_(device),
      parameters_(std::move(description.parameters)),
      textures_(parameters_.size(), nullptr),
      passDescriptions_(std::move(description.techniques)),
      functions_(std::move(description.functions)) {
    device_->AddRef();
}

Effect::~Effect() {
    if (inPass_) device_->SetShaderProgram(nullptr);
    programs_.clear();
    for (IDirect3DBaseTexture9* texture : textures_) {
        if (texture != nullptr) texture->Release();
    }
    device_->Release();
}

ULONG Effect::Release() {
    if (refs_ == 0) return 0;
    ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
}

HRESULT Effect::Compile(const std::string& hlsl, const std::string& file,
                        std::string* messages) {
    bool failed = false;
    for (const FxTechnique& description : passDescriptions_) {
        Technique technique{description.name, {}};
        for (const FxPass& pass : description.passes) {
            Program* program = nullptr;
            if (pass.vertexShader.present) {
                // Pre-transformed vertices bypass vertex shaders; the
                // function must still compile, as it must for D3DX.
                CompiledShader unused;
                if (!CompileHlsl(hlsl, file, pass.vertexShader.entry, ShaderStage::Vertex,
                                 &unused, messages)) {
                    failed = true;
                }
            }
            if (pass.pixelShader.present) {
                for (const auto& existing : programs_) {
                    if (existing->entry == pass.pixelShader.entry &&
                        existing->arguments == pass.pixelShader.arguments) {
                        program = existing.get();
                    }
                }
                if (program == nullptr) {
                    CompiledShader compiled;
                    if (!CompileHlsl(hlsl, file, pass.pixelShader.entry, ShaderStage::Pixel,
                                     &compiled, messages)) {
                        failed = true;
                        continue;
                    }
                    HRESULT result = AddProgram(pass.pixelShader, compiled, &program, messages);
                    if (FAILED(result)) return result;
                }
            }
            technique.passes.push_back(program);
        }
        techniques_.push_back(std::move(technique));
    }
    if (failed) return E_FAIL;
    if (!techniques_.empty()) technique_ = 0;
    return D3D_OK;
}

HRESULT Effect::AddProgram(const FxShader& shader, const CompiledShader& compiled,
                           Program** program, std::string* messages) {
    auto added = std::make_unique<Program>();
    added->entry = shader.entry;
    added->arguments = shader.arguments;
    added->uniformBytes.assign(compiled.uniformBytes, 0);
    const std::vector<std::string>* uniformParameters = nullptr;
    for (const FxFunction& function : functions_) {
        if (function.name == shader.entry) uniformParameters = &function.uniformParameters;
    }
    ProgramLayout layout;
    layout.texcoordSetsRead = TexcoordSetsRead(compiled.inputs);
    layout.uniformBinding = compiled.uniformBinding;
    layout.uniformBytes = compiled.uniformBytes;
    for (const ShaderUniform& uniform : compiled.uniforms) {
        int parameter = FindParameterByName(uniform.name);
        if (parameter >= 0) added->uniforms.push_back({static_cast<size_t>(parameter), uniform});
        // The function's uniform parameters hold the compile arguments.
        for (size_t i = 0; uniformParameters != nullptr && i < uniformParameters->size() &&
                           i < shader.arguments.size();
             ++i) {
            if ((*uniformParameters)[i] != uniform.name) continue;
            const std::vector<float>& values = shader.arguments[i];
            for (uint32_t c = 0; c < uniform.columns && c < values.size(); ++c) {
                if (uniform.offset + 4 * (c + 1) > added->uniformBytes.size()) break;
                WriteComponent(&added->uniformBytes[uniform.offset + 4 * c], uniform.type,
                               values[c]);
            }
        }
    }
    for (const ShaderSampler& sampler : compiled.samplers) {
        SamplerBinding binding;
        binding.binding = sampler.binding;
        size_t texture = kNoParameter;
        int parameter = FindParameterByName(sampler.name);
        if (parameter >= 0) {
            const FxSamplerState& state = parameters_[parameter].sampler;
            binding.minFilter = state.minFilter;
            binding.magFilter = state.magFilter;
            binding.addressU = state.addressU;
            binding.addressV = state.addressV;
            int source = FindParameterByName(state.texture);
            if (source >= 0 && parameters_[source].kind == ParameterKind::Texture) {
                texture = static_cast<size_t>(source);
            }
        }
        layout.samplers.push_back(binding);
        added->samplerTextures.push_back(texture);
    }
    added->textures.assign(compiled.samplers.size(), nullptr);

    CompiledShader vertex;
    if (!CompileHlsl(PretransformedVertexShader(compiled.inputs), "pretransformed vertex stage",
                     "main", ShaderStage::Vertex, &vertex, messages)) {
        return E_FAIL;
    }
    HRESULT result = ShaderProgram::Create(*device_, vertex.spirv, compiled.spirv, layout,
                                           &added->shader);
    if (FAILED(result)) return result;
    *program = added.get();
    programs_.push_back(std::move(added));
    return D3D_OK;
}

int Effect::FindParameterByName(const std::string& name) const {
    for (size_t i = 0; i < parameters_.size(); ++i) {
        if (parameters_[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

int Effect::FindParameter(D3DXHANDLE handle) const {
    if (handle == nullptr) return -1;
    for (size_t i = 0; i < parameters_.size(); ++i) {
        if (parameters_[i].name.c_str() == handle) return static_cast<int>(i);
    }
    return FindParameterByName(handle);
}

int Effect::FindTechnique(D3DXHANDLE handle) const {
    if (handle == nullptr) return -1;
    for (size_t i = 0; i < techniques_.size(); ++i) {
        if (techniques_[i].name.c_str() == handle) return static_cast<int>(i);
    }
    for (size_t i = 0; i < techniques_.size(); ++i) {
        if (techniques_[i].name == handle) return static_cast<int>(i);
    }
    return -1;
}

D3DXHANDLE Effect::GetParameterByName(D3DXHANDLE hParameter, LPCSTR pName) {
    // Top-level parameters only: the effects here have no structures.
    if (hParameter != nullptr || pName == nullptr) return nullptr;
    int parameter = FindParameterByName(pName);
    return parameter >= 0 ? parameters_[parameter].name.c_str() : nullptr;
}

HRESULT Effect::SetVector(D3DXHANDLE hParameter, const D3DXVECTOR4* pVector) {
    int index = FindParameter(hParameter);
    if (index < 0 || pVector == nullptr) return D3DERR_INVALIDCALL;
    FxParameter& parameter = parameters_[index];
    if (parameter.kind != ParameterKind::Numeric || parameter.rows != 1) return D3DERR_INVALIDCALL;
    const float components[4] = {pVector->x, pVector->y, pVector->z, pVector->w};
    for (uint32_t c = 0; c < parameter.columns; ++c) parameter.values[c] = components[c];
    return D3D_OK;
}

HRESULT Effect::SetTexture(D3DXHANDLE hParameter, LPDIRECT3DBASETEXTURE9 pTexture) {
    int index = FindParameter(hParameter);
    if (index < 0 || parameters_[index].kind != ParameterKind::Texture) return D3DERR_INVALIDCALL;
    if (pTexture != nullptr && AsTexture(pTexture) == nullptr) return D3DERR_INVALIDCALL;
    if (pTexture != nullptr) pTexture->AddRef();
    if (textures_[index] != nullptr) textures_[index]->Release();
    textures_[index] = pTexture;
    return D3D_OK;
}

HRESULT Effect::SetTechnique(D3DXHANDLE hTechnique) {
    int index = FindTechnique(hTechnique);
    if (index < 0) return D3DERR_INVALIDCALL;
    technique_ = index;
    return D3D_OK;
}

HRESULT Effect::Begin(UINT* pPasses, DWORD) {
    if (technique_ < 0 || begun_) return D3DERR_INVALIDCALL;
    begun_ = true;
    if (pPasses != nullptr) *pPasses = static_cast<UINT>(techniques_[technique_].passes.size());
    return D3D_OK;
}

HRESULT Effect::BeginPass(UINT Pass) {
    if (!begun_ || inPass_ || Pass >= techniques_[technique_].passes.size()) {
        return D3DERR_INVALIDCALL;
    }
    Program* program = techniques_[technique_].passes[Pass];
    if (program != nullptr) {
        WriteUniforms(program);
        for (size_t i = 0; i < program->textures.size(); ++i) {
            size_t source = program->samplerTextures[i];
            program->textures[i] =
                source == kNoParameter ? nullptr : AsTexture(textures_[source]);
        }
        HRESULT result =
            program->shader->Prepare(program->uniformBytes.data(), program->textures.data());
        if (FAILED(result)) return result;
    }
    device_->SetShaderProgram(program != nullptr ? program->shader.get() : nullptr);
    inPass_ = true;
    return D3D_OK;
}

// Each uniform at its own size: the block is packed tightly, and writing
// whole 16-byte registers would overwrite the neighbours.
void Effect::WriteUniforms(Program* program) {
    for (const auto& [index, uniform] : program->uniforms) {
        const FxParameter& parameter = parameters_[index];
        for (uint32_t e = 0; e < uniform.elements && e < parameter.elements; ++e) {
            for (uint32_t r = 0; r < uniform.rows && r < parameter.rows; ++r) {
                for (uint32_t c = 0; c < uniform.columns && c < parameter.columns; ++c) {
                    // Arrays and matrix columns advance by whole registers;
                    // matrices are stored column by column, as HLSL does.
                    size_t at = uniform.offset + size_t{e} * 16 * uniform.rows +
                                (uniform.rows > 1 ? size_t{c} * 16 + r * 4 : size_t{c} * 4);
                    if (at + 4 > program->uniformBytes.size()) continue;
                    float value = parameter.values[(size_t{e} * parameter.rows + r) *
                                                       parameter.columns + c];
                    WriteComponent(&program->uniformBytes[at], uniform.type, value);
                }
            }
        }
    }
}

HRESULT Effect::EndPass() {
    if (!inPass_) return D3DERR_INVALIDCALL;
    inPass_ = false;
    device_->SetShaderProgram(nullptr);
    return D3D_OK;
}

HRESULT Effect::End() {
    if (!begun_) return D3DERR_INVALIDCALL;
    if (inPass_) EndPass();
    begun_ = false;
    return D3D_OK;
}
