#include "registrar_script.h"

#include <optional>
#include <vector>

#include "com.h"
#include "registry.h"
#include "registry_tree.h"
#include "store.h"

namespace host::detail {

namespace {

struct Malformed {};

struct Token {
    enum Kind { Word, Quoted, Open, Close, Equals } kind;
    std::string text;
};

struct ValueItem {
    std::string name;
    RegistryValue value;
};

struct KeyItem {
    enum Flag { Plain, NoRemove, ForceRemove, Delete } flag = Plain;
    std::string name;
    std::optional<RegistryValue> defaultValue;
    std::vector<ValueItem> values;
    std::vector<KeyItem> keys;
};

struct RootItem {
    std::string name;
    std::vector<KeyItem> keys;
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<Token> Tokenize(const std::string& script) {
    std::vector<Token> tokens;
    for (size_t i = 0; i < script.size();) {
        char c = script[i];
        if (IsBlank(c)) {
            ++i;
        } else if (c == '{' || c == '}' || c == '=') {
            tokens.push_back({c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals, std::string(1, c)});
            ++i;
        } else if (c == '\'') {
            std::string text;
            for (++i;; ++i) {
                if (i >= script.size())
                    throw Malformed{};
                if (script[i] == '\'') {
                    if (i + 1 < script.size() && script[i + 1] == '\'') {
                        text += '\'';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += script[i];
            }
            tokens.push_back({Token::Quoted, text});
        } else {
            size_t start = i;
            while (i < script.size() && !IsBlank(script[i]) && script[i] != '{' && script[i] != '}' &&
                   script[i] != '=' && script[i] != '\'')
                ++i;
            tokens.push_back({Token::Word, script.substr(start, i - start)});
        }
    }
    return tokens;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, const std::map<std::string, std::string>& replacements)
        : tokens(std::move(tokens)) {
        for (const auto& [name, value] : replacements)
            this->replacements[Lower(name)] = value;
    }

    std::vector<RootItem> Script() {
        std::vector<RootItem> roots;
        while (!AtEnd()) {
            auto root = RootKeyName(Expect(Token::Word).text);
            if (!root)
                throw Malformed{};
            Expect(Token::Open);
            RootItem item{*root, {}};
            while (!Next(Token::Close)) {
                KeyItem key = Item();
                if (key.name.empty()) // a value straight under a root
                    throw Malformed{};
                item.keys.push_back(std::move(key));
            }
            roots.push_back(std::move(item));
        }
        return roots;
    }

private:
    bool AtEnd() const { return position >= tokens.size(); }

    const Token& Expect(Token::Kind kind) {
        if (AtEnd() || tokens[position].kind != kind)
            throw Malformed{};
        return tokens[position++];
    }

    bool Next(Token::Kind kind) {
        if (!AtEnd() && tokens[position].kind == kind) {
            ++position;
            return true;
        }
        return false;
    }

    bool NextWord(const char* word) {
        if (!AtEnd() && tokens[position].kind == Token::Word && Lower(tokens[position].text) == Lower(word)) {
            ++position;
            return true;
        }
        return false;
    }

    // A name or text, bare or quoted, with its replacements made.
    std::string Text() {
        if (AtEnd() || (tokens[position].kind != Token::Word && tokens[position].kind != Token::Quoted))
            throw Malformed{};
        const std::string& raw = tokens[position++].text;
        std::string text;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '%') {
                text += raw[i];
                continue;
            }
            size_t end = raw.find('%', i + 1);
            if (end == std::string::npos)
                throw Malformed{};
            if (end == i + 1) {
                text += '%';
            } else {
                auto found = replacements.find(Lower(raw.substr(i + 1, end - i - 1)));
                if (found == replacements.end())
                    throw Malformed{};
                text += found->second;
            }
            i = end;
        }
        return text;
    }

    std::string Name() {
        std::string name = Text();
        if (name.empty() || name.find('\\') != std::string::npos)
            throw Malformed{};
        return name;
    }

