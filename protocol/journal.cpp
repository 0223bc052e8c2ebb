#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform.h"
#include "textutil.h"

const char kJournalEdit[] = "edit";
const char kJournalSet[] = "set";
const char kJournalLoad[] = "load";
const char kJournalRestore[] = "restore";
const char kJournalVerified[] = "verified";
const char kJournalNotTaken[] = "not taken";
const char kJournalNoAnswer[] = "no answer";

// --- Entries ----------------------------------------------------------------

namespace {

// A key's index in KeyTable, or -1, found through a small hash of its
// length and end bytes and then compared whole (history reads two lists of
// keys on every line of the journal).
int KeyIndexOf(const std::string& key)
{
    // (Chosen so that today's twenty keys fall in twenty buckets.)
    constexpr size_t kBuckets = 64;
    auto hash = [](const char* k, size_t n) {
        return n == 0 ? 0
                      : (n + static_cast<unsigned char>(k[0]) + static_cast<unsigned char>(k[n - 1]) * 2 +
                         static_cast<unsigned char>(k[n / 2]) * 8) %
                            kBuckets;
    };
    struct Index {
        std::array<int8_t, kBuckets> slot;   // -1 none, -2 shared by two keys
        std::array<size_t, kKeyCount> length;
    };
    static const Index index = [&hash] {
        Index x{};
        x.slot.fill(-1);
        for (int k = 0; k < kKeyCount; ++k) {
            const size_t n = std::strlen(KeyTable[k].key);
            x.length[static_cast<size_t>(k)] = n;
            int8_t& s = x.slot[hash(KeyTable[k].key, n)];
            s = s == -1 ? static_cast<int8_t>(k) : -2;
        }
        return x;
    }();
    const int8_t s = index.slot[hash(key.data(), key.size())];
    if (s == -1)
        return -1;
    if (s >= 0)
        return index.length[static_cast<size_t>(s)] == key.size() &&
                       std::memcmp(KeyTable[s].key, key.data(), key.size()) == 0
                   ? s
                   : -1;
    for (int k = 0; k < kKeyCount; ++k)   // two keys in one bucket
        if (index.length[static_cast<size_t>(k)] == key.size() &&
            std::memcmp(KeyTable[k].key, key.data(), key.size()) == 0)
            return k;
    return -1;
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

namespace {

// The journal's lines as JournalLine writes them, read without building a
// tree of JSON values: the members the entry has, in any order, each of the
// kind it must be; strings with the escapes JournalLine writes (\u0000 to
// \u00ff among them). Anything else it is not sure of (another member, a
// code point beyond one byte, a number that is not plain digits) it leaves
// to the whole JSON reader, which then decides: what this reader takes, the
// whole reader takes the same way. The strings of the entry it fills keep
// their room from line to line.
class LineReader {
    // The bytes a string holds as they are: not its quote, not an escape,
    // not a control character.
    static constexpr auto kPlain = [] {
        std::array<bool, 256> plain{};
        for (int c = 0x20; c < 256; ++c)
            plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
        return plain;
    }();

public:
    LineReader(const std::string& line, JournalEntry* e)
        : p_(line.data()), end_(line.data() + line.size()), e_(e)
    {
    }

    bool Entry()
    {
        enum : unsigned { kTime = 1, kProgram = 2, kAction = 4, kSerial = 8, kMac = 16,
                          kOutcome = 32, kBefore = 64, kWritten = 128, kAll = 255 };
        unsigned seen = 0;
        e_->restores = 0;
        e_->notTaken.clear();
        Blanks();
        if (!Take('{'))
            return false;
        Blanks();
        if (Take('}'))
            return false;
        for (;;) {
            if (!String(&name_))
                return false;
            Blanks();
            if (!Take(':'))
                return false;
            Blanks();
            bool ok = true;
            if (name_ == "time")
                ok = String(&e_->time), seen |= kTime;
            else if (name_ == "program")
                ok = String(&e_->program), seen |= kProgram;
            else if (name_ == "action")
                ok = String(&e_->action), seen |= kAction;
            else if (name_ == "serial")
                ok = String(&e_->serial), seen |= kSerial;
            else if (name_ == "mac")
                ok = String(&e_->mac), seen |= kMac;
            else if (name_ == "outcome")
                ok = String(&e_->outcome), seen |= kOutcome;
            else if (name_ == "before")
                ok = Records(&e_->before), seen |= kBefore;
            else if (name_ == "written")
                ok = Records(&e_->written), seen |= kWritten;
            else if (name_ == "not_taken")
                ok = Keys(&e_->notTaken);
            else if (name_ == "restores")
                ok = Count(&e_->restores);
            else
                return false;
            if (!ok)
                return false;
            Blanks();
            if (Take('}'))
                break;
            if (!Take(','))
                return false;
            Blanks();
        }
        Blanks();
        return p_ == end_ && seen == kAll && IsDeviceText(e_->serial, 16) &&
               IsDeviceText(e_->mac, 12);
    }

private:
    void Blanks()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }

    bool Take(char c)
    {
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    static int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool String(std::string* out)
    {
        if (!Take('"'))
            return false;
        // Most strings have no escape: found whole, then given in one assign.
        const char* run = p_;
        while (p_ < end_ && kPlain[static_cast<unsigned char>(*p_)])
            ++p_;
        if (p_ < end_ && *p_ == '"') {
            out->assign(run, static_cast<size_t>(p_ - run));
            ++p_;
            return true;
        }
        out->assign(run, static_cast<size_t>(p_ - run));
        for (;;) {
            run = p_;
            while (p_ < end_ && kPlain[static_cast<unsigned char>(*p_)])
                ++p_;
            out->append(run, static_cast<size_t>(p_ - run));
            if (p_ == end_)
                return false;
            const char c = *p_++;
            if (c == '"')
                return true;
            if (c != '\\' || p_ == end_)
                return false;   // a control character, or a line ending in an escape
            switch (*p_++) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                if (end_ - p_ < 4 || p_[0] != '0' || p_[1] != '0')
                    return false;   // beyond one byte: the whole reader's
                const int hi = HexDigit(p_[2]);
                const int lo = HexDigit(p_[3]);
                if (hi < 0 || lo < 0)
                    return false;
                *out += static_cast<char>(hi * 16 + lo);
                p_ += 4;
                break;
            }
            default: return false;
            }
        }
    }

    // A name as JournalLine writes it, without escapes, taken when the text
    // holds it quoted; else nothing is taken.
    bool Name(const char* quoted, size_t n)
    {
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, quoted, n) != 0)
            return false;
        p_ += n;
        return true;
    }

    bool Record(JournalRecord* r)
    {
        if (!Take('{'))
            return false;
        bool key = false;
        bool value = false;
        for (;;) {
            Blanks();
            int which = Name("\"key\"", 5) ? 1 : Name("\"value\"", 7) ? 2 : 0;
            if (which == 0) {
                if (!String(&name_))
                    return false;
                which = name_ == "key" ? 1 : name_ == "value" ? 2 : 0;
                if (which == 0)
                    return false;
            }
            Blanks();
            if (!Take(':'))
                return false;
            Blanks();
            if (!String(which == 1 ? &r->key : &r->value))
                return false;
            (which == 1 ? key : value) = true;
            Blanks();
            if (Take('}'))
                break;
            if (!Take(','))
                return false;
        }
        return key && value && KeyIndexOf(r->key) >= 0 && IsDeviceText(r->value, kMaxValueWidth);
    }

    // An array of records into out, whose elements keep their room.
    bool Records(std::vector<JournalRecord>* out)
    {
        if (!Take('['))
            return false;
        size_t n = 0;
        Blanks();
        if (!Take(']')) {
            for (;;) {
                if (n == out->size())
                    out->emplace_back();
                if (!Record(&(*out)[n++]))
                    return false;
                Blanks();
                if (Take(']'))
                    break;
                if (!Take(','))
                    return false;
                Blanks();
            }
        }
        out->resize(n);
        return true;
    }

    bool Keys(std::vector<std::string>* out)
    {
        out->clear();
        if (!Take('['))
            return false;
        Blanks();
        if (Take(']'))
            return true;
        for (;;) {
            out->emplace_back();
            if (!String(&out->back()) || KeyIndexOf(out->back()) < 0)
                return false;
            Blanks();
            if (Take(']'))
                return true;
            if (!Take(','))
                return false;
            Blanks();
        }
    }

    // A count from 1 to 2147483647 in plain digits.
    bool Count(int* out)
    {
        if (p_ == end_ || *p_ < '1' || *p_ > '9')
            return false;
        long long n = 0;
        for (int digits = 0; p_ < end_ && *p_ >= '0' && *p_ <= '9'; ++digits, ++p_) {
            if (digits == 10)
                return false;
            n = n * 10 + (*p_ - '0');
        }
        if (n > 2147483647 || (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')))
            return false;
        *out = static_cast<int>(n);
        return true;
    }

    const char* p_;
    const char* end_;
    JournalEntry* e_;
    std::string name_;
};

// Any JSON text: through the whole reader's tree of values.
bool ParseJsonJournalLine(const std::string& line, JournalEntry* out)
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

}  // namespace

