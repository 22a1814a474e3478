// The defaults file: each entry's rule at its boundary, the conversions and
// orderings, the name entry, and the two messages that name a faulty entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogue_fixture.h"

namespace kx::test {
namespace {

const std::string kBanner =
    "\n\n\n               RF/Microwave Computer-Aided Engineering Design Software\n";

std::string error_message(const std::string& label11) {
  return "      Error exists in Microstrip Coupler default value data\n"
         "      file: Kestrelix.DEF. Fix entry for variable " +
         label11 + "\n";
}

std::string eof_message(const std::string& label11) {
  return "      End of file in Microstrip Coupler default value data\n"
         "      file: Kestrelix.DEF. Entry missing for variable " +
         label11 + "\n";
}

// Reads the given file through a first dialogue call with no answers.
struct FirstCall {
  TempWorkDir dir;
  Dialogue dlg;
  std::string out;
  explicit FirstCall(const std::vector<std::string>& lines, const char* eol = "\n") {
    write_defaults(lines, eol);
    out = dlg.run({});
  }
  bool accepted() const {
    return dlg.ended_by_input && dlg.d.isel == 0 && out.rfind(kBanner, 0) == 0;
  }
};

std::vector<std::string> with(Line line, const std::string& value) {
  auto lines = default_lines();
  lines[line] = value;
  return lines;
}

TEST(DefaultsFile, StandardFileIsReadWithItsConversions) {
  FirstCall c(default_lines());
  ASSERT_TRUE(c.accepted()) << c.out;
  const Design& d = c.dlg.d;
  EXPECT_EQ(d.er, 9.8f);
  EXPECT_EQ(d.erdef, 9.8f);
  EXPECT_EQ(d.fdef, 3.0f);
  EXPECT_EQ(d.fdefdef, 3.0f);
  EXPECT_EQ(c.dlg.fo, 3.0f);  // the F. value is the first frequency answer
  EXPECT_EQ(d.fmin, 1.0f);
  EXPECT_EQ(d.fmaxdef, 6.0f);
  EXPECT_EQ(d.h, 0.025f);
  EXPECT_EQ(d.h2def, 0.25f);
  EXPECT_EQ(d.kodef, 10.0f);  // Co. -10 is stored as its magnitude
  EXPECT_EQ(d.kodefdef, 10.0f);
  EXPECT_NEAR(d.ccdef, 0.316228, 1e-6);  // 10^(-10/20)
  EXPECT_EQ(d.cstrongdef, 6.0f);
  EXPECT_EQ(d.cweakdef, 20.0f);
  EXPECT_EQ(d.cstepdef, 2.0f);
  EXPECT_EQ(d.l, 0.4f);
  EXPECT_EQ(d.res1, 1.7f);
  EXPECT_EQ(d.res1def, 1.7f);
  EXPECT_EQ(d.res, 0.0f);  // set only by the RES menu
  EXPECT_EQ(d.rldef, 50.0f);
  EXPECT_EQ(d.rs, 50.0f);
  EXPECT_EQ(d.sdefdef, 0.005f);
  EXPECT_EQ(d.smin, 0.002f);
  EXPECT_EQ(d.smaxdef, 0.02f);
  EXPECT_EQ(d.sr1, 2.5f);
  EXPECT_EQ(d.sr, 0.0f);
  EXPECT_EQ(d.sstepdef, 0.002f);
  EXPECT_EQ(d.t, 0.0002f);
  EXPECT_EQ(d.tlosdef, 0.0001f);
  EXPECT_EQ(d.wdef, 0.02f);
  EXPECT_EQ(d.wmaxdef, 0.04f);
  EXPECT_EQ(d.wmin, 0.01f);
  EXPECT_EQ(d.wstepdef, 0.005f);
  EXPECT_EQ(d.zodefdef, 50.0f);
  EXPECT_EQ(d.zoedef, 69.5f);
  EXPECT_EQ(d.zoemaxdef, 90.0f);
  EXPECT_EQ(d.zoemindef, 60.0f);
  EXPECT_EQ(d.zoestepdef, 5.0f);
  EXPECT_EQ(d.zoodefdef, 36.0f);
  EXPECT_EQ(d.fn, "test.xls            ");
  EXPECT_EQ(d.cstrong, 0.0f);  // synthesis ranges are not read from the file
}

TEST(DefaultsFile, EachRuleRejectsItsBoundaryAndNamesTheEntry) {
  const struct {
    Line line;
    const char* value;
    const char* label;
  } rows[] = {
      {kER, "0.99", "ER.        "},    {kF, "-0.001", "F.         "},
      {kFMAX, "0", "FMAX.      "},     {kFMIN, "-0.1", "FMIN.      "},
      {kFMIN, "6.001", "FMIN.      "}, {kFSTEP, "0", "FSTEP.     "},
      {kH, "0", "H.         "},        {kH2, "0.0499", "H2.        "},
      {kCo, "0.5", "Co.        "},     {kCo, "-0.99", "Co.        "},
      {kL, "0", "L.         "},        {kRES, "-0.01", "RES.       "},
      {kRL, "0", "RL.        "},       {kRS, "-50", "RS.        "},
      {kS, "0", "S.         "},        {kSMAX, "0", "SMAX.      "},
      {kSMIN, "0", "SMIN.      "},     {kSMIN, "0.0201", "SMIN.      "},
      {kSR, "-1", "SR.        "},      {kSSTEP, "0", "SSTEP.     "},
      {kT, "-0.0001", "T.         "},  {kTLOS, "-1e-6", "TLOS.      "},
      {kW, "0", "W.         "},        {kWMAX, "-0.04", "WMAX.      "},
      {kWMIN, "0", "WMIN.      "},     {kWMIN, "0.041", "WMIN.      "},
      {kWSTEP, "0", "WSTEP.     "},    {kZO, "0", "ZO.        "},
      {kZOE, "0", "ZOE.       "},      {kZOO, "0", "ZOO.       "},
      {kZOO, "69.5", "ZOO.       "},   {kZOO, "70", "ZOO.       "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.label) + " = " + r.value);
    FirstCall c(with(r.line, r.value));
    EXPECT_EQ(c.out, error_message(r.label));
    EXPECT_EQ(c.dlg.d.isel, -1);
    EXPECT_FALSE(c.dlg.ended_by_input);
  }
}

TEST(DefaultsFile, BoundaryValuesAreAccepted) {
  const struct {
    Line line;
    const char* value;
  } rows[] = {
      {kER, "1.0"},    {kF, "0"},       {kFMIN, "0"},    {kFMIN, "6.0"},  // FMIN = FMAX
      {kH2, "0.05"},   {kCo, "1"},      {kCo, "-1"},     {kRES, "0"},
      {kSMIN, "0.02"}, {kSR, "0"},      {kT, "0"},       {kTLOS, "0"},
      {kWMIN, "0.04"}, {kZOO, "69.49"}, {kCstrong, "0"}, {kZOEstep, "-5"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    FirstCall c(with(r.line, r.value));
    EXPECT_TRUE(c.accepted()) << c.out;
  }
}

TEST(DefaultsFile, H2ExactlyTwiceHIsAccepted) {
  auto lines = default_lines();
  lines[kH] = "0.1";
  lines[kH2] = "0.2";
  FirstCall c(lines);
  ASSERT_TRUE(c.accepted()) << c.out;
  EXPECT_EQ(c.dlg.d.h2def, 0.2f);
}

TEST(DefaultsFile, CouplingRangeIsOrderedAndTakenAsMagnitudes) {
  auto lines = default_lines();
  lines[kCstrong] = "-20";
  lines[kCweak] = "6";
  lines[kCstep] = "-2.5";
  FirstCall c(lines);
  ASSERT_TRUE(c.accepted()) << c.out;
  EXPECT_EQ(c.dlg.d.cstrongdef, 6.0f);
  EXPECT_EQ(c.dlg.d.cweakdef, 20.0f);
  EXPECT_EQ(c.dlg.d.cstepdef, 2.5f);
}

TEST(DefaultsFile, ZoeRangeIsOrderedAndKeepsItsSign) {
  auto lines = default_lines();
  lines[kZOEmax] = "40";
  lines[kZOEmin] = "90";
  lines[kZOEstep] = "-5";
  FirstCall c(lines);
  ASSERT_TRUE(c.accepted()) << c.out;
  EXPECT_EQ(c.dlg.d.zoemaxdef, 90.0f);
  EXPECT_EQ(c.dlg.d.zoemindef, 40.0f);
  EXPECT_EQ(c.dlg.d.zoestepdef, -5.0f);
}

TEST(DefaultsFile, CouplingLevelIsStoredAsMagnitudeWithItsFactor) {
  FirstCall c(with(kCo, "6.0"));
  ASSERT_TRUE(c.accepted());
  EXPECT_EQ(c.dlg.d.kodef, 6.0f);
  EXPECT_NEAR(c.dlg.d.ccdef, 0.501187, 1e-6);  // 10^(-6/20)
}

TEST(DefaultsFile, NumberRuleOfTheEntries) {
  auto lines = default_lines();
  lines[kRL] = "5E1";                        // exponent form
  lines[kRS] = "   50        ohms, source";  // blanks ignored, text after column 13 too
  lines[kZO] = "5 0";                        // blanks inside the field are ignored
  FirstCall c(lines);
  ASSERT_TRUE(c.accepted()) << c.out;
  EXPECT_EQ(c.dlg.d.rl, 50.0f);
  EXPECT_EQ(c.dlg.d.rs, 50.0f);
  EXPECT_EQ(c.dlg.d.zodef, 50.0f);
}

TEST(DefaultsFile, MalformedOrOutOfRangeNumberIsThatEntrysError) {
  for (const char* bad : {"abc", "1e39", "-1e39", "1.2.3"}) {
    SCOPED_TRACE(bad);
    FirstCall c(with(kH, bad));
    EXPECT_EQ(c.out, error_message("H.         "));
    EXPECT_EQ(c.dlg.d.isel, -1);
  }
}

TEST(DefaultsFile, EntriesBeforeTheFaultKeepTheirValues) {
  FirstCall c(with(kS, "0"));
  EXPECT_EQ(c.dlg.d.isel, -1);
  EXPECT_EQ(c.dlg.d.rs, 50.0f);   // read before S.
  EXPECT_EQ(c.dlg.d.sdef, 0.0f);  // rejected: never copied
  EXPECT_EQ(c.dlg.d.smax, 0.0f);  // never read
}

TEST(DefaultsFile, EndOfFileNamesTheMissingEntry) {
  {
    FirstCall c(std::vector<std::string>{});
    EXPECT_EQ(c.out, eof_message("1st line.  "));
    EXPECT_EQ(c.dlg.d.isel, -1);
  }
  {
    FirstCall c({"title only"});
    EXPECT_EQ(c.out, eof_message("ER.        "));
  }
  {
    auto lines = default_lines();
    lines.resize(kZOEstep);  // the file ends before ZOEstep.
    FirstCall c(lines);
    EXPECT_EQ(c.out, eof_message("ZOEstep.   "));
  }
  {
    auto lines = default_lines();
    lines.pop_back();
    FirstCall c(lines);
    EXPECT_EQ(c.out, eof_message("FN.        "));
  }
}

TEST(DefaultsFile, LastLineWithoutLineEndIsRead) {
  TempWorkDir dir;
  {
    std::ofstream f("Kestrelix.DEF", std::ios::binary);
    const auto lines = default_lines();
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) f << lines[k] << "\n";
    f << "last.txt";
  }
  Dialogue dlg;
  dlg.run({});
  EXPECT_TRUE(dlg.ended_by_input);
  EXPECT_EQ(dlg.d.fn, "last.txt            ");
}

TEST(DefaultsFile, NameEntryRules) {
  const struct {
    const char* value;
    bool ok;
    const char* fn;
  } rows[] = {
      {"Kestrelix.DEF", false, ""},
      {"Kestrelix.EXE", false, ""},
      {"Kestrelix.DEF      ", false, ""},              // trailing blanks ignored
      {"Kestrelix.DEF       output name", false, ""},  // columns 21 on are ignored
      {"", false, ""},
      {"                    name", false, ""},           // blank in columns 1 to 20
      {"kestrelix.def", true, "kestrelix.def       "},   // other letter case
      {" Kestrelix.DEF", true, " Kestrelix.DEF      "},  // leading blank
      {"Kestrelix.DEFX", true, "Kestrelix.DEFX      "},
      {"a_name_of_25_characters__", true, "a_name_of_25_charact"},  // cut to 20
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string("'") + r.value + "'");
    auto lines = default_lines();
    lines[kFN] = r.value;
    FirstCall c(lines);
    if (r.ok) {
      EXPECT_TRUE(c.accepted()) << c.out;
      EXPECT_EQ(c.dlg.d.fn, r.fn);
    } else {
      EXPECT_EQ(c.out, error_message("FN.        "));
      EXPECT_EQ(c.dlg.d.isel, -1);
    }
  }
}

