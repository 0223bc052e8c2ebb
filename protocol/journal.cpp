#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

const char kJournalEdit[] = "edit";
const char kJournalSet[] = "set";
const char kJournalLoad[] = "load";
const char kJournalRestore[] = "restore";
const char kJournalVerified[] = "verified";
const char kJournalNotTaken[] = "not taken";
const char kJournalNoAnswer[] = "no answer";

// --- JSON -----------------------------------------------------------------

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
            v->members.emplace_back(std::move(name), std::move(member));
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
            const char c = s_[i_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
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

// --- Entries ----------------------------------------------------------------

namespace {

int KeyIndexOf(const std::string& key)
{
    const KeyInfo* k = FindKey(key.c_str());
    return k ? static_cast<int>(k - KeyTable) : -1;
}

// A record of a table for the shared value comparisons.
bool RecordOf(const JournalRecord& r, ConfigRecord* out)
{
    const int k = KeyIndexOf(r.key);
    if (k < 0 || r.value.size() > static_cast<size_t>(kMaxValueWidth))
        return false;
    ClearRecord(out);
    out->key = KeyTable[k].key;
    out->width = KeyTable[k].width;
    std::memcpy(out->value, r.value.data(), r.value.size());
    return true;
}

void TableOf(const std::vector<JournalRecord>& records, RecordTable* table)
{
    ClearRecordTable(table);
    int slot = 0;
    for (const JournalRecord& r : records)
        if (slot < kRecordSlots && RecordOf(r, &(*table)[slot]))
            ++slot;
}

std::string RecordsJson(const std::vector<JournalRecord>& records)
{
    std::string s = "[";
    for (size_t i = 0; i < records.size(); ++i)
        s += (i ? ", {\"key\": " : "{\"key\": ") + JsonQuote(records[i].key) +
             ", \"value\": " + JsonQuote(records[i].value) + "}";
    return s + "]";
}

// Device text as the protocol holds it: at most max bytes, no zero byte.
bool IsDeviceText(const std::string& s, size_t max)
{
    return s.size() <= max && s.find('\0') == std::string::npos;
}

bool ReadRecords(const JsonValue* v, std::vector<JournalRecord>* out)
{
    if (!v || v->type != JsonValue::Type::Array)
        return false;
    for (const JsonValue& item : v->items) {
        const JsonValue* key = item.Find("key");
        const JsonValue* value = item.Find("value");
        if (!key || !value || key->type != JsonValue::Type::String ||
            value->type != JsonValue::Type::String || KeyIndexOf(key->text) < 0 ||
            !IsDeviceText(value->text, kMaxValueWidth))
            return false;
        out->push_back({key->text, value->text});
    }
    return true;
}

std::string NormalMacText(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c != ':' && c != '-')
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return out;
}

}  // namespace

std::vector<JournalRecord> JournalRecordsOf(const RecordTable& table)
{
    std::vector<JournalRecord> out;
    for (const ConfigRecord& r : table.rec) {
        if (IsEmptyRecord(&r) || !r.key || r.key[0] == '\0')
            break;
        const size_t width = static_cast<size_t>(r.width < kMaxValueWidth ? r.width : kMaxValueWidth);
        size_t n = strnlen(r.value, width);
        while (n > 0 && r.value[n - 1] == ' ')
            --n;
        out.push_back({r.key, std::string(r.value, n)});
    }
    return out;
}

void SetJournalOutcome(JournalEntry* e, const RecordTable& written, const RecordTable* reread)
{
    e->notTaken.clear();
    if (!reread) {
        e->outcome = kJournalNoAnswer;
        return;
    }
    for (const ConfigRecord& w : written.rec) {
        if (IsEmptyRecord(&w))
            break;
        if (!CfgRecordReadBack(w, *reread))
            e->notTaken.push_back(w.key);
    }
    e->outcome = e->notTaken.empty() ? kJournalVerified : kJournalNotTaken;
}

JournalEntry MakeJournalEntry(const char* program, const char* action, const char* serial,
                              const char* mac, const RecordTable& before,
                              const RecordTable& written, const RecordTable* reread)
{
    JournalEntry e;
    e.time = JournalTimeNow();
    e.program = program;
    e.action = action;
    e.serial = serial;
    e.mac = mac;
    e.before = JournalRecordsOf(before);
    e.written = JournalRecordsOf(written);
    SetJournalOutcome(&e, written, reread);
    return e;
}

std::string JournalTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

