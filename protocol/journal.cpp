#include "journal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef __SSE2__
#include <emmintrin.h>
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

// A key's index in KeyTable, or -1. History reads two lists of keys on
// every line of the journal: a key of up to 16 bytes is taken as two words
// (its bytes, then zeros), hashed into a table of 64 slots and compared
// with the slot's key as the same two words; a longer one is compared with
// every key.
struct KeyWords {
    uint64_t a = 0;
    uint64_t b = 0;
};

KeyWords KeyWordsOf(std::string_view k)
{
    char text[16] = {};
    k.copy(text, k.size());
    KeyWords w;
    std::memcpy(&w.a, text, 8);
    std::memcpy(&w.b, text + 8, 8);
    return w;
}

constexpr size_t kKeySlots = 64;

size_t KeySlot(const KeyWords& x, size_t size)
{
    return static_cast<size_t>(((x.a ^ (x.b * 31) ^ size) * 0x9E3779B97F4A7C15u) >> 58);
}

struct KeyIndex {
    std::array<int8_t, kKeySlots> key;   // -1: an empty slot; filled in order from the hashed one
    std::array<KeyWords, kKeyCount> words;
    std::array<size_t, kKeyCount> length;
};

const KeyIndex& TheKeyIndex()
{
    constexpr size_t kSlots = kKeySlots;
    auto slot = KeySlot;
    using Index = KeyIndex;
    static const Index index = [&slot] {
        Index x{};
        x.key.fill(-1);
        for (int k = 0; k < kKeyCount; ++k) {
            const std::string_view name = KeyTable[k].key;
            x.length[static_cast<size_t>(k)] = name.size();
            if (name.size() > 16)
                continue;
            x.words[static_cast<size_t>(k)] = KeyWordsOf(name);
            size_t s = slot(x.words[static_cast<size_t>(k)], name.size());
            while (x.key[s] >= 0)
                s = (s + 1) % kSlots;
            x.key[s] = static_cast<int8_t>(k);
        }
        return x;
    }();
    return index;
}

int KeyIndexOfWords(const KeyWords& w, size_t n)
{
    const KeyIndex& index = TheKeyIndex();
    for (size_t s = KeySlot(w, n);; s = (s + 1) % kKeySlots) {
        const int k = index.key[s];
        if (k < 0)
            return -1;
        const auto i = static_cast<size_t>(k);
        if (index.length[i] == n && index.words[i].a == w.a && index.words[i].b == w.b)
            return k;
    }
}

int KeyIndexOf(std::string_view key)
{
    if (key.size() > 16) {
        for (int k = 0; k < kKeyCount; ++k)
            if (key == KeyTable[k].key)
                return k;
        return -1;
    }
    return KeyIndexOfWords(KeyWordsOf(key), key.size());
}

// The words of the n bytes (at most 16) at p, where 16 bytes may be read:
// loaded at once, then only the key's own bytes kept, the first in memory
// being the lowest (on a little-endian machine).
KeyWords KeyWordsInLine(const char* p, size_t n)
{
    KeyWords w;
    std::memcpy(&w.a, p, 8);
    std::memcpy(&w.b, p + 8, 8);
    if (n < 8) {
        w.a &= (uint64_t{1} << (8 * n)) - 1;
        w.b = 0;
    } else if (n < 16) {
        w.b &= (uint64_t{1} << (8 * (n - 8))) - 1;
    }
    return w;
}

// KeyIndexOf of a key with at least 16 bytes that may be read from its
// start (the line goes on past it): its words loaded at once.
int KeyIndexOfInLine(std::string_view key)
{
    if constexpr (std::endian::native != std::endian::little)
        return KeyIndexOf(key);
    const size_t n = key.size();
    if (n > 16)
        return KeyIndexOf(key);
    return KeyIndexOfWords(KeyWordsInLine(key.data(), n), n);
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
bool IsDeviceText(std::string_view s, size_t max)
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

// One entry seen without copying its texts: each is a view into the line it
// was read from, or into the reader's room for a text that held escapes, or
// into a JournalEntry's strings. Keys are indices in KeyTable (-1 only in an
// entry made by hand with a key the table does not know).
struct RecordView {
    int key = -1;
    std::string_view value;
};

struct EntryView {
    std::string_view time;
    std::string_view program;
    std::string_view action;
    std::string_view serial;
    std::string_view mac;
    std::string_view outcome;
    int restores = 0;
    std::vector<RecordView> before;    // their room kept from line to line
    std::vector<RecordView> written;
    std::vector<int> notTaken;
};

// The bytes a string holds as they are: not its quote, not an escape, not a
// control character.
constexpr auto kPlainByte = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 256; ++c)
        plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
    return plain;
}();