    RegistryValue Value() {
        std::string type = Lower(Expect(Token::Word).text);
        std::string text = Text();
        if (type == "s")
            return RegistryValue{REG_SZ, text, 0};
        if (type != "d")
            throw Malformed{};
        bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        std::string digits = hex ? text.substr(2) : text;
        if (digits.empty())
            throw Malformed{};
        unsigned long long number = 0;
        for (char c : digits) {
            int digit = c >= '0' && c <= '9'            ? c - '0'
                        : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
            if (digit < 0)
                throw Malformed{};
            number = number * (hex ? 16 : 10) + digit;
            if (number > 0xFFFFFFFFull)
                throw Malformed{};
        }
        return RegistryValue{REG_DWORD, "", static_cast<DWORD>(number)};
    }

    // A key, or a value (returned as a key without a name, holding one value).
    KeyItem Item() {
        KeyItem item;
        if (NextWord("val")) {
            ValueItem value;
            value.name = Text();
            Expect(Token::Equals);
            value.value = Value();
            item.values.push_back(std::move(value));
            return item;
        }
        if (NextWord("NoRemove"))
            item.flag = KeyItem::NoRemove;
        else if (NextWord("ForceRemove"))
            item.flag = KeyItem::ForceRemove;
        else if (NextWord("Delete"))
            item.flag = KeyItem::Delete;
        item.name = Name();
        if (Next(Token::Equals))
            item.defaultValue = Value();
        if (Next(Token::Open)) {
            while (!Next(Token::Close)) {
                KeyItem inner = Item();
                if (inner.name.empty())
                    item.values.push_back(std::move(inner.values.front()));
                else
                    item.keys.push_back(std::move(inner));
            }
        }
        return item;
    }

    std::vector<Token> tokens;
    size_t position = 0;
    std::map<std::string, std::string> replacements;
};

void Register(RegistryTree& parent, const KeyItem& item) {
    if (item.flag == KeyItem::Delete) {
        DeleteSubkey(parent, item.name);
        return;
    }
    if (item.flag == KeyItem::ForceRemove)
        DeleteSubkey(parent, item.name);
    RegistryTree& key = CreateSubkey(parent, item.name);
    if (item.defaultValue)
        SetValue(key, "", *item.defaultValue);
    for (const auto& value : item.values)
        SetValue(key, value.name, value.value);
    for (const auto& inner : item.keys)
        Register(key, inner);
}

void Unregister(RegistryTree& parent, const KeyItem& item) {
    if (item.flag == KeyItem::Delete)
        return;
    RegistryTree* key = Subkey(parent, item.name);
    if (key == nullptr)
        return;
    if (item.flag == KeyItem::ForceRemove) {
        DeleteSubkey(parent, item.name);
        return;
    }
    for (const auto& inner : item.keys)
        Unregister(*key, inner);
    if (item.defaultValue)
        DeleteValue(*key, "");
    for (const auto& value : item.values)
        DeleteValue(*key, value.name);
    if (item.flag == KeyItem::Plain && IsEmptyKey(*key))
        DeleteSubkey(parent, item.name);
}

} // namespace

HRESULT RunRegistrarScript(const std::string& script, const std::map<std::string, std::string>& replacements,
                           bool registering) {
    std::vector<RootItem> roots;
    try {
        roots = Parser(Tokenize(script), replacements).Script();
    } catch (const Malformed&) {
        return DISP_E_EXCEPTION;
    }
    FileLock lock(RegistryFile());
    RegistryTree tree = LoadRegistry();
    RegistryTree before = tree;
    for (const auto& root : roots)
        for (const auto& key : root.keys)
            registering ? Register(tree[root.name], key) : Unregister(tree[root.name], key);
    if (tree == before)
        return S_OK;
    return SaveRegistry(tree) ? S_OK : HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

} // namespace host::detail