std::string JournalLine(const JournalEntry& e)
{
    std::string s = "{\"time\": " + JsonQuote(e.time) + ", \"program\": " + JsonQuote(e.program) +
                    ", \"action\": " + JsonQuote(e.action);
    if (e.restores > 0)
        s += ", \"restores\": " + std::to_string(e.restores);
    s += ", \"serial\": " + JsonQuote(e.serial) + ", \"mac\": " + JsonQuote(e.mac) +
         ", \"before\": " + RecordsJson(e.before) + ", \"written\": " + RecordsJson(e.written) +
         ", \"outcome\": " + JsonQuote(e.outcome) + ", \"not_taken\": [";
    for (size_t i = 0; i < e.notTaken.size(); ++i)
        s += (i ? ", " : "") + JsonQuote(e.notTaken[i]);
    return s + "]}\n";
}

bool ParseJournalLine(const std::string& line, JournalEntry* out)
{
    JsonValue v;
    if (!ParseJson(line, &v) || v.type != JsonValue::Type::Object)
        return false;
    JournalEntry e;
    auto text = [&v](const char* name, std::string* dst) {
        const JsonValue* f = v.Find(name);
        if (!f || f->type != JsonValue::Type::String)
            return false;
        *dst = f->text;
        return true;
    };
    if (!text("time", &e.time) || !text("program", &e.program) || !text("action", &e.action) ||
        !text("serial", &e.serial) || !text("mac", &e.mac) || !text("outcome", &e.outcome))
        return false;
    if (!IsDeviceText(e.serial, 16) || !IsDeviceText(e.mac, 12))
        return false;
    if (!ReadRecords(v.Find("before"), &e.before) || !ReadRecords(v.Find("written"), &e.written))
        return false;
    if (const JsonValue* n = v.Find("not_taken")) {
        if (n->type != JsonValue::Type::Array)
            return false;
        for (const JsonValue& k : n->items) {
            if (k.type != JsonValue::Type::String || KeyIndexOf(k.text) < 0)
                return false;
            e.notTaken.push_back(k.text);
        }
    }
    if (const JsonValue* r = v.Find("restores")) {
        if (r->type != JsonValue::Type::Number || r->number < 1 || r->number > 2147483647.0 ||
            r->number != static_cast<double>(static_cast<int>(r->number)))
            return false;
        e.restores = static_cast<int>(r->number);
    }
    *out = std::move(e);
    return true;
}

// --- The file -----------------------------------------------------------------

namespace {

#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
using StatBuf = struct _stat64;
int StatPath(const std::string& p, StatBuf* st) { return _stat64(p.c_str(), st); }
int MakeDir(const std::string& p) { return _mkdir(p.c_str()); }
bool IsDir(const StatBuf& st) { return (st.st_mode & _S_IFMT) == _S_IFDIR; }
#else
constexpr char kSeparators[] = "/";
using StatBuf = struct stat;
int StatPath(const std::string& p, StatBuf* st) { return stat(p.c_str(), st); }
int MakeDir(const std::string& p) { return mkdir(p.c_str(), 0700); }
bool IsDir(const StatBuf& st) { return S_ISDIR(st.st_mode); }
#endif

// Makes a folder and every missing one above it, each with mode 0700.
bool MakeFolders(const std::string& dir, int* error)
{
    StatBuf st{};
    if (dir.empty() || StatPath(dir, &st) == 0)
        return true;   // there (a file in its place fails the open, with its reason)
    const auto up = dir.find_last_of(kSeparators);
    if (up != std::string::npos && up > 0 && !MakeFolders(dir.substr(0, up), error))
        return false;
    if (MakeDir(dir) != 0 && errno != EEXIST) {
        *error = errno;
        return false;
    }
    return true;
}

}  // namespace

std::string JournalPath()
{
#ifdef _WIN32
    const char* local = std::getenv("LOCALAPPDATA");
    if (!local || local[0] == '\0')
        return "";
    return std::string(local) + "\\pathlume\\writes.jsonl";
#else
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/pathlume/writes.jsonl";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/pathlume/writes.jsonl";
    return "";
#endif
}

std::string JournalFailureText(const std::string& path, const std::string& reason)
{
    return "Cannot record this write in " + path + ": " + reason + ".";
}

bool AppendJournalLine(const std::string& path, const std::string& line, std::string* reason)
{
    int error = 0;
    const auto slash = path.find_last_of(kSeparators);
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), &error)) {
        *reason = std::strerror(error);
        return false;
    }
    std::string text = line;
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    char last = '\n';
    if (_lseeki64(fd, -1, SEEK_END) >= 0 && _read(fd, &last, 1) == 1 && last != '\n')
        text = "\n" + text;   // (insert(0, ...) trips a false -Wrestrict at -O3)
    const int n = _write(fd, text.data(), static_cast<unsigned>(text.size()));
    error = n < 0 ? errno : 0;
    _close(fd);
#else
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // A line cut short (a full disk, a crash) is ended first, so that it
    // does not take this record down with it.
    struct stat st {};
    char last = '\n';
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        text = "\n" + text;   // (insert(0, ...) trips a false -Wrestrict at -O3)
    ssize_t n = write(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR)   // interrupted before any byte was written
        n = write(fd, text.data(), text.size());
    error = n < 0 ? errno : 0;
    if (close(fd) != 0 && error == 0 && n >= 0 && static_cast<size_t>(n) == text.size())
        error = errno;
