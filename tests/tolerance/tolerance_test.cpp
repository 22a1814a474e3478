#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/tolerance_output.h"
#include "synthesis/ms1sen.h"

namespace {

using kx::tol::Study;
using kx::tol::Summary;

// A 10 dB, 50 ohm coupler at 2.4 GHz on Er 3.66, H 20 mil, T 1.4 mil, cover at 250 mil.
Study coupler() {
  Study study;
  study.model = kx::ModelSettings{kx::Model::closed};
  study.nominal.er = 3.66f;
  study.nominal.h = 0.020f;
  study.nominal.h2 = 0.25f;
  study.nominal.w = 0.03433f;
  study.nominal.s = 0.00372f;
  study.nominal.t = 0.0014f;
  study.f = 2.4f;
  study.threads = 2;
  study.progress = false;
  return study;
}

std::string csv_of(const Study& study, const Summary& sum) {
  std::ostringstream os;
  kx::cli::write_csv(os, kx::cli::tolerance_document(study, sum));
  return os.str();
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

TEST(Tolerance, NoToleranceGivesTheNominalPointEverywhere) {
  Study study = coupler();
  study.centre = 2.4f;
  study.samples = 200;
  study.limits.push_back(kx::tol::parse_limit("coupling_db=9:11"));
  study.limits.push_back(kx::tol::parse_limit("zo=:40"));
  const Summary sum = kx::tol::run(study);
  ASSERT_EQ(sum.valid, 200);
  ASSERT_EQ(sum.n_fig, kx::tol::n_figures);
  for (int i = 0; i < sum.n_fig; ++i) {
    const kx::tol::FigureStats& f = sum.fig[static_cast<std::size_t>(i)];
    SCOPED_TRACE(kx::tol::figure_names[static_cast<std::size_t>(i)]);
    const double nominal = static_cast<double>(f.nominal);
    EXPECT_TRUE(std::isfinite(nominal));
    EXPECT_EQ(f.min, nominal);
    EXPECT_EQ(f.max, nominal);
    EXPECT_EQ(f.pct[2], nominal);
    EXPECT_EQ(f.stddev, 0.0);
    for (const double s : f.share) EXPECT_EQ(s, 0.0);
  }
  // Coupling near 10 dB passes every time, Zo near 50 ohms never.
  EXPECT_EQ(sum.yields[0].percent, 100.0);
  EXPECT_EQ(sum.yields[1].percent, 0.0);
  EXPECT_EQ(sum.joint.passed, 0);
  // Wilson score interval at 200 of 200: from n / (n + z^2) to 1.
  EXPECT_NEAR(sum.yields[0].ci_low, 100.0 * 200.0 / (200.0 + 1.959964 * 1.959964), 1e-4);
  EXPECT_EQ(sum.yields[0].ci_high, 100.0);
  EXPECT_EQ(sum.joint.ci_low, 0.0);
}

TEST(Tolerance, SpreadOfZoeFollowsTheSensitivityToS) {
  Study study = coupler();
  study.tol[kx::tol::p_s] = 0.0001f;  // +-0.1 mil = 3 sigma
  study.samples = 20000;
  const Summary sum = kx::tol::run(study);
  ASSERT_EQ(sum.valid, study.samples);

  kx::Records rec;
  int iflag = 0;
  const kx::Section& n = study.nominal;
  kx::ms1sen(rec, n.er, study.f, n.h, n.h2, 1, iflag, n.s, n.t, n.w);
  ASSERT_EQ(iflag, 0);
  const double zoe = static_cast<double>(sum.fig[kx::tol::fig_zoe].nominal);
  const double sigma_s = 0.0001 / 3.0;
  const double expected = std::fabs(static_cast<double>(rec.mssen1.szoes)) * sigma_s * zoe /
                          static_cast<double>(n.s);
  EXPECT_NEAR(sum.fig[kx::tol::fig_zoe].stddev, expected, 0.03 * expected);
  // S alone carries the whole spread.
  EXPECT_EQ(sum.fig[kx::tol::fig_zoe].share[kx::tol::p_s], 1.0);
}

TEST(Tolerance, SameSeedGivesTheSameNumbersOnAnyThreadCount) {
  Study study = coupler();
  study.length = 0.75f;
  study.mat.res = 1.7f;
  study.mat.sr = 10.0f;
  study.mat.tlos = 0.002f;
  study.tol[kx::tol::p_w] = 0.0005f;
  study.tol[kx::tol::p_s] = 0.0005f;
  study.tol[kx::tol::p_er] = 0.05f;
  study.samples = 3001;
  study.seed = 42;
  study.limits.push_back(kx::tol::parse_limit("coupled_db=9.8:10.2"));
  std::string first_csv, first_samples;
  for (const unsigned threads : {1u, 2u, 3u}) {
    SCOPED_TRACE(threads);
    study.threads = threads;
    study.samples_out = ::testing::TempDir() + "kx_tol_samples_" + std::to_string(threads) + ".csv";
    const Summary sum = kx::tol::run(study);
    const std::string csv = csv_of(study, sum);
    const std::string samples = slurp(study.samples_out);
    std::remove(study.samples_out.c_str());
    if (threads == 1) {
      first_csv = csv;
      first_samples = samples;
      EXPECT_GT(sum.yields[0].passed, 0);
      EXPECT_LT(sum.yields[0].passed, sum.valid);
      // Header and one row per sample.
      EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), 3002);
    } else {
      EXPECT_EQ(csv, first_csv);
      EXPECT_EQ(samples, first_samples);
    }
  }
  // Another seed gives other numbers.
  study.seed = 43;
  study.samples_out.clear();
  EXPECT_NE(csv_of(study, kx::tol::run(study)), first_csv);
}

