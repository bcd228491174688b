#include "json/TKXJSONStreamer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "json/TKXJSONStreamerTesting.h"
#include "json/Utf8.h"
#include "platform/CodePage.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Streams.h"

namespace rb {

namespace {

// The reader's own error: why and where the read failed. Every failure of a read is raised
// through Fail and caught only in ReadTextExplained; nothing else is caught there, so a
// programming error is never mistaken for a document that does not parse.
struct ReadFailure {
  const char* reason;
  size_t offset;
};

[[noreturn]] void Fail(const char* reason, size_t offset) {
  throw ReadFailure{reason, offset};
}

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Powers of ten that long double holds exactly (5^27 < 2^64).
constexpr int kExactPowers = 27;
// The fast path below needs 19 digits and those powers exact, that is a mantissa of 64 bits or
// more (x87 extended, quad). Where long double is a plain double (MSVC), every number takes the
// correctly rounded conversion instead.
constexpr bool kExactFastPath = std::numeric_limits<long double>::digits >= 64;
const long double* PowersOfTen() {
  static const auto table = [] {
    struct Table {
      long double p[kExactPowers + 1];
    } t{};
    t.p[0] = 1;
    for (int i = 1; i <= kExactPowers; ++i)
      t.p[i] = t.p[i - 1] * 10;
    return t;
  }();
  return table.p;
}

// The number text "[sign]digits[.digits][(e|E)[sign]digits]" as the nearest long double. The
// point is read as the decimal point directly, which gives the same value as putting in the
// locale's separator and converting under the locale. offset is the text's place, for a failure.
long double ConvertNumber(std::string_view text, size_t offset) {
  // Fast path: up to 19 significant digits and a small power of ten are exact operands, so one
  // multiplication or division rounds correctly.
  size_t i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  uint64_t mantissa = 0;
  int digits = 0;
  int scale = 0;
  bool exact = true;
  auto take = [&](char c) {
    if (mantissa == 0 && c == '0') return;
    if (digits == 19) {
      exact = false;
      return;
    }
    mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
    ++digits;
  };
  for (; i < text.size() && IsDigit(text[i]); ++i)
    take(text[i]);
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      take(text[i]);
      --scale;
    }
  }
  if (i < text.size()) {  // exponent
    ++i;
    bool exp_negative = false;
    if (text[i] == '+' || text[i] == '-') exp_negative = text[i++] == '-';
    int exponent = 0;
    for (; i < text.size(); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent > 100000) {
        exact = false;
        break;
      }
    }
    scale += exp_negative ? -exponent : exponent;
  }
  if (exact && mantissa == 0) return negative ? -0.0L : 0.0L;
  if (kExactFastPath && exact && scale >= -kExactPowers && scale <= kExactPowers) {
    const long double m = static_cast<long double>(mantissa);
    const long double v = scale >= 0 ? m * PowersOfTen()[scale] : m / PowersOfTen()[-scale];
    return negative ? -v : v;
  }
  long double value = 0;
  if (!ParseDecimalNumber(text, value)) Fail("number out of range", offset);
  return value;
}

// Member names met so far, by their raw bytes: an open-addressing table of decoded names.
struct NameSlot {
  const char* raw = nullptr;
  size_t length = 0;
  std::u16string_view decoded;
};

class NameTable {
 public:
  NameTable() : slots_(64) {}

  // The slot holding raw, or the empty slot where it belongs.
  NameSlot& Find(std::string_view raw) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = Hash(raw) & mask;; i = (i + 1) & mask) {
      NameSlot& slot = slots_[i];
      if (slot.raw == nullptr) return slot;
      if (slot.length == raw.size() && std::memcmp(slot.raw, raw.data(), raw.size()) == 0) {
        return slot;
      }
    }
  }

  // Fills the empty slot that Find returned.
  void Insert(NameSlot& slot, std::string_view raw, std::u16string_view decoded) {
    slot = NameSlot{raw.data(), raw.size(), decoded};
    if (++used_ * 2 > slots_.size()) Grow();
  }

 private:
  static size_t Hash(std::string_view raw) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : raw)
      h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }

  void Grow() {
    std::vector<NameSlot> old(slots_.size() * 2);
    old.swap(slots_);
    used_ = 0;
    for (const NameSlot& slot : old) {
      if (slot.raw != nullptr)
        Insert(Find({slot.raw, slot.length}), {slot.raw, slot.length}, slot.decoded);
    }
  }

  std::vector<NameSlot> slots_;
  size_t used_ = 0;
};

}  // namespace

