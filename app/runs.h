// The four runs of the driver and the pieces they share.
#pragma once

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

// Radiation loss at f GHz for the even-mode permittivity effef, added half
// to each of ate and ato. Uses st.work.feff and st.work.ar.
void add_radiation_loss(State& st, float f, float& ate, float& ato);

// The accuracy-violation report with which a run ends when a model returns
// a non-zero iflag. The F x H reason tests st.work.f, which the failing run
// sets to the frequency its failing step passed to the model (0 for D.C.);
// the coupling reason tests st.work.couple in a synthesis run.
void accuracy_report(State& st, Report& rep);

}  // namespace kx
