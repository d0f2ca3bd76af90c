// Tokens of a D3DX effect file, with the place of each for messages.
// Comments and preprocessor lines are skipped: they stay in the HLSL that
// the compiler reads, and the effect syntax never depends on them.
#pragma once

#include <cstdint>
#include <string_view>

enum class TokenKind { Identifier, Number, String, Punctuation, End, Invalid };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;
    size_t offset = 0;  // byte offset in the source
    uint32_t line = 1;
    uint32_t column = 1;

    bool Is(char punctuation) const {
        return kind == TokenKind::Punctuation && text.size() == 1 && text[0] == punctuation;
    }
    // Effect keywords are not case-sensitive ("Technique", "PASS").
    bool IsKeyword(std::string_view keyword) const;
};

class FxLexer {
public:
    explicit FxLexer(std::string_view source) : source_(source) {}
    Token Next();

private:
    void SkipSpaceAndComments();
    char Peek(size_t ahead = 0) const {
        return position_ + ahead < source_.size() ? source_[position_ + ahead] : '\0';
    }
    void Advance();

    std::string_view source_;
    size_t position_ = 0;
    uint32_t line_ = 1;
    uint32_t column_ = 1;
    bool lineStart_ = true;
    bool unterminated_ = false;
};
