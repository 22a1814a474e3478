// Normalised sensitivities of the even- and odd-mode impedances of the
// covered coupled pair to Er, H, H2, S, T and W: one-sided forward
// differences of the full model chain with one parameter raised by 0.1 %.
#include <cmath>

#include "models/dispersion/dispersion.h"
#include "models/loss/loss.h"
#include "models/static/static_models.h"

namespace kx {

namespace {
constexpr float kRaise = 1.001f;  // forward-difference step: +0.1 %
// From h2/h = 100 on the cover no longer enters any model of the chain.
constexpr float kCoverLimit = 100.0f;
constexpr int kBothModes = 1;
constexpr int kOneMode = 3;

// Working values of the chain that carry over from one evaluation to the
// next: a single-mode evaluation reads the other mode's values as the last
// evaluation left them.
struct Chain {
  float effc{}, effe{}, effo{};
  float wte{}, wto{};
  float zoe{}, zoo{};
};

// One evaluation of the model chain; with `widths` false the effective
// widths already in `c` are used instead of calling lcwta.
void evaluate(Records& rec, Chain& c, bool widths, float er, float f, float h, float h2, int ieoro,
              int& iflag, int iop, float s, float t, float w) {
  if (widths) {
    lcwta(er, h, s, t, w, c.wte, c.wto);
  }
  mscuppv(rec, c.effc, c.effe, c.effo, er, t, h, h2, ieoro, iop, s, c.wte, c.wto);
  ms1imp(rec, c.effe, c.effo, er, h, h2, ieoro, iflag, iop, s, c.wte, c.wto, c.zoe, c.zoo);
  lceff(rec, c.effc, c.effe, c.effo, er, f, h, ieoro, iop, s, c.wte, c.wto);
  lcdis(rec, c.effo, rec.lceff1.effof, er, f, h, h2, ieoro, iflag, iop, s, c.wte, c.wto, c.zoe,
        c.zoo);
}

// Normalised sensitivity (dZ/Z)/(dx/x) of the forward difference.
float sensitivity(float z, float z0, float x, float x0) { return (z - z0) * x0 / ((x - x0) * z0); }
}  // namespace

void ms1sen(Records& rec, float er, float f, float h, float h2, int ieoro, int& iflag, float s,
            float t, float w) {
  // Nominal point, both modes.
  Chain c;
  evaluate(rec, c, true, er, f, h, h2, ieoro, iflag, kBothModes, s, t, w);
  const float temp1e = c.wte;
  const float temp1o = c.wto;
  if (iflag == 1) {
    return;
  }
  const float tempe = rec.lcdis1.zoef;
  const float tempo = rec.lcdis1.zoof;

  // Perturbed points: the selected mode only. Each parameter is a local
  // copy, raised for its own evaluation and then given back its entry value.
  const auto perturb = [&](float& x, bool widths, float& se, float& so) {
    const float x0 = x;
    x = x * kRaise;
    if (!widths) {
      c.wte = temp1e;
      c.wto = temp1o;
    }
    evaluate(rec, c, widths, er, f, h, h2, ieoro, iflag, kOneMode, s, t, w);
    se = sensitivity(rec.lcdis1.zoef, tempe, x, x0);
    so = sensitivity(rec.lcdis1.zoof, tempo, x, x0);
    x = x0;
  };

  Mssen1& e = rec.mssen1;
  Mssen2& o = rec.mssen2;
  perturb(er, true, e.szoeer, o.szooer);
  perturb(h, true, e.szoeh, o.szooh);
  const float r = h2 / h;
  if (r >= kCoverLimit) {
    e.szoeh2 = 0.0f;
    o.szooh2 = 0.0f;
  } else {
    // The cover height does not enter the thickness correction.
    perturb(h2, false, e.szoeh2, o.szooh2);
  }
  perturb(s, true, e.szoes, o.szoos);
  e.szoet = 0.0f;
  o.szoot = 0.0f;
  if (t != 0.0f) {
    perturb(t, true, e.szoet, o.szoot);
  }
  perturb(w, true, e.szoew, o.szoow);

  rec.lcdis1.zoef = tempe;
  rec.lcdis1.zoof = tempo;
}

}  // namespace kx