// The first byte from p that is not plain, or end: sixteen or eight bytes
// at a time while none of them is a quote, a backslash or a control
// character, then one at a time.
inline const char* PastPlain(const char* p, const char* end)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i slash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, slash)),
                                         _mm_cmpeq_epi8(_mm_min_epu8(v, control), v));   // v <= 0x1F
        if (const int mask = _mm_movemask_epi8(hit))
            return p + std::countr_zero(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    while (end - p >= 8) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        const uint64_t quote = v ^ (kOnes * '"');
        const uint64_t slash = v ^ (kOnes * '\\');
        // A byte below 0x20 (or equal to the quote or backslash, made zero
        // above) sets its high bit here; a byte from 0x80 never does.
        const uint64_t hit = ((v - kOnes * 0x20) | (quote - kOnes) | (slash - kOnes)) & ~v & kHigh;
        if (hit) {
            // No byte before the first such one is marked, so the lowest
            // mark is it (the first in memory on a little-endian machine).
            if constexpr (std::endian::native == std::endian::little)
                p += std::countr_zero(hit) / 8;
            break;
        }
        p += 8;
    }
    while (p < end && kPlainByte[static_cast<unsigned char>(*p)])
        ++p;
    return p;
}

// The journal's lines as JournalLine writes them, read without building a
// tree of JSON values: the members the entry has, in any order, each of the
// kind it must be; strings with the escapes JournalLine writes (\u0000 to
// \u00ff among them). Anything else it is not sure of (another member, a
// code point beyond one byte, a number that is not plain digits) it leaves
// to the whole JSON reader, which then decides: what this reader takes, the
// whole reader takes the same way. Nothing is copied but the strings that
// hold escapes, which are written out once into room as long as the line.
class LineScanner {
public:
    // Views of the line's texts in *v, valid while the line and this
    // scanner are. false when the line is not as described above.
    bool Scan(std::string_view line, EntryView* v)
    {
        p_ = line.data();
        end_ = line.data() + line.size();
        v_ = v;
        // Escaped text is never longer once read, so the room never moves
        // while a line is read and the views into it stay good.
        if (room_.size() < line.size())
            room_.resize(line.size());
        used_ = 0;
        return Entry();
    }

private:
    bool Entry()
    {
        enum : unsigned { kTime = 1, kProgram = 2, kAction = 4, kSerial = 8, kMac = 16,
                          kOutcome = 32, kBefore = 64, kWritten = 128, kAll = 255 };
        unsigned seen = 0;
        v_->restores = 0;
        v_->notTaken.clear();
        Blanks();
        if (!Take('{'))
            return false;
        Blanks();
        if (Take('}'))
            return false;
        std::string_view name;
        for (;;) {
            if (!String(&name))
                return false;
            Blanks();
            if (!Take(':'))
                return false;
            Blanks();
            bool ok = true;
            if (Is(name, "time"))
                ok = String(&v_->time), seen |= kTime;
            else if (Is(name, "program"))
                ok = String(&v_->program), seen |= kProgram;
            else if (Is(name, "action"))
                ok = String(&v_->action), seen |= kAction;
            else if (Is(name, "serial"))
                ok = String(&v_->serial), seen |= kSerial;
            else if (Is(name, "mac"))
                ok = String(&v_->mac), seen |= kMac;
            else if (Is(name, "outcome"))
                ok = String(&v_->outcome), seen |= kOutcome;
            else if (Is(name, "before"))
                ok = Records(&v_->before), seen |= kBefore;
            else if (Is(name, "written"))
                ok = Records(&v_->written), seen |= kWritten;
            else if (Is(name, "not_taken"))
                ok = Keys(&v_->notTaken);
            else if (Is(name, "restores"))
                ok = Count(&v_->restores);
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
        return p_ == end_ && seen == kAll && IsDeviceText(v_->serial, 16) &&
               IsDeviceText(v_->mac, 12);
    }

    // Whether a name is the given one (its length known when compiled).
    template <size_t N>
    static bool Is(std::string_view name, const char (&text)[N])
    {
        return name.size() == N - 1 && std::memcmp(name.data(), text, N - 1) == 0;
    }

    void Blanks()
    {
        while (p_ < end_ && static_cast<unsigned char>(*p_) <= ' ' &&
               (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
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

    // Past the plain bytes of a string.
    void Plain() { p_ = PastPlain(p_, end_); }

    bool String(std::string_view* out)
    {
        if (!Take('"'))
            return false;
        // Most strings have no escape: a view of the line.
        const char* run = p_;
        Plain();
        if (p_ < end_ && *p_ == '"') {
            *out = std::string_view(run, static_cast<size_t>(p_ - run));
            ++p_;
            return true;
        }
        char* const text = room_.data() + used_;
        char* to = text;
        for (;;) {
            std::memcpy(to, run, static_cast<size_t>(p_ - run));
            to += p_ - run;
            if (p_ == end_)
                return false;
            const char c = *p_++;
            if (c == '"')
                break;
            if (c != '\\' || p_ == end_)
                return false;   // a control character, or a line ending in an escape
            switch (*p_++) {
            case '"': *to++ = '"'; break;
            case '\\': *to++ = '\\'; break;
            case '/': *to++ = '/'; break;
            case 'b': *to++ = '\b'; break;
            case 'f': *to++ = '\f'; break;
            case 'n': *to++ = '\n'; break;
            case 'r': *to++ = '\r'; break;
            case 't': *to++ = '\t'; break;
            case 'u': {
                if (end_ - p_ < 4 || p_[0] != '0' || p_[1] != '0')
                    return false;   // beyond one byte: the whole reader's
                const int hi = HexDigitValue(p_[2]);
                const int lo = HexDigitValue(p_[3]);
                if (hi < 0 || lo < 0)
                    return false;
                *to++ = static_cast<char>(hi * 16 + lo);
                p_ += 4;
                break;
            }
            default: return false;
            }
            run = p_;
            Plain();
        }
        *out = std::string_view(text, static_cast<size_t>(to - text));
        used_ += out->size();
        return true;
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

    // Whether the text at p_ starts with a text of 8 to 16 bytes, compared
    // as two words that may overlap.
    template <size_t N>
    bool Literal(const char (&text)[N]) const
    {
        static_assert(N - 1 >= 8 && N - 1 <= 16);
        if (static_cast<size_t>(end_ - p_) < N - 1)
            return false;
        uint64_t a, b, x, y;
        std::memcpy(&a, p_, 8);
        std::memcpy(&b, p_ + (N - 1 - 8), 8);
        std::memcpy(&x, text, 8);
        std::memcpy(&y, text + (N - 1 - 8), 8);
        return a == x && b == y;
    }

    // A record exactly as JournalLine writes it, {"key": "K", "value": "V"}
    // with no escape in K or V, read in one go; anything else is left to
    // Record, which reads these the same way.
    bool WrittenRecord(RecordView* r)
    {
        static constexpr char kHead[] = "{\"key\": \"";
        static constexpr char kMiddle[] = "\", \"value\": \"";
        constexpr size_t kHeadSize = sizeof kHead - 1;
        if (!Literal(kHead))
            return false;
        p_ += kHeadSize;
        // The journal's lines mostly list their keys in the same order: the
        // key this record had on the line before is tried first, as the
        // plain bytes it is made of followed by the closing quote.
        const int guess = r->key;
        if (std::endian::native == std::endian::little && guess >= 0 && end_ - p_ >= 16) {
            const auto g = static_cast<size_t>(guess);
            const size_t n = keys_.length[g];
            if (n < 16 && p_[n] == '"') {
                const KeyWords w = KeyWordsInLine(p_, n);
                if (w.a == keys_.words[g].a && w.b == keys_.words[g].b) {
                    p_ += n;
                    return WrittenValue(r, guess);
                }
            }
        }
        const char* key = p_;
        Plain();
        const std::string_view keyText(key, static_cast<size_t>(p_ - key));
        if (!Literal(kMiddle))
            return false;
        // The key is followed by kMiddle, so 16 bytes from its start are in
        // the line when it has 3 or more.
        const int k = keyText.size() >= 3 ? KeyIndexOfInLine(keyText) : KeyIndexOf(keyText);
        return k >= 0 && WrittenValue(r, k);
    }

    // The rest of a record as JournalLine writes it, from the quote that
    // ends its key k: the value's member and the record's end.
    bool WrittenValue(RecordView* r, int k)
    {
        static constexpr char kMiddle[] = "\", \"value\": \"";
        constexpr size_t kMiddleSize = sizeof kMiddle - 1;
        if (!Literal(kMiddle))
            return false;
        p_ += kMiddleSize;
        const char* value = p_;
        Plain();
        if (end_ - p_ < 2 || p_[0] != '"' || p_[1] != '}')
            return false;
        r->value = std::string_view(value, static_cast<size_t>(p_ - value));
        p_ += 2;
        r->key = k;
        return r->value.size() <= static_cast<size_t>(kMaxValueWidth);   // a plain value holds no zero byte
    }

    bool Record(RecordView* r)
    {
        const char* const at = p_;
        if (WrittenRecord(r))
            return true;
        p_ = at;
        if (!Take('{'))
            return false;
        bool key = false;
        bool value = false;
        std::string_view keyText;
        for (;;) {
            Blanks();
            int which = Name("\"key\"", 5) ? 1 : Name("\"value\"", 7) ? 2 : 0;
            if (which == 0) {
                std::string_view name;
                if (!String(&name))
                    return false;
                which = name == "key" ? 1 : name == "value" ? 2 : 0;
                if (which == 0)
                    return false;
            }
            Blanks();
            if (!Take(':'))
                return false;
            Blanks();
            if (!String(which == 1 ? &keyText : &r->value))
                return false;
            (which == 1 ? key : value) = true;
            Blanks();
            if (Take('}'))
                break;
            if (!Take(','))
                return false;
        }
        if (!key || !value)
            return false;
        r->key = KeyIndexOf(keyText);
        return r->key >= 0 && IsDeviceText(r->value, kMaxValueWidth);
    }

    // An array of records into out, whose room is kept.
    bool Records(std::vector<RecordView>* out)
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
                if (end_ - p_ >= 3 && p_[0] == ',' && p_[1] == ' ' && p_[2] == '{') {
                    p_ += 2;   // the next record, as JournalLine writes it
                    continue;
                }
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

    bool Keys(std::vector<int>* out)
    {
        out->clear();
        if (!Take('['))
            return false;
        Blanks();
        if (Take(']'))
            return true;
        for (;;) {
            std::string_view key;
            if (!String(&key))
                return false;
            const int k = KeyIndexOf(key);
            if (k < 0)
                return false;
            out->push_back(k);
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

    const KeyIndex& keys_ = TheKeyIndex();
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    EntryView* v_ = nullptr;
    std::vector<char> room_;
    size_t used_ = 0;
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


// Views of an entry's own strings.
void ViewOf(const JournalEntry& e, EntryView* v)
{
    v->time = e.time;
    v->program = e.program;
    v->action = e.action;
    v->serial = e.serial;
    v->mac = e.mac;
    v->outcome = e.outcome;
    v->restores = e.restores;
    auto records = [](const std::vector<JournalRecord>& from, std::vector<RecordView>* to) {
        to->resize(from.size());
        for (size_t i = 0; i < from.size(); ++i)
            (*to)[i] = {KeyIndexOf(from[i].key), from[i].value};
    };
    records(e.before, &v->before);
    records(e.written, &v->written);
    v->notTaken.clear();
    for (const std::string& k : e.notTaken)
        v->notTaken.push_back(KeyIndexOf(k));
}

// An entry from the views of a line that was read whole (every key known);
// its before and written records only when records is true, else left empty.
// The entry's strings keep their room.
void FillEntry(const EntryView& v, bool records, JournalEntry* e)
{
    e->time.assign(v.time);
    e->program.assign(v.program);
    e->action.assign(v.action);
    e->restores = v.restores;
    e->serial.assign(v.serial);
    e->mac.assign(v.mac);
    e->outcome.assign(v.outcome);
    e->notTaken.resize(v.notTaken.size());
    for (size_t i = 0; i < v.notTaken.size(); ++i)
        e->notTaken[i].assign(KeyTable[v.notTaken[i]].key);
    auto fill = [records](const std::vector<RecordView>& from, std::vector<JournalRecord>* to) {
        to->resize(records ? from.size() : 0);
        for (size_t i = 0; i < to->size(); ++i) {
            (*to)[i].key.assign(KeyTable[from[i].key].key);
            (*to)[i].value.assign(from[i].value);
        }
    };
    fill(v.before, &e->before);
    fill(v.written, &e->written);
}

// Whether a written value reads back as the value before the write, as the
// write check compares them (before is nullptr when there was none). The
// answer depends on the key and the two texts alone, and the entries of a
// journal mostly repeat their values: answers are kept in a small table
// found by a hash of the three, each checked whole before it is used.
class ReadBackCheck {
public:
    bool Same(const RecordView& w, const RecordView* before)
    {
        const std::string_view b = before ? before->value : std::string_view();
        // Both at most kMaxValueWidth bytes, as ChangesOf sees to. The hash
        // takes the sizes and the bytes where values mostly differ, the last.
        auto ends = [](std::string_view t) {
            return t.empty() ? 0u : static_cast<unsigned char>(t.back()) * 256u + static_cast<unsigned char>(t[t.size() / 2]);
        };
        const uint64_t h = ((static_cast<uint64_t>(w.key) << 48) ^ (uint64_t{before ? 1u : 2u} << 44) ^
                            (uint64_t{w.value.size()} << 38) ^ (uint64_t{b.size()} << 32) ^
                            (uint64_t{ends(w.value)} << 16) ^ ends(b)) *
                           0x9E3779B97F4A7C15u;
        Answer& a = answers_[(h >> 40) % kAnswers];
        if (a.key == w.key && a.hadBefore == (before != nullptr) &&
            std::string_view(a.written, a.writtenSize) == w.value &&
            std::string_view(a.before, a.beforeSize) == b)
            return a.same;
        ConfigRecord r;
        ClearRecord(&r);
        r.key = KeyTable[w.key].key;
        r.width = KeyTable[w.key].width;
        w.value.copy(r.value, w.value.size());
        char got[kValueSize] = {};
        b.copy(got, b.size());
        a.same = CfgRecordMatches(r, before ? got : nullptr);
        a.key = w.key;
        a.hadBefore = before != nullptr;
        a.writtenSize = static_cast<uint8_t>(w.value.size());
        a.beforeSize = static_cast<uint8_t>(b.size());
        w.value.copy(a.written, w.value.size());   // (an empty view may have no bytes at all)
        b.copy(a.before, b.size());
        return a.same;
    }

private:
    static constexpr size_t kAnswers = 512;
    struct Answer {
        int key = -1;   // none yet
        bool hadBefore = false;
        bool same = false;
        uint8_t writtenSize = 0;
        uint8_t beforeSize = 0;
        char written[kMaxValueWidth];
        char before[kMaxValueWidth];
    };
    std::vector<Answer> answers_ = std::vector<Answer>(kAnswers);
};

// JournalChanges of an entry's views into *out, whose room is kept.
void ChangesOf(const EntryView& e, ReadBackCheck* check, std::vector<JournalChange>* out)
{
    // For each key, the before record a written one is compared with (the
    // last of the first kRecordSlots that a table can hold, as a table of
    // them would give it) and the before value told (the last of all).
    std::array<const RecordView*, kKeyCount> compared{};
    std::array<const RecordView*, kKeyCount> told{};
    int slots = 0;
    for (const RecordView& b : e.before) {
        if (b.key < 0)
            continue;
        told[static_cast<size_t>(b.key)] = &b;
        if (slots < kRecordSlots && b.value.size() <= static_cast<size_t>(kMaxValueWidth)) {
            compared[static_cast<size_t>(b.key)] = &b;
            ++slots;
        }
    }
    size_t n = 0;
    for (const RecordView& w : e.written) {
        if (w.key < 0 || w.value.size() > static_cast<size_t>(kMaxValueWidth))
            continue;   // no record of a table could hold it
        if (check->Same(w, compared[static_cast<size_t>(w.key)]))
            continue;
        if (n == out->size())
            out->emplace_back();
        JournalChange& c = (*out)[n++];
        c.key.assign(KeyTable[w.key].key);
        c.after.assign(w.value);
        const RecordView* t = told[static_cast<size_t>(w.key)];
        c.hadBefore = t != nullptr;   // the last of duplicate keys counts
        c.before.assign(t ? t->value : std::string_view());
    }
    out->resize(n);
}

}  // namespace

// What a reader keeps from line to line: the scanner and its room, the
// views of the last line read, an entry for the lines only the whole JSON
// reader takes, and the read-back answers of the last entry.
class JournalScan {
public:
    // The views of one line in view(). false when it is not an entry.
    bool Read(std::string_view line)
    {
        if (scanner_.Scan(line, &view_))
            return true;
        if (!ParseJsonJournalLine(std::string(line), &whole_))
            return false;
        ViewOf(whole_, &view_);
        return true;
    }
    const EntryView& view() const { return view_; }
    void Changes(std::vector<JournalChange>* out) { ChangesOf(view_, &check_, out); }

private:
    LineScanner scanner_;
    EntryView view_;
    JournalEntry whole_;
    ReadBackCheck check_;
};

bool ParseJournalLine(const std::string& line, JournalEntry* out)
{
    JournalScan scan;
    if (!scan.Read(line))
        return false;
    FillEntry(scan.view(), true, out);
    out->number = 0;
    return true;
}

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
    scan_ = std::make_unique<JournalScan>();
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

bool JournalReader::NextLine(std::string_view* line, bool* tooLong)
{
    *tooLong = false;
    start_ = base_ + pos_;
    // Mostly the whole line is in the buffer: a view of it there.
    if (const void* nl = std::memchr(buf_.data() + pos_, '\n', end_ - pos_)) {
        const size_t n = static_cast<size_t>(static_cast<const char*>(nl) - (buf_.data() + pos_));
        *tooLong = n > kMaxLine;
        *line = std::string_view(buf_.data() + pos_, n);
        pos_ += n + 1;
        return true;
    }
    line_.clear();
    bool any = false;
    for (;;) {
        if (pos_ == end_ && !Fill())
            break;
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
            break;
        }
    }
    *line = line_;
    return any && error_.empty();
}

bool JournalReader::NextEntry(JournalEntry* out, bool records)
{
    if (!file_)
        return false;
    bool tooLong = false;
    std::string_view line;
    while (NextLine(&line, &tooLong)) {
        ++number_;
        size_t n = line.size();
        if (n > 0 && line[n - 1] == '\r')
            --n;
        if (!tooLong && line.find_first_not_of(" \t") >= n)
            continue;   // blank
        if (!tooLong && scan_->Read(line.substr(0, n))) {
            FillEntry(scan_->view(), records, out);
            out->number = number_;
            last_ = {start_, static_cast<uint32_t>(n), number_};
            return true;
        }
        damaged_.push_back(number_);
    }
    return false;
}

bool JournalReader::Next(JournalEntry* out)
{
    return NextEntry(out, true);
}

bool JournalReader::NextListed(JournalEntry* out)
{
    return NextEntry(out, false);
}

bool JournalReader::LineAt(const JournalPlace& place, std::string_view* line)
{
    if (!file_)
        return false;
    const uint64_t end = place.offset + place.length;
    if (place.offset < againBase_ || end > againBase_ + againSize_) {
        // A block that ends with this line, so that the lines before it,
        // read next when going newest first, are in it too.
        const size_t want = std::max<size_t>(4 * kReadChunk, place.length);
        const uint64_t from = end > want ? end - want : 0;
        if (again_.size() < want)
            again_.resize(want);
        const long long n = file_->ReadAt(again_.data(), static_cast<size_t>(end - from), from);
        againBase_ = from;
        againSize_ = n < 0 ? 0 : static_cast<size_t>(n);
        if (end > againBase_ + againSize_)
            return false;
    }
    *line = std::string_view(again_.data() + (place.offset - againBase_), place.length);
    return true;
}

bool JournalReader::ReadAgain(const JournalPlace& place, JournalEntry* out)
{
    std::string_view line;
    if (!LineAt(place, &line) || !scan_->Read(line))
        return false;
    FillEntry(scan_->view(), true, out);
    out->number = place.number;
    return true;
}

bool JournalReader::ReadAgainChanges(const JournalPlace& place, JournalEntry* out,
                                     std::vector<JournalChange>* changes)
{
    std::string_view line;
    if (!LineAt(place, &line) || !scan_->Read(line))
        return false;
    FillEntry(scan_->view(), false, out);
    out->number = place.number;
    scan_->Changes(changes);
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
    EntryView v;
    ViewOf(e, &v);
    ReadBackCheck check;
    std::vector<JournalChange> out;
    ChangesOf(v, &check, &out);
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
