#include "platform/d3dx9/pretransformed_vertex_shader.h"

uint32_t TexcoordSetsRead(const std::vector<ShaderInput>& pixelInputs) {
    uint32_t sets = 0;
    for (const ShaderInput& input : pixelInputs) {
        if (!input.color) sets |= 1u << input.texcoord;
    }
    return sets;
}

std::string PretransformedVertexShader(const std::vector<ShaderInput>& pixelInputs) {
    uint32_t sets = TexcoordSetsRead(pixelInputs);
    std::string text =
        "struct Transform { float2 pixelToNdc; };\n"
        "[[vk::push_constant]] ConstantBuffer<Transform> transform;\n"
        "struct VertexOutput {\n"
        "    float4 position : SV_Position;\n";
    for (const ShaderInput& input : pixelInputs) {
        std::string n = std::to_string(input.location);
        text += "    [[vk::location(" + n + ")]] float" + std::to_string(input.components) +
                " varying" + n + " : KELO_VARYING" + n + ";\n";
    }
    text += "};\nVertexOutput main([[vk::location(0)]] float4 position : KELO_POSITION";
    for (int set = 0; set < 8; ++set) {
        if (!(sets & (1u << set))) continue;
        std::string n = std::to_string(set);
        text += ",\n    [[vk::location(" + std::to_string(set + 1) + ")]] float4 texcoord" + n +
                " : KELO_TEXCOORD" + n;
    }
    text +=
        ") {\n"
        "    VertexOutput output;\n"
        "    float2 ndc = (position.xy + 0.5) * transform.pixelToNdc - 1.0;\n"
        "    output.position = float4(ndc, position.z, 1.0) / position.w;\n";
    static const char* const kSwizzles[] = {"", ".x", ".xy", ".xyz", ""};
    for (const ShaderInput& input : pixelInputs) {
        std::string n = std::to_string(input.location);
        // A colour the vertices do not carry reads as white, as in Direct3D 9.
        std::string source = input.color ? "float4(1, 1, 1, 1)"
                                         : "texcoord" + std::to_string(input.texcoord);
        text += "    output.varying" + n + " = " + source + kSwizzles[input.components] + ";\n";
    }
    text += "    return output;\n}\n";
    return text;
}
