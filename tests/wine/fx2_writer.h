// Writes compiled D3DX effects (the fx_2_0 container that D3DXCreateEffect*
// accepts in place of HLSL source) with hand-assembled ps_2_0 pixel shaders.
// Wine's D3DX cannot compile kelo's HLSL, but it loads and runs such binaries,
// so they are how the Windows checks drive real passes through the plug-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fx2 {

// ps_2_0 shader model tokens (Direct3D 9 driver documentation).
namespace ps20 {

enum RegisterType : uint32_t { kTemp = 0, kConst = 2, kTexture = 3, kColorOut = 8, kSampler = 10 };
constexpr uint32_t kVersion = 0xFFFF0200;
constexpr uint32_t kEnd = 0x0000FFFF;
constexpr uint32_t kMaskAll = 0xF;
constexpr uint32_t kMaskXY = 0x3;
constexpr uint32_t kSwizzleXYZW = 0xE4;

uint32_t Instruction(uint32_t opcode, uint32_t operandCount);
uint32_t Destination(RegisterType type, uint32_t number, uint32_t writeMask = kMaskAll);
uint32_t Source(RegisterType type, uint32_t number, uint32_t swizzle = kSwizzleXYZW);

}  // namespace ps20

// A ps_2_0 shader that samples one sampler at texture coordinate 0 and, when
// addend is given, adds that float4 constant before writing colour 0. Its
// constant table names both, so D3DX binds the effect's parameters of those
// names to the shader's registers at BeginPass.
std::vector<uint32_t> SamplingShader(const std::string& sampler, const std::string* addend);

// Builds one effect: top-level parameters in the order added, then techniques.
class EffectWriter {
public:
    void AddTexture(const std::string& name);
    // A 2D sampler on texture, with point filtering and clamped addressing.
    void AddSampler(const std::string& name, const std::string& texture);
    void AddFloat4(const std::string& name, const float (&initial)[4]);

    struct Pass {
        std::string name;
        std::vector<uint32_t> pixelShader;
    };
    void AddTechnique(const std::string& name, const std::vector<Pass>& passes);

    std::vector<uint8_t> Finish() const;

private:
    struct Parameter {
        enum Kind { kTexture, kSampler, kFloat4 } kind;
        std::string name;
        std::string texture;
        float initial[4];
    };
    struct Technique {
        std::string name;
        std::vector<Pass> passes;
    };
    std::vector<Parameter> parameters_;
    std::vector<Technique> techniques_;
};

// The effects the Windows checks use. Both have the technique
// "ColorCorrection" with two passes over the textures "txTgt" and "txTmp"
// (pass 0 reads txTgt, pass 1 reads txTmp) and the float4 "ycOffs".
enum class Effect {
    kIdentity,  // both passes copy: the frame comes back unchanged
    // Each pass adds ycOffs, so the frame comes back moved by twice ycOffs;
    // a second pass that read txTgt instead of txTmp would show only once.
    kAddYcOffs,
};
std::vector<uint8_t> BuildEffect(Effect effect);

}  // namespace fx2
