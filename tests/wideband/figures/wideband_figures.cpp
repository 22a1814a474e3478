// Prints the wideband line's figures for the checks outside ctest and for
// doc/wideband.md:
//
//   wideband_figures pair-json   the 100 mm FR-4-like pair from 1 to 40 GHz:
//                                sdd21 and the line parameters scikit-rf's
//                                line needs (tests/wideband/check_skrf_pair.py)
//   wideband_figures pair-s4p    the same pair's four-port, Touchstone 1.0
//   wideband_figures loss-table  conductor attenuation, closed forms and field
//   wideband_figures expansion   C(f) from its expansion against solves at er(f),
//                                and the W element's fit against the line
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <kestrelix/line_network.h>
#include <kestrelix/materials_file.h>
#include <kestrelix/rlgc_io.h>

#include "models/chain.h"

namespace {

using namespace kx;
using namespace kx::rlgc;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDbPerNeper = 8.685889638065036;
constexpr double kLength = 0.1;  // m
constexpr double kZref = 50.0;   // ohm, each single-ended port

// The FR-4-like pair: H 0.1 mm, W 0.12 mm, S 0.15 mm, T 35 um, smooth copper.
field::Geometry pair_geometry() {
  field::Geometry g;
  g.h = 0.1e-3;
  g.w = 0.12e-3;
  g.s = 0.15e-3;
  g.t = 35e-6;
  return g;
}
PairMaterials pair_materials() {
  PairMaterials m;
  m.substrate = materials::Dielectric(materials::builtin_materials().dielectric("fr4_like")->data);
  return m;
}
std::vector<double> band() {
  std::vector<double> f;
  for (int k = 0; k <= 156; ++k) f.push_back(1e9 + 0.25e9 * k);
  return f;
}

void pair_json() {
  const LineStatics st = pair_statics(pair_geometry(), pair_materials());
  const materials::DielectricData& data = st.dielectrics[0].material.data();
  // The odd mode's line at the datasheet frequency: impedance, effective
  // permittivity and loss tangent; its conductor attenuation per sqrt(Hz)
  // at 10 GHz (smooth copper: R grows as sqrt(f) above 1 GHz).
  const Rlgc at_data = rlgc_at(st, data.f_hz);
  const double omega = 2.0 * kPi * data.f_hz;
  const double l_o = st.l_ext(0, 0) - st.l_ext(0, 1);
  const double c_o = at_data.c(0, 0) - at_data.c(0, 1);
  const double g_o = at_data.g(0, 0) - at_data.g(0, 1);
  const double cv_o = st.c_vacuum(0, 0) - st.c_vacuum(0, 1);
  const PairModes at10 = pair_modes(rlgc_at(st, 10e9));
  std::printf("{\"length_m\": %.17g, \"z_ref_ohm\": %.17g,\n", kLength, kZref);
  std::printf(" \"zdiff_ohm\": %.17g, \"eff_o\": %.17g, \"tand_o\": %.17g,\n",
              2.0 * std::sqrt(l_o / c_o), c_o / cv_o, g_o / (omega * c_o));
  std::printf(" \"a_c_db_per_m_sqrt_hz\": %.17g,\n", at10.alpha_c_o / std::sqrt(10e9));
  std::printf(" \"f_data_hz\": %.17g, \"f_low_hz\": %.17g, \"f_high_hz\": %.17g,\n", data.f_hz,
              data.f_low_hz, data.f_high_hz);
  std::printf(" \"f_hz\": [");
  const std::vector<double> f = band();
  for (std::size_t k = 0; k < f.size(); ++k) std::printf("%s%.17g", k ? ", " : "", f[k]);
  std::printf("],\n \"sdd21_db\": [");
  for (std::size_t k = 0; k < f.size(); ++k) {
    const CMatrix mm = mixed_mode(line_sparameters(rlgc_at(st, f[k]), kLength, kZref));
    std::printf("%s%.17g", k ? ", " : "", 20.0 * std::log10(std::abs(mm(1, 0))));
  }
  std::printf("]}\n");
}

void pair_s4p() {
  const LineStatics st = pair_statics(pair_geometry(), pair_materials());
  const std::vector<double> f = band();
  std::vector<CMatrix> s;
  for (const double x : f) s.push_back(line_sparameters(rlgc_at(st, x), kLength, kZref));
  std::fputs(touchstone(f, s, kZref,
                        {"100 mm FR-4-like pair",
                         "ports: 1 strip 1 near, 2 strip 1 far, 3 strip 2 near, "
                         "4 strip 2 far"})
                 .c_str(),
             stdout);
}

// R / (2 Z_air) in dB/m per mode: the closed forms' attenuation over
// sqrt(eff), and the field's with its error bound.
void loss_table() {
  const double h = 0.254e-3, f = 10e9;
  std::printf("| T/H | S/H | closed even | field even | closed odd | field odd |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const double th : {0.0, 0.01, 0.05, 0.1, 0.2})
    for (const double sh : {0.1, 0.2, 0.5}) {
      if (th > 0.0 && sh < 2.0 * th) continue;  // the closed forms' S >= 2 T
      field::Geometry g;
      g.h = h;
      g.w = h;
      g.s = sh * h;
      g.t = th * h;
      PairMaterials m;
      materials::DielectricData data;
      data.dk = 4.3;
      data.model = materials::DielectricModel::constant;
      m.substrate = materials::Dielectric(data);
      const LineStatics st = pair_statics(g, m);
      const Rlgc p = rlgc_at(st, f);
      double field[2], err[2], closed[2];
      for (int mode = 0; mode < 2; ++mode) {
        const double sign = mode == 0 ? 1.0 : -1.0;
        const double l = st.l_ext(0, 0) + sign * st.l_ext(0, 1);
        const double k = kDbPerNeper / (2.0 * materials::c0 * l);
        field[mode] = k * (p.r(0, 0) + sign * p.r(0, 1));
        err[mode] = k * (p.r_error(0, 0) + p.r_error(0, 1));
      }
      Section sec;
      sec.er = 4.3f;
      sec.h = static_cast<float>(h / 0.0254);
      sec.h2 = 1000.0f * sec.h;
      sec.w = sec.h;
      sec.s = static_cast<float>(sh) * sec.h;
      sec.t = static_cast<float>(th) * sec.h;
      Materials mat;
      mat.res = static_cast<float>(materials::copper_resistivity * 1e8);
      Records rec;
      ChainValues values;
      int iflag = 0;
      evaluate_chain(rec, values, sec, 10.0f, ModeSet::both, iflag);
      const Attenuation a = line_losses(rec, sec, mat, 10.0f);
      closed[0] = static_cast<double>(a.e / std::sqrt(rec.lceff1.effef)) / 0.0254;
      closed[1] = static_cast<double>(a.o / std::sqrt(rec.lceff1.effof)) / 0.0254;
      std::printf("| %g | %g | %.2f | %.2f +- %.2f | %.2f | %.2f +- %.2f |\n", th, sh, closed[0],
                  field[0], err[0], closed[1], field[1], err[1]);
    }
}

void expansion() {
  const field::Geometry g = pair_geometry();
  const PairMaterials m = pair_materials();
  const LineStatics st = pair_statics(g, m);
  double worst_c = 0.0;
  for (const double f : {1e9, 5e9, 10e9, 20e9, 40e9}) {
    field::Geometry q = g;
    q.er = m.substrate.er(f);
    const field::Result r = field::solve(q);
    const Rlgc p = rlgc_at(st, f);
    worst_c = std::max({worst_c, std::abs((p.c(0, 0) + p.c(0, 1)) / r.ce - 1.0),
                        std::abs((p.c(0, 0) - p.c(0, 1)) / r.co - 1.0)});
  }
  std::printf("C(f) from the expansion against solves at er(f), 1-40 GHz: %.2e relative at most\n",
              worst_c);
  const WElementModel w = w_element_fit(st, 10e9);
  double worst_db = 0.0;
  for (const double f : band()) {
    const CMatrix a = mixed_mode(line_sparameters(rlgc_at(st, f), kLength, kZref));
    const CMatrix b = mixed_mode(line_sparameters(w_element_rlgc(w, f), kLength, kZref));
    worst_db =
        std::max(worst_db, std::abs(20.0 * std::log10(std::abs(a(1, 0)) / std::abs(b(1, 0)))));
  }
  std::printf("W element fitted at 10 GHz: |sdd21| within %.3f dB of the line's over 1-40 GHz\n",
              worst_db);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  try {
    if (what == "pair-json")
      pair_json();
    else if (what == "pair-s4p")
      pair_s4p();
    else if (what == "loss-table")
      loss_table();
    else if (what == "expansion")
      expansion();
    else {
      std::fprintf(stderr, "usage: wideband_figures pair-json|pair-s4p|loss-table|expansion\n");
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wideband_figures: %s\n", e.what());
    return 1;
  }
  return 0;
}