namespace json_testing {

TStringScan ScanStringPlain(std::string_view text, size_t start) {
  TStringScan scan;
  const size_t n = text.size();
  size_t p = start;
  unsigned char high = 0;
  while (p < n) {
    const auto c = static_cast<unsigned char>(text[p]);
    if (c == '"') break;
    if (c == '\\') {
      scan.escapes = true;
      p += 2;  // the escaped byte cannot close the string
      continue;
    }
    high |= c;
    ++p;
  }
  scan.end = std::min(p, n);
  scan.high = high >= 0x80;
  return scan;
}

TStringScan ScanString(std::string_view text, size_t start) {
  // Most of a document's bytes are string content without quotes, backslashes or high bytes:
  // eight of them at a time pass with one test. A word holding a quote or a backslash is
  // taken byte by byte as in ScanStringPlain.
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  auto has_byte = [&](uint64_t word, unsigned char c) {
    const uint64_t x = word ^ (kOnes * c);
    return ((x - kOnes) & ~x & kHighBits) != 0;
  };
  TStringScan scan;
  const size_t n = text.size();
  size_t p = start;
  uint64_t high = 0;
  while (p < n) {
    if (p + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, text.data() + p, sizeof word);
      if (!has_byte(word, '"') && !has_byte(word, '\\')) {
        high |= word & kHighBits;
        p += 8;
        continue;
      }
    }
    const size_t stop = std::min(p + 8, n);
    bool closed = false;
    while (p < stop) {
      const auto c = static_cast<unsigned char>(text[p]);
      if (c == '"') {
        closed = true;
        break;
      }
      if (c == '\\') {
        scan.escapes = true;
        p += 2;
        continue;
      }
      high |= c & 0x80u;
      ++p;
    }
    if (closed) break;
  }
  scan.end = std::min(p, n);
  scan.high = high != 0;
  return scan;
}

}  // namespace json_testing

class TKXJSONStreamer::Parser {
 public:
  Parser(std::string_view text, TKXArena* arena) : text_(text), arena_(arena) {}

  // Parses the root value at pos. On success the result is owned by root_ (a container) or
  // lives in the arena (a scalar); on failure ReadFailure is raised.
  TKXCustomJSON* ParseRoot(size_t pos) {
    pos_ = pos;
    return ParseValue();
  }

  TKXJSONPtr TakeRoot() { return std::move(root_); }

 private:
  unsigned char At(size_t i) const { return static_cast<unsigned char>(text_[i]); }
  bool More() const { return pos_ < text_.size(); }

  void SkipBlanks() {
    while (pos_ < text_.size() && At(pos_) <= 0x20)
      ++pos_;
  }