#endif
    if (n < 0 || error != 0) {
        *reason = std::strerror(error != 0 ? error : EIO);
        return false;
    }
    if (static_cast<size_t>(n) < text.size()) {
        *reason = "only " + std::to_string(n) + " of " + std::to_string(text.size()) +
                  " bytes were written";
        return false;
    }
    return true;
}

std::string RecordWrite(const JournalEntry& entry)
{
    const std::string path = JournalPath();
    if (path.empty())
        return JournalFailureText("the state folder", "neither XDG_STATE_HOME nor HOME is set");
    std::string reason;
    if (!AppendJournalLine(path, JournalLine(entry), &reason))
        return JournalFailureText(path, reason);
    return "";
}

bool ReadJournal(const std::string& path, JournalContents* out, std::string* reason)
{
    *out = JournalContents{};
    std::string text;
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
    // Opened without waiting: a FIFO in its place must not hang the caller.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
    if (fd < 0) {
        if (errno == ENOENT)
            return true;   // nothing written yet
        *reason = std::strerror(errno);
        return false;
    }
    StatBuf st{};
#ifdef _WIN32
    const bool stated = _fstat64(fd, &st) == 0;
    const bool regular = stated && (st.st_mode & _S_IFMT) == _S_IFREG;
#else
    const bool stated = fstat(fd, &st) == 0;
    const bool regular = stated && S_ISREG(st.st_mode);
#endif
    int error = 0;
    if (stated && IsDir(st)) {
        error = EISDIR;
    } else if (regular) {
        char buf[8192];
        for (;;) {
#ifdef _WIN32
            const int n = _read(fd, buf, sizeof buf);
#else
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
#endif
            if (n < 0)
                error = errno;
            if (n <= 0)
                break;
            text.append(buf, static_cast<size_t>(n));
        }
    }   // anything else (/dev/null, a FIFO) holds no records to read back
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
    if (error != 0) {
        *reason = std::strerror(error);
        return false;
    }
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        JournalEntry e;
        if (ParseJournalLine(line, &e)) {
            e.number = number;
            out->entries.push_back(std::move(e));
        } else {
            out->damaged.push_back(number);
        }
    }
    return true;
}

// --- Changes and restore --------------------------------------------------------

std::vector<JournalChange> JournalChanges(const JournalEntry& e)
{
    RecordTable before;
    TableOf(e.before, &before);
    std::vector<JournalChange> out;
    for (const JournalRecord& w : e.written) {
        ConfigRecord r;
        if (!RecordOf(w, &r) || CfgRecordReadBack(r, before))
            continue;
        JournalChange c;
        c.key = w.key;
        c.after = w.value;
        for (const JournalRecord& b : e.before) {
            if (b.key == w.key) {   // the last of duplicate keys counts
                c.hadBefore = true;
                c.before = b.value;
            }
        }
        out.push_back(std::move(c));
    }
    return out;
}

bool JournalEntryNames(const JournalEntry& e, const std::string& device)
{
    const auto at = device.find('@');
    if (at != std::string::npos)
        return e.serial == device.substr(0, at) &&
               NormalMacText(e.mac) == NormalMacText(device.substr(at + 1));
    return device == e.serial || (!e.mac.empty() && NormalMacText(device) == NormalMacText(e.mac));
}

std::vector<JournalRecord> RestoreValues(const JournalEntry& e, std::vector<std::string>* unrestorable)
{
    std::vector<JournalRecord> out;
    for (const JournalChange& c : JournalChanges(e)) {
        const int k = KeyIndexOf(c.key);
        bool writable = false;
        for (const CfgField& f : kCfgWritable)
            writable = writable || f.key == k;
        if (c.hadBefore && writable)
            out.push_back({c.key, c.before});
        else if (unrestorable)
            unrestorable->push_back(c.key);
    }
    return out;
}

int SetRestoredValue(CfgFormState* state, const JournalRecord& value)
{
    const int k = KeyIndexOf(value.key);
    if (k == KEY_HOST_NAME) {
        if (!IsDeviceText(value.value, kMaxValueWidth))
            return CFG_TOO_LONG;
        SetCfgDeviceHostName(state, value.value.c_str());
        return CFG_OK;
    }
    // A number as the device wrote it ("09100", " 1") is the number.
    uint32_t n = 0;
    const CfgKind kind = k >= 0 ? CfgKindOfKey(k) : CfgKind::Text;
    if ((kind == CfgKind::Number || kind == CfgKind::Choice) && ParseCfgNumber(value.value.c_str(), &n))
        return SetCfgValue(state, k, std::to_string(n).c_str());
    return SetCfgValue(state, k, value.value.c_str());
}
