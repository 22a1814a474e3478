// Console answers: the (F13.0) and (A20) rules, menu conversions and the
// answer source's end-of-input and bad-number messages.
#include "input/answers.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <sstream>
#include <string>

namespace kx {
namespace {

TEST(ReadF13, AcceptedForms) {
  const struct {
    const char* line;
    float value;
  } rows[] = {
      {"50", 50.0f},
      {"5E1", 50.0f},
      {"5e1", 50.0f},
      {"5D1", 50.0f},
      {"5d+1", 50.0f},
      {" -1.5e-2", -0.015f},
      {"1.5+3", 1500.0f},  // Fortran exponent without a letter
      {"2.5-1", 0.25f},
      {"+.5", 0.5f},
      {"7.", 7.0f},
      {"1 0", 10.0f},  // blanks anywhere are ignored
      {"\t2\t", 2.0f},
      {"", 0.0f},
      {"   ", 0.0f},
      {"10           junk", 10.0f},  // columns 14 on are ignored
      {"             99", 0.0f},     // the number lies beyond column 13
      {"0.0025", 0.0025f},
      {"1e-50", 0.0f},  // underflow reads as zero
      {"3.4028235e38", std::numeric_limits<float>::max()},
  };
  for (const auto& r : rows) {
    float v = -123.0f;
    EXPECT_TRUE(read_f13(r.line, v)) << '"' << r.line << '"';
    EXPECT_EQ(v, r.value) << '"' << r.line << '"';
  }
}

TEST(ReadF13, RejectedForms) {
  const char* bad[] = {"abc", "+",   "-",  ".",  "-.",   "1..2", "1.2.3", "1,5", "inf", "nan",
                       "1e",  "1e+", "1+", "E5", "0x10", "1e39", "-1e39", "12a", "1.5f"};
  for (const char* t : bad) {
    float v = 0.0f;
    EXPECT_FALSE(read_f13(t, v)) << '"' << t << '"';
  }
}

TEST(ReadF13, RoundsToNearestFloat) {
  // 1 + 2^-24 = 1.000000059604644775... lies halfway between 1 and the next
  // float 1 + 2^-23: just above it rounds up, just below it rounds down.
  float v = 0.0f;
  ASSERT_TRUE(read_f13("1.00000005961", v));
  EXPECT_EQ(v, 1.00000012f);
  ASSERT_TRUE(read_f13("1.00000005960", v));
  EXPECT_EQ(v, 1.0f);
}

TEST(ReadA20, TakesTwentyColumnsPadded) {
  EXPECT_EQ(read_a20("out.txt"), "out.txt             ");
  EXPECT_EQ(read_a20(""), std::string(20, ' '));
  EXPECT_EQ(read_a20("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmnopqrst");
}

TEST(Answers, MenuConversions) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(nearest_int(0.5f), 1);
  EXPECT_EQ(nearest_int(-0.5f), -1);
  EXPECT_EQ(nearest_int(1.49f), 1);
  EXPECT_EQ(nearest_int(2.5f), 3);
  EXPECT_EQ(nearest_int(-2.5f), -3);
  EXPECT_EQ(nearest_int(0.49999997f), 0);
  EXPECT_EQ(nearest_int(3.0e9f), INT_MAX);
  EXPECT_EQ(nearest_int(-3.0e9f), INT_MIN);
  EXPECT_EQ(nearest_int(2147483648.0f), INT_MAX);
  EXPECT_EQ(nearest_int(-2147483648.0f), INT_MIN);
  EXPECT_EQ(nearest_int(nan), 0);
  EXPECT_EQ(trunc_int(1.99f), 1);
  EXPECT_EQ(trunc_int(-1.99f), -1);
  EXPECT_EQ(trunc_int(0.5f), 0);
  EXPECT_EQ(trunc_int(3.0e9f), INT_MAX);
  EXPECT_EQ(trunc_int(-3.0e9f), INT_MIN);
  EXPECT_EQ(trunc_int(nan), 0);
}

TEST(Answers, ReadsLinesUntilEndOfInput) {
  std::istringstream in("2.5\r\n\nout.dat\r\n  7");  // last line without a line end
  Answers ans(in);
  EXPECT_EQ(ans.number(), 2.5f);
  EXPECT_EQ(ans.number(), 0.0f);
  EXPECT_EQ(ans.text20(), "out.dat             ");
  EXPECT_EQ(ans.number(), 7.0f);
  try {
    ans.number();
    FAIL() << "no InputError at end of input";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "kestrelix: end of input");
  }
  EXPECT_THROW(ans.text20(), InputError);
}

TEST(Answers, BadNumberMessageQuotesTheAnswer) {
  std::istringstream in("abc\n" + std::string(50, 'x') + "\n");
  Answers ans(in);
  try {
    ans.number();
    FAIL() << "no InputError for abc";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "kestrelix: not a valid number: \"abc\"");
  }
  try {
    ans.number();
    FAIL() << "no InputError for the long answer";
  } catch (const InputError& e) {
    EXPECT_EQ(std::string(e.what()),
              "kestrelix: not a valid number: \"" + std::string(40, 'x') + "\"");
  }
}

TEST(Answers, ControlBytesOfABadAnswerAreShownEscaped) {
  std::istringstream in(std::string("1\0\x1b\n", 4));
  Answers ans(in);
  try {
    ans.number();
    FAIL() << "no InputError";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "kestrelix: not a valid number: \"1\\x00\\x1b\"");
  }
}

TEST(Answers, LongLinesKeepOnlyTheColumnsOfTheirRule) {
  const std::string tail((1 << 20) - 100, 'x');  // the whole line just under 1 MiB
  std::istringstream in("12" + std::string(11, ' ') + tail + "\n" +  // text past column 13
                        "name.txt" + std::string(12, ' ') + tail + "\r\n" +
                        "1234567890123\r\n" +  // the carriage return ends the line
                        "7");                  // last line without its end
  Answers ans(in);
  EXPECT_EQ(ans.number(), 12.0f);
  EXPECT_EQ(ans.text20(), "name.txt            ");
  EXPECT_EQ(ans.number(), 1234567890123.0f);
  EXPECT_EQ(ans.number(), 7.0f);
  EXPECT_THROW(ans.number(), InputError);

  // A line longer than 1 MiB is not an answer: the session ends.
  std::istringstream huge(std::string((1 << 20) + 1, '1') + "\n1\n");
  Answers too_long(huge);
  try {
    too_long.number();
    ADD_FAILURE() << "a line of more than 1 MiB was read as an answer";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "kestrelix: answer line longer than 1 MiB");
  }

  std::stringbuf endless(std::string(100, 'x'));
  const BoundedLine r = read_bounded_line(endless, 13, 64);
  EXPECT_EQ(r.end, BoundedLine::End::kTooLong);
  EXPECT_EQ(r.kept.size(), 13u);
}

}  // namespace
}  // namespace kx