  void Word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) Fail("unknown word", pos_);
    pos_ += word.size();
  }

  TKXCustomJSON* ParseValue() {
    SkipBlanks();
    if (!More()) Fail("value expected at the end of the text", pos_);
    switch (At(pos_)) {
      case 't':
        Word("true");
        return TKXCustomJSON::Create<TKXJSONboolean>(arena_, true);
      case 'f':
        Word("false");
        return TKXCustomJSON::Create<TKXJSONboolean>(arena_, false);
      case 'n':
        Word("null");
        return TKXCustomJSON::Create<TKXJSONnull>(arena_);
      case '"': {
        const std::u16string_view text = ParseString(false);
        return TKXCustomJSON::Create<TKXJSONstring>(arena_, TKXJSONstring::ArenaText{}, text);
      }
      case '[':
        return ParseContainer(false);
      case '{':
        return ParseContainer(true);
      default:
        return ParseNumber();
    }
  }

  TKXCustomJSON* ParseNumber() {
    size_t p = pos_;
    const size_t n = text_.size();
    auto digits = [&](const char* reason) {
      if (p >= n || !IsDigit(At(p))) Fail(reason, p);
      while (p < n && IsDigit(At(p)))
        ++p;
    };
    if (p < n && (At(p) == '+' || At(p) == '-')) ++p;
    digits(p == pos_ ? "value expected" : "digit expected after the sign");
    if (p < n && At(p) == '.') {
      ++p;
      digits("digit expected after the point");
    }
    if (p < n && (At(p) == 'e' || At(p) == 'E')) {
      ++p;
      if (p < n && (At(p) == '+' || At(p) == '-')) ++p;
      digits("digit expected in the exponent");
    }
    const long double number = ConvertNumber(text_.substr(pos_, p - pos_), pos_);
    pos_ = p;
    return TKXCustomJSON::Create<TKXJSONnumber>(arena_, number);
  }

  // A double-quoted string at pos (after blanks); its decoded text is drawn from the arena.
  // Member names are decoded once per distinct spelling.
  std::u16string_view ParseString(bool is_name) {
    SkipBlanks();
    if (!More() || At(pos_) != '"')
      Fail(is_name ? "member name expected" : "string expected", pos_);
    const size_t start = pos_ + 1;
    const json_testing::TStringScan scan = json_testing::ScanString(text_, start);
    if (scan.end >= text_.size()) Fail("string not closed", pos_);
    const size_t p = scan.end;
    const std::string_view raw = text_.substr(start, p - start);
    pos_ = p + 1;
    if (is_name) {
      NameSlot& slot = names_.Find(raw);
      if (slot.raw != nullptr) return slot.decoded;
      const std::u16string_view decoded = Decode(raw, start, scan.escapes, scan.high);
      names_.Insert(slot, raw, decoded);
      return decoded;
    }
    return Decode(raw, start, scan.escapes, scan.high);
  }

  // raw starts at offset in the text.
  std::u16string_view Decode(std::string_view raw, size_t offset, bool escapes, bool high) {
    if (raw.empty()) return {};
    if (!escapes && !high) {
      char16_t* out = arena_->AllocateArray<char16_t>(raw.size());
      for (size_t i = 0; i < raw.size(); ++i)
        out[i] = static_cast<unsigned char>(raw[i]);
      return {out, raw.size()};
    }
    std::string_view bytes = raw;
    if (escapes) {
      Unescape(raw, offset);
      bytes = scratch_;
      if (bytes.empty()) return {};
    }
    char16_t* out = arena_->AllocateArray<char16_t>(bytes.size());
    size_t length = 0;
    if (!DecodeUtf8(bytes, out, length)) {
      for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = platform::AnsiCharToWide(static_cast<unsigned char>(bytes[i]));
      }
      length = bytes.size();
    }
    arena_->Shrink(out, bytes.size() * sizeof(char16_t), length * sizeof(char16_t));
    return {out, length};
  }

  // Escapes to bytes, into scratch_: "\u00E4" gives C3 A4, "\u20AC" the code page's 0x80.
  // raw starts at offset in the text.
  void Unescape(std::string_view raw, size_t offset) {
    scratch_.clear();
    const size_t n = raw.size();
    for (size_t i = 0; i < n; ++i) {
      if (raw[i] != '\\') {
        // The run up to the next backslash, in one step.
        const void* next = std::memchr(raw.data() + i, '\\', n - i);
        const size_t stop =
            next ? static_cast<size_t>(static_cast<const char*>(next) - raw.data()) : n;
        scratch_.append(raw.data() + i, stop - i);
        i = stop - 1;
        continue;
      }
      if (++i >= n) break;
      switch (raw[i]) {
        case '"':
          scratch_ += '"';
          break;
        case '\'':
          scratch_ += '\'';
          break;
        case '/':
          scratch_ += '/';
          break;
        case '\\':
          scratch_ += '\\';
          break;
        case 'b':
          scratch_ += '\x08';
          break;
        case 'f':
          scratch_ += '\x0C';
          break;
        case 'n':
          scratch_ += '\x0A';
          break;
        case 'r':
          scratch_ += '\x0D';
          break;
        case 't':
          scratch_ += '\x09';
          break;
        case 'u': {
          // Up to four hexadecimal digits, fewer where the content ends; anything else ends
          // the whole read.
          const size_t count = std::min<size_t>(4, n - i - 1);
          if (count == 0) Fail("hexadecimal digits expected after \\u", offset + i);
          unsigned code = 0;
          for (size_t k = 1; k <= count; ++k) {
            const int h = HexValue(static_cast<unsigned char>(raw[i + k]));
            if (h < 0) Fail("hexadecimal digit expected after \\u", offset + i + k);
            code = code * 16 + static_cast<unsigned>(h);
          }
          i += count;
          AppendCodePoint(code);
          break;
        }
        default:
          break;  // unknown escape: both bytes dropped
      }
    }
  }

  void AppendCodePoint(unsigned code) {
    if (code < 0x80) {
      scratch_ += static_cast<char>(code);
    } else if (code == 0x20AC) {
      scratch_ += '\x80';  // the euro sign of Windows-1252
    } else if (code < 0x800) {
      scratch_ += static_cast<char>(0xC0 + code / 64);
      scratch_ += static_cast<char>(0x80 + (code & 0x3F));
    } else {
      scratch_ += static_cast<char>(0xE0 + code / 4096);
      scratch_ += static_cast<char>(0x80 + ((code >> 6) & 0x3F));
      scratch_ += static_cast<char>(0x80 + (code & 0x3F));
    }
  }

  // An array or an object. The children gather on a stack shared by all levels and move into
  // an exact-sized arena array when the closing bracket is found. Commas between children are
  // optional and one may follow the last; "[,1]" and "[1,,2]" fail on the comma where a child
  // must stand.
  TKXCustomJSON* ParseContainer(bool is_object) {
    const size_t open = pos_;
    if (depth_ >= kMaxDepth) Fail("nested too deeply", pos_);
    const char close = is_object ? '}' : ']';
    ++pos_;
    ++depth_;
    const size_t base = stack_.size();
    for (;;) {
      SkipBlanks();
      if (!More()) Fail(is_object ? "object not closed" : "array not closed", open);
      if (At(pos_) == close) break;
      stack_.push_back(is_object ? ParseMember() : ParseValue());
      SkipBlanks();
      if (More() && At(pos_) == ',') ++pos_;
    }
    --depth_;
    ++pos_;
    const uint32_t count = static_cast<uint32_t>(stack_.size() - base);
    TKXCustomJSON** items = nullptr;
    if (count > 0) {
      items = arena_->AllocateArray<TKXCustomJSON*>(count);
      std::memcpy(items, stack_.data() + base, count * sizeof(TKXCustomJSON*));
    }
    stack_.resize(base);
    // The root is an ordinary heap value that owns the arena; everything below it lives there.
    TKXArena* home = depth_ == 0 ? nullptr : arena_;
    TKXJSONcustomlist* list;
    if (is_object) {
      auto* object = TKXCustomJSON::Create<TKXJSON>(home, true);
      if (home == nullptr) root_.reset(object);
      if (count > 0) {
        if (SameNamesAsLast(items, count)) {
          // Same names in the same order build the same tree: the objects share it (each
          // copies it before any change).
          object->names_.SharePool(*last_index_);
        } else {
          object->names_.UseArenaPool(arena_->AllocateArray<TKXBalNode>(count + 1), count + 1);
          for (uint32_t i = 0; i < count; ++i) {
            object->names_.InsertView(static_cast<TKXJSONobjectmethod*>(items[i])->Name(),
                                      static_cast<int32_t>(i));
          }
          object->names_.Seal();
        }
        last_index_ = &object->names_;
        last_members_ = items;
        last_count_ = count;
      }
      list = object;
    } else {
      list = TKXCustomJSON::Create<TKXSONList>(home);
      if (home == nullptr) root_.reset(list);
    }
    list->AdoptArenaItems(items, count);
    return list;
  }

  // Names are interned, so equal spellings share their characters.
  bool SameNamesAsLast(TKXCustomJSON* const* members, uint32_t count) const {
    if (count != last_count_ || last_index_ == nullptr) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const std::u16string_view a = static_cast<const TKXJSONobjectmethod*>(members[i])->Name();
      const std::u16string_view b =
          static_cast<const TKXJSONobjectmethod*>(last_members_[i])->Name();
      if (a.data() != b.data() || a.size() != b.size()) return false;
    }
    return true;
  }

  TKXCustomJSON* ParseMember() {
    const std::u16string_view name = ParseString(true);
    SkipBlanks();
    if (!More() || At(pos_) != ':') Fail("':' expected after the member name", pos_);
    ++pos_;
    TKXCustomJSON* value = ParseValue();
    return TKXCustomJSON::Create<TKXJSONobjectmethod>(arena_, TKXJSONobjectmethod::ArenaName{},
                                                      name, value);
  }

  std::string_view text_;
  TKXArena* arena_;
  size_t pos_ = 0;
  int depth_ = 0;
  std::vector<TKXCustomJSON*> stack_;
  std::string scratch_;
  NameTable names_;
  // The previous object's members, to reuse its name index when the next one has the same names.
  const TKXBalTree* last_index_ = nullptr;
  TKXCustomJSON* const* last_members_ = nullptr;
  uint32_t last_count_ = 0;
  TKXJSONPtr root_;
};

