#include "platform/d3dx9/fx_lexer.h"

#include <cctype>

namespace {

bool IsIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool IsIdentifierPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

}  // namespace

bool Token::IsKeyword(std::string_view keyword) const {
    if (kind != TokenKind::Identifier || text.size() != keyword.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != keyword[i]) return false;
    }
    return true;
}

void FxLexer::Advance() {
    if (source_[position_] == '\n') {
        ++line_;
        column_ = 1;
        lineStart_ = true;
    } else {
        ++column_;
    }
    ++position_;
}

void FxLexer::SkipSpaceAndComments() {
    while (position_ < source_.size()) {
        char c = Peek();
        if (c == '\n') {
            Advance();
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            Advance();
        } else if (c == '/' && Peek(1) == '/') {
            while (position_ < source_.size() && Peek() != '\n') Advance();
        } else if (c == '/' && Peek(1) == '*') {
            uint32_t line = line_;
            uint32_t column = column_;
            Advance();
            Advance();
            while (position_ < source_.size() && !(Peek() == '*' && Peek(1) == '/')) Advance();
            if (position_ >= source_.size()) {
                // Reported where the comment begins.
                unterminated_ = true;
                line_ = line;
                column_ = column;
                return;
            }
            Advance();
            Advance();
        } else if (c == '#' && lineStart_) {
            // A preprocessor line, continued by backslashes.
            while (position_ < source_.size() && Peek() != '\n') {
                if (Peek() == '\\' && Peek(1) == '\n') Advance();
                Advance();
            }
        } else {
            return;
        }
    }
}

Token FxLexer::Next() {
    SkipSpaceAndComments();
    Token token;
    token.offset = position_;
    token.line = line_;
    token.column = column_;
    if (unterminated_) {
        token.kind = TokenKind::Invalid;
        token.text = "/*";
        return token;
    }
    if (position_ >= source_.size()) {
        token.kind = TokenKind::End;
        return token;
    }
    lineStart_ = false;
    size_t start = position_;
    char c = Peek();
    if (IsIdentifierStart(c)) {
        token.kind = TokenKind::Identifier;
        while (IsIdentifierPart(Peek())) Advance();
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && std::isdigit(static_cast<unsigned char>(Peek(1))))) {
        token.kind = TokenKind::Number;
        while (IsIdentifierPart(Peek()) || Peek() == '.' ||
               ((Peek() == '+' || Peek() == '-') &&
                (source_[position_ - 1] == 'e' || source_[position_ - 1] == 'E'))) {
            Advance();
        }
    } else if (c == '"') {
        token.kind = TokenKind::String;
        Advance();
        while (position_ < source_.size() && Peek() != '"' && Peek() != '\n') {
            if (Peek() == '\\' && position_ + 1 < source_.size()) Advance();
            Advance();
        }
        if (Peek() != '"') {
            token.kind = TokenKind::Invalid;
        } else {
            Advance();
        }
    } else {
        token.kind = TokenKind::Punctuation;
        Advance();
    }
    token.text = source_.substr(start, position_ - start);
    return token;
}
