#include "platform/d3dx9/hlsl_compiler.h"

#include <glslang/Include/Types.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>

#include <cctype>
#include <map>
#include <set>
#include <cstdlib>
#include <mutex>
#include <sstream>

namespace {

// OpenGL's type enumerants, which glslang's reflection reports.
enum GlType : int {
    kFloat = 0x1406, kFloatVec2 = 0x8B50, kFloatVec3 = 0x8B51, kFloatVec4 = 0x8B52,
    kInt = 0x1404, kIntVec2 = 0x8B53, kIntVec3 = 0x8B54, kIntVec4 = 0x8B55,
    kUint = 0x1405, kBool = 0x8B56, kBoolVec2 = 0x8B57, kBoolVec3 = 0x8B58, kBoolVec4 = 0x8B59,
    kFloatMat2 = 0x8B5A, kFloatMat3 = 0x8B5B, kFloatMat4 = 0x8B5C,
};

bool DescribeUniformType(int glType, ShaderUniform* uniform) {
    switch (glType) {
        case kFloat: case kFloatVec2: case kFloatVec3: case kFloatVec4:
            uniform->type = UniformType::Float;
            uniform->columns = glType == kFloat ? 1 : static_cast<uint32_t>(glType - kFloatVec2 + 2);
            return true;
        case kInt: case kUint: case kIntVec2: case kIntVec3: case kIntVec4:
            uniform->type = UniformType::Int;
            uniform->columns = glType == kInt || glType == kUint
                                   ? 1 : static_cast<uint32_t>(glType - kIntVec2 + 2);
            return true;
        case kBool: case kBoolVec2: case kBoolVec3: case kBoolVec4:
            uniform->type = UniformType::Bool;
            uniform->columns = glType == kBool ? 1 : static_cast<uint32_t>(glType - kBoolVec2 + 2);
            return true;
        case kFloatMat2: case kFloatMat3: case kFloatMat4:
            uniform->type = UniformType::Float;
            uniform->rows = uniform->columns = static_cast<uint32_t>(glType - kFloatMat2 + 2);
            return true;
        default:
            return false;
    }
}

void DescribeSemantic(const char* semantic, ShaderInput* input) {
    std::string name(semantic != nullptr ? semantic : "");
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    input->color = name.rfind("COLOR", 0) == 0;
    if (name.rfind("TEXCOORD", 0) != 0) return;
    unsigned long set = std::strtoul(name.c_str() + 8, nullptr, 10);
    input->texcoord = set < 8 ? static_cast<uint32_t>(set) : 0;
}

// glslang writes "ERROR: file:line: text" (or "ERROR: file:line:column:");
// D3DX's compiler writes "file(line,column): error: text".
void AppendMessages(const char* log, const std::string& file, std::string* messages) {
    std::istringstream lines(log);
    std::string line;
    const std::string prefix = file + ":";
    while (std::getline(lines, line)) {
        std::string kind;
        if (line.rfind("ERROR: ", 0) == 0) {
            kind = "error";
            line.erase(0, 7);
        } else if (line.rfind("WARNING: ", 0) == 0) {
            kind = "warning";
            line.erase(0, 9);
        } else {
            continue;
        }
        // Summary lines ("N compilation errors") carry no place.
        if (line.rfind(prefix, 0) != 0) {
            if (line.find("compilation error") != std::string::npos) continue;
            *messages += file + "(1,1): " + kind + ": " + line + "\n";
            continue;
        }
        size_t at = prefix.size();
        unsigned long lineNumber = std::strtoul(line.c_str() + at, nullptr, 10);
        size_t colon = line.find(':', at);
        unsigned long column = 1;
        if (colon != std::string::npos && colon + 1 < line.size() &&
            std::isdigit(static_cast<unsigned char>(line[colon + 1]))) {
            column = std::strtoul(line.c_str() + colon + 1, nullptr, 10);
            colon = line.find(':', colon + 1);
        }
        std::string text = colon == std::string::npos ? "" : line.substr(colon + 1);
        while (!text.empty() && text.front() == ' ') text.erase(0, 1);
        *messages += file + "(" + std::to_string(lineNumber) + "," + std::to_string(column) +
                     "): " + kind + ": " + text + "\n";
    }
}

// What only the final SPIR-V tells: the input locations it still reads, with
// their component counts (the optimiser drops inputs the shader never uses,
// which reflection, taken before it, still lists), and the offsets of the
// members of $Global (reflection has none for the entry point's uniform
// parameters, which join the block late).
struct SpirvFacts {
    std::map<uint32_t, uint32_t> liveInputs;
    std::map<std::string, uint32_t> globalOffsets;
};

std::string SpirvString(const uint32_t* words, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        for (int byte = 0; byte < 4; ++byte) {
            char c = static_cast<char>((words[i] >> (8 * byte)) & 0xFF);
            if (c == '\0') return text;
            text += c;
        }
    }
    return text;
}

