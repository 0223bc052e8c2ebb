#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
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

int KeyIndexOf(const std::string& key)
{
    return ::KeyIndexOf(key.c_str());
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
// Whether a folder has the name: Windows refuses to open one with "Access
// is denied" alone, and it is named as POSIX names it.
bool IsFolder(const std::string& p)
{
    StatBuf st{};
    return StatPath(p, &st) == 0 && IsDir(st);
}
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
    int error = 0;
    const auto slash = path.find_last_of(kSeparators);
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), &error)) {
        *reason = std::strerror(error);
        return false;
    }
    std::string text = line;
#ifdef _WIN32
    // Opened for appending alone (no right to write anywhere else), and the
    // end found and written under a lock that every writer of the journal
    // takes: the C library's _O_APPEND seeks to the end and then writes, so
    // a record another writer added between the two would be written over.
    if (IsFolder(path)) {
        *reason = std::strerror(EISDIR);
        return false;
    }
    const HANDLE h = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    char why[160];
    if (h == INVALID_HANDLE_VALUE) {
        SystemErrorText(static_cast<int>(GetLastError()), why, sizeof why);
        *reason = why;
        return false;
    }
    // One byte far beyond any journal's end is the writers' lock; closing the
    // handle releases it.
    OVERLAPPED lock{};
    lock.Offset = 0xFFFFFFFEu;
    lock.OffsetHigh = 0x7FFFFFFFu;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock)) {
        SystemErrorText(static_cast<int>(GetLastError()), why, sizeof why);
        CloseHandle(h);
        *reason = why;
        return false;
    }
    // A line cut short (a full disk, a crash) is ended first, so that it
    // does not take this record down with it.
    LARGE_INTEGER size{};
    char last = '\n';
    DWORD got = 0;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart - 1) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart - 1) >> 32);
        if (!ReadFile(h, &last, 1, &got, &at) || got != 1)
            last = '\n';
    }
    if (last != '\n')
        text = "\n" + text;   // (insert(0, ...) trips a false -Wrestrict at -O3)
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFFu;   // the end, whatever the handle's position
    DWORD put = 0;
    const bool wrote = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, &atEnd) != 0;
    const DWORD failure = wrote ? 0 : GetLastError();
    CloseHandle(h);
    if (!wrote) {
        SystemErrorText(static_cast<int>(failure), why, sizeof why);
        *reason = why;
        return false;
    }
    const long long n = put;
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
        return JournalFailureText("the state folder", kJournalUnplaced);
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
    const int fd = IsFolder(path) ? (errno = EISDIR, -1) : _open(path.c_str(), _O_RDONLY | _O_BINARY);
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
    const auto at = device.rfind('@');   // a serial number may hold '@', a MAC never
    if (at != std::string::npos)
        return e.serial == device.substr(0, at) &&
               NormalMac(e.mac) == NormalMac(device.substr(at + 1));
    return device == e.serial || (!e.mac.empty() && NormalMac(device) == NormalMac(e.mac));
}

std::vector<JournalRecord> RestoreValues(const JournalEntry& e, std::vector<std::string>* unrestorable)
{
    std::vector<JournalRecord> out;
    for (const JournalChange& c : JournalChanges(e)) {
        const CfgField* f = FindCfgField(KeyIndexOf(c.key));
        if (c.hadBefore && f && f->writable)
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
    const CfgKind kind = CfgKindOfKey(k);
    if ((kind == CfgKind::Number || kind == CfgKind::Choice) && ParseCfgNumber(value.value.c_str(), &n))
        return SetCfgValue(state, k, std::to_string(n).c_str());
    return SetCfgValue(state, k, value.value.c_str());
}
