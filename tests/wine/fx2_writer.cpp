#include "tests/wine/fx2_writer.h"

#include <cstring>
#include <iterator>

namespace fx2 {
namespace {

// Parameter classes and types as D3DX numbers them (d3dx9shader.h).
enum Class : uint32_t { kScalar = 0, kVector = 1, kObject = 4 };
enum Type : uint32_t {
    kInt = 2,
    kFloat = 3,
    kTextureType = 5,
    kSampler2DType = 12,
    kPixelShaderType = 15,
};
enum RegisterSet : uint16_t { kFloat4Set = 2, kSamplerSet = 3 };

// Effect states are numbered by their position in D3DX's state table.
enum State : uint32_t {
    kPixelShaderState = 0x93,
    kTextureState = 0xA4,
    kAddressU = 0xA5,
    kAddressV = 0xA6,
    kMagFilter = 0xA9,
    kMinFilter = 0xAA,
    kMipFilter = 0xAB,
};
constexpr uint32_t kTexfNone = 0;
constexpr uint32_t kTexfPoint = 1;
constexpr uint32_t kAddressClamp = 3;

constexpr uint32_t kEffectTag = 0xFEFF0901;  // fx_2_0
constexpr uint32_t kNoIndex = 0xFFFFFFFF;
// How a resource entry fills a state: 0 with an object's bytes (shader
// bytecode), 1 with the name of the parameter it refers to.
constexpr uint32_t kUsageObject = 0;
constexpr uint32_t kUsageParameterName = 1;

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

class Bytes {
public:
    uint32_t Offset() const { return static_cast<uint32_t>(data_.size()); }
    uint32_t Dword(uint32_t value) {
        uint32_t at = Offset();
        Append(&value, 4);
        return at;
    }
    void Word(uint16_t value) { Append(&value, 2); }
    void Append(const void* bytes, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(bytes);
        data_.insert(data_.end(), p, p + size);
    }
    void AlignToDword() {
        while (data_.size() % 4 != 0) data_.push_back(0);
    }
    // A length-prefixed, terminated string, as effect names are stored.
    uint32_t Name(const std::string& text) {
        uint32_t at = Dword(static_cast<uint32_t>(text.size() + 1));
        Append(text.c_str(), text.size() + 1);
        AlignToDword();
        return at;
    }
    void PatchDword(uint32_t at, uint32_t value) { std::memcpy(&data_[at], &value, 4); }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

std::vector<uint32_t> ToDwords(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> dwords(bytes.size() / 4);
    std::memcpy(dwords.data(), bytes.data(), dwords.size() * 4);
    return dwords;
}

}  // namespace

namespace ps20 {

constexpr uint32_t kParameterToken = 0x80000000;

uint32_t Instruction(uint32_t opcode, uint32_t operandCount) { return opcode | operandCount << 24; }

// The register type is split: its low three bits at 28..30, the next two at 11..12.
static uint32_t Register(RegisterType type, uint32_t number) {
    return kParameterToken | (type & 0x7) << 28 | (type & 0x18) << 8 | number;
}

uint32_t Destination(RegisterType type, uint32_t number, uint32_t writeMask) {
    return Register(type, number) | writeMask << 16;
}

uint32_t Source(RegisterType type, uint32_t number, uint32_t swizzle) {
    return Register(type, number) | swizzle << 16;
}

}  // namespace ps20

namespace {

// What a shader reads by name: the constant table (CTAB comment) maps effect
// parameters onto shader registers.
struct ShaderInput {
    enum Kind { kSampler2D, kFloat4 } kind;
    std::string name;
    uint32_t registerIndex;
};

// The CTAB comment block, comment token included.
std::vector<uint32_t> ConstantTable(const std::vector<ShaderInput>& inputs) {
    constexpr uint32_t kHeaderSize = 28;
    constexpr uint32_t kConstantInfoSize = 20;
    constexpr uint32_t kTypeInfoSize = 16;
    const uint32_t count = static_cast<uint32_t>(inputs.size());
    const uint32_t typeInfos = kHeaderSize + count * kConstantInfoSize;
    uint32_t strings = typeInfos + count * kTypeInfoSize;

    // Strings follow the fixed-size records; offsets count from the header.
    std::vector<uint32_t> nameOffsets;
    Bytes text;
    for (const ShaderInput& input : inputs) {
        nameOffsets.push_back(strings + text.Offset());
        text.Append(input.name.c_str(), input.name.size() + 1);
    }
    const uint32_t creator = strings + text.Offset();
    text.Append("kelo-fx2gen", 12);
    const uint32_t target = strings + text.Offset();
    text.Append("ps_2_0", 7);
    text.AlignToDword();

    Bytes table;
    table.Dword(kHeaderSize);
    table.Dword(creator);
    table.Dword(ps20::kVersion);
    table.Dword(count);
    table.Dword(kHeaderSize);  // the constant records follow the header
    table.Dword(0);            // flags
    table.Dword(target);
    for (uint32_t i = 0; i < count; ++i) {
        table.Dword(nameOffsets[i]);
        table.Word(inputs[i].kind == ShaderInput::kSampler2D ? kSamplerSet : kFloat4Set);
        table.Word(static_cast<uint16_t>(inputs[i].registerIndex));
        table.Word(1);  // register count
        table.Word(0);
        table.Dword(typeInfos + i * kTypeInfoSize);
        table.Dword(0);  // no default value
    }
    for (const ShaderInput& input : inputs) {
        const bool sampler = input.kind == ShaderInput::kSampler2D;
        table.Word(static_cast<uint16_t>(sampler ? kObject : kVector));
        table.Word(static_cast<uint16_t>(sampler ? kSampler2DType : kFloat));
        table.Word(1);                          // rows
        table.Word(sampler ? 1 : 4);            // columns
        table.Word(1);                          // elements
        table.Word(0);                          // struct members
        table.Dword(0);                         // struct member records
    }
    table.Append(text.Data().data(), text.Data().size());

    std::vector<uint32_t> tokens = ToDwords(table.Data());
    const uint32_t commentLength = static_cast<uint32_t>(tokens.size()) + 1;  // + the FourCC
    tokens.insert(tokens.begin(), FourCC('C', 'T', 'A', 'B'));
    tokens.insert(tokens.begin(), 0xFFFE | commentLength << 16);
    return tokens;
}

}  // namespace

std::vector<uint32_t> SamplingShader(const std::string& sampler, const std::string* addend) {
    using namespace ps20;
    constexpr uint32_t kMov = 1, kAdd = 2, kDcl = 31, kTexld = 66;
    constexpr uint32_t kDclTexCoord = kParameterToken;
    constexpr uint32_t kDcl2D = kParameterToken | 2u << 27;

    std::vector<ShaderInput> inputs = {{ShaderInput::kSampler2D, sampler, 0}};
    if (addend != nullptr) inputs.push_back({ShaderInput::kFloat4, *addend, 0});

    std::vector<uint32_t> tokens = {kVersion};
    const std::vector<uint32_t> table = ConstantTable(inputs);
    tokens.insert(tokens.end(), table.begin(), table.end());
    const std::vector<uint32_t> body = {
        Instruction(kDcl, 2), kDclTexCoord, Destination(kTexture, 0, kMaskXY),
        Instruction(kDcl, 2), kDcl2D, Destination(kSampler, 0),
        Instruction(kTexld, 3), Destination(kTemp, 0), Source(kTexture, 0), Source(kSampler, 0),
    };
    tokens.insert(tokens.end(), body.begin(), body.end());
    if (addend != nullptr) {
        tokens.insert(tokens.end(), {Instruction(kAdd, 3), Destination(kTemp, 0),
                                     Source(kTemp, 0), Source(kConst, 0)});
    }
    tokens.insert(tokens.end(), {Instruction(kMov, 2), Destination(kColorOut, 0),
                                 Source(kTemp, 0), kEnd});
    return tokens;
}

void EffectWriter::AddTexture(const std::string& name) {
    parameters_.push_back({Parameter::kTexture, name, {}, {}});
}

void EffectWriter::AddSampler(const std::string& name, const std::string& texture) {
    parameters_.push_back({Parameter::kSampler, name, texture, {}});
}

void EffectWriter::AddFloat4(const std::string& name, const float (&initial)[4]) {
    Parameter parameter{Parameter::kFloat4, name, {}, {}};
    std::memcpy(parameter.initial, initial, sizeof initial);
    parameters_.push_back(parameter);
}

void EffectWriter::AddTechnique(const std::string& name, const std::vector<Pass>& passes) {
    techniques_.push_back({name, passes});
}

// The container: the tag, the offset of the main structure, then the data
// that the main structure points into (names, type definitions, values),
// then the main structure: parameters, techniques, and the resources that
// fill object states (shader bytecode, referenced parameter names).
std::vector<uint8_t> EffectWriter::Finish() const {
    Bytes data;
    Bytes main;
    Bytes resources;
    uint32_t resourceCount = 0;
    uint32_t nextObject = 1;  // object 0 is never referenced

    const uint32_t noName = data.Dword(0);
    auto objectType = [&](Type type, uint32_t name) {
        uint32_t at = data.Dword(type);
        data.Dword(kObject);
        data.Dword(name);
        data.Dword(noName);  // semantic
        data.Dword(0);       // elements
        return at;
    };
    const uint32_t scalarIntType = data.Dword(kInt);
    data.Dword(kScalar);
    data.Dword(noName);
    data.Dword(noName);
    data.Dword(0);
    data.Dword(1);  // rows
    data.Dword(1);  // columns
    const uint32_t textureStateType = objectType(kTextureType, noName);
    const uint32_t pixelShaderType = objectType(kPixelShaderType, noName);

    main.Dword(static_cast<uint32_t>(parameters_.size()));
    main.Dword(static_cast<uint32_t>(techniques_.size()));
    main.Dword(0);
    const uint32_t objectCountAt = main.Dword(0);

    for (uint32_t index = 0; index < parameters_.size(); ++index) {
        const Parameter& parameter = parameters_[index];
        const uint32_t name = data.Name(parameter.name);
        uint32_t type = 0;
        uint32_t value = 0;
        switch (parameter.kind) {
            case Parameter::kTexture:
                type = objectType(kTextureType, name);
                value = data.Dword(nextObject++);
                break;
            case Parameter::kFloat4:
                type = data.Dword(kFloat);
                data.Dword(kVector);
                data.Dword(name);
                data.Dword(noName);
                data.Dword(0);  // elements
                data.Dword(4);  // columns
                data.Dword(1);  // rows
                value = data.Offset();
                data.Append(parameter.initial, sizeof parameter.initial);
                break;
            case Parameter::kSampler: {
                type = objectType(kSampler2DType, name);
                struct StateValue {
                    uint32_t operation;
                    uint32_t type;
                    uint32_t value;
                };
                const uint32_t textureObject = nextObject++;
                const StateValue states[] = {
                    {kTextureState, textureStateType, data.Dword(textureObject)},
                    {kMinFilter, scalarIntType, data.Dword(kTexfPoint)},
                    {kMagFilter, scalarIntType, data.Dword(kTexfPoint)},
                    {kMipFilter, scalarIntType, data.Dword(kTexfNone)},
                    {kAddressU, scalarIntType, data.Dword(kAddressClamp)},
                    {kAddressV, scalarIntType, data.Dword(kAddressClamp)},
                };
                value = data.Dword(static_cast<uint32_t>(std::size(states)));
                for (const StateValue& state : states) {
                    data.Dword(state.operation);
                    data.Dword(0);  // index
                    data.Dword(state.type);
                    data.Dword(state.value);
                }
                // The texture state names its texture parameter; D3DX resolves it.
                resources.Dword(kNoIndex);  // a parameter's state, not a pass's
                resources.Dword(index);
                resources.Dword(kNoIndex);  // not an array element
                resources.Dword(0);         // the texture state is the sampler's first
                resources.Dword(kUsageParameterName);
                resources.Name(parameter.texture);
                ++resourceCount;
                break;
            }
        }
        main.Dword(type);
        main.Dword(value);
        main.Dword(0);  // flags
        main.Dword(0);  // annotations
    }

    for (uint32_t t = 0; t < techniques_.size(); ++t) {
        const Technique& technique = techniques_[t];
        main.Dword(data.Name(technique.name));
        main.Dword(0);  // annotations
        main.Dword(static_cast<uint32_t>(technique.passes.size()));
        for (uint32_t p = 0; p < technique.passes.size(); ++p) {
            const Pass& pass = technique.passes[p];
            main.Dword(data.Name(pass.name));
            main.Dword(0);  // annotations
            main.Dword(1);  // states: the pixel shader only
            main.Dword(kPixelShaderState);
            main.Dword(0);
            main.Dword(pixelShaderType);
            main.Dword(data.Dword(nextObject++));

            resources.Dword(t);
            resources.Dword(p);
            resources.Dword(kNoIndex);
            resources.Dword(0);  // the pass's first state
            resources.Dword(kUsageObject);
            resources.Dword(static_cast<uint32_t>(pass.pixelShader.size() * 4));
            resources.Append(pass.pixelShader.data(), pass.pixelShader.size() * 4);
            ++resourceCount;
        }
    }

    main.PatchDword(objectCountAt, nextObject);
    main.Dword(0);  // strings
    main.Dword(resourceCount);
    main.Append(resources.Data().data(), resources.Data().size());

    Bytes file;
    file.Dword(kEffectTag);
    file.Dword(data.Offset());
    file.Append(data.Data().data(), data.Data().size());
    file.Append(main.Data().data(), main.Data().size());
    return file.Data();
}

std::vector<uint8_t> BuildEffect(Effect effect) {
    static const std::string kOffset = "ycOffs";
    const float zero[4] = {0, 0, 0, 0};
    const std::string* addend = effect == Effect::kAddYcOffs ? &kOffset : nullptr;
    EffectWriter writer;
    writer.AddTexture("txTgt");
    writer.AddTexture("txTmp");
    writer.AddSampler("sTgt", "txTgt");
    writer.AddSampler("sTmp", "txTmp");
    writer.AddFloat4(kOffset, zero);
    writer.AddTechnique("ColorCorrection",
                        {{"P0", SamplingShader("sTgt", addend)},
                         {"P1", SamplingShader("sTmp", addend)}});
    return writer.Finish();
}

}  // namespace fx2
