// JSON, as much as the journal and pathlume-cli's outputs need: a reader of
// one whole text and the quoting of single-byte device text.
#include "json.h"
#include "textutil.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

const JsonValue* JsonValue::Find(const char* name) const
{
    const JsonValue* found = nullptr;
    for (const auto& m : members)
        if (m.first == name)
            found = &m.second;
    return found;
}

namespace {

constexpr int kMaxJsonDepth = 32;

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    bool Document(JsonValue* out)
    {
        Blanks();
        if (!Value(out, 0))
            return false;
        Blanks();
        return i_ == s_.size();
    }

private:
    void Blanks()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }

    bool Take(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }

    bool Word(const char* w)
    {
        const size_t n = std::strlen(w);
        if (s_.compare(i_, n, w) != 0)
            return false;
        i_ += n;
        return true;
    }

    bool Value(JsonValue* v, int depth)
    {
        if (depth >= kMaxJsonDepth || i_ >= s_.size())
            return false;
        *v = JsonValue{};
        switch (s_[i_]) {
        case '{': return Object(v, depth);
        case '[': return Array(v, depth);
        case '"': v->type = JsonValue::Type::String; return String(&v->text);
        case 't': v->type = JsonValue::Type::Bool; v->boolean = true; return Word("true");
        case 'f': v->type = JsonValue::Type::Bool; return Word("false");
        case 'n': return Word("null");
        default: v->type = JsonValue::Type::Number; return Number(&v->number);
        }
    }

    bool Object(JsonValue* v, int depth)
    {
        v->type = JsonValue::Type::Object;
        ++i_;
        Blanks();
        if (Take('}'))
            return true;
        for (;;) {
            std::string name;
            JsonValue member;
            Blanks();
            if (!String(&name))
                return false;
            Blanks();
            if (!Take(':'))
                return false;
            Blanks();
            if (!Value(&member, depth + 1))
                return false;
            v->members.push_back(JsonMember{std::move(name), std::move(member)});
            Blanks();
            if (Take('}'))
                return true;
            if (!Take(','))
                return false;
        }
    }

    bool Array(JsonValue* v, int depth)
    {
        v->type = JsonValue::Type::Array;
        ++i_;
        Blanks();
        if (Take(']'))
            return true;
        for (;;) {
            JsonValue item;
            Blanks();
            if (!Value(&item, depth + 1))
                return false;
            v->items.push_back(std::move(item));
            Blanks();
            if (Take(']'))
                return true;
            if (!Take(','))
                return false;
        }
    }

    bool Hex4(unsigned* out)
    {
        if (i_ + 4 > s_.size())
            return false;
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
            const int digit = HexDigitValue(s_[i_++]);
            if (digit < 0)
                return false;
            v = (v << 4) | static_cast<unsigned>(digit);
        }
        *out = v;
        return true;
    }

    // A code point up to 0xFF is the byte of single-byte device text;
    // anything beyond is kept as UTF-8.
    static void Put(std::string* out, unsigned cp)
    {
        if (cp <= 0xFF) {
            *out += static_cast<char>(cp);
        } else if (cp <= 0x7FF) {
            *out += static_cast<char>(0xC0 | (cp >> 6));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp <= 0xFFFF) {
            *out += static_cast<char>(0xE0 | (cp >> 12));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (cp >> 18));
            *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool String(std::string* out)
    {
        if (!Take('"'))
            return false;
        out->clear();
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;   // a control character must be escaped
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (i_ >= s_.size())
                return false;
            const char e = s_[i_++];
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned cp = 0;
                if (!Hex4(&cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return false;   // a low surrogate alone
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low = 0;
                    if (!Word("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                Put(out, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;   // no closing quote
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, read without the locale.
    bool Number(double* out)
    {
        const size_t start = i_;
        auto digits = [this] {
            const size_t from = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
                ++i_;
            return i_ > from;
        };
        Take('-');
        if (Take('0')) {
            // a leading zero stands alone
        } else if (!digits()) {
            return false;
        }
        if (Take('.') && !digits())
            return false;
        if (Take('e') || Take('E')) {
            if (!Take('+'))
                Take('-');
            if (!digits())
                return false;
        }
        const auto r = std::from_chars(s_.data() + start, s_.data() + i_, *out);
        return r.ec == std::errc() && r.ptr == s_.data() + i_;
    }

    const std::string& s_;
    size_t i_ = 0;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue* out)
{
    JsonReader r(text);
    return r.Document(out);
}

std::string JsonQuote(const std::string& bytes)
{
    std::string s = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Device text is single-byte: a byte beyond ASCII is that code point.
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            s += esc;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}
