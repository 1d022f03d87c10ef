// Registrar script reader: tokens, a bounded recursive-descent parser into a merged key tree,
// and the register and unregister plans made from the flattened tree.
#include "framework/registry_script.h"

#include <cstddef>
#include <utility>

namespace {

// The registry allows 512 levels; no registration comes near this, a hostile script might.
constexpr std::size_t kMaxKeyDepth = 64;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxQuotedInMessage = 40;
constexpr char kPathSeparator = '\\';

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Registry names compare without regard to case; ASCII folding is all an ANSI script needs.
bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && !isSpace(c)) || byte == 0x7F;
}

struct RootName {
    const char* name;
    RegistryRoot root;
};

constexpr RootName kRootNames[] = {
    {"HKCR", RegistryRoot::ClassesRoot},    {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
    {"HKCU", RegistryRoot::CurrentUser},    {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    {"HKLM", RegistryRoot::LocalMachine},   {"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
    {"HKU", RegistryRoot::Users},           {"HKEY_USERS", RegistryRoot::Users},
    {"HKCC", RegistryRoot::CurrentConfig},  {"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
};

bool rootFromName(std::string_view word, RegistryRoot& root)
{
    for (const RootName& entry : kRootNames) {
        if (equalsIgnoringCase(word, entry.name)) {
            root = entry.root;
            return true;
        }
    }
    return false;
}

enum class TokenKind { End, Word, Quoted, OpenBrace, CloseBrace, Equals, Invalid };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // a word, the unquoted text, or for Invalid what is wrong
    int line = 1;
};

// Splits the script at white space, as the registrar does: "{", "}" and "=" are tokens only
// when they stand alone, so a bare {GUID} is one word.
class Lexer {
public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    const Token& peek()
    {
        if (!m_hasPeeked) {
            m_peeked = scan();
            m_hasPeeked = true;
        }
        return m_peeked;
    }

    Token next()
    {
        peek();
        m_hasPeeked = false;
        return std::move(m_peeked);
    }

private:
    Token scan()
    {
        while (m_pos < m_text.size() && isSpace(m_text[m_pos])) {
            if (m_text[m_pos] == '\n')
                ++m_line;
            ++m_pos;
        }
        Token token;
        token.line = m_line;
        if (m_pos == m_text.size())
            return token;
        if (m_text[m_pos] == '\'')
            return scanQuoted(token);

        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && !isSpace(m_text[m_pos]) && m_text[m_pos] != '\'') {
            if (isControl(m_text[m_pos]))
                return invalid(token, "control character in the script");
            ++m_pos;
        }
        if (m_pos < m_text.size() && m_text[m_pos] == '\'')
            return invalid(token, "quote inside a bare word");
        token.text.assign(m_text.substr(start, m_pos - start));
        if (token.text == "{")
            token.kind = TokenKind::OpenBrace;
        else if (token.text == "}")
            token.kind = TokenKind::CloseBrace;
        else if (token.text == "=")
            token.kind = TokenKind::Equals;
        else
            token.kind = TokenKind::Word;
        return token;
    }

    Token scanQuoted(Token& token)
    {
        ++m_pos;
        for (;;) {
            if (m_pos == m_text.size())
                return invalid(token, "unterminated quoted text");
            const char c = m_text[m_pos++];
            if (c == '\'') {
                if (m_pos < m_text.size() && m_text[m_pos] == '\'') {
                    ++m_pos;
                } else {
                    token.kind = TokenKind::Quoted;
                    return token;
                }
            } else if (c == '\0') {
                return invalid(token, "zero byte in quoted text");
            } else if (c == '\n') {
                ++m_line;
            }
            token.text += c;
        }
    }

    Token invalid(Token& token, const char* message)
    {
        // Nothing after a lexical error is read: the parser stops at the first error.
        m_pos = m_text.size();
        token.kind = TokenKind::Invalid;
        token.text = message;
        return token;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
    bool m_hasPeeked = false;
    Token m_peeked;
};

struct KeyNode {
    std::string name;
    KeyMarking marking = KeyMarking::None;
    bool hasDefaultValue = false;
    std::string defaultValue;
    std::vector<ScriptValue> values;
    std::vector<KeyNode> subKeys;
};

struct RootNode {
    RegistryRoot root;
    std::vector<KeyNode> keys;
};

std::string quoteForMessage(std::string_view text)
{
    std::string quoted = "'";
    quoted.append(text.substr(0, kMaxQuotedInMessage));
    if (text.size() > kMaxQuotedInMessage)
        quoted += "...";
    quoted += "'";
    return quoted;
}

bool parseDecimal(std::string_view text, std::uint32_t& number)
{
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    number = static_cast<std::uint32_t>(value);
    return true;
}

// A bare word names a key unless it is one of the registrar's keywords; "Delete" is one we do
// not carry out, and reading it as a key name would silently do the opposite of its intent.
bool isReservedWord(std::string_view word)
{
    return equalsIgnoringCase(word, "val") || equalsIgnoringCase(word, "NoRemove") ||
           equalsIgnoringCase(word, "ForceRemove") || equalsIgnoringCase(word, "Delete");
}

// Braces in a bare name are only accepted as a whole braced name such as a {GUID}; anything
// else ("CLSID{", "Name=s") is a missing space, not a name.
bool isWellFormedBareName(std::string_view word)
{
    if (word.find('=') != std::string_view::npos)
        return false;
    const std::size_t firstBrace = word.find_first_of("{}");
    if (firstBrace == std::string_view::npos)
        return true;
    return word.size() > 2 && word.front() == '{' && word.back() == '}' &&
           word.substr(1, word.size() - 2).find_first_of("{}") == std::string_view::npos;
}

class Parser {
public:
    Parser(std::string_view script, const ReplaceableParameters& parameters)
        : m_lexer(script), m_parameters(parameters)
    {
    }

    bool parse(std::vector<RootNode>& roots)
    {
        for (;;) {
            Token token = m_lexer.next();
            switch (token.kind) {
            case TokenKind::End:
                if (roots.empty())
                    return fail(token.line, "empty script");
                return true;
            case TokenKind::Invalid:
                return fail(token.line, token.text);
            case TokenKind::CloseBrace:
                return fail(token.line, "unbalanced '}'");
            case TokenKind::Word:
                break;
            default:
                return fail(token.line, "expected a root key");
            }
            RegistryRoot root = RegistryRoot::ClassesRoot;
            if (!rootFromName(token.text, root))
                return fail(token.line, "unknown root key " + quoteForMessage(token.text));
            const Token open = m_lexer.next();
            if (open.kind != TokenKind::OpenBrace)
                return failAt(open, "expected '{' after the root key");
            RootNode* node = nullptr;
            for (RootNode& existing : roots) {
                if (existing.root == root)
                    node = &existing;
            }
            if (node == nullptr) {
                roots.push_back(RootNode{root, {}});
                node = &roots.back();
            }
            if (!parseEntries(nullptr, node->keys, 0))
                return false;
        }
    }

    const std::string& error() const { return m_error; }

private:
    bool fail(int line, const std::string& message)
    {
        m_error = "line " + std::to_string(line) + ": " + message;
        return false;
    }

    bool failAt(const Token& token, const std::string& expectation)
    {
        if (token.kind == TokenKind::Invalid)
            return fail(token.line, token.text);
        if (token.kind == TokenKind::End)
            return fail(token.line, expectation + ", found the end of the script");
        return fail(token.line, expectation + ", found " + quoteForMessage(token.text));
    }

    // Entries up to and including the closing brace of the block; owner is null at root level.
    bool parseEntries(KeyNode* owner, std::vector<KeyNode>& siblings, std::size_t depth)
    {
        for (;;) {
            Token token = m_lexer.next();
            if (token.kind == TokenKind::CloseBrace)
                return true;
            if (token.kind == TokenKind::End)
                return fail(token.line, "missing '}'");
            if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted)
                return failAt(token, "expected a key or a value");

            if (token.kind == TokenKind::Word && equalsIgnoringCase(token.text, "val")) {
                if (owner == nullptr)
                    return fail(token.line, "a value directly below a root key");
                if (!parseValue(*owner))
                    return false;
                continue;
            }

            KeyMarking marking = KeyMarking::None;
            if (token.kind == TokenKind::Word) {
                if (equalsIgnoringCase(token.text, "NoRemove"))
                    marking = KeyMarking::NoRemove;
                else if (equalsIgnoringCase(token.text, "ForceRemove"))
                    marking = KeyMarking::ForceRemove;
                else if (equalsIgnoringCase(token.text, "Delete"))
                    return fail(token.line, "unsupported keyword 'Delete'");
                if (marking != KeyMarking::None) {
                    token = m_lexer.next();
                    if (token.kind == TokenKind::Word && isReservedWord(token.text))
                        return fail(token.line, "expected a key name after a marking, found " +
                                                    quoteForMessage(token.text));
                    if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted)
                        return failAt(token, "expected a key name after a marking");
                }
            }
            if (!parseKey(token, marking, siblings, depth + 1))
                return false;
        }
    }

    bool parseKey(const Token& nameToken, KeyMarking marking, std::vector<KeyNode>& siblings,
                  std::size_t depth)
    {
        if (depth > kMaxKeyDepth)
            return fail(nameToken.line, "keys nested too deeply");
        if (nameToken.kind == TokenKind::Word && !isWellFormedBareName(nameToken.text))
            return fail(nameToken.line, "malformed key name " + quoteForMessage(nameToken.text));
        std::string name;
        if (!expand(nameToken, name))
            return false;
        if (name.empty())
            return fail(nameToken.line, "empty key name");
        if (name.find(kPathSeparator) != std::string::npos)
            return fail(nameToken.line, "key name with a backslash " + quoteForMessage(name));
        if (name.size() > kMaxKeyNameLength)
            return fail(nameToken.line, "key name too long");

        // A key named twice is one key; ForceRemove on a second naming would wipe what the
        // first wrote, so that and conflicting markings are refused rather than guessed at.
        std::size_t index = siblings.size();
        for (std::size_t i = 0; i < siblings.size(); ++i) {
            if (equalsIgnoringCase(siblings[i].name, name))
                index = i;
        }
        if (index == siblings.size()) {
            siblings.push_back(KeyNode{});
            siblings.back().name = name;
            siblings.back().marking = marking;
        } else if (marking == KeyMarking::ForceRemove || siblings[index].marking != marking) {
            return fail(nameToken.line, "key " + quoteForMessage(name) +
                                            " named again with a different or ForceRemove marking");
        }
        KeyNode& node = siblings[index];

        if (m_lexer.peek().kind == TokenKind::Equals) {
            m_lexer.next();
            ScriptValue value;
            if (!parseData(value))
                return false;
            if (value.type != ScriptValueType::Text)
                return fail(nameToken.line, "a key's default value must be text");
            node.hasDefaultValue = true;
            node.defaultValue = std::move(value.text);
        }
        if (m_lexer.peek().kind == TokenKind::OpenBrace) {
            m_lexer.next();
            return parseEntries(&node, node.subKeys, depth);
        }
        return true;
    }

    // After "val": NAME = TYPE 'DATA'.
    bool parseValue(KeyNode& owner)
    {
        const Token nameToken = m_lexer.next();
        if (nameToken.kind != TokenKind::Word && nameToken.kind != TokenKind::Quoted)
            return failAt(nameToken, "expected a value name");
        ScriptValue value;
        if (!expand(nameToken, value.name))
            return false;
        // The empty name is the key's default value, which the script sets with the key's own
        // "= s" and which unregistration must not single out.
        if (value.name.empty())
            return fail(nameToken.line, "empty value name");
        if (value.name.size() > kMaxValueNameLength)
            return fail(nameToken.line, "value name too long");
        const Token equals = m_lexer.next();
        if (equals.kind != TokenKind::Equals)
            return failAt(equals, "expected '=' after the value name");
        if (!parseData(value))
            return false;
        owner.values.push_back(std::move(value));
        return true;
    }

    // After "=": s 'text' or d 'decimal'.
    bool parseData(ScriptValue& value)
    {
        const Token type = m_lexer.next();
        if (type.kind != TokenKind::Word)
            return failAt(type, "expected a value type");
        if (equalsIgnoringCase(type.text, "s"))
            value.type = ScriptValueType::Text;
        else if (equalsIgnoringCase(type.text, "d"))
            value.type = ScriptValueType::Number;
        else
            return fail(type.line, "unknown value type " + quoteForMessage(type.text));

        const Token data = m_lexer.next();
        if (data.kind != TokenKind::Quoted)
            return failAt(data, "expected quoted value data");
        std::string text;
        if (!expand(data, text))
            return false;
        if (value.type == ScriptValueType::Text) {
            value.text = std::move(text);
            return true;
        }
        if (!parseDecimal(text, value.number))
            return fail(data.line, "bad 32-bit decimal number " + quoteForMessage(text));
        return true;
    }

    // Replaceable parameters are expanded after unquoting, so a quote in a parameter's value
    // (a module path, say) is taken as it is and cannot end the text early.
    bool expand(const Token& token, std::string& out)
    {
        const std::string& text = token.text;
        out.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%') {
                out += text[i];
                continue;
            }
            if (i + 1 < text.size() && text[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            const std::size_t close = text.find('%', i + 1);
            if (close == std::string::npos)
                return fail(token.line, "unterminated replaceable parameter");
            const std::string_view name = std::string_view(text).substr(i + 1, close - i - 1);
            const std::string* replacement = lookUpParameter(name);
            if (replacement == nullptr)
                return fail(token.line, "unknown replaceable parameter %" + std::string(name) + "%");
            out += *replacement;
            i = close;
        }
        return true;
    }

    const std::string* lookUpParameter(std::string_view name) const
    {
        for (const auto& [key, value] : m_parameters) {
            if (equalsIgnoringCase(key, name))
                return &value;
        }
        return nullptr;
    }

    Lexer m_lexer;
    const ReplaceableParameters& m_parameters;
    std::string m_error;
};

void flatten(RegistryRoot root, const std::string& parentPath, const std::vector<KeyNode>& nodes,
             std::vector<ScriptKey>& keys)
{
    for (const KeyNode& node : nodes) {
        ScriptKey key;
        key.root = root;
        key.path = parentPath.empty() ? node.name : parentPath + kPathSeparator + node.name;
        key.marking = node.marking;
        key.hasDefaultValue = node.hasDefaultValue;
        key.defaultValue = node.defaultValue;
        key.values = node.values;
        keys.push_back(key);
        // The path goes down as a copy: the sub-keys' insertions may move keys' elements.
        flatten(root, key.path, node.subKeys, keys);
    }
}

std::size_t depthOf(const std::string& path)
{
    std::size_t depth = 1;
    for (char c : path) {
        if (c == kPathSeparator)
            ++depth;
    }
    return depth;
}

PlanStep step(PlanStepKind kind, const ScriptKey& key)
{
    PlanStep result;
    result.kind = kind;
    result.root = key.root;
    result.keyPath = key.path;
    return result;
}

}  // namespace

