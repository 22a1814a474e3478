// Fortran-style format templates: parser and writer.
//
// The template is parsed once into a small tree of items (kept per thread,
// keyed by the template text), then written left to right into the caller's
// buffer, consuming one value per edit descriptor. Column rules follow the
// Fortran F, I and A edits as the gfortran runtime writes them.
#include "common/ftn_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kx {
namespace {

// Bounds that keep any template, however malformed, cheap to reject.
constexpr int kMaxNumber = 1'000'000;         // repeat count, width, decimals
constexpr int kMaxDepth = 16;                 // nesting of groups
constexpr std::size_t kMaxOutput = 1u << 20;  // characters written per template
constexpr long kMaxSteps = 1L << 22;          // items written per template

enum class Kind { kText, kBlanks, kSlash, kReal, kInteger, kChars, kGroup };

struct Item {
  Kind kind = Kind::kText;
  int count = 1;            // repeat count of a group, a descriptor or a slash
  int w = 0;                // field width; the n of nX
  int d = 0;                // decimals of Fw.d
  bool has_w = true;        // false for a bare A (the whole value)
  std::string text;         // quoted or Hollerith text
  std::vector<Item> items;  // the items of a group
};

[[noreturn]] void fail(const std::string& why, std::string_view tmpl) {
  std::string shown(tmpl.substr(0, 80));
  throw FtnFormatError("format template " + why + ": " + shown);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_text(const Item& it) { return it.kind == Kind::kText; }

class Parser {
 public:
  explicit Parser(std::string_view src) : src_(src) {}

  std::vector<Item> parse() {
    skip_blanks();
    if (at_end() || src_[pos_] != '(') fail("must begin with '('", src_);
    ++pos_;
    std::vector<Item> items = list(1);
    skip_blanks();
    if (!at_end()) fail("has text after the closing ')'", src_);
    return items;
  }

 private:
  bool at_end() const { return pos_ >= src_.size(); }
  void skip_blanks() {
    while (!at_end() && is_blank(src_[pos_])) ++pos_;
  }

  // Items up to and including the ')' that closes the list.
  std::vector<Item> list(int depth) {
    if (depth > kMaxDepth) fail("nests groups too deeply", src_);
    std::vector<Item> items;
    bool after_comma = false;
    for (;;) {
      skip_blanks();
      if (at_end()) fail("lacks a closing ')'", src_);
      const char c = src_[pos_];
      if (c == ')') {
        if (after_comma) fail("has a comma before ')'", src_);
        if (items.empty() && depth > 1) fail("has an empty group", src_);
        ++pos_;
        return items;
      }
      if (c == ',') {
        if (items.empty() || after_comma) fail("has a misplaced comma", src_);
        after_comma = true;
        ++pos_;
        continue;
      }
      Item it = item(depth);
      // The comma may be left out next to a slash or a piece of text.
      if (!items.empty() && !after_comma) {
        const Item& prev = items.back();
        const bool loose = prev.kind == Kind::kSlash || it.kind == Kind::kSlash || is_text(prev) ||
                           is_text(it);
        if (!loose) fail("lacks a comma between items", src_);
      }
      items.push_back(std::move(it));
      after_comma = false;
    }
  }

  // An unsigned number; blanks between its digits are not significant.
  int number() {
    long v = 0;
    bool any = false;
    while (!at_end() && (is_digit(src_[pos_]) || is_blank(src_[pos_]))) {
      if (is_digit(src_[pos_])) {
        v = v * 10 + (src_[pos_] - '0');
        if (v > kMaxNumber) fail("has a number that is too large", src_);
        any = true;
      }
      ++pos_;
    }
    if (!any) fail("lacks a number", src_);
    return static_cast<int>(v);
  }

  bool next_is_digit() {
    skip_blanks();
    return !at_end() && is_digit(src_[pos_]);
  }

  Item item(int depth) {
    Item it;
    const char c = src_[pos_];
    if (c == '\'') {
      it.kind = Kind::kText;
      it.text = quoted();
      return it;
    }
    int count = 1;
    bool counted = false;
    if (is_digit(c)) {
      count = number();
      counted = true;
      skip_blanks();
      if (at_end()) fail("ends after a number", src_);
    }
    const char k = upper(src_[pos_]);
    ++pos_;
    if (counted && count < 1) fail("has a zero count", src_);
    it.count = count;
    switch (k) {
      case '/':
        it.kind = Kind::kSlash;
        return it;
      case '(':
        it.kind = Kind::kGroup;
        it.items = list(depth + 1);
        return it;
      case 'X':
        if (!counted) fail("has X without a count", src_);
        it.kind = Kind::kBlanks;
        it.w = count;
        it.count = 1;
        return it;
      case 'H': {
        if (!counted) fail("has H without a count", src_);
        const auto n = static_cast<std::size_t>(count);
        if (src_.size() - pos_ < n) fail("ends inside an H text", src_);
        it.kind = Kind::kText;
        it.text = std::string(src_.substr(pos_, n));
        it.count = 1;
        pos_ += n;
        return it;
      }
      case 'F':
        it.kind = Kind::kReal;
        if (!next_is_digit()) fail("has F without a width", src_);
        it.w = number();
        skip_blanks();
        if (at_end() || src_[pos_] != '.') fail("has F without decimals", src_);
        ++pos_;
        if (!next_is_digit()) fail("has F without decimals", src_);
        it.d = number();
        if (it.w < 1) fail("has a zero width", src_);
        return it;
      case 'I':
        it.kind = Kind::kInteger;
        if (!next_is_digit()) fail("has I without a width", src_);
        it.w = number();
        if (it.w < 1) fail("has a zero width", src_);
        return it;
      case 'A':
        it.kind = Kind::kChars;
        it.has_w = next_is_digit();
        if (it.has_w) {
          it.w = number();
          if (it.w < 1) fail("has a zero width", src_);
        }
        return it;
      default:
        fail("has an unknown item", src_);
    }
  }

  // 'text' with '' standing for one apostrophe.
  std::string quoted() {
    std::string text;
    ++pos_;
    for (;;) {
      if (at_end()) fail("has an unterminated quoted text", src_);
      const char c = src_[pos_++];
      if (c != '\'') {
        text += c;
      } else if (!at_end() && src_[pos_] == '\'') {
        text += '\'';
        ++pos_;
      } else {
        return text;
      }
    }
  }

  std::string_view src_;
  std::size_t pos_ = 0;
};

bool has_value_item(const std::vector<Item>& items, std::size_t from) {
  for (std::size_t k = from; k < items.size(); ++k) {
    const Item& it = items[k];
    if (it.kind == Kind::kReal || it.kind == Kind::kInteger || it.kind == Kind::kChars) return true;
    if (it.kind == Kind::kGroup && has_value_item(it.items, 0)) return true;
  }
  return false;
}

// A parsed template, kept for reuse.
struct Compiled {
  std::string text;  // the template text it was parsed from
  std::vector<Item> items;
};

// Parsed templates of this thread, keyed by their text, with a small table
// of recently used template addresses in front so that the usual call (a
// constant template) costs one comparison of the text. Bounded: a caller
// that makes up templates on the fly cannot make it grow without limit.
class TemplateCache {
 public:
  const Compiled& get(std::string_view tmpl) {
    const auto addr = reinterpret_cast<std::uintptr_t>(tmpl.data());
    Slot& slot = slots_[((addr >> 3) ^ tmpl.size()) % kSlots];
    if (slot.data == tmpl.data() && slot.compiled != nullptr &&
        slot.compiled->text.size() == tmpl.size() &&
        std::memcmp(slot.compiled->text.data(), tmpl.data(), tmpl.size()) == 0)
      return *slot.compiled;
    auto it = map_.find(tmpl);
    if (it == map_.end()) {
      auto compiled = std::make_unique<Compiled>();
      compiled->items = Parser(tmpl).parse();  // throws for a bad template: nothing is kept
      compiled->text = std::string(tmpl);
      if (map_.size() >= kMaxTemplates) {
        map_.clear();
        slots_ = {};
      }
      const std::string_view key(compiled->text);
      it = map_.emplace(key, std::move(compiled)).first;
    }
    slot.data = tmpl.data();
    slot.compiled = it->second.get();
    return *slot.compiled;
  }

 private:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kMaxTemplates = 512;
  struct Slot {
    const char* data = nullptr;
    const Compiled* compiled = nullptr;
  };
  std::array<Slot, kSlots> slots_{};
  // Keys view the text held by their own value.
  std::unordered_map<std::string_view, std::unique_ptr<Compiled>> map_;
};

const Compiled& compiled_template(std::string_view tmpl) {
  thread_local TemplateCache cache;
  return cache.get(tmpl);
}

void check_width(int w, int lowest) {
  if (w < lowest || w > kMaxNumber)
    throw FtnFormatError("edit descriptor width out of range: " + std::to_string(w));
}

// s right-justified in w columns, or w asterisks when it does not fit.
void put_right(std::string& out, const char* s, std::size_t n, int w) {
  const auto wz = static_cast<std::size_t>(w);
  if (n > wz) {
    out.append(wz, '*');
  } else {
    out.append(wz - n, ' ');
    out.append(s, n);
  }
}

// The magnitude |value| rounded to d decimals, ties to even on the exact
// binary value, as "%.*f" writes it, into buf (at least d + 1 digits: a
// leading "0." below one). Returns the length, or 0 when the value is
// outside the exact integer path (the caller then uses the C library).
std::size_t fixed_digits(float value, int d, char* buf, std::size_t cap) {
  // |value| = m 2^e with an integer m < 2^24; |value| 10^d = m 5^d 2^(e+d).
  // With d <= 9, m 5^d < 2^45 is exact in 64 bits.
  constexpr int kMaxFastDecimals = 9;
  if (d > kMaxFastDecimals) return 0;
  // The fields of the IEEE single: |value| = m 2^e.
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const auto biased = static_cast<int>((bits >> 23) & 0xffu);
  std::uint64_t m = bits & 0x7fffffu;
  int e = -149;  // a subnormal (or zero)
  if (biased != 0) {
    m |= 0x800000u;
    e = biased - 150;
  }
  static constexpr std::uint64_t kPow5[kMaxFastDecimals + 1] = {1,      5,      25,    125,
                                                                625,    3125,   15625, 78125,
                                                                390625, 1953125};
  const std::uint64_t n = m * kPow5[d];
  const int k = e + d;  // scaled value = n 2^k
  std::uint64_t q = 0;
  if (k >= 0) {
    if (k > 18) return 0;  // n 2^k could pass 2^63: leave it to the library
    q = n << k;
  } else if (k > -64) {
    const int sh = -k;
    q = n >> sh;
    const std::uint64_t rem = n & ((std::uint64_t{1} << sh) - 1);
    const std::uint64_t half = std::uint64_t{1} << (sh - 1);
    if (rem > half || (rem == half && (q & 1u) != 0)) ++q;
  }  // else: far below half a unit of the last decimal, q = 0
  char digits[24];
  const auto res = std::to_chars(digits, digits + sizeof digits, q);
  const auto nd = static_cast<std::size_t>(res.ptr - digits);
  const auto dz = static_cast<std::size_t>(d);
  // Leading zeros so that one digit stands before the point.
  const std::size_t lead = nd <= dz ? dz + 1 - nd : 0;
  const std::size_t len = lead + nd + (d > 0 ? 1 : 0);
  if (len > cap) return 0;
  const std::size_t total = lead + nd;  // digits in all
  const std::size_t int_digits = total - dz;
  char* p = buf;
  for (std::size_t i = 0; i < total; ++i) {
    if (i == int_digits && d > 0) *p++ = '.';
    *p++ = i < lead ? '0' : digits[i - lead];
  }
  return len;
}

void append_f(std::string& out, float value, int w, int d) {
  check_width(w, 1);
  if (d < 0 || d > kMaxNumber)
    throw FtnFormatError("F edit descriptor decimals out of range: " + std::to_string(d));
  const auto wz = static_cast<std::size_t>(w);
  if (std::isnan(value)) return put_right(out, "NaN", 3, w);
  if (std::isinf(value)) {
    if (value > 0.0f)
      return w >= 8 ? put_right(out, "Infinity", 8, w) : put_right(out, "Inf", 3, w);
    return w >= 9 ? put_right(out, "-Infinity", 9, w) : put_right(out, "-Inf", 4, w);
  }
  // At least the decimal point and d digits must fit.
  if (static_cast<std::size_t>(d) + 1 > wz) {
    out.append(wz, '*');
    return;
  }
  const bool negative = value < 0.0f;  // a negative zero prints unsigned

  // "-" + the digits (+ "." for d = 0); the exact binary value rounded to d
  // decimals, ties to even.
  constexpr std::size_t kBuf = 128;
  char buf[kBuf];
  std::size_t len = fixed_digits(value, d, buf + 1, kBuf - 2);
  std::string big;  // only for values and decimal counts beyond the buffer
  char* digits = buf + 1;
  if (len == 0) {
    const double mag = std::fabs(static_cast<double>(value));
    const int n = std::snprintf(nullptr, 0, "%.*f", d, mag);
    big.assign(static_cast<std::size_t>(n) + 3, '\0');
    std::snprintf(&big[1], big.size() - 1, "%.*f", d, mag);
    digits = &big[1];
    len = static_cast<std::size_t>(n);
  }
  if (d == 0) {
    digits[len++] = '.';  // the zero of "0." is then the only digit and stays
  } else if (digits[0] == '0' && len + (negative ? 1u : 0u) > wz) {
    ++digits;  // the optional zero before the point
    --len;
  }
  if (negative) {
    *--digits = '-';
    ++len;
  }
  put_right(out, digits, len, w);
}

void append_i(std::string& out, int value, int w) {
  check_width(w, 1);
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  put_right(out, buf, static_cast<std::size_t>(res.ptr - buf), w);
}

void append_a(std::string& out, std::string_view value, int w) {
  check_width(w, 1);
  const auto wz = static_cast<std::size_t>(w);
  if (value.size() >= wz) {
    out.append(value.data(), wz);
  } else {
    out.append(wz - value.size(), ' ');
    out.append(value.data(), value.size());
  }
}

// Writes one template into out, consuming one value per edit descriptor.
class Writer {
 public:
  Writer(std::string& out, std::string_view tmpl, std::initializer_list<FtnArg> args)
      : out_(out), start_(out.size()), tmpl_(tmpl), args_(args.begin()), nargs_(args.size()) {}

  void run(const std::vector<Item>& items, bool prompt) {
    bool more = write(items, 0);
    if (more && next_ < nargs_) {
      // Format reversion: a new line, then again from the last top-level
      // group (or the whole template when there is none) while values remain.
      std::size_t from = 0;
      for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].kind == Kind::kGroup) from = k;
      if (!has_value_item(items, from)) fail("has more values than edit descriptors", tmpl_);
      while (more && next_ < nargs_) {
        put(1, '\n');
        more = write(items, from);
      }
    }
    if (!prompt) put(1, '\n');
  }

