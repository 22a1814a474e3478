// Strip width and spacing of the covered coupled pair for target even- and
// odd-mode impedances: the closed-form estimate of Akhtarzad, Rowbotham and
// Johns (equivalent single strips sized by Wheeler's synthesis formula),
// refined against the full model chain by a step-and-halve search on S for
// the coupling and a fixed-point step on W for the coupler impedance.
#include <cmath>

#include "common/constants.h"
#include "common/fmath.h"
#include "models/chain.h"
#include "models/static/static_models.h"
#include "synthesis/msws_internal.h"
#include "synthesis/synthesis.h"

namespace kx {

namespace {
constexpr float kMinStartSpacing = 0.0005f;  // inch: smallest starting spacing
constexpr float kSpacingStep = 0.06f;        // first spacing step, relative to S
constexpr float kSpacingFloor = 1.0E-8f;     // inch: the search never steps to or below it
// Coupling tolerance of the first spacing search, tightened by kErrStep per
// outer step until the eighth; from the ninth search on it is kFinalErr.
constexpr float kFirstErr = 0.1005f;
constexpr float kErrStep = 0.0125f;
constexpr int kTightenSteps = 8;
constexpr float kFinalErr = 0.0005f;     // final tolerance of the coupling and impedance errors
constexpr float kMaxWh = 11.0f;          // largest W/H within the models' range
constexpr float kMinWidthFactor = 0.5f;  // limits of one width step
constexpr float kMaxWidthFactor = 1.5f;
// Bounds against a target the model cannot reach: a coupling too tight for
// any positive spacing halves S without end. A converging search takes a few
// dozen evaluations and the width iteration a few dozen steps.
constexpr int kMaxSearchEvaluations = 1000;
constexpr int kMaxOuterSteps = 100;

// One evaluation of the model chain at (s, w), both modes.
void evaluate(Records& rec, ChainValues& c, float er, float f, float h, float h2, int& iflag,
              float s, float t, float w) {
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = h2;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  evaluate_chain(rec, c, sec, f, ModeSet::both, iflag);
}
}  // namespace

void msws_counted(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
                  float& w, float zoed, float zood, MswsStats& stats) {
  stats = MswsStats{};
  using Exit = MswsStats::Exit;

  // Targets: coupler impedance and voltage coupling coefficient.
  float ccd = 0.0f;
  float kod = 0.0f;
  float zod = 0.0f;
  {
    float zoe_t = zoed;
    float zoo_t = zood;
    sl1zo(ccd, kod, sl1zo_coupling_from_pair, zod, zoe_t, zoo_t);
  }

  // Akhtarzad-Rowbotham-Johns estimate: equivalent single strips of
  // impedance zoed/2 and zood/2 sized by Wheeler's W/H formula.
  float tp = std::sqrt(er + 1.0f);
  const float pe = std::exp(zoed * tp / 84.8f) - 1.0f;
  const float po = std::exp(zood * tp / 84.8f) - 1.0f;
  tp = (1.0f + 1.0f / er) / 0.81f;
  const float whe = (8.0f / pe) * std::sqrt((7.0f + 4.0f / er) * pe / 11.0f + tp);
  const float who = (8.0f / po) * std::sqrt((7.0f + 4.0f / er) * po / 11.0f + tp);
  const float tpe = pi * whe / 2.0f;
  const float tpo = pi * who / 2.0f;
  const float g = (std::cosh(tpe) + std::cosh(tpo) - 2.0f) / (std::cosh(tpo) - std::cosh(tpe));
  const float hp = (g + 1.0f) * std::cosh(tpe) / 2.0f + (g - 1.0f) / 2.0f;
  const float tpg = std::log(g + std::sqrt(sq(g) - 1.0f));
  const float tph = std::log(hp + std::sqrt(sq(hp) - 1.0f));
  s = (2.0f * h / pi) * tpg;
  if (s < kMinStartSpacing) {
    s = kMinStartSpacing;
  }
  w = (h / pi) * (tph - tpg);

  ChainValues c;
  float err1 = kFirstErr;
  int i = 0;
  int j = 0;
  float oldw = 0.0f;
  for (;;) {
    // Spacing search at the current width: step S toward the target
    // coupling, stepping back and halving whenever the error changes sign.
    ++stats.outer_steps;
    float ds = kSpacingStep * s;
    float zs1 = 0.0f;
    float zs = 0.0f;
    float tps = 0.0f;
    float zo = 0.0f;
    for (int n = 1;; ++n) {
      evaluate(rec, c, er, f, h, h2, iflag, s, t, w);
      ++stats.evaluations;
      if (n > stats.longest_search) {
        stats.longest_search = n;
      }
      if (iflag != 0) {
        stats.exit = Exit::model_flag;
        return;
      }
      float cc = 0.0f;
      float ko = 0.0f;
      float zoef = rec.lcdis1.zoef;
      float zoof = rec.lcdis1.zoof;
      sl1zo(cc, ko, sl1zo_coupling_from_pair, zo, zoef, zoof);
      zs = (ccd - cc) / ccd;
      tps = std::fabs(zs);
      if (tps < err1) {
        break;
      }
      if (n >= kMaxSearchEvaluations) {
        iflag = 1;
        stats.exit = Exit::search_bound;
        return;
      }
      if (zs1 == 0.0f && zs > 0.0f) {
        ds = -ds;  // coupling too weak: narrow the gap
      }
      const float r = zs1 / zs;
      if (r < 0.0f) {
        s = s - ds;
        zs = zs1;
        ds = ds / 2.0f;
      }
      s = s + ds;
      if (s <= kSpacingFloor) {
        s = (s - ds) / 2.0f;
        ds = -s;
      }
      zs1 = zs;
    }

    // Tolerance schedule and the fixed-point step on the coupler impedance.
    i = i + 1;
    if (i <= kTightenSteps) {
      j = i;
    }
    const float zw = (zod - zo) / zod;
    err1 = kFirstErr - kErrStep * static_cast<float>(j);
    if (tps < kFinalErr && std::fabs(zw) < kFinalErr) {
      stats.exit = Exit::converged;
      return;
    }
    if (w / h > kMaxWh) {
      iflag = 1;
    }
    if (iflag != 0) {
      stats.exit = Exit::too_wide;
      return;
    }
    if (i >= kMaxOuterSteps) {
      iflag = 1;
      stats.exit = Exit::outer_bound;
      return;
    }
    tp = 1.0f - zw;
    if (tp < kMinWidthFactor) {
      tp = kMinWidthFactor;
    }
    if (tp > kMaxWidthFactor) {
      tp = kMaxWidthFactor;
    }
    w = w * tp;  // a coupler impedance below the target narrows the strips
    if (w == oldw) {
      stats.exit = Exit::width_unchanged;
      return;
    }
    oldw = w;
  }
}

void msws(Records& rec, float er, float f, float h, float h2, int& iflag, float& s, float t,
          float& w, float zoed, float zood) {
  MswsStats stats;
  msws_counted(rec, er, f, h, h2, iflag, s, t, w, zoed, zood, stats);
}

}  // namespace kx
