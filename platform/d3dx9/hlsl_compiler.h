// The one seam between the effect framework and its HLSL compiler (glslang
// today): a pixel or vertex shader function in, SPIR-V and what the framework
// must know to feed it out. Another compiler can replace glslang here alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ShaderStage { Vertex, Pixel };

enum class UniformType { Float, Int, Bool };

struct ShaderUniform {
    std::string name;
    uint32_t offset = 0;  // in the uniform block, bytes
    UniformType type = UniformType::Float;
    uint32_t rows = 1;     // 1 for scalars and vectors
    uint32_t columns = 1;  // components of a vector or matrix row
    uint32_t elements = 1;  // array length
};

struct ShaderSampler {
    std::string name;
    uint32_t binding = 0;
};

// A pixel-shader input: its location, the vertex data its semantic names and
// its number of components.
struct ShaderInput {
    uint32_t location = 0;
    bool color = false;     // COLORn rather than TEXCOORDn
    uint32_t texcoord = 0;  // n of TEXCOORDn
    uint32_t components = 4;
};

struct CompiledShader {
    std::vector<uint32_t> spirv;
    uint32_t uniformBinding = 0;
    uint32_t uniformBytes = 0;  // 0 when the shader reads no uniform
    std::vector<ShaderUniform> uniforms;  // the live ones only
    std::vector<ShaderSampler> samplers;  // the live ones only
    std::vector<ShaderInput> inputs;  // of a pixel shader
};

// Compiles function `entry` of `source` (HLSL with DX9 samplers and tex2D).
// `file` names the source in messages, which come back one per line as
// "file(line,col): error: text". False on any error.
bool CompileHlsl(const std::string& source, const std::string& file, const std::string& entry,
                 ShaderStage stage, CompiledShader* shader, std::string* messages);