 private:
  // Writes items[from..]; false once a descriptor finds no value left.
  bool write(const std::vector<Item>& items, std::size_t from) {
    for (std::size_t k = from; k < items.size(); ++k) {
      const Item& it = items[k];
      for (int rep = 0; rep < it.count; ++rep) {
        if (++steps_ > kMaxSteps) fail("writes too many items", tmpl_);
        switch (it.kind) {
          case Kind::kText:
            put(it.text);
            break;
          case Kind::kBlanks:
            put(static_cast<std::size_t>(it.w), ' ');
            break;
          case Kind::kSlash:
            put(1, '\n');
            break;
          case Kind::kGroup:
            if (!write(it.items, 0)) return false;
            break;
          case Kind::kReal:
          case Kind::kInteger:
          case Kind::kChars:
            if (next_ >= nargs_) return false;
            edit(it, args_[next_++]);
            break;
        }
      }
    }
    return true;
  }

  void edit(const Item& it, const FtnArg& arg) {
    // Room for the widest field first (the limit on the template's text).
    room(it.has_w ? static_cast<std::size_t>(it.w) : 0);
    if (it.kind == Kind::kReal) {
      const float* v = std::get_if<float>(&arg);
      if (v == nullptr) fail("has F for a value that is not real", tmpl_);
      append_f(out_, *v, it.w, it.d);
      return;
    }
    if (it.kind == Kind::kInteger) {
      const int* v = std::get_if<int>(&arg);
      if (v == nullptr) fail("has I for a value that is not an integer", tmpl_);
      append_i(out_, *v, it.w);
      return;
    }
    const std::string_view* v = std::get_if<std::string_view>(&arg);
    if (v == nullptr) fail("has A for a value that is not text", tmpl_);
    if (it.has_w) {
      append_a(out_, *v, it.w);
    } else {
      room(v->size());
      out_.append(v->data(), v->size());
    }
  }

