// One JSON object on one line, for the simulator's machine-readable transcript, and its reader
// for those who check the transcript. Platform-free.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A JSON string literal of UTF-8 text. Bytes that are not valid UTF-8 become U+FFFD, so the
// line stays valid JSON whatever the plug-in handed over.
std::string JsonQuote(std::string_view text);

// Members in the order they are added; keys are not checked for repeats.
class JsonLine {
public:
    JsonLine& Str(std::string_view key, std::string_view value);
    JsonLine& Int(std::string_view key, std::int64_t value);
    // Three decimals: the transcript's moments are milliseconds.
    JsonLine& Seconds(std::string_view key, double value);
    JsonLine& Bool(std::string_view key, bool value);
    JsonLine& List(std::string_view key, const std::vector<std::string>& values);
    // The other line's members after this one's.
    JsonLine& Merge(const JsonLine& other);

    // The object, without a line break.
    std::string Text() const { return "{" + m_members + "}"; }

private:
    void Key(std::string_view key);

    std::string m_members;
};

// A line's members read back, by type.
struct JsonMembers {
    std::map<std::string, std::string> texts;
    std::map<std::string, double> numbers;
    std::map<std::string, bool> flags;
    std::map<std::string, std::vector<std::string>> lists;
};

// A line as JsonLine writes it: one flat object of strings, numbers, booleans and lists of
// strings. Nullopt for anything else, escapes JsonQuote never writes included.
std::optional<JsonMembers> ReadJsonLine(std::string_view line);
