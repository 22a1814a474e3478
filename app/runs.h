// The four runs of the driver and the pieces they share.
#pragma once

#include <cmath>

#include <kestrelix/section.h>

#include "app/state.h"
#include "common/report.h"

namespace kx {

// Impedance analysis over a range of W or S.
void run_impedance(State& st, Report& rep);
// Four-port response or dispersion of the cross-section (iop2a).
void run_frequency(State& st, Report& rep);
// Sensitivity of Zoe/Zoo versus frequency, W or S.
void run_sensitivity(State& st, Report& rep);
// Synthesis of W and S over coupling levels or Zoe.
void run_synthesis(State& st, Report& rep);

// Coupling as the reports print it: the negative number of dB (-10 for a
// 10 dB coupler), where the library gives it as a positive one; -999.999
// for a pair without coupling (Zoo at or above Zoe: the library's NaN).
inline float report_db(float coupling_db) {
  return std::isnan(coupling_db) ? -999.999f : -coupling_db;
}
// ... and back to the library's sign.
inline float library_db(float report_coupling_db) { return -report_coupling_db; }

// The point at which a run fails the models' validity tests.
struct Failure {
  Section sec;  // the cross-section evaluated (the design's, with the failing W and S)
  float f{};    // the frequency the failing step passed to the models, GHz (0: D.C.)
  int iflag{};  // the models' validity flag
  float co{};   // synthesis: the coupling level of the row, dB (negative)
  float zo{};   // synthesis: the coupler impedance of the row, ohms
};

// The accuracy-violation report with which a run ends when a model returns
// a non-zero iflag: every accuracy limit the failing point crosses, and in
// a synthesis run the coupling and impedance limits of the row as well.
void accuracy_report(State& st, Report& rep, const Failure& at);

}  // namespace kx
