#include "platform/d3dx9/fx_parser.h"

#include <cctype>
#include <cstdlib>
#include <optional>

#include "platform/d3dx9/fx_lexer.h"

namespace {

// HLSL numeric types a parameter may have, with their shape.
bool NumericShape(std::string_view type, uint32_t* rows, uint32_t* columns) {
    for (std::string_view base : {"float", "half", "double", "int", "uint", "bool", "dword"}) {
        if (type.substr(0, base.size()) != base) continue;
        std::string_view shape = type.substr(base.size());
        *rows = 1;
        *columns = 1;
        if (shape.empty()) return true;
        auto digit = [](char c) { return c >= '1' && c <= '4'; };
        if (shape.size() == 1 && digit(shape[0])) {
            *columns = static_cast<uint32_t>(shape[0] - '0');
            return true;
        }
        if (shape.size() == 3 && digit(shape[0]) && shape[1] == 'x' && digit(shape[2])) {
            *rows = static_cast<uint32_t>(shape[0] - '0');
            *columns = static_cast<uint32_t>(shape[2] - '0');
            return true;
        }
        return false;
    }
    return false;
}

bool IsTextureType(const Token& token) {
    for (std::string_view type : {"texture", "texture1d", "texture2d", "texture3d", "texturecube"}) {
        if (token.IsKeyword(type)) return true;
    }
    return false;
}

// The sampler type the compiler gets for an effect's sampler declaration.
const char* SamplerType(const Token& token) {
    if (token.text == "sampler" || token.text == "sampler2D") return "sampler2D";
    if (token.text == "sampler1D") return "sampler1D";
    if (token.text == "sampler3D") return "sampler3D";
    if (token.text == "samplerCUBE") return "samplerCUBE";
    return nullptr;
}

bool IsQualifier(const Token& token) {
    for (std::string_view q : {"uniform", "extern", "shared", "static", "const", "volatile",
                               "row_major", "column_major", "inline", "precise"}) {
        if (token.text == q) return true;
    }
    return false;
}

class Parser {
public:
    Parser(std::string_view source, const std::string& file, FxEffect* effect,
           std::string* messages)
        : source_(source), file_(file), effect_(effect), messages_(messages), lexer_(source) {
        Advance();
    }

    bool Parse();

private:
    struct Edit {
        size_t begin;
        size_t end;
        std::string replacement;
    };

    void Advance() {
        end_ = token_.offset + token_.text.size();
        token_ = lexer_.Next();
    }
    // The end of the input, or a comment or string that never ends.
    bool AtEnd() const {
        return token_.kind == TokenKind::End || token_.kind == TokenKind::Invalid;
    }
    bool Fail(const Token& at, const std::string& text) {
        if (messages_->empty()) {
            *messages_ += file_ + "(" + std::to_string(at.line) + "," +
                          std::to_string(at.column) + "): error X3000: " + text + "\n";
        }
        return false;
    }
    bool Unexpected() {
        if (token_.kind == TokenKind::End) return Fail(token_, "unexpected end of file");
        return Fail(token_, "syntax error: unexpected token '" + std::string(token_.text) + "'");
    }
    bool Expect(char punctuation) {
        if (!token_.Is(punctuation)) return Unexpected();
        Advance();
        return true;
    }
    bool ExpectIdentifier(std::string* name) {
        if (token_.kind != TokenKind::Identifier) return Unexpected();
        *name = std::string(token_.text);
        Advance();
        return true;
    }
    // Skips a bracketed group starting at the opening token, nested groups
    // of the same kind included.
    bool SkipGroup(char open, char close) {
        int depth = 0;
        do {
            if (AtEnd()) {
                return Unexpected();
            }
            if (token_.Is(open)) ++depth;
            if (token_.Is(close)) --depth;
            Advance();
        } while (depth > 0);
        return true;
    }
    // Skips to the ';' that ends a statement at this level, and past it.
    bool SkipStatement() {
        while (!token_.Is(';')) {
            if (AtEnd() ||
                token_.Is('}')) {
                return Unexpected();
            }
            if (token_.Is('{')) {
                if (!SkipGroup('{', '}')) return false;
            } else if (token_.Is('(')) {
                if (!SkipGroup('(', ')')) return false;
            } else {
                Advance();
            }
        }
        Advance();
        return true;
    }
    bool SkipAnnotations() {
        if (!token_.Is('<')) return true;
        size_t begin = token_.offset;
        while (!token_.Is('>')) {
            if (AtEnd()) {
                return Unexpected();
            }
            Advance();
        }
        Advance();
        Blank(begin, end_);
        return true;
    }
    void Blank(size_t begin, size_t end, std::string replacement = {}) {
        edits_.push_back({begin, end, std::move(replacement)});
    }

