#include "shared/touchstone.h"

#include <cmath>
#include <complex>

#include "common/text.h"

namespace kx::touchstone {

std::string header(const Header& h, const checks::LengthText& len) {
  const Section& sec = h.section;
  std::string ts = "! " + h.program + ": edge-coupled microstrip coupler, 4x4 S-matrix\n";
  const std::string h2 = std::isinf(sec.h2) ? "no cover" : "H2 " + len(sec.h2);
  ts += "! Er " + shortest(sec.er) + ", H " + len(sec.h) + ", " + h2 + ", W " + len(sec.w) +
        ", S " + len(sec.s) + ", T " + len(sec.t) + "\n";
  if (h.model.model == Model::field) {
    ts += "! field solver's static values (" +
          std::string(h.model.accuracy == field::Accuracy::fine ? "fine" : "standard") + ")" +
          (h.model.coating.thickness > 0.0f ? ", coating " + len(h.model.coating.thickness) +
                                                  ", Er " + shortest(h.model.coating.er)
                                            : std::string()) +
          "\n";
  }
  if (h.field_losses) {
    for (const std::string& line : h.loss_lines) ts += "! " + line + "\n";
    ts += "! conductor and dielectric losses from the field" +
          std::string(h.radiation ? "\n" : ", radiation loss left out\n");
  } else {
    ts += "! RES " + shortest(h.materials.res) + " micro-ohm-cm, SR " + shortest(h.materials.sr) +
          " micro-inch, DLTAN " + shortest(h.materials.tlos) +
          (h.radiation ? "\n" : ", radiation loss left out\n");
  }
  ts += "! length " + len(h.coupler.length) + " (centre frequency " + shortest(h.coupler.centre) +
        " GHz)\n";
  ts += "! ports: 1 input, 2 coupled, 3 isolated, 4 thru\n";
  ts += "# GHz S RI R " + shortest(h.reference) + "\n";
  return ts;
}

std::string point(float f, const SMatrix& s) {
  std::string text = shortest(f);
  for (const auto& row : s) {
    for (const std::complex<float>& c : row) {
      text += " " + shortest(c.real()) + " " + shortest(c.imag());
    }
    text += "\n";
    if (&row != &s.back()) text += " ";
  }
  return text;
}

}  // namespace kx::touchstone
