// The D3DX effect syntax around HLSL: parameters with their initial values,
// textures, samplers with sampler_state, annotations, techniques and passes.
// Parsing also yields the HLSL the shader compiler reads: the source with the
// effect-only constructs blanked out, line for line, so that the compiler's
// messages point at the lines of the .fx file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3d9/sampler_state.h"

enum class ParameterKind { Numeric, Texture, Sampler, String };

struct FxSamplerState {
    std::string texture;  // name of the texture parameter; empty for none
    SamplerFilter minFilter = SamplerFilter::Point;
    SamplerFilter magFilter = SamplerFilter::Point;
    SamplerAddress addressU = SamplerAddress::Wrap;
    SamplerAddress addressV = SamplerAddress::Wrap;
};

struct FxParameter {
    std::string name;
    ParameterKind kind = ParameterKind::Numeric;
    uint32_t rows = 1;
    uint32_t columns = 1;
    uint32_t elements = 1;
    std::vector<float> values;  // rows x columns x elements, row by row
    FxSamplerState sampler;
};

struct FxShader {
    bool present = false;
    std::string profile;
    std::string entry;
    // Values of the function's uniform parameters, in order:
    // "compile ps_2_0 Fn(0.5, float2(1, 2))".
    std::vector<std::vector<float>> arguments;
    uint32_t line = 0;
    uint32_t column = 0;
};

struct FxPass {
    std::string name;
    FxShader pixelShader;
    FxShader vertexShader;
};

struct FxTechnique {
    std::string name;
    std::vector<FxPass> passes;
};

struct FxFunction {
    std::string name;
    std::vector<std::string> uniformParameters;  // in order
};

struct FxEffect {
    std::vector<FxParameter> parameters;
    std::vector<FxFunction> functions;
    std::vector<FxTechnique> techniques;
    std::string hlsl;
};

// False with messages "file(line,col): error X3000: ..." on malformed input.
bool ParseEffect(std::string_view source, const std::string& file, FxEffect* effect,
                 std::string* messages);