TEST(DefaultsFile, CrLfLinesAreRead) {
  FirstCall c(default_lines(), "\r\n");
  ASSERT_TRUE(c.accepted()) << c.out;
  EXPECT_EQ(c.dlg.d.zoodef, 36.0f);
  EXPECT_EQ(c.dlg.d.fn, "test.xls            ");
}

TEST(DefaultsFile, MissingFileIsFatalAndPrintsNothing) {
  TempWorkDir dir;
  Dialogue dlg;
  try {
    dlg.run({});
    FAIL() << "no FatalError";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "kestrelix: cannot open Kestrelix.DEF: No such file or directory; ", 0),
              0u)
        << e.what();
  }
  EXPECT_EQ(dlg.out.str(), "");
}

TEST(DefaultsFile, DirectoryInPlaceOfTheFileIsFatal) {
  TempWorkDir dir;
  std::filesystem::create_directory("Kestrelix.DEF");
  Dialogue dlg;
  EXPECT_THROW(dlg.run({}), FatalError);
  EXPECT_EQ(dlg.out.str(), "");
}

TEST(DefaultsFile, NotReadAgainOnLaterCalls) {
  TempWorkDir dir;
  write_defaults(default_lines());
  Dialogue dlg;
  dlg.run({});
  ASSERT_TRUE(dlg.ended_by_input);
  std::filesystem::remove("Kestrelix.DEF");
  dlg.d.isel = 2;
  const std::string out = dlg.run({});
  EXPECT_TRUE(dlg.ended_by_input);
  EXPECT_EQ(out.rfind(kBanner, 0), 0u) << out;
}

}  // namespace
}  // namespace kx::test
