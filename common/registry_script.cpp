#include "registry_script.h"

#include <cctype>
#include <stdexcept>

namespace tolvane {
namespace {

class ScriptParser {
public:
    ScriptParser(std::string_view text, const std::map<std::string, std::string>& replacements)
        : text_(text), replacements_(replacements) {}

    RegistryScript Parse() {
        RegistryScript script;
        while (!AtEnd()) {
            RegistryScriptRoot root;
            root.root = Word();
            Expect("{");
            root.keys = Keys();
            script.roots.push_back(std::move(root));
        }
        return script;
    }

private:
    struct Token {
        enum Kind { Word, Quoted, Open, Close, Equals, End } kind;
        std::string text;
    };

    void SkipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool AtEnd() {
        SkipSpace();
        return pos_ >= text_.size();
    }
    bool IsDelimiterAt(std::size_t i) const {
        return i >= text_.size() || std::isspace(static_cast<unsigned char>(text_[i]));
    }

    Token Next() {
        SkipSpace();
        if (pos_ >= text_.size()) return {Token::End, {}};
        char c = text_[pos_];
        // A brace alone is a block; a brace that starts a word is a GUID key name.
        if (c == '{' && IsDelimiterAt(pos_ + 1)) return ++pos_, Token{Token::Open, "{"};
        if (c == '}') return ++pos_, Token{Token::Close, "}"};
        if (c == '=') return ++pos_, Token{Token::Equals, "="};
        if (c == '\'') return {Token::Quoted, QuotedString()};
        std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '=' && !(text_[pos_] == '}' && pos_ > start && text_[start] != '{'))
            ++pos_;
        return {Token::Word, std::string(text_.substr(start, pos_ - start))};
    }

    Token Peek() {
        std::size_t saved = pos_;
        Token t = Next();
        pos_ = saved;
        return t;
    }

    std::string QuotedString() {
        ++pos_;  // opening quote
        std::string out;
        for (;;) {
            if (pos_ >= text_.size()) Fail("unterminated string");
            char c = text_[pos_++];
            if (c == '\'') {
                if (pos_ < text_.size() && text_[pos_] == '\'') {
                    out += '\'';
                    ++pos_;
                    continue;
                }
                return Substitute(out);
            }
            out += c;
        }
    }

    std::string Substitute(const std::string& s) const {
        std::string out;
        for (std::size_t i = 0; i < s.size();) {
            if (s[i] == '%') {
                std::size_t end = s.find('%', i + 1);
                if (end != std::string::npos) {
                    auto it = replacements_.find(s.substr(i + 1, end - i - 1));
                    if (it != replacements_.end()) {
                        out += it->second;
                        i = end + 1;
                        continue;
                    }
                }
            }
            out += s[i++];
        }
        return out;
    }

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error(what + " at offset " + std::to_string(pos_));
    }

    std::string Word() {
        Token t = Next();
        if (t.kind != Token::Word && t.kind != Token::Quoted) Fail("expected a name");
        return t.text;
    }

    void Expect(const char* what) {
        Token t = Next();
        if (t.text != what || t.kind == Token::Quoted) Fail(std::string("expected ") + what);
    }

    RegistryScriptValue ValueAfterEquals(std::string name) {
        Expect("=");
        Token type = Next();
        if (type.kind != Token::Word || (type.text != "s" && type.text != "d"))
            Fail("expected value type s or d");
        Token data = Next();
        if (data.kind != Token::Quoted) Fail("expected a quoted value");
        return {std::move(name), type.text[0], data.text};
    }

    // The contents of one { } block: keys (each with an optional block of its own) and
    // "val" entries, which belong to the key that owns the block. Real scripts nest a
    // handful of keys deep; the limit keeps a damaged resource from running the
    // registering thread out of stack.
    void Block(RegistryScriptKey& owner, int depth) {
        constexpr int kDeepestBlock = 64;
        if (depth > kDeepestBlock) Fail("keys nested too deep");
        RegistryScriptKey* current = nullptr;
        for (;;) {
            Token t = Next();
            if (t.kind == Token::End) Fail("missing }");
            if (t.kind == Token::Close) return;
            if (t.kind == Token::Open) {
                if (!current) Fail("block without a key");
                Block(*current, depth + 1);
                current = nullptr;
                continue;
            }
            if (t.kind == Token::Word && t.text == "val") {
                owner.values.push_back(ValueAfterEquals(Word()));
                current = nullptr;
                continue;
            }
            RegistryScriptKey key;
            if (t.kind == Token::Word && (t.text == "NoRemove" || t.text == "ForceRemove" ||
                                          t.text == "Delete")) {
                key.flag = t.text == "NoRemove"      ? RegistryScriptKey::Flag::NoRemove
                           : t.text == "ForceRemove" ? RegistryScriptKey::Flag::ForceRemove
                                                     : RegistryScriptKey::Flag::Delete;
                key.name = Word();
            } else if (t.kind == Token::Word || t.kind == Token::Quoted) {
                key.name = t.text;
            } else {
                Fail("unexpected " + t.text);
            }
            if (Peek().kind == Token::Equals) key.defaultValue = ValueAfterEquals({});
            owner.subkeys.push_back(std::move(key));
            current = &owner.subkeys.back();
        }
    }

    std::vector<RegistryScriptKey> Keys() {
        RegistryScriptKey top;
        Block(top, 0);
        if (!top.values.empty()) Fail("value directly under a root key");
        return std::move(top.subkeys);
    }

private:
    std::string_view text_;
    const std::map<std::string, std::string>& replacements_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<RegistryScript> ParseRegistryScript(
    std::string_view text, const std::map<std::string, std::string>& replacements,
    std::string* error) {
    try {
        return ScriptParser(text, replacements).Parse();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace tolvane