SpirvFacts ReadSpirv(const std::vector<uint32_t>& spirv) {
    constexpr uint32_t kOpName = 5, kOpMemberName = 6, kOpEntryPoint = 15, kOpTypeVector = 23,
                       kOpTypePointer = 32, kOpVariable = 59, kOpDecorate = 71,
                       kOpMemberDecorate = 72, kDecorationLocation = 30, kDecorationOffset = 35,
                       kStorageInput = 1;
    std::set<uint32_t> interface;
    std::map<uint32_t, uint32_t> locationOf, vectorSize, pointee, variableType;
    uint32_t global = 0;
    std::map<uint32_t, std::string> memberNames;
    std::map<uint32_t, uint32_t> memberOffsets;
    std::vector<std::pair<uint32_t, std::pair<uint32_t, std::string>>> names;
    std::vector<std::pair<uint32_t, std::pair<uint32_t, uint32_t>>> offsets;
    for (size_t at = 5; at < spirv.size();) {
        uint32_t count = spirv[at] >> 16;
        uint32_t opcode = spirv[at] & 0xFFFF;
        if (count == 0 || at + count > spirv.size()) break;
        const uint32_t* word = &spirv[at];
        if (opcode == kOpName && count >= 3 && SpirvString(word + 2, count - 2) == "$Global") {
            global = word[1];
        } else if (opcode == kOpMemberName && count >= 4) {
            names.push_back({word[1], {word[2], SpirvString(word + 3, count - 3)}});
        } else if (opcode == kOpMemberDecorate && count >= 5 && word[3] == kDecorationOffset) {
            offsets.push_back({word[1], {word[2], word[4]}});
        } else if (opcode == kOpEntryPoint) {
            // Execution model, id, then the name as a zero-ended string.
            size_t i = 3;
            while (i < count && (word[i] >> 24) != 0) ++i;
            for (++i; i < count; ++i) interface.insert(word[i]);
        } else if (opcode == kOpDecorate && count >= 4 && word[2] == kDecorationLocation) {
            locationOf[word[1]] = word[3];
        } else if (opcode == kOpTypeVector && count >= 4) {
            vectorSize[word[1]] = word[3];
        } else if (opcode == kOpTypePointer && count >= 4 && word[2] == kStorageInput) {
            pointee[word[1]] = word[3];
        } else if (opcode == kOpVariable && count >= 4 && word[3] == kStorageInput) {
            variableType[word[2]] = word[1];
        }
        at += count;
    }
    SpirvFacts facts;
    for (const auto& [variable, pointer] : variableType) {
        if (!interface.count(variable) || !locationOf.count(variable)) continue;
        auto size = vectorSize.find(pointee[pointer]);
        facts.liveInputs[locationOf[variable]] = size != vectorSize.end() ? size->second : 1;
    }
    for (const auto& [type, member] : names) {
        if (type != global) continue;
        for (const auto& [offsetType, offset] : offsets) {
            if (offsetType == global && offset.first == member.first) {
                facts.globalOffsets[member.second] = offset.second;
            }
        }
    }
    return facts;
}

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { glslang::InitializeProcess(); });
}

}  // namespace

