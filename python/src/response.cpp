// response: the four-port S-matrix of a coupler cut from one cross-section
// (the study's coupler and the front door's response at each frequency),
// with the comment lines of the Touchstone file the command line writes.
#include <cmath>
#include <complex>
#include <string>

#include <kestrelix/validity.h>
#include "common/text.h"
#include "python/src/functions.h"
#include "shared/input_checks.h"
#include "shared/touchstone.h"
#include "studies/sweeps.h"

namespace kx::py_face {
namespace {

// A length as the command line writes it in full: as typed where it was
// typed (the section's values), else every digit of the float.
checks::LengthText length_text(const SectionValue& typed, const Section& sec) {
  return [typed, sec](float inches) {
    const LengthUnit u = typed.units;
    const std::string unit = std::string(" ") + unit_name(u);
    for (const auto& [value, as_typed] :
         {std::pair{sec.h, typed.h}, std::pair{sec.h2, typed.h2}, std::pair{sec.w, typed.w},
          std::pair{sec.s, typed.s}, std::pair{sec.t, typed.t}}) {
      if (value == inches && u != LengthUnit::in) return shortest(as_typed) + unit;
    }
    return shortest(static_cast<float>(from_inch(inches, u))) + unit;
  };
}

}  // namespace

py::tuple response(const SectionValue& section, const py::object& f_arg,
                   const py::object& length_arg, const py::object& centre_arg, double rs_arg,
                   double rl_arg, double reference_arg, bool radiation, const py::object& materials,
                   const ModelArgs& model) {
  const ModelSettings settings = settings_of(model);
  const Materials mat = materials_of(materials);
  const LengthUnit u = section.units;
  Broadcast one;
  const SectionSlots slots = section_slots(one, section, py::none(), py::none(), py::none(),
                                           py::none(), py::none(), py::none());
  one.finish();
  const Section sec = section_at(Broadcast::Cursor(one), slots, u);
  check_section(sec, true, true, settings, coating_of(model.coating), u);
  if (length_arg.is_none() == centre_arg.is_none()) {
    throw checks::InputError("response: give length or centre (one of them)");
  }
  study::Coupler given;
  if (!length_arg.is_none()) {
    given.length = to_inch(length_arg.cast<double>(), u);
    checks::require_above("length", given.length, 0.0f);
  } else {
    given.centre = static_cast<float>(centre_arg.cast<double>());
    checks::require_above("centre", given.centre, 0.0f);
  }
  const auto rs = static_cast<float>(rs_arg);
  const auto rl = static_cast<float>(rl_arg);
  const auto reference = static_cast<float>(reference_arg);
  checks::require_above("rs", rs, 0.0f);
  checks::require_above("rl", rl, 0.0f);
  checks::require_above("reference", reference, 0.0f);
  const auto f = py::array_t<double, py::array::forcecast | py::array::c_style>::ensure(f_arg);
  if (!f || f.ndim() > 1) {
    PyErr_Clear();
    throw checks::InputError("f: a frequency or a one-dimensional array of them, GHz");
  }
  const py::ssize_t n = f.size();
  const double* fp = f.data();
  for (py::ssize_t k = 0; k < n; ++k) check_at_least("f", static_cast<float>(fp[k]), 0.0f);

  py::array_t<double> f_out(n);
  py::array_t<std::complex<double>> s_out({n, py::ssize_t{4}, py::ssize_t{4}});
  double* fo = f_out.mutable_data();
  std::complex<double>* so = s_out.mutable_data();
  const checks::LengthText text = length_text(section, sec);
  std::string refused;   // the models' report of a point outside their validity
  unsigned flagged = 0;  // the range codes of the points
  py::ssize_t n_flagged = 0;
  study::Coupler c;
  {
    py::gil_scoped_release free;
    CoupledLine line(settings);
    c = study::coupler_of(line, sec, given);
    // The baseline: the cross-section at the design frequency.
    const study::Baseline base = study::baseline(line, sec, mat, c.centre);
    if (base.modes.iflag != 0) refused = checks::violation(sec, c.centre, base.modes.iflag, text);
    for (py::ssize_t k = 0; k < n && refused.empty(); ++k) {
      ResponseOptions o;
      o.f = static_cast<float>(fp[k]);
      o.length = c.length;
      o.rs = rs;
      o.rl = rl;
      o.radiation = radiation;
      o.reference = reference;
      const Response r = line.response(sec, mat, o);
      if (r.modes.iflag != 0) {
        refused = checks::violation(sec, o.f, r.modes.iflag, text);
        break;
      }
      const unsigned codes =
          range_flags(sec, o.f) |
          (settings.model == Model::field ? r.modes.flags & (flag_er | flag_field_error) : 0u);
      flagged |= codes;
      n_flagged += codes != 0;
      fo[k] = o.f;
      for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
          so[(k * 4 + static_cast<py::ssize_t>(i)) * 4 + static_cast<py::ssize_t>(j)] = r.s[i][j];
        }
      }
    }
  }
  if (!refused.empty()) throw checks::InputError(refused);
  if (n_flagged > 0) {
    const std::string said = std::to_string(n_flagged) + " of " + std::to_string(n) +
                             " frequencies outside the models' validity ranges (" +
                             validity_codes(flagged) + ")";
    if (PyErr_WarnEx(PyExc_RuntimeWarning, said.c_str(), 1) != 0) throw py::error_already_set();
  }
  touchstone::Header h;
  h.program = std::string("kestrelix ") + KX_VERSION;
  h.section = sec;
  h.materials = mat;
  h.model = settings;
  h.coupler = c;
  h.radiation = radiation;
  h.reference = reference;
  py::dict coupler;
  coupler["length"] = from_inch(c.length, u);
  coupler["centre"] = c.centre;
  return py::make_tuple(f_out, s_out, touchstone::header(h, text), reference, coupler);
}

}  // namespace kx::py_face
