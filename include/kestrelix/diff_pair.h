// The edge-coupled pair as the differential pair of a high-speed board:
// Zdiff = 2 Zoo (the pair driven in odd mode), Zcomm = Zoe/2 (both strips
// driven together), the two effective permittivities and the delays per
// length; and the search for S at a given W (or W at a given S) that gives a
// target Zdiff, or for W and S that give a target Zdiff and Zcomm.
//
//   kx::study::DiffPairPlan plan;
//   plan.section = sec;            // er, h, h2, t, and W (S is what the search finds)
//   plan.f = 5.0f;                 // GHz
//   plan.zdiff = 100.0f;           // ohms
//   plan.solve = kx::study::PairSolve::s;
//   kx::CoupledLine line;
//   const kx::study::DiffPair p = kx::study::diff_pair(line, plan);
//   if (p.found && p.valid) use(p.section.s, p.zdiff, p.zcomm);
//
// The search brackets and bisects on the closed forms' values inside their
// fitted ranges (W/H 0.1 to 10, S/H 0.1 to 8); with an evaluator of the
// field model the closed forms' answer is then refined on the solver's
// values (the secant method on Zoo for one unknown, the evaluator's Newton
// search, CoupledLine::refine_pair, for both) until Zdiff is what three
// decimals print as the target. On the solver's fast path (the default) the
// answer is then checked and polished on the direct solution, whose modes
// the answer holds. A pair is found when it meets Zdiff within 0.05 ohm
// (and Zcomm within 0.025 ohm when both W and S are sought).
#pragma once

#include <kestrelix/coupled_line.h>
#include <kestrelix/study.h>

namespace kx::study {

// What the search finds. (A pair at a constant pitch W + S, as a layer stack
// routes it, is the natural next unknown: a value here and a branch in
// diff_pair.)
enum class PairSolve {
  none,     // nothing: the pair as given
  s,        // S for the target Zdiff at the given W
  w,        // W for the target Zdiff at the given S
  w_and_s,  // W and S for the target Zdiff and Zcomm
};

struct DiffPairPlan {
  Section section;  // er, h, h2, t and the W or S that is given, inch
  float f{};        // GHz (0: D.C.)
  float zdiff{};    // target 2 Zoo, ohms (with a search)
  float zcomm{};    // target Zoe/2, ohms (PairSolve::w_and_s): above zdiff/4
  PairSolve solve = PairSolve::none;
};

struct DiffPair {
  bool found{};     // the search met its target (always with PairSolve::none)
  Section section;  // the pair, with the W and S found
  // The modes of the pair at f when a pair was formed (of a search's answer
  // with the field model: the direct solution's); found: they meet the
  // targets.
  Modes modes;
  float zdiff{};               // 2 Zoo, ohms
  float zcomm{};               // Zoe / 2, ohms
  float delay_e{}, delay_o{};  // sqrt(eff_e), sqrt(eff_o) over c: ps per inch
  long long evaluations{};     // evaluations of the models the search used
  // The closed forms' answer (their root, from which the field model's
  // search starts; with the closed forms the pair itself), when they found
  // one: what the closed forms alone would have given.
  bool closed_found{};
  Section closed;
  unsigned flags{};  // the pair's validity codes (kestrelix/validity.h)
  bool valid{};      // found, and no flag raised
};

// A plan that asks for no pair (a target Zdiff not above 0, a Zcomm not above
// Zdiff/4) finds none: found false, flags flag_refused.
DiffPair diff_pair(CoupledLine& line, const DiffPairPlan& plan, const Stop* stop = nullptr);

}  // namespace kx::study