  void room(std::size_t n) {
    if (n > kMaxOutput - (out_.size() - start_)) fail("writes too much text", tmpl_);
  }
  void put(std::size_t n, char c) {
    room(n);
    out_.append(n, c);
  }
  void put(const std::string& s) {
    room(s.size());
    out_ += s;
  }

  std::string& out_;
  std::size_t start_;
  std::string_view tmpl_;
  const FtnArg* args_;
  std::size_t nargs_;
  std::size_t next_ = 0;
  long steps_ = 0;
};

}  // namespace

void ftn_format_to(std::string& out, std::string_view tmpl, std::initializer_list<FtnArg> args,
                   bool prompt) {
  const Compiled& compiled = compiled_template(tmpl);
  Writer(out, tmpl, args).run(compiled.items, prompt);
}

std::string ftn_format(std::string_view tmpl, std::initializer_list<FtnArg> args, bool prompt) {
  std::string out;
  ftn_format_to(out, tmpl, args, prompt);
  return out;
}

std::string ftn_f(float value, int w, int d) {
  std::string out;
  append_f(out, value, w, d);
  return out;
}

std::string ftn_i(int value, int w) {
  std::string out;
  append_i(out, value, w);
  return out;
}

std::string ftn_a(std::string_view value, int w) {
  std::string out;
  append_a(out, value, w);
  return out;
}

}  // namespace kx