TEST(Tolerance, SamplesOutsideTheModelsAreCountedWithTheirReason) {
  // A low cover (H2 = 1.2 H) with a gap around 1.5 H: the wider gaps give
  // Zoo above Zoe.
  Study study;
  study.model = kx::ModelSettings{kx::Model::closed};
  study.nominal.er = 3.66f;
  study.nominal.h = 0.020f;
  study.nominal.h2 = 0.024f;
  study.nominal.w = 0.020f;
  study.nominal.s = 0.030f;
  study.nominal.t = 0.0014f;
  study.f = 2.4f;
  study.progress = false;
  study.tol[kx::tol::p_s] = 0.02f;
  study.dist = kx::tol::Dist::uniform;
  study.samples = 2000;
  const Summary sum = kx::tol::run(study);
  const kx::tol::Invalid& inv = sum.invalid;
  EXPECT_GT(inv.total, 0);
  EXPECT_GT(sum.valid, 0);
  EXPECT_EQ(sum.valid + inv.total, study.samples);
  EXPECT_EQ(inv.iflag2, inv.total);
  EXPECT_EQ(inv.reason[static_cast<std::size_t>(kx::code_index(kx::flag_cover))], inv.total);
  EXPECT_EQ(sum.fig[kx::tol::fig_zoe].count, sum.valid);

  const kx::cli::Document doc = kx::cli::tolerance_document(study, sum);
  std::ostringstream table;
  kx::cli::write_table(table, doc);
  EXPECT_NE(table.str().find("invalid_cover " + std::to_string(inv.total) + ","), std::string::npos)
      << table.str();
  // One clean CSV: every row has the header's columns.
  const std::string csv = csv_of(study, sum);
  std::istringstream rows(csv);
  std::string header;
  std::getline(rows, header);
  const auto commas = std::count(header.begin(), header.end(), ',');
  for (std::string row; std::getline(rows, row);) {
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), commas) << row;
  }
  std::ostringstream js;
  kx::cli::write_json(js, doc);
  const auto json = nlohmann::json::parse(js.str());
  EXPECT_EQ(json["summary"]["invalid"], inv.total);
  EXPECT_EQ(json["summary"]["invalid_cover"], inv.total);
  EXPECT_EQ(json["summary"]["valid"], sum.valid);
  // Each figure's histogram counts every evaluated sample once, in equal
  // bins from its min to its max.
  const auto& zoe = json["rows"][1];
  ASSERT_EQ(zoe["figure"], "zoe");
  ASSERT_EQ(zoe["histogram"].size(), static_cast<std::size_t>(kx::tol::histogram_bins));
  long long counted = 0;
  for (const auto& c : zoe["histogram"]) counted += c.get<long long>();
  EXPECT_EQ(counted, sum.fig[kx::tol::fig_zoe].count);
  EXPECT_GT(zoe["histogram"][0].get<long long>(), 0);  // the minimum's bin
  EXPECT_GT(zoe["histogram"][kx::tol::histogram_bins - 1].get<long long>(), 0);
}