bool CompileHlsl(const std::string& source, const std::string& file, const std::string& entry,
                 ShaderStage stage, CompiledShader* shader, std::string* messages) {
    InitialiseOnce();
    EShLanguage language = stage == ShaderStage::Pixel ? EShLangFragment : EShLangVertex;
    glslang::TShader unit(language);
    const char* text = source.c_str();
    const int length = static_cast<int>(source.size());
    const char* name = file.c_str();
    unit.setStringsWithLengthsAndNames(&text, &length, &name, 1);
    unit.setEntryPoint("main");
    unit.setSourceEntryPoint(entry.c_str());
    unit.setEnvInput(glslang::EShSourceHlsl, language, glslang::EShClientVulkan, 100);
    unit.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    unit.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    unit.setHlslIoMapping(true);
    unit.setAutoMapBindings(true);
    unit.setAutoMapLocations(true);
    // $Global on binding 0, samplers (DX9 samplers count as textures) after it.
    unit.setShiftBinding(glslang::EResUbo, 0);
    unit.setShiftBinding(glslang::EResTexture, 1);
    unit.setShiftBinding(glslang::EResSampler, 1);

    auto rules = static_cast<EShMessages>(EShMsgReadHlsl | EShMsgSpvRules | EShMsgVulkanRules |
                                          EShMsgHlslDX9Compatible | EShMsgHlslOffsets);
    if (!unit.parse(GetDefaultResources(), 110, false, rules)) {
        AppendMessages(unit.getInfoLog(), file, messages);
        return false;
    }
    glslang::TProgram program;
    program.addShader(&unit);
    if (!program.link(rules)) {
        AppendMessages(program.getInfoLog(), file, messages);
        return false;
    }
    // A missing entry point only warns at link; the mapping then fails.
    if (!program.mapIO() || program.getIntermediate(language) == nullptr ||
        program.getIntermediate(language)->getTreeRoot() == nullptr) {
        *messages += file + "(1,1): error: entry point '" + entry + "' not found\n";
        return false;
    }
    program.buildReflection(EShReflectionIntermediateIO);

    *shader = CompiledShader{};
    glslang::SpvOptions options;
    options.disableOptimizer = false;  // HLSL needs SPIRV-Tools' legalisation
    options.validate = false;
    glslang::GlslangToSpv(*program.getIntermediate(language), shader->spirv, &options);
    if (shader->spirv.empty()) return false;
    SpirvFacts facts = ReadSpirv(shader->spirv);
    for (int i = 0; i < program.getNumUniformBlocks(); ++i) {
        const glslang::TObjectReflection& block = program.getUniformBlock(i);
        if (block.name != "$Global") continue;
        shader->uniformBinding = static_cast<uint32_t>(block.getBinding());
        shader->uniformBytes = static_cast<uint32_t>(block.size);
    }
    for (int i = 0; i < program.getNumUniformVariables(); ++i) {
        const glslang::TObjectReflection& variable = program.getUniform(i);
        const glslang::TType* type = variable.getType();
        if (type != nullptr && type->getBasicType() == glslang::EbtSampler) {
            shader->samplers.push_back({variable.name, static_cast<uint32_t>(variable.getBinding())});
            continue;
        }
        ShaderUniform uniform;
        uniform.name = variable.name;
        auto offset = facts.globalOffsets.find(variable.name);
        if (offset == facts.globalOffsets.end()) continue;
        uniform.offset = offset->second;
        uniform.elements = variable.size > 0 ? static_cast<uint32_t>(variable.size) : 1;
        if (DescribeUniformType(variable.glDefineType, &uniform)) {
            shader->uniforms.push_back(uniform);
        }
    }

    if (stage == ShaderStage::Pixel) {
        for (int i = 0; i < program.getNumPipeInputs(); ++i) {
            const glslang::TType* type = program.getPipeInput(i).getType();
            if (type == nullptr || type->getQualifier().builtIn != glslang::EbvNone) continue;
            const glslang::TQualifier& qualifier = type->getQualifier();
            if (!qualifier.hasLocation()) continue;
            auto components = facts.liveInputs.find(qualifier.layoutLocation);
            if (components == facts.liveInputs.end()) continue;
            ShaderInput input;
            input.location = qualifier.layoutLocation;
            input.components = components->second;
            DescribeSemantic(qualifier.semanticName, &input);
            shader->inputs.push_back(input);
        }
    }
    return true;
}
