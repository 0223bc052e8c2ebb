// JSON, as much as the journal of writes and pathlume-cli's outputs need:
// one whole text read into a tree of values, and single-byte device text
// quoted as a JSON string. Not on the request or receive path, so it works
// with std::string and std::vector.
#pragma once

#include <string>
#include <vector>

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;   // a string's bytes: \u0000 to \u00ff as one byte, beyond as UTF-8
    std::vector<JsonValue> items;                              // an array's
    // An object's, in order. Not std::pair, which asks whether JsonValue can
    // be built before JsonValue is complete (clang with libstdc++ refuses).
    std::vector<JsonMember> members;

    // The member of that name (the last, should it repeat), or nullptr.
    const JsonValue* Find(const char* name) const;
};

struct JsonMember {
    std::string first;   // the name
    JsonValue second;    // the value
};

// Parses one JSON text whole (blanks around it allowed). false when it is
// not JSON or nests deeper than 32 levels.
bool ParseJson(const std::string& text, JsonValue* out);

// A JSON string of single-byte text: quote and backslash escaped, control
// characters and bytes beyond ASCII as \u00XX.
std::string JsonQuote(const std::string& bytes);