bool ScriptValue::operator==(const ScriptValue& other) const
{
    return name == other.name && type == other.type && text == other.text && number == other.number;
}

bool ScriptKey::operator==(const ScriptKey& other) const
{
    return root == other.root && path == other.path && marking == other.marking &&
           hasDefaultValue == other.hasDefaultValue && defaultValue == other.defaultValue &&
           values == other.values;
}

bool PlanStep::operator==(const PlanStep& other) const
{
    return kind == other.kind && root == other.root && keyPath == other.keyPath &&
           valueName == other.valueName && text == other.text && number == other.number;
}

RegistryScript parseRegistryScript(std::string_view script, const ReplaceableParameters& parameters)
{
    RegistryScript result;
    std::vector<RootNode> roots;
    Parser parser(script, parameters);
    if (!parser.parse(roots)) {
        result.error = parser.error();
        return result;
    }
    for (const RootNode& root : roots)
        flatten(root.root, std::string(), root.keys, result.keys);
    result.ok = true;
    return result;
}

std::vector<PlanStep> buildRegisterPlan(const RegistryScript& script)
{
    std::vector<PlanStep> plan;
    if (!script.ok)
        return plan;
    for (const ScriptKey& key : script.keys) {
        plan.push_back(step(key.marking == KeyMarking::ForceRemove ? PlanStepKind::ForceRecreateKey
                                                                   : PlanStepKind::OpenOrCreateKey,
                            key));
        if (key.hasDefaultValue) {
            PlanStep setDefault = step(PlanStepKind::SetDefaultValue, key);
            setDefault.text = key.defaultValue;
            plan.push_back(std::move(setDefault));
        }
        for (const ScriptValue& value : key.values) {
            const bool isText = value.type == ScriptValueType::Text;
            PlanStep set = step(isText ? PlanStepKind::SetTextValue : PlanStepKind::SetNumberValue, key);
            set.valueName = value.name;
            if (isText)
                set.text = value.text;
            else
                set.number = value.number;
            plan.push_back(std::move(set));
        }
    }
    return plan;
}

std::vector<PlanStep> buildUnregisterPlan(const RegistryScript& script)
{
    std::vector<PlanStep> plan;
    if (!script.ok)
        return plan;
    // The keys come parents first; a key is finished, and may go, once the walk reaches a key
    // that is not below it.
    std::vector<const ScriptKey*> open;
    auto finishDownTo = [&](std::size_t depth) {
        while (!open.empty() && depthOf(open.back()->path) >= depth) {
            if (open.back()->marking != KeyMarking::NoRemove)
                plan.push_back(step(PlanStepKind::DeleteKeyIfNoSubKeys, *open.back()));
            open.pop_back();
        }
    };
    for (const ScriptKey& key : script.keys) {
        finishDownTo(depthOf(key.path));
        for (const ScriptValue& value : key.values) {
            PlanStep remove = step(PlanStepKind::DeleteValue, key);
            remove.valueName = value.name;
            plan.push_back(std::move(remove));
        }
        open.push_back(&key);
    }
    finishDownTo(1);
    return plan;
}