TKXJSONPtr TKXJSONStreamer::ReadText(std::string_view text) {
  TJSONReadFailure ignored;
  return json_testing::ReadTextExplained(text, ignored);
}

namespace json_testing {

TKXJSONPtr ReadTextExplained(std::string_view text, TJSONReadFailure& failure) {
  try {
    return TKXJSONStreamer::ReadTree(text);
  } catch (const ReadFailure& e) {
    failure.reason = e.reason;
    failure.offset = e.offset;
    return nullptr;
  }
}

}  // namespace json_testing

TKXJSONPtr TKXJSONStreamer::ReadTree(std::string_view text) {
  size_t start = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") start = 3;
  if (text.size() == start) Fail("empty text", start);
  auto arena = std::make_unique<TKXArena>();
  Parser parser(text, arena.get());
  TKXCustomJSON* value = parser.ParseRoot(start);
  if (TKXJSONPtr root = parser.TakeRoot()) {
    static_cast<TKXJSONcustomlist*>(root.get())->arena_ = std::move(arena);
    return root;
  }
  // A lone scalar: copy it out of the arena, which is dropped.
  if (auto* number = dynamic_cast<TKXJSONnumber*>(value))
    return TKXCustomJSON::NewNumber(number->Value());
  if (auto* string = dynamic_cast<TKXJSONstring*>(value))
    return TKXCustomJSON::NewString(string->Text());
  if (auto* flag = dynamic_cast<TKXJSONboolean*>(value))
    return TKXCustomJSON::NewBoolean(flag->Value());
  return TKXJSONnull::New();
}

TKXJSONPtr TKXJSONStreamer::ReadStream(TStream* stream) {
  if (stream == nullptr) return nullptr;
  return ReadText(stream->ReadRest());
}

TKXJSONPtr TKXJSONStreamer::ReadFile(const std::string& path, const RetryPolicy& retry) {
  if (!FileExists(path)) return nullptr;
  // The host may hold the file open for a moment; only opening is retried, not the read.
  std::unique_ptr<TFileStream> file;
  RetryCall(retry,
            [&] { file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone); });
  return ReadStream(file.get());
}

}  // namespace rb