    bool ParseTechnique();
    bool ParsePass(FxTechnique* technique);
    bool ParseShaderAssignment(FxShader* shader, bool pixel);
    bool ParseDeclaration();
    bool ParseSamplerState(FxSamplerState* state);
    bool ParseInitialValues(std::vector<float>* values);
    bool ParseValues(std::vector<float>* values, char end, char close);
    bool ParseParameterList(FxFunction* function);
    std::string BuildHlsl() const;

    std::string_view source_;
    const std::string& file_;
    FxEffect* effect_;
    std::string* messages_;
    FxLexer lexer_;
    Token token_;
    size_t end_ = 0;  // end of the last token taken
    std::vector<Edit> edits_;
};

bool Parser::Parse() {
    while (token_.kind != TokenKind::End) {
        if (token_.kind == TokenKind::Invalid) return Unexpected();
        if (token_.Is(';')) {
            Advance();
        } else if (token_.IsKeyword("technique") || token_.IsKeyword("technique9")) {
            if (!ParseTechnique()) return false;
        } else if (token_.text == "struct" || token_.text == "cbuffer") {
            Advance();
            while (!token_.Is('{')) {
                if (AtEnd() || token_.Is(';')) return Unexpected();
                Advance();
            }
            if (!SkipGroup('{', '}')) return false;
        } else if (token_.text == "typedef") {
            if (!SkipStatement()) return false;
        } else if (token_.kind == TokenKind::Identifier) {
            if (!ParseDeclaration()) return false;
        } else {
            return Unexpected();
        }
    }
    effect_->hlsl = BuildHlsl();
    return true;
}

bool Parser::ParseTechnique() {
    size_t begin = token_.offset;
    Advance();
    FxTechnique technique;
    if (token_.kind == TokenKind::Identifier) {
        technique.name = std::string(token_.text);
        Advance();
    }
    if (!SkipAnnotations() || !Expect('{')) return false;
    while (!token_.Is('}')) {
        if (!token_.IsKeyword("pass")) return Unexpected();
        if (!ParsePass(&technique)) return false;
    }
    Advance();
    Blank(begin, end_);
    effect_->techniques.push_back(std::move(technique));
    return true;
}

bool Parser::ParsePass(FxTechnique* technique) {
    Advance();
    FxPass pass;
    if (token_.kind == TokenKind::Identifier) {
        pass.name = std::string(token_.text);
        Advance();
    }
    if (!SkipAnnotations() || !Expect('{')) return false;
    while (!token_.Is('}')) {
        Token state = token_;
        std::string name;
        if (!ExpectIdentifier(&name)) return false;
        if (token_.Is('[') && !SkipGroup('[', ']')) return false;
        if (!Expect('=')) return false;
        if (state.IsKeyword("pixelshader")) {
            if (!ParseShaderAssignment(&pass.pixelShader, true)) return false;
        } else if (state.IsKeyword("vertexshader")) {
            if (!ParseShaderAssignment(&pass.vertexShader, false)) return false;
        } else if (!SkipStatement()) {  // render states: nothing here draws with them
            return false;
        }
    }
    Advance();
    technique->passes.push_back(std::move(pass));
    return true;
}

bool Parser::ParseShaderAssignment(FxShader* shader, bool pixel) {
    if (token_.IsKeyword("null")) {
        Advance();
        return Expect(';');
    }
    if (!token_.IsKeyword("compile")) {
        return Fail(token_, "only 'compile profile Function()' or NULL can set a shader");
    }
    Advance();
    Token profile = token_;
    if (!ExpectIdentifier(&shader->profile)) return false;
    std::string_view kind = pixel ? "ps_" : "vs_";
    if (shader->profile.size() < 5 || std::string_view(shader->profile).substr(0, 3) != kind) {
        return Fail(profile, "invalid profile '" + shader->profile + "'");
    }
    shader->line = token_.line;
    shader->column = token_.column;
    if (!ExpectIdentifier(&shader->entry) || !Expect('(')) return false;
    while (!token_.Is(')')) {
        std::vector<float> values;
        if (!ParseValues(&values, ',', ')')) return false;
        if (values.empty()) return Fail(token_, "a shader argument must be a constant");
        shader->arguments.push_back(std::move(values));
        if (token_.Is(',')) Advance();
    }
    Advance();
    shader->present = true;
    return Expect(';');
}

bool Parser::ParseDeclaration() {
    size_t begin = token_.offset;
    bool isStatic = false;
    while (IsQualifier(token_)) {
        if (token_.text == "static" || token_.text == "const") isStatic = true;
        // Effect pools are not kept; the compiler does not know the word.
        if (token_.text == "shared") Blank(token_.offset, token_.offset + token_.text.size());
        Advance();
    }
    Token type = token_;
    std::string typeName;
    if (!ExpectIdentifier(&typeName)) return false;
    if ((typeName == "vector" || typeName == "matrix") && token_.Is('<') &&
        !SkipGroup('<', '>')) {
        return false;
    }
    std::string name;
    if (!ExpectIdentifier(&name)) return false;

    if (token_.Is('(')) {  // a function: the compiler's business, but for its uniforms
        FxFunction function{name, {}};
        if (!ParseParameterList(&function)) return false;
        effect_->functions.push_back(std::move(function));
        while (!token_.Is('{') && !token_.Is(';')) {
            if (AtEnd()) {
                return Unexpected();
            }
            Advance();
        }
        if (token_.Is(';')) {
            Advance();
            return true;
        }
        return SkipGroup('{', '}');
    }

    FxParameter parameter;
    parameter.name = name;
    bool numeric = NumericShape(typeName, &parameter.rows, &parameter.columns);
    const char* samplerType = SamplerType(type);
    if (IsTextureType(type)) {
        parameter.kind = ParameterKind::Texture;
    } else if (samplerType != nullptr) {
        parameter.kind = ParameterKind::Sampler;
    } else if (typeName == "string") {
        parameter.kind = ParameterKind::String;
    }

    if (token_.Is('[')) {
        Advance();
        if (token_.kind != TokenKind::Number) return Unexpected();
        unsigned long elements = std::strtoul(std::string(token_.text).c_str(), nullptr, 10);
        if (elements == 0 || elements > 4096) return Fail(token_, "invalid array size");
        parameter.elements = static_cast<uint32_t>(elements);
        Advance();
        if (!Expect(']')) return false;
    }
    if (token_.Is(':')) {  // semantic or register
        Advance();
        std::string semantic;
        if (!ExpectIdentifier(&semantic)) return false;
        if (token_.Is('(') && !SkipGroup('(', ')')) return false;
    }
    if (!SkipAnnotations()) return false;
    if (token_.Is('=')) {
        size_t initialiser = token_.offset;
        Advance();
        if (parameter.kind == ParameterKind::Sampler) {
            if (!token_.IsKeyword("sampler_state")) {
                return Fail(token_, "a sampler is initialised with sampler_state");
            }
            Advance();
            if (!ParseSamplerState(&parameter.sampler)) return false;
        } else if (parameter.kind == ParameterKind::Numeric && numeric) {
            if (!ParseInitialValues(&parameter.values)) return false;
            // The framework writes initial values itself; the compiler
            // would ignore them and may not read every form of them.
            if (!isStatic) Blank(initialiser, token_.offset);
        } else {
            while (!token_.Is(';')) {
                if (AtEnd()) {
                    return Unexpected();
                }
                Advance();
            }
        }
    }
    if (token_.Is(',')) return Fail(token_, "declare one parameter per statement");
    if (!Expect(';')) return false;

    switch (parameter.kind) {
        case ParameterKind::Texture:
        case ParameterKind::String:
            Blank(begin, end_);
            break;
        case ParameterKind::Sampler:
            Blank(begin, end_, std::string(samplerType) + " " + name + ";");
            break;
        case ParameterKind::Numeric:
            if (isStatic || !numeric) return true;
            break;
    }
    for (const FxParameter& existing : effect_->parameters) {
        if (existing.name == name) return Fail(type, "redefinition of '" + name + "'");
    }
    parameter.values.resize(size_t{parameter.rows} * parameter.columns * parameter.elements);
    effect_->parameters.push_back(std::move(parameter));
    return true;
}

bool Parser::ParseSamplerState(FxSamplerState* state) {
    if (!Expect('{')) return false;
    while (!token_.Is('}')) {
        Token name = token_;
        std::string ignored;
        if (!ExpectIdentifier(&ignored)) return false;
        if (!Expect('=')) return false;
        if (name.IsKeyword("texture")) {
            bool angle = token_.Is('<');
            bool paren = token_.Is('(');
            if (angle || paren) Advance();
            if (!ExpectIdentifier(&state->texture)) return false;
            if ((angle && !Expect('>')) || (paren && !Expect(')'))) return false;
            if (!Expect(';')) return false;
            continue;
        }
        Token value = token_;
        bool filter = name.IsKeyword("minfilter") || name.IsKeyword("magfilter") ||
                      name.IsKeyword("mipfilter");
        bool address = name.IsKeyword("addressu") || name.IsKeyword("addressv") ||
                       name.IsKeyword("addressw");
        if ((filter || address) && !ExpectIdentifier(&ignored)) return false;
        if (filter) {
            SamplerFilter mode;
            if (value.IsKeyword("point") || value.IsKeyword("none")) {
                mode = SamplerFilter::Point;
            } else if (value.IsKeyword("linear") || value.IsKeyword("anisotropic")) {
                mode = SamplerFilter::Linear;
            } else {
                return Fail(value, "invalid filter '" + std::string(value.text) + "'");
            }
            if (name.IsKeyword("minfilter")) state->minFilter = mode;
            if (name.IsKeyword("magfilter")) state->magFilter = mode;
        } else if (address) {
            SamplerAddress mode;
            if (value.IsKeyword("wrap")) {
                mode = SamplerAddress::Wrap;
            } else if (value.IsKeyword("mirror")) {
                mode = SamplerAddress::Mirror;
            } else if (value.IsKeyword("clamp")) {
                mode = SamplerAddress::Clamp;
            } else if (value.IsKeyword("border")) {
                mode = SamplerAddress::Border;
            } else if (value.IsKeyword("mirroronce")) {
                mode = SamplerAddress::MirrorOnce;
            } else {
                return Fail(value, "invalid address mode '" + std::string(value.text) + "'");
            }
            if (name.IsKeyword("addressu")) state->addressU = mode;
            if (name.IsKeyword("addressv")) state->addressV = mode;
        }
        // Other states (border colour, anisotropy, sRGB) have no effect here.
        while (!token_.Is(';')) {
            if (AtEnd() || token_.Is('}')) return Unexpected();
            Advance();
        }
        Advance();
    }
    Advance();
    return true;
}

// The names of a function's uniform parameters, which compile arguments set.
bool Parser::ParseParameterList(FxFunction* function) {
    Advance();  // (
    bool uniform = false;
    std::string last;
    int depth = 0;
    while (depth > 0 || !token_.Is(')')) {
        if (AtEnd()) return Unexpected();
        if (token_.Is('(') || token_.Is('<')) ++depth;
        if (token_.Is(')') || token_.Is('>')) --depth;
        if (depth == 0 && (token_.Is(',') || token_.Is(':') || token_.Is('='))) {
            if (uniform && !last.empty()) function->uniformParameters.push_back(last);
            uniform = false;
            last.clear();
            // Skip the semantic or default value up to the next parameter.
            while (!token_.Is(',') && !token_.Is(')')) {
                if (AtEnd()) return Unexpected();
                if (token_.Is('(')) {
                    if (!SkipGroup('(', ')')) return false;
                } else {
                    Advance();
                }
            }
            if (token_.Is(')')) break;
        } else if (token_.text == "uniform") {
            uniform = true;
        } else if (token_.kind == TokenKind::Identifier) {
            last = std::string(token_.text);
        }
        Advance();
    }
    if (uniform && !last.empty()) function->uniformParameters.push_back(last);
    Advance();  // )
    return true;
}

// Numbers of "1.5", "float4(1, -2, 3, 4)", "{1, 2, 3, 4}" or "true", in order.
bool Parser::ParseInitialValues(std::vector<float>* values) {
    return ParseValues(values, ';', ';');
}

// The numbers up to an end token outside brackets (not taken).
bool Parser::ParseValues(std::vector<float>* values, char end, char close) {
    bool negative = false;
    int depth = 0;
    while (depth > 0 || (!token_.Is(end) && !token_.Is(close))) {
        if (AtEnd()) return Unexpected();
        if (token_.Is('(') || token_.Is('{')) ++depth;
        if (token_.Is(')') || token_.Is('}')) --depth;
        if (depth < 0) return Unexpected();
        if (token_.kind == TokenKind::Number) {
            float value = std::strtof(std::string(token_.text).c_str(), nullptr);
            values->push_back(negative ? -value : value);
        } else if (token_.text == "true" || token_.text == "false") {
            values->push_back(token_.text == "true" ? 1.0f : 0.0f);
        }
        negative = token_.Is('-');
        Advance();
    }
    return true;
}

// Blanked text keeps its line breaks; a replacement takes the place of the
// first characters, so that every later line keeps its number.
std::string Parser::BuildHlsl() const {
    std::string hlsl(source_);
    for (const Edit& edit : edits_) {
        for (size_t i = edit.begin; i < edit.end; ++i) {
            if (hlsl[i] != '\n' && hlsl[i] != '\r') hlsl[i] = ' ';
        }
    }
    // Replacements from the back, so earlier offsets stay valid.
    for (auto edit = edits_.rbegin(); edit != edits_.rend(); ++edit) {
        if (edit->replacement.empty()) continue;
        size_t room = 0;
        while (edit->begin + room < edit->end && hlsl[edit->begin + room] == ' ') ++room;
        if (room >= edit->replacement.size()) {
            hlsl.replace(edit->begin, edit->replacement.size(), edit->replacement);
        } else {
            hlsl.replace(edit->begin, room, edit->replacement);
        }
    }
    return hlsl;
}

}  // namespace

bool ParseEffect(std::string_view source, const std::string& file, FxEffect* effect,
                 std::string* messages) {
    *effect = FxEffect{};
    return Parser(source, file, effect, messages).Parse();
}
