// Fortran-style format templates: parser and writer.
//
// The template is parsed into a small tree of items, then written left to
// right, consuming one value per edit descriptor. Column rules follow the
// Fortran F, I and A edits as the gfortran runtime writes them.
#include "common/ftn_format.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace kx {
namespace {

// Bounds that keep any template, however malformed, cheap to reject.
constexpr int kMaxNumber = 1'000'000;          // repeat count, width, decimals
constexpr int kMaxDepth = 16;                  // nesting of groups
constexpr std::size_t kMaxOutput = 1u << 20;   // characters written per template
constexpr long kMaxSteps = 1L << 22;           // items written per template

enum class Kind { kText, kBlanks, kSlash, kReal, kInteger, kChars, kGroup };

struct Item {
  Kind kind = Kind::kText;
  int count = 1;       // repeat count of a group, a descriptor or a slash
  int w = 0;           // field width; the n of nX
  int d = 0;           // decimals of Fw.d
  bool has_w = true;   // false for a bare A (the whole value)
  std::string text;    // quoted or Hollerith text
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
        const bool loose = prev.kind == Kind::kSlash || it.kind == Kind::kSlash ||
                           is_text(prev) || is_text(it);
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
    if (it.kind == Kind::kReal || it.kind == Kind::kInteger || it.kind == Kind::kChars)
      return true;
    if (it.kind == Kind::kGroup && has_value_item(it.items, 0)) return true;
  }
  return false;
}

class Writer {
 public:
  Writer(std::string_view tmpl, std::initializer_list<FtnArg> args)
      : tmpl_(tmpl), args_(args.begin()), nargs_(args.size()) {}

  std::string run(const std::vector<Item>& items, bool prompt) {
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
    return std::move(out_);
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
            put(edit(it, args_[next_++]));
            break;
        }
      }
    }
    return true;
  }

  std::string edit(const Item& it, const FtnArg& arg) const {
    if (it.kind == Kind::kReal) {
      const float* v = std::get_if<float>(&arg);
      if (v == nullptr) fail("has F for a value that is not real", tmpl_);
      return ftn_f(*v, it.w, it.d);
    }
    if (it.kind == Kind::kInteger) {
      const int* v = std::get_if<int>(&arg);
      if (v == nullptr) fail("has I for a value that is not an integer", tmpl_);
      return ftn_i(*v, it.w);
    }
    const std::string_view* v = std::get_if<std::string_view>(&arg);
    if (v == nullptr) fail("has A for a value that is not text", tmpl_);
    return it.has_w ? ftn_a(*v, it.w) : std::string(*v);
  }

  void put(std::size_t n, char c) {
    if (n > kMaxOutput - out_.size()) fail("writes too much text", tmpl_);
    out_.append(n, c);
  }
  void put(const std::string& s) {
    if (s.size() > kMaxOutput - out_.size()) fail("writes too much text", tmpl_);
    out_ += s;
  }

  std::string_view tmpl_;
  const FtnArg* args_;
  std::size_t nargs_;
  std::size_t next_ = 0;
  long steps_ = 0;
  std::string out_;
};

void check_width(int w, int lowest) {
  if (w < lowest || w > kMaxNumber)
    throw FtnFormatError("edit descriptor width out of range: " + std::to_string(w));
}

std::string right(std::string_view s, int w) {
  const auto wz = static_cast<std::size_t>(w);
  if (s.size() > wz) return std::string(wz, '*');
  return std::string(wz - s.size(), ' ') + std::string(s);
}

}  // namespace

std::string ftn_format(std::string_view tmpl, std::initializer_list<FtnArg> args,
                       bool prompt) {
  const std::vector<Item> items = Parser(tmpl).parse();
  return Writer(tmpl, args).run(items, prompt);
}

std::string ftn_f(float value, int w, int d) {
  check_width(w, 1);
  if (d < 0 || d > kMaxNumber)
    throw FtnFormatError("F edit descriptor decimals out of range: " + std::to_string(d));
  const auto wz = static_cast<std::size_t>(w);
  if (std::isnan(value)) return right("NaN", w);
  if (std::isinf(value)) {
    if (value > 0.0f) return right(w >= 8 ? "Infinity" : "Inf", w);
    return right(w >= 9 ? "-Infinity" : "-Inf", w);
  }
  // At least the decimal point and d digits must fit.
  if (static_cast<std::size_t>(d) + 1 > wz) return std::string(wz, '*');

  // The exact binary value rounded to d decimals, ties to even.
  const bool negative = value < 0.0f;  // a negative zero prints unsigned
  const double mag = std::fabs(static_cast<double>(value));
  const int len = std::snprintf(nullptr, 0, "%.*f", d, mag);
  std::string digits(static_cast<std::size_t>(len) + 1, '\0');
  std::snprintf(&digits[0], digits.size(), "%.*f", d, mag);
  digits.resize(static_cast<std::size_t>(len));

  if (d == 0) {
    digits += '.';  // the zero of "0." is then the only digit and stays
  } else if (digits[0] == '0' && digits.size() + (negative ? 1u : 0u) > wz) {
    digits.erase(0, 1);  // the optional zero before the point
  }
  return right(negative ? "-" + digits : digits, w);
}

std::string ftn_i(int value, int w) {
  check_width(w, 1);
  return right(std::to_string(value), w);
}

std::string ftn_a(std::string_view value, int w) {
  check_width(w, 1);
  const auto wz = static_cast<std::size_t>(w);
  if (value.size() >= wz) return std::string(value.substr(0, wz));
  return std::string(wz - value.size(), ' ') + std::string(value);
}

}  // namespace kx
