// Fortran edit descriptors and whole templates. Expected texts follow the
// Fortran F, I and A output rules (cross-checked against the gfortran runtime).
#include "common/ftn_format.h"
#include "tests/common/ftn_reference.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace kx {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct FRow {
  float value;
  int w, d;
  const char* expected;
};

TEST(FtnFormat, RealEditTable) {
  const FRow rows[] = {
      // Ordinary values and big values.
      {1.0f, 5, 2, " 1.00"},
      {3.14159f, 8, 4, "  3.1416"},
      {-2.5f, 6, 2, " -2.50"},
      {50.0f, 7, 3, " 50.000"},
      {123456.0f, 10, 1, "  123456.0"},
      {1.0e9f, 14, 3, "1000000000.000"},
      {1.0e9f, 12, 3, "************"},
      {std::numeric_limits<float>::max(), 50, 3,
       "       340282346638528859811704183484516925440.000"},
      {1.0e-6f, 12, 5, "     0.00000"},
      // Rounding of the exact binary value, ties to even.
      {0.125f, 5, 2, " 0.12"},
      {0.375f, 5, 2, " 0.38"},
      {2.675f, 10, 2, "      2.67"},  // 2.67499995...
      {1.005f, 8, 2, "    1.00"},     // 1.00499999...
      {0.05f, 5, 1, "  0.1"},         // 0.0500000007...
      {-99.95f, 6, 1, " -99.9"},      // -99.9499969...
      // d = 0 keeps the decimal point, and "0." keeps its zero.
      {2.5f, 5, 0, "   2."},
      {1.5f, 5, 0, "   2."},
      {0.5f, 5, 0, "   0."},
      {0.4f, 5, 0, "   0."},
      {0.4f, 2, 0, "0."},
      {0.4f, 1, 0, "*"},
      {-0.4f, 3, 0, "-0."},
      {-0.4f, 2, 0, "**"},
      // The zero before the point is dropped only when needed.
      {0.5f, 5, 3, "0.500"},
      {0.5f, 4, 3, ".500"},
      {-0.5f, 5, 3, "-.500"},
      {0.0f, 4, 3, ".000"},
      {0.04f, 2, 1, ".0"},
      {0.0001f, 7, 6, ".000100"},
      {0.00001f, 8, 7, ".0000100"},
      // Does not fit at all.
      {-0.5f, 4, 3, "****"},
      {0.5f, 3, 3, "***"},
      {99.9999f, 6, 3, "******"},  // rounds to 100.000
      {9.9996f, 6, 3, "10.000"},   // carry into a new digit
      {9.9996f, 5, 3, "*****"},
      {0.96f, 3, 1, "1.0"},
      {0.96f, 2, 1, "**"},
      // Negative zero is unsigned; a negative value rounding to zero is not.
      {-0.0f, 6, 3, " 0.000"},
      {-0.0004f, 8, 3, "  -0.000"},
      {-0.0004f, 5, 3, "-.000"},
      {-0.0004f, 4, 3, "****"},
      // Infinities and NaN.
      {kInf, 8, 3, "Infinity"},
      {kInf, 10, 3, "  Infinity"},
      {kInf, 7, 3, "    Inf"},
      {kInf, 3, 1, "Inf"},
      {kInf, 2, 1, "**"},
      {-kInf, 9, 3, "-Infinity"},
      {-kInf, 8, 3, "    -Inf"},
      {-kInf, 4, 1, "-Inf"},
      {-kInf, 3, 1, "***"},
      {kNaN, 8, 3, "     NaN"},
      {kNaN, 3, 1, "NaN"},
      {kNaN, 2, 1, "**"},
  };
  for (const FRow& r : rows) {
    EXPECT_EQ(ftn_f(r.value, r.w, r.d), r.expected)
        << "value " << r.value << " in F" << r.w << '.' << r.d;
  }
}

TEST(FtnFormat, IntegerEditTable) {
  const struct {
    int value, w;
    const char* expected;
  } rows[] = {
      {0, 1, "0"},
      {42, 5, "   42"},
      {-12, 3, "-12"},
      {123, 2, "**"},
      {-1, 1, "*"},
      {-1, 2, "-1"},
      {INT_MIN, 11, "-2147483648"},
      {INT_MIN, 10, "**********"},
      {INT_MAX, 10, "2147483647"},
  };
  for (const auto& r : rows) EXPECT_EQ(ftn_i(r.value, r.w), r.expected) << r.value << " I" << r.w;
}

TEST(FtnFormat, TextEditTable) {
  EXPECT_EQ(ftn_a("abcdef", 3), "abc");
  EXPECT_EQ(ftn_a("abc", 3), "abc");
  EXPECT_EQ(ftn_a("abc", 8), "     abc");
  EXPECT_EQ(ftn_a("", 2), "  ");
}