TEST(Tolerance, EtchingMovesBothEdgesOfBothStripsAtAFixedPitch) {
  // W 10 mil, S 5 mil, every edge etched by x within +-1 mil (flat): each
  // sample is W - 2x, S + 2x, so W runs flat over 8 to 12 mil with a
  // standard deviation of 2 mil / sqrt(3) = 1.1547 mil.
  Study study = coupler();
  study.nominal.w = 0.010f;
  study.nominal.s = 0.005f;
  study.tol[kx::tol::p_etch] = 0.001f;
  study.dist = kx::tol::Dist::uniform;
  study.samples = 4000;
  study.samples_out = ::testing::TempDir() + "kx_tol_etch.csv";
  const Summary sum = kx::tol::run(study);
  std::istringstream lines(slurp(study.samples_out));
  std::remove(study.samples_out.c_str());
  std::string line;
  std::getline(lines, line);
  ASSERT_EQ(line.rfind("index,w_in,s_in,h_in,h2_in,t_in,er,etch_in,status,iflag,valid,flags,zo_ohm",
                       0),
            0u);
  double sum_w = 0.0, sum_w2 = 0.0;
  int n = 0;
  while (std::getline(lines, line)) {
    float v[8];
    std::istringstream fields(line);
    std::string f;
    for (float& x : v) {
      std::getline(fields, f, ',');
      x = std::strtof(f.c_str(), nullptr);
    }
    const float w = v[1], s = v[2], etch = v[7];
    ASSERT_LE(std::fabs(etch), 0.001f);
    ASSERT_EQ(w, 0.010f - 2.0f * etch) << line;
    ASSERT_EQ(s, 0.005f + 2.0f * etch) << line;
    ASSERT_EQ(v[3], study.nominal.h);
    sum_w += static_cast<double>(w);
    sum_w2 += static_cast<double>(w) * static_cast<double>(w);
    ++n;
  }
  ASSERT_EQ(n, 4000);
  const double mean = sum_w / n;
  const double sd = std::sqrt(sum_w2 / n - mean * mean);
  EXPECT_NEAR(mean, 0.010, 0.00005);
  EXPECT_NEAR(sd, 0.002 / std::sqrt(3.0), 0.03 * 0.002 / std::sqrt(3.0));
  // The etch offset alone carries the whole spread.
  EXPECT_EQ(sum.fig[kx::tol::fig_zoo].share[kx::tol::p_etch], 1.0);
}

TEST(Tolerance, SamplesOutsideTheFittedRangesStayInTheStatisticsButPassNoLimit) {
  // W/H 9.95 with +-0.1 H on W (flat): about a quarter of the strips are
  // wider than the closed forms' fitted range (W/H 10).
  Study study = coupler();
  study.nominal.w = 0.199f;
  study.tol[kx::tol::p_w] = 0.002f;
  study.dist = kx::tol::Dist::uniform;
  study.samples = 2000;
  study.limits.push_back(kx::tol::parse_limit("zo_ohm=0:1000"));  // every value passes
  const Summary sum = kx::tol::run(study);
  EXPECT_EQ(sum.invalid.total, 0);
  EXPECT_GT(sum.outside.total, 300);
  EXPECT_LT(sum.outside.total, 700);
  EXPECT_EQ(sum.outside.wh, sum.outside.total);
  EXPECT_EQ(sum.valid + sum.outside.total, study.samples);
  EXPECT_EQ(sum.fig[kx::tol::fig_zo].count, study.samples);
  EXPECT_EQ(sum.yields[0].count, study.samples);
  EXPECT_EQ(sum.yields[0].passed, sum.valid);
  EXPECT_EQ(sum.joint.passed, sum.valid);
}

