// The module's functions, each on one part of the library: the modes of a
// cross-section (the front door), the closed forms beside the field solver,
// the synthesis and the differential pair (the studies), the coupler's
// four-port response and the tolerance engine. Arguments after the section
// are keywords; numbers may be arrays, broadcast together.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <kestrelix/check.h>

#include "python/src/values.h"

namespace kx::py_face {

// The model options every function takes.
struct ModelArgs {
  py::object model, accuracy, method, coating;
  // With the closed forms: each point's deviations from the field solver
  // (the command line's closed-form rows).
  bool deviations = false;
};
// The settings of `a` (ValueError for options that do not go together).
ModelSettings settings_of(const ModelArgs& a);

// The columns field_dev_zoe, field_dev_zoo (percent) and field_dev_coupling
// (dB) of a call with deviations.
class DeviationColumns {
 public:
  DeviationColumns(Columns& cols, bool on);
  // The deviations of `closed` at point i (NaN without `check`: nothing to
  // compare); true where the closed forms are off (closed_form_off).
  bool fill(py::ssize_t i, study::FieldCheck* check, const Modes& closed, const Section& sec,
            float f);

 private:
  double* zoe_{};
  double* zoo_{};
  double* coupling_{};
};
// The section's values a call may give again (None: the section's).
struct SectionArgs {
  py::object er, h, h2, w, s, t;
};

py::dict modes(Keys& keys, const SectionValue& section, const py::object& f,
               const py::object& materials, const ModelArgs& model, const SectionArgs& values);
py::dict check(Keys& keys, const SectionValue& section, const py::object& f,
               const py::object& accuracy, const py::object& coating, const SectionArgs& values);
py::dict synthesise(Keys& keys, const SectionValue& substrate, const py::object& zo,
                    const py::object& coupling, const py::object& zoe, const py::object& zoo,
                    const py::object& f, bool dc, const py::object& materials,
                    const ModelArgs& model, const SectionArgs& values);
py::dict diffpair(Keys& keys, const SectionValue& section, const py::object& f,
                  const py::object& zdiff, const py::object& zcomm, const ModelArgs& model,
                  const SectionArgs& values);
// The coupler's S-matrix at the frequencies f: (f GHz, S of shape (n, 4, 4),
// the comment lines of its Touchstone file, the reference impedance).
py::tuple response(const SectionValue& section, const py::object& f, const py::object& length,
                   const py::object& centre, double rs, double rl, double reference, bool radiation,
                   const py::object& materials, const ModelArgs& model);
// What a tolerance run is asked for (the command line's options).
struct ToleranceArgs {
  double f{};
  py::object length, centre;  // one of them, or neither (the section's figures only)
  double rs{50.0}, rl{50.0};
  py::object materials;
  std::array<py::object, 7> tol;  // tol_w, tol_s, tol_h, tol_h2, tol_t, tol_er, tol_etch
  std::string dist = "normal";
  long long samples{10000};
  unsigned long long seed{1};
  unsigned threads{};  // 0: one per core
  std::vector<std::string> limits;
  py::object band;  // frequencies, GHz, at which the four-port limits must hold
  bool keep_samples = true;
};
py::dict tolerance(const SectionValue& section, const ToleranceArgs& a, const ModelArgs& model);
// The pair's R, L, G, C (2 x 2, SI per metre) at the frequencies f, GHz,
// from the field solver's statics with the materials the command line
// takes without loss options.
py::dict rlgc(const SectionValue& section, const py::object& f, const py::object& materials,
              const py::object& accuracy);
// One command line of the program (args without the program's name) run in
// this process: (status, standard output, standard error).
py::tuple run_command(const std::vector<std::string>& args);
// The points of MIN:MAX:STEP by the program's sweep rule.
py::array sweep(double min, double max, double step);

}  // namespace kx::py_face
