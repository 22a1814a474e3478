// Shared set-up of the run tests: a design on a covered alumina substrate,
// the records as pass initialisation leaves them, a report on a
// string stream with an optional stored file, and line helpers.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/runs.h"
#include "app/section.h"
#include "app/state.h"
#include "common/ftn_format.h"
#include "common/report.h"
#include "models/chain.h"
#include "models/static/static_models.h"

namespace kx::test {

// Alumina, 25 mil, cover at 10 H, 0.2 mil copper, 2 micro-inch roughness.
inline State alumina_state() {
  State st;
  Design& d = st.design;
  d.ifunc = 1;
  d.iop = 1;
  d.iop1 = 1;
  d.ieoro = 1;
  d.er = 9.8f;
  d.h = 0.025f;
  d.h2 = 0.25f;
  d.t = 0.0002f;
  d.res1 = 1.7f;
  d.res = 1.7f * 1.0E-6f / 2.54f;
  d.sr1 = 2.0f;
  d.sr = 2.0f * 1.0E-6f;
  d.tlos = 0.0001f;
  d.wdef = 0.024f;
  d.sdef = 0.010f;
  d.wmin = 0.010f;
  d.wmax = 0.050f;
  d.wstep = 0.010f;
  d.smin = 0.004f;
  d.smax = 0.012f;
  d.sstep = 0.004f;
  d.fmin = 1.0f;
  d.fmax = 3.0f;
  d.fstep = 1.0f;
  d.rs = 50.0f;
  d.rl = 50.0f;
  d.l = 0.3f;
  d.kodef = 10.0f;
  d.ccdef = 0.31622776f;
  d.zodef = 50.0f;
  d.zoedef = 69.5f;
  d.zoodef = 36.0f;
  d.istore = 0;
  return st;
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A report on a string stream; with `file` set, storage is on into a fresh
// file in the temporary folder.
class Capture {
 public:
  explicit Capture(const std::string& file = {}) : rep(console) {
    if (!file.empty()) {
      path = std::filesystem::temp_directory_path() / ("kx_runs_" + file);
      std::filesystem::remove(path);
      rep.open(path.string());
      rep.set_storing(true);
    }
  }
  ~Capture() {
    rep.close();
    if (!path.empty()) std::filesystem::remove(path);
  }
  std::string text() const { return console.str(); }
  std::string stored() {
    rep.flush();
    return slurp(path);
  }

  std::ostringstream console;
  Report rep;
  std::filesystem::path path;
};

// Index of the first line equal to `line`, or -1.
inline int find_line(const std::vector<std::string>& ls, const std::string& line, int from = 0) {
  for (int k = from; k < static_cast<int>(ls.size()); ++k) {
    if (ls[static_cast<std::size_t>(k)] == line) return k;
  }
  return -1;
}

// The cross-section at f GHz as the evaluator gives it, with the
// conductor and dielectric losses alone (ate, ato: no radiation term) and
// the records as the evaluation chain leaves them.
struct Eval : Modes {
  float ate{}, ato{};
  Records rec;
};

inline Eval evaluate(const Design& d, float w, float s, float f, bool with_losses = true) {
  CoupledLine line{ModelSettings{Model::closed}};
  const kx::Section sec = section(d, w, s);
  Eval x;
  static_cast<Modes&>(x) = line.at(sec, f);
  ChainValues c;
  int iflag = 0;
  evaluate_chain(x.rec, c, sec, f, ModeSet::both, iflag);
  if (with_losses) {
    const Attenuation a = line_losses(x.rec, sec, materials(d), f);
    x.ate = a.e;
    x.ato = a.o;
  }
  return x;
}

// Radiation loss per mode (dB/inch) at f GHz, computed in double precision
// from the quasi-TEM radiation factor; the limit 1 at effef = 1.
inline double radiation_per_mode(double h, double f, double effef) {
  const double q = std::sqrt(effef);
  const double feff =
      effef == 1.0 ? 1.0 : 1.0 - ((effef - 1.0) / (2.0 * q)) * std::log((q + 1.0) / (q - 1.0));
  const double x = 2.0 * 3.14159265358979 * h * f / 11.802855;
  return x * x * 60.0 * feff / 8.686;
}

inline std::string f(float v, int w, int d) { return ftn_f(v, w, d); }
inline std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

}  // namespace kx::test