TEST(Tolerance, AFourPortLimitOverABandHoldsAtEveryFrequencyOfIt) {
  Study study = coupler();
  study.centre = 2.4f;
  study.tol[kx::tol::p_s] = 0.0005f;
  study.samples = 2000;
  study.limits.push_back(kx::tol::parse_limit("coupled_db=9.8:10.2"));
  const Summary at_f = kx::tol::run(study);
  study.band = {2.4f};  // the band of the analysis frequency alone
  const Summary one = kx::tol::run(study);
  EXPECT_EQ(one.yields[0].passed, at_f.yields[0].passed);
  study.band.clear();
  for (int k = 0; k <= 8; ++k) study.band.push_back(2.0f + 0.1f * static_cast<float>(k));
  const Summary band = kx::tol::run(study);
  EXPECT_GT(band.yields[0].passed, 0);
  EXPECT_LT(band.yields[0].passed, at_f.yields[0].passed);
  // The statistics stay those at f.
  EXPECT_EQ(band.fig[kx::tol::fig_coupled_db].mean, at_f.fig[kx::tol::fig_coupled_db].mean);
}

TEST(Tolerance, ALimitAboutTheNominalValueIsThatValuePlusOrMinusX) {
  Study study = coupler();
  study.tol[kx::tol::p_s] = 0.0005f;
  study.samples = 2000;
  study.limits.push_back(kx::tol::parse_limit("coupling_db=+-0.25"));
  const Summary about = kx::tol::run(study);
  const float nominal = about.fig[kx::tol::fig_coupling_db].nominal;
  ASSERT_EQ(about.limits.size(), 1u);
  EXPECT_EQ(about.limits[0].min, nominal - 0.25f);
  EXPECT_EQ(about.limits[0].max, nominal + 0.25f);
  study.limits = {about.limits[0]};
  study.limits[0].relative = false;
  const Summary absolute = kx::tol::run(study);
  EXPECT_EQ(about.yields[0].passed, absolute.yields[0].passed);
  EXPECT_GT(about.yields[0].passed, 0);
  EXPECT_LT(about.yields[0].passed, about.valid);
  EXPECT_THROW(kx::tol::parse_limit("zo=+-x"), kx::tol::Error);
  EXPECT_THROW(kx::tol::parse_limit("zo=+--1"), kx::tol::Error);
}

TEST(Tolerance, UnphysicalDrawsAreDrawnAgain) {
  // Zero-thickness strips with a flat +-1 mil on T: half the draws are
  // negative and are drawn again; T = 0 itself is the zero-thickness model.
  Study study = coupler();
  study.nominal.t = 0.0f;
  study.tol[kx::tol::p_t] = 0.001f;
  study.dist = kx::tol::Dist::uniform;
  study.samples = 1000;
  const Summary sum = kx::tol::run(study);
  EXPECT_EQ(sum.valid, 1000);
  EXPECT_GT(sum.redraws, 350);
  EXPECT_LT(sum.redraws, 1650);  // about one per sample (geometric, p = 1/2)
}

TEST(Tolerance, BadSpecificationsAndFailedWritesAreErrors) {
  EXPECT_THROW(kx::tol::parse_limit("coupling"), kx::tol::Error);
  EXPECT_THROW(kx::tol::parse_limit("gain_db=1:2"), kx::tol::Error);
  EXPECT_THROW(kx::tol::parse_limit("zo=52:48"), kx::tol::Error);
  EXPECT_THROW(kx::tol::parse_limit("zo=4x:52"), kx::tol::Error);
  const kx::tol::Limit open = kx::tol::parse_limit("return_loss_db=20:");
  EXPECT_EQ(open.min, 20.0f);
  EXPECT_TRUE(std::isinf(open.max));

  Study study = coupler();
  study.samples = 10;
  study.limits.push_back(open);  // a four-port figure without a length
  EXPECT_NE(kx::tol::check(study), "");
  study.limits.clear();
  study.nominal.h2 = study.nominal.h;
  EXPECT_EQ(kx::tol::check(study), "the nominal section is not physical: H2 must be above H");
  study = coupler();
  study.length = 1.0f;
  study.centre = 2.4f;
  EXPECT_THROW(kx::tol::run(study), kx::tol::Error);

  study = coupler();
  study.samples = 10;
  study.samples_out = "/dev/full";  // every write fails
  EXPECT_THROW(kx::tol::run(study), kx::tol::Error);
  study.samples_out = ::testing::TempDir() + "no/such/folder/samples.csv";
  EXPECT_THROW(kx::tol::run(study), kx::tol::Error);
}

}  // namespace
