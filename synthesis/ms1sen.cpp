// Normalised sensitivities of the even- and odd-mode impedances of the
// covered coupled pair to Er, H, H2, S, T and W: one-sided forward
// differences of the full model chain with one parameter raised by 0.1 %.
#include "synthesis/ms1sen.h"

#include <cmath>

#include "models/chain.h"

namespace kx {

namespace {
constexpr float kRaise = 1.001f;  // forward-difference step: +0.1 %
// From h2/h = 100 on the cover no longer enters any model of the chain.
constexpr float kCoverLimit = 100.0f;

// One evaluation of the chain on the current parameter values.
void evaluate(Records& rec, ChainValues& last, Widths widths, float er, float f, float h, float h2,
              ModeSet modes, int& iflag, float s, float t, float w) {
  Section sec;
  sec.er = er;
  sec.h = h;
  sec.h2 = h2;
  sec.w = w;
  sec.s = s;
  sec.t = t;
  evaluate_chain(rec, last, sec, f, modes, iflag, widths);
}

// Normalised sensitivity (dZ/Z)/(dx/x) of the forward difference.
float sensitivity(float z, float z0, float x, float x0) { return (z - z0) * x0 / ((x - x0) * z0); }
}  // namespace

void ms1sen(Records& rec, float er, float f, float h, float h2, int ieoro, int& iflag, float s,
            float t, float w) {
  // Perturbed points evaluate the selected mode only; the other mode's
  // working values stay as the last evaluation left them.
  const ModeSet one_mode = ieoro == ieoro_odd ? ModeSet::odd : ModeSet::even;
  // The working values as the last evaluation left them: a perturbed
  // evaluation computes the selected mode only and reads the other mode's
  // static permittivity and impedance here, as the nominal point left them.
  ChainValues last;
  // Nominal point, both modes.
  evaluate(rec, last, Widths::compute, er, f, h, h2, ModeSet::both, iflag, s, t, w);
  const float temp1e = last.wte;
  const float temp1o = last.wto;
  if (iflag == 1) {
    return;
  }
  const float tempe = rec.lcdis1.zoef;
  const float tempo = rec.lcdis1.zoof;

  // Perturbed points: the selected mode only. Each parameter is a local
  // copy, raised for its own evaluation and then given back its entry value.
  const auto perturb = [&](float& x, Widths widths, float& se, float& so) {
    const float x0 = x;
    x = x * kRaise;
    if (widths == Widths::keep) {
      last.wte = temp1e;
      last.wto = temp1o;
    }
    evaluate(rec, last, widths, er, f, h, h2, one_mode, iflag, s, t, w);
    se = sensitivity(rec.lcdis1.zoef, tempe, x, x0);
    so = sensitivity(rec.lcdis1.zoof, tempo, x, x0);
    x = x0;
  };

  Mssen1& e = rec.mssen1;
  Mssen2& o = rec.mssen2;
  perturb(er, Widths::compute, e.szoeer, o.szooer);
  perturb(h, Widths::compute, e.szoeh, o.szooh);
  const float r = h2 / h;
  if (r >= kCoverLimit) {
    e.szoeh2 = 0.0f;
    o.szooh2 = 0.0f;
  } else {
    // The cover height does not enter the thickness correction.
    perturb(h2, Widths::keep, e.szoeh2, o.szooh2);
  }
  perturb(s, Widths::compute, e.szoes, o.szoos);
  e.szoet = 0.0f;
  o.szoot = 0.0f;
  if (t != 0.0f) {
    perturb(t, Widths::compute, e.szoet, o.szoot);
  }
  perturb(w, Widths::compute, e.szoew, o.szoow);

  rec.lcdis1.zoef = tempe;
  rec.lcdis1.zoof = tempo;
}

}  // namespace kx
