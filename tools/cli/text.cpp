// pathlume-cli: how device text is written in each output: escaped for the
// terminal and for settings files, exact in JSON and CSV (both UTF-8, each
// device byte read as Latin-1).
#include <cstdio>

#include "protocol.h"
#include "cli.h"
#include "internal.h"

namespace cli {

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

std::string WritableKeyList()
{
    std::string s;
    for (const CfgField& f : kCfgFields)
        if (f.writable)
            s += std::string(s.empty() ? "" : ", ") + KeyTable[f.key].key;
    return s;
}

namespace {

// The length of the well-formed UTF-8 sequence at s[i] when it is one
// character from U+00A0 up (no C1 control), or 0.
size_t PrintableUtf8At(const std::string& s, size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    unsigned long cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    static const unsigned long kLeast[] = {0, 0, 0xA0, 0x800, 0x10000};   // shortest form only
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

// keepUtf8: characters beyond ASCII stay as they are when they are whole
// and printable (a file name on Windows, where names are UTF-8 text).
std::string Escaped(const std::string& bytes, bool keepBackslash, bool keepUtf8 = false)
{
    std::string s;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\\': s += keepBackslash ? "\\" : "\\\\"; break;
        case '\r': s += "\\r"; break;
        case '\n': s += "\\n"; break;
        case '\t': s += "\\t"; break;
        default:
            if (const size_t n = keepUtf8 && c >= 0x80 ? PrintableUtf8At(bytes, i) : 0) {
                s.append(bytes, i, n);
                i += n - 1;
            } else if (c < 0x20 || c >= 0x7F) {
                static const char kHex[] = "0123456789abcdef";
                s += "\\x";
                s += kHex[c >> 4];
                s += kHex[c & 15];
            } else {
                s += static_cast<char>(c);
            }
        }
    }
    return s;
}

}  // namespace

std::string SafeText(const std::string& bytes)
{
    return Escaped(bytes, false);
}

std::string PathText(const std::string& path)
{
#ifdef _WIN32
    return Escaped(path, true, true);   // a name as typed, in UTF-8 (the manifest's code page)
#else
    return Escaped(path, false);
#endif
}

std::string EscapeValue(const std::string& bytes)
{
    // A file's value loses the blanks around it; a space at either end is
    // written as an escape so that load gives it back.
    std::string s = Escaped(bytes, false);
    if (!bytes.empty() && bytes.front() == ' ')
        s.replace(0, 1, "\\x20");
    if (bytes.size() > 1 && bytes.back() == ' ')
        s.replace(s.size() - 1, 1, "\\x20");
    return s;
}

bool UnescapeValue(const std::string& text, std::string* bytes, std::string* why)
{
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *bytes += text[i];
            continue;
        }
        const char e = i + 1 < text.size() ? text[i + 1] : '\0';
        ++i;
        switch (e) {
        case '\\': *bytes += '\\'; break;
        case 'r': *bytes += '\r'; break;
        case 'n': *bytes += '\n'; break;
        case 't': *bytes += '\t'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                *why = "\\x takes two hexadecimal digits";
                return false;
            }
            *bytes += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            *why = e == '\0' ? std::string("a backslash ends the value")
                             : std::string("unknown escape \\") + SafeText(std::string(1, e));
            return false;
        }
    }
    return true;
}

std::string JsonString(const std::string& bytes)
{
    return JsonQuote(bytes);
}

std::string Utf8OfLatin1(const std::string& bytes)
{
    std::string s;
    s.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

std::string CsvField(const std::string& text)
{
    return CsvQuote(Utf8OfLatin1(text));
}

}  // namespace cli