TEST(FtnFormat, BadDescriptorArgumentsThrow) {
  EXPECT_THROW(ftn_f(1.0f, 0, 0), FtnFormatError);
  EXPECT_THROW(ftn_f(1.0f, 5, -1), FtnFormatError);
  EXPECT_THROW(ftn_i(1, 0), FtnFormatError);
  EXPECT_THROW(ftn_a("a", -3), FtnFormatError);
}

TEST(FtnFormat, TextItemsAndGroups) {
  // Doubled apostrophe, side-by-side pieces, Hollerith rule, nested groups.
  EXPECT_EQ(ftn_format(R"t((2X,'a''b' 'c',3(1H-),/,2(F5.1,2(I2))))t", {1.0f, 2, 3, 4.0f, 5}),
            "  a'bc---\n  1.0 2 3  4.0 5\n");
  EXPECT_EQ(ftn_format(R"t((/,5X,'S = ',F7.4,'"' '  Impedances at',F7.3,' GHz'))t", {0.01f, 3.0f}),
            "\n     S =  0.0100\"  Impedances at  3.000 GHz\n");
  EXPECT_EQ(ftn_format(R"t((5X,75(1H-)))t", {}), std::string(5, ' ') + std::string(75, '-') + "\n");
  EXPECT_EQ(ftn_format(R"t((1H ,2H''))t", {}), " ''\n");
  // Blanks between items (and inside descriptors) are not significant.
  EXPECT_EQ(ftn_format(R"t(( 2X , 'a b' , F 5 . 1 ,1 X))t", {1.0f}), "  a b  1.0 \n");
  EXPECT_EQ(ftn_format(R"t((f4.1,i2,a2,4x,3h*-*))t", {1.0f, 2, std::string_view("qq")}),
            " 1.0 2qq    *-*\n");
  EXPECT_EQ(ftn_format(R"t((3F4.1,A))t", {1.0f, 2.0f, 3.0f, std::string_view("xyz")}),
            " 1.0 2.0 3.0xyz\n");
  EXPECT_EQ(ftn_format(R"t((1X,'[',A11,']'))t", {std::string_view("ER.")}), " [        ER.]\n");
}

TEST(FtnFormat, SlashesAndPrompts) {
  EXPECT_EQ(ftn_format("('a',/)", {}), "a\n\n");
  EXPECT_EQ(ftn_format("(/'a'/'b')", {}), "\na\nb\n");
  EXPECT_EQ(ftn_format("('a',2/,'b')", {}), "a\n\nb\n");
  EXPECT_EQ(ftn_format(R"t((/,6X,'Is Output Data STORAGE desired? (1=YES) = '))t", {}, true),
            "\n      Is Output Data STORAGE desired? (1=YES) = ");
  EXPECT_EQ(ftn_format(R"t((11X,'-Substrate`s Relative Dielectric Constant: Er  = '))t", {}, true),
            "           -Substrate`s Relative Dielectric Constant: Er  = ");
  EXPECT_EQ(ftn_format("()", {}), "\n");
}

TEST(FtnFormat, StopsAtFirstDescriptorWithoutValue) {
  EXPECT_EQ(ftn_format("('[',F5.1,I2,']')", {1.0f}), "[  1.0\n");
  EXPECT_EQ(ftn_format("('[',F5.1,'|',/,'x',I2,']')", {1.0f}), "[  1.0|\nx\n");
  EXPECT_EQ(ftn_format("(2(F4.1,'b'),'c')", {1.0f}), " 1.0b\n");
  EXPECT_EQ(ftn_format("(3F4.1)", {1.0f, 2.0f}), " 1.0 2.0\n");
  EXPECT_EQ(ftn_format("('p',I2)", {}, true), "p");
}

TEST(FtnFormat, ExtraValuesRevertToLastGroup) {
  EXPECT_EQ(ftn_format("('a',2(F5.1,'b'),'c')", {1.0f, 2.0f, 3.0f, 4.0f, 5.0f}),
            "a  1.0b  2.0bc\n  3.0b  4.0bc\n  5.0b\n");
  EXPECT_EQ(ftn_format("('a',F5.1,'c')", {1.0f, 2.0f}), "a  1.0c\na  2.0c\n");
  EXPECT_THROW(ftn_format("('a')", {1.0f}), FtnFormatError);
}

TEST(FtnFormat, MalformedTemplatesThrow) {
  const char* bad[] = {
      "",
      "2X,'a'",
      "(2X,'a'",
      "(2X,'a)",
      "(2X)junk",
      "(3X 4X)",
      "(F7.3I2)",
      "(,2X)",
      "(2X,)",
      "(2X,,3X)",
      "(F7)",
      "(F.3)",
      "(F7.)",
      "(I)",
      "(X)",
      "(0X)",
      "(0(1X))",
      "(2H)",
      "(()",
      "(())",
      "(Q)",
      "(E10.3)",
      "(I0)",
      "(F0.0)",
      "(A0)",
      "(2)",
      "(\"a\")",
      "(1000001X)",
      "(99999999999999999999X)",
      "((((((((((((((((((1X))))))))))))))))))",
  };
  for (const char* t : bad) EXPECT_THROW(ftn_format(t, {}), FtnFormatError) << t;
}

TEST(FtnFormat, WrongValueTypeThrows) {
  EXPECT_THROW(ftn_format("(F7.3)", {1}), FtnFormatError);
  EXPECT_THROW(ftn_format("(I3)", {1.0f}), FtnFormatError);
  EXPECT_THROW(ftn_format("(A3)", {2}), FtnFormatError);
  EXPECT_THROW(ftn_format("(F7.3)", {std::string_view("x")}), FtnFormatError);
}

TEST(FtnFormat, RunawayTemplatesThrow) {
  EXPECT_THROW(ftn_format("(1000(1000(1000(1H-))))", {}), FtnFormatError);
  EXPECT_THROW(ftn_format("(1000000(1000000('')))", {}), FtnFormatError);
  EXPECT_THROW(ftn_format("(1000000X,1000000X)", {}), FtnFormatError);
  EXPECT_EQ(ftn_format("(1000(1000(1H-)))", {}).size(), 1000001u);
}

// Randomly damaged templates must either be written or rejected with
// FtnFormatError (never crash, hang or throw anything else).
TEST(FtnFormat, DamagedTemplatesNeverMisbehave) {
  const std::string seeds[] = {
      R"t((/,5X,'S = ',F7.4,'"' '  Impedances at',F7.3,' GHz',2(I2,A3),F5.1))t",
      R"t((3X,2(F8.4,F7.3),2X,72(1H-),/,2(I2,1X,'a''b',A),F4.1))t",
  };
  const std::string alphabet = "()',/0123456789FIAXHfiah. \"";
  std::uint32_t seed = 12345u;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  int written = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string t = seeds[n % 2];
    const std::uint32_t edits = 1u + next() % 3u;
    for (std::uint32_t k = 0; k < edits && !t.empty(); ++k) {
      const std::size_t at = next() % t.size();
      const char c = alphabet[next() % alphabet.size()];
      switch (next() % 3u) {
        case 0:
          t[at] = c;
          break;
        case 1:
          t.insert(at, 1, c);
          break;
        default:
          t.erase(at, 1);
          break;
      }
    }
    try {
      if (n % 2 == 0) {
        ftn_format(t, {1.5f, 2.5f, 7, std::string_view("abc"), 3, std::string_view("d"), 4.0f});
      } else {
        ftn_format(t, {1.5f, 2.5f, -3.0f, 0.25f, 7, std::string_view("abc"), 3,
                       std::string_view("d"), 4.0f});
      }
      ++written;
    } catch (const FtnFormatError&) {
    }
  }
  EXPECT_GT(written, 100);  // the damage leaves many templates writable
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(FtnFormat, RealEditMatchesTheCLibraryConversion) {
  // Random bit patterns (every magnitude, NaN, infinities, subnormals) and
  // values at and next to the ties of the printed decimals.
  std::uint32_t x = 2463534242u;
  int mismatches = 0;
  for (int i = 0; i < 100000; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    float v = 0.0f;
    if (i % 2 == 0) {
      std::memcpy(&v, &x, sizeof v);
    } else {
      const float tie = static_cast<float>(static_cast<int>(x % 200001u) - 100000) / 2000.0f;
      v = (x & 64u) != 0 ? tie : std::nextafter(tie, (x & 128u) != 0 ? 1e9f : -1e9f);
    }
    const int d = static_cast<int>((x >> 8) % 10u);
    const int w = d + 1 + static_cast<int>((x >> 12) % 12u);
    const std::string got = ftn_f(v, w, d);
    if (got != reference_f(v, w, d) && ++mismatches <= 5)
      ADD_FAILURE() << "value " << v << " F" << w << "." << d << ": " << got;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(FtnFormat, BufferVariantAppendsTheSameText) {
  std::string out = "kept|";
  ftn_format_to(out, "(F6.2,I3,1X,A)", {-0.004f, 42, std::string_view("ab")});
  ftn_format_to(out, "(F6.2,I3,1X,A)", {12.345f, -7, std::string_view("c")}, true);
  EXPECT_EQ(out, "kept| -0.00 42 ab\n 12.35 -7 c");
}

}  // namespace
}  // namespace kx
