#include "textutil.h"

std::string TrimBlanks(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string NormalMac(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c != ':' && c != '-')
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return out;
}

std::string CsvQuote(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string s = "\"";
    for (char c : text)
        s += c == '"' ? std::string("\"\"") : std::string(1, c);
    return s + "\"";
}