bool ParseJournalLine(const std::string& line, JournalEntry* out)
{
    JournalEntry e;
    if (LineReader(line, &e).Entry() || ParseJsonJournalLine(line, &e)) {
        *out = std::move(e);
        return true;
    }
    return false;
}

namespace {

// ParseJournalLine through a scratch entry whose room the next line reuses.
bool ParseJournalLineInto(const std::string& line, JournalEntry* scratch, JournalEntry* out)
{
    if (!LineReader(line, scratch).Entry() && !ParseJsonJournalLine(line, scratch))
        return false;
    std::swap(*scratch, *out);
    return true;
}

}  // namespace

// --- The file -----------------------------------------------------------------

namespace {

#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
using StatBuf = struct _stat64;
int StatPath(const std::string& p, StatBuf* st) { return _stat64(p.c_str(), st); }
int MakeDir(const std::string& p) { return _mkdir(p.c_str()); }
// Whether a folder has the name: Windows refuses to open one with "Access
// is denied" alone, and it is named as POSIX names it.
bool IsFolder(const std::string& p)
{
    StatBuf st{};
    return StatPath(p, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}
std::string SystemText(DWORD error)
{
    char why[160];
    SystemErrorText(static_cast<int>(error), why, sizeof why);
    return why;
}
const char kFileIsLink[] = "it is a link (a reparse point)";
const char kFolderIsLink[] = "its folder is a link (a reparse point)";
#else
constexpr char kSeparators[] = "/";
using StatBuf = struct stat;
int StatPath(const std::string& p, StatBuf* st) { return stat(p.c_str(), st); }
int MakeDir(const std::string& p) { return mkdir(p.c_str(), 0700); }
const char kFileIsLink[] = "it is a symbolic link";
const char kFolderIsLink[] = "its folder is a symbolic link";
const char kFileNotOwn[] = "it belongs to another user";
const char kFileShared[] = "other users may write it";
const char kFolderNotOwn[] = "its folder belongs to another user";
const char kFolderShared[] = "other users may write in its folder";
#endif
const char kNotRegular[] = "it is not a regular file";

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

// The journal's folder ("." for a bare name) and its own name in it.
void SplitJournalPath(const std::string& path, std::string* folder, std::string* name)
{
    const auto slash = path.find_last_of(kSeparators);
    *folder = slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// The journal is the user's own file: it is opened only through its folder
// and by its name in it, never through a link at either (the journal would be
// appended to, or read from, wherever the link points), only as a regular file
// (a FIFO, a device or a socket records nothing and is never waited on), and
// only where no other user may write (who could otherwise put a link, or a
// journal of their own, in its place). Above its folder the path is the
// user's own choice of place (XDG_STATE_HOME, HOME), which may pass through
// links of theirs.
class JournalFile {
public:
    JournalFile() = default;
    ~JournalFile() { Close(); }
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Opens the journal at path to read (append false) or to append to,
    // when it is not there made with mode 0600. false with the reason;
    // *missing when the file or its folder does not exist.
    bool Open(const std::string& path, bool append, std::string* reason, bool* missing);
    // Reads up to size bytes at the file's position: the count, 0 at the
    // end, -1 with errno.
    long long Read(char* buf, size_t size);
    // Reads up to size bytes at offset: the count, -1 with errno.
    long long ReadAt(char* buf, size_t size, uint64_t offset);
    // The last byte ('\n' for an empty file or one that cannot be read).
    char LastByte();
    // Appends all of text at the end in one write: the count written, -1
    // with the reason.
    long long Append(const std::string& text, std::string* reason);
    // Closes the file; false with the reason when what was written may be lost.
    bool Close(std::string* reason = nullptr);

private:
#ifdef _WIN32
    HANDLE h_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

#ifdef _WIN32

// Windows keeps who may write a file or folder in its access list, not in
// mode bits: the owner and other users' rights are not checked here (the
// folder under LOCALAPPDATA is in the user's profile, which Windows gives to
// the user alone). Links are: a reparse point (a symbolic link, a junction)
// at the folder or at the file is refused, and the folder is held open
// without sharing its deletion, so it cannot be renamed or replaced while
// the journal is opened in it.
bool JournalFile::Open(const std::string& path, bool append, std::string* reason, bool* missing)
{
    *missing = false;
    auto isMissing = [](DWORD e) { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; };
    std::string folder, name;
    SplitJournalPath(path, &folder, &name);
    const HANDLE dir = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        *missing = isMissing(e);
        *reason = SystemText(e);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = false;
    if (!GetFileInformationByHandle(dir, &info))
        *reason = SystemText(GetLastError());
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        *reason = kFolderIsLink;
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        *reason = std::strerror(ENOTDIR);
    else if (IsFolder(path))
        *reason = std::strerror(EISDIR);
    else
        ok = true;
    if (ok) {
        // Reading too, for the last byte of a journal appended to.
        h_ = CreateFileA(path.c_str(), append ? FILE_READ_DATA | FILE_APPEND_DATA : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         append ? OPEN_ALWAYS : OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h_ == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            *missing = isMissing(e);
            *reason = SystemText(e);
            ok = false;
        } else if (!GetFileInformationByHandle(h_, &info)) {
            *reason = SystemText(GetLastError());
            ok = false;
        } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            *reason = kFileIsLink;
            ok = false;
        } else if (GetFileType(h_) != FILE_TYPE_DISK) {
            *reason = kNotRegular;
            ok = false;
        }
        if (!ok)
            Close();
    }
    CloseHandle(dir);
    return ok;
}

long long JournalFile::Read(char* buf, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(h_, buf, static_cast<DWORD>(size), &got, nullptr)) {
        errno = EIO;
        return -1;
    }
    return got;
}

long long JournalFile::ReadAt(char* buf, size_t size, uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(h_, buf, static_cast<DWORD>(size), &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : (errno = EIO, -1);
    return got;
}

char JournalFile::LastByte()
{
    LARGE_INTEGER size{};
    char last = '\n';
    if (GetFileSizeEx(h_, &size) && size.QuadPart > 0 &&
        ReadAt(&last, 1, static_cast<uint64_t>(size.QuadPart - 1)) != 1)
        last = '\n';
    return last;
}

long long JournalFile::Append(const std::string& text, std::string* reason)
{
    // Opened for appending alone (no right to write anywhere else), and the
    // end found and written under a lock that every writer of the journal
    // takes: the C library's _O_APPEND seeks to the end and then writes, so
    // a record another writer added between the two would be written over.
    // One byte far beyond any journal's end is the writers' lock; closing the
    // handle releases it.
    OVERLAPPED lock{};
    lock.Offset = 0xFFFFFFFEu;
    lock.OffsetHigh = 0x7FFFFFFFu;
    if (!LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock)) {
        *reason = SystemText(GetLastError());
        return -1;
    }
    std::string line = text;
    // A line cut short (a full disk, a crash) is ended first, so that it
    // does not take this record down with it.
    if (LastByte() != '\n')
        line = "\n" + line;   // (insert(0, ...) trips a false -Wrestrict at -O3)
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFFu;   // the end, whatever the handle's position
    DWORD put = 0;
    if (!WriteFile(h_, line.data(), static_cast<DWORD>(line.size()), &put, &atEnd)) {
        *reason = SystemText(GetLastError());
        return -1;
    }
    return static_cast<long long>(put) - static_cast<long long>(line.size() - text.size());
}

bool JournalFile::Close(std::string*)
{
    if (h_ != INVALID_HANDLE_VALUE)
        CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return true;
}

#else

namespace {

// Why name in the folder dir could not be opened: a link, or a file that is
// neither regular nor a folder, is named as such; else the system's reason.
std::string OpenRefusal(int dir, const char* name, int error, const char* link)
{
    struct stat st {};
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return link;
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return kNotRegular;
    }
    return std::strerror(error);
}

// The journal's folder, opened without following a link at it, when it is
// the user's and no other user may write in it; -1 with the reason.
int OpenJournalFolder(const std::string& folder, std::string* reason, bool* missing)
{
    std::string above = ".";
    std::string name = folder;
    const auto slash = folder.find_last_of('/');
    if (slash != std::string::npos && folder != "/") {
        above = slash == 0 ? "/" : folder.substr(0, slash);
        name = folder.substr(slash + 1);
    }
    const int up = open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (up < 0) {
        *missing = errno == ENOENT;
        *reason = std::strerror(errno);
        return -1;
    }
    const int fd = openat(up, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        *missing = error == ENOENT;
        *reason = OpenRefusal(up, name.c_str(), error, kFolderIsLink);
        close(up);
        return -1;
    }
    close(up);
    struct stat st {};
    if (fstat(fd, &st) != 0)
        *reason = std::strerror(errno);
    else if (st.st_uid != geteuid())
        *reason = kFolderNotOwn;
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        *reason = kFolderShared;
    else
        return fd;
    close(fd);
    return -1;
}

}  // namespace

bool JournalFile::Open(const std::string& path, bool append, std::string* reason, bool* missing)
{
    *missing = false;
    std::string folder, name;
    SplitJournalPath(path, &folder, &name);
    const int dir = OpenJournalFolder(folder, reason, missing);
    if (dir < 0)
        return false;
    // Without waiting: a FIFO in its place opens at once, and is refused.
    const int flags = (append ? O_RDWR | O_APPEND | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK |
                      O_CLOEXEC;
    fd_ = openat(dir, name.c_str(), flags, 0600);
    if (fd_ < 0) {
        const int error = errno;
        *missing = error == ENOENT;
        *reason = OpenRefusal(dir, name.c_str(), error, kFileIsLink);
        close(dir);
        return false;
    }
    close(dir);
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        *reason = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        *reason = std::strerror(EISDIR);
    else if (!S_ISREG(st.st_mode))
        *reason = kNotRegular;
    else if (st.st_uid != geteuid())
        *reason = kFileNotOwn;
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        *reason = kFileShared;
    else
        return true;
    Close();
    return false;
}

long long JournalFile::Read(char* buf, size_t size)
{
    ssize_t n;
    do
        n = read(fd_, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

long long JournalFile::ReadAt(char* buf, size_t size, uint64_t offset)
{
    ssize_t n;
    do
        n = pread(fd_, buf, size, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    return n;
}

char JournalFile::LastByte()
{
    struct stat st {};
    char last = '\n';
    if (fstat(fd_, &st) == 0 && st.st_size > 0 &&
        ReadAt(&last, 1, static_cast<uint64_t>(st.st_size - 1)) != 1)
        last = '\n';
    return last;
}

long long JournalFile::Append(const std::string& text, std::string* reason)
{
    std::string line = text;
    // A line cut short (a full disk, a crash) is ended first, so that it
    // does not take this record down with it.
    if (LastByte() != '\n')
        line = "\n" + line;   // (insert(0, ...) trips a false -Wrestrict at -O3)
    ssize_t n = write(fd_, line.data(), line.size());
    while (n < 0 && errno == EINTR)   // interrupted before any byte was written
        n = write(fd_, line.data(), line.size());
    if (n < 0) {
        *reason = std::strerror(errno);
        return -1;
    }
    return static_cast<long long>(n) - static_cast<long long>(line.size() - text.size());
}

bool JournalFile::Close(std::string* reason)
{
    const bool closed = fd_ < 0 || close(fd_) == 0;
    if (!closed && reason)
        *reason = std::strerror(errno);
    fd_ = -1;
    return closed;
}

#endif

#ifdef _WIN32
const char kJournalUnplaced[] = "LOCALAPPDATA is not set";
#else
const char kJournalUnplaced[] = "neither XDG_STATE_HOME nor HOME is set";
#endif

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
    std::string folder, name;
    SplitJournalPath(path, &folder, &name);
    int error = 0;
    if (!MakeFolders(folder, &error)) {
        *reason = std::strerror(error);
        return false;
    }
    JournalFile file;
    bool missing = false;
    if (!file.Open(path, true, reason, &missing))
        return false;
    const long long n = file.Append(line, reason);
    std::string closing;
    const bool closed = file.Close(&closing);
    if (n < 0)
        return false;
    if (static_cast<size_t>(n) < line.size()) {
        *reason = "only " + std::to_string(n) + " of " + std::to_string(line.size()) +
                  " bytes were written";
        return false;
    }
    if (!closed) {
        *reason = closing;
        return false;
    }
    return true;
}

std::string RecordWrite(const JournalEntry& entry)
{
    const std::string path = JournalPath();
    if (path.empty())
        return JournalFailureText("the state folder", kJournalUnplaced);
    std::string reason;
    if (!AppendJournalLine(path, JournalLine(entry), &reason))
        return JournalFailureText(path, reason);
    return "";
}

// --- Reading ------------------------------------------------------------------

JournalReader::JournalReader() = default;
JournalReader::~JournalReader() = default;

bool JournalReader::Open(const std::string& path, std::string* reason)
{
    file_ = std::make_unique<JournalFile>();
    bool missing = false;
    if (!file_->Open(path, false, reason, &missing)) {
        file_.reset();
        return missing;   // nothing written yet: an empty journal
    }
    buf_.resize(kReadChunk);
    return true;
}

bool JournalReader::Fill()
{
    base_ += end_;
    pos_ = end_ = 0;
    const long long n = file_->Read(buf_.data(), buf_.size());
    if (n < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    end_ = static_cast<size_t>(n);
    return n > 0;
}

bool JournalReader::NextLine(bool* tooLong)
{
    line_.clear();
    *tooLong = false;
    start_ = base_ + pos_;
    bool any = false;
    for (;;) {
        if (pos_ == end_ && !Fill())
            return any && error_.empty();
        any = true;
        const char* from = buf_.data() + pos_;
        const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end_ - pos_));
        const size_t n = nl ? static_cast<size_t>(nl - from) : end_ - pos_;
        if (!*tooLong && line_.size() + n <= kMaxLine)
            line_.append(from, n);
        else
            *tooLong = true;
        pos_ += n;
        if (nl) {
            ++pos_;
            return true;
        }
    }
}

bool JournalReader::Next(JournalEntry* out)
{
    if (!file_)
        return false;
    bool tooLong = false;
    while (NextLine(&tooLong)) {
        ++number_;
        size_t n = line_.size();
        if (n > 0 && line_[n - 1] == '\r')
            --n;
        if (!tooLong && line_.find_first_not_of(" \t") >= n)
            continue;   // blank
        if (!tooLong) {
            line_.resize(n);
            if (ParseJournalLineInto(line_, &scratch_, out)) {
                out->number = number_;
                last_ = {start_, static_cast<uint32_t>(line_.size()), number_};
                return true;
            }
        }
        damaged_.push_back(number_);
    }
    return false;
}

bool JournalReader::ReadAgain(const JournalPlace& place, JournalEntry* out)
{
    if (!file_)
        return false;
    again_.resize(place.length);
    if (file_->ReadAt(again_.data(), place.length, place.offset) != static_cast<long long>(place.length) ||
        !ParseJournalLineInto(again_, &scratch_, out))
        return false;
    out->number = place.number;
    return true;
}

bool ReadJournal(const std::string& path, JournalContents* out, std::string* reason)
{
    *out = JournalContents{};
    JournalReader reader;
    if (!reader.Open(path, reason))
        return false;
    JournalEntry e;
    while (reader.Next(&e))
        out->entries.push_back(std::move(e));
    out->damaged = reader.damaged();
    if (!reader.error().empty()) {
        *reason = reader.error();
        return false;
    }
    return true;
}

// --- Changes and restore --------------------------------------------------------

std::vector<JournalChange> JournalChanges(const JournalEntry& e)
{
    // For each key, the before record a written one is compared with (the
    // last of the first kRecordSlots that a table can hold, as a table of
    // them would give it) and the before value told (the last of all).
    std::array<const JournalRecord*, kKeyCount> compared{};
    std::array<const JournalRecord*, kKeyCount> told{};
    int slots = 0;
    for (const JournalRecord& b : e.before) {
        const int k = KeyIndexOf(b.key);
        if (k < 0)
            continue;
        told[static_cast<size_t>(k)] = &b;
        if (slots < kRecordSlots && b.value.size() <= static_cast<size_t>(kMaxValueWidth)) {
            compared[static_cast<size_t>(k)] = &b;
            ++slots;
        }
    }
    // A table of one record, the compared one, for the shared comparison.
    RecordTable one;
    ClearRecordTable(&one);
    std::vector<JournalChange> out;
    for (const JournalRecord& w : e.written) {
        ConfigRecord r;
        if (!RecordOf(w, &r))
            continue;
        const JournalRecord* b = compared[static_cast<size_t>(KeyIndexOf(w.key))];
        if (!b || !RecordOf(*b, &one[0]))
            ClearRecord(&one[0]);
        if (CfgRecordReadBack(r, one))
            continue;
        JournalChange c;
        c.key = w.key;
        c.after = w.value;
        if (const JournalRecord* t = told[static_cast<size_t>(KeyIndexOf(w.key))]) {
            c.hadBefore = true;   // the last of duplicate keys counts
            c.before = t->value;
        }
        out.push_back(std::move(c));
    }
    return out;
}

bool JournalEntryNames(const JournalEntry& e, const std::string& device)
{
    const auto at = device.rfind('@');   // a serial number may hold '@', a MAC never
    if (at != std::string::npos)
        return e.serial == device.substr(0, at) &&
               NormalMac(e.mac) == NormalMac(device.substr(at + 1));
    return device == e.serial || (!e.mac.empty() && NormalMac(device) == NormalMac(e.mac));
}
