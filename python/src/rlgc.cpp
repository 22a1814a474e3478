// rlgc: the pair's per-unit-length R, L, G, C matrices over frequency from
// the field solver's statics and the wideband materials (kestrelix/rlgc.h),
// with the materials the command line takes when no loss option is given:
// the substrate's Er and loss tangent at every frequency, the resistivity
// and a Hammerstad-Bekkadal roughness of SR on every metal surface.
#include <algorithm>
#include <complex>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <kestrelix/materials.h>
#include <kestrelix/rlgc.h>
#include "common/text.h"
#include "python/src/functions.h"
#include "shared/input_checks.h"

namespace kx::py_face {
namespace {

constexpr double kMetrePerInch = 0.0254;
constexpr double kOhmMetrePerMicroOhmCm = 1e-8;
constexpr double kMetrePerMicroInch = 0.0254e-6;

// A 32-bit value as the decimal number it was given as (the command line's
// reading of its closed-form options for the wideband materials).
double decimal(float v) { return std::strtod(shortest(v).c_str(), nullptr); }

}  // namespace

py::dict rlgc(const SectionValue& section, const py::object& f_arg, const py::object& materials,
              const py::object& accuracy) {
  const ModelSettings settings = model_settings(py::str("field"), accuracy, py::none(), py::none());
  const Materials mat = materials_of(materials);
  const LengthUnit u = section.units;
  Broadcast one;
  const SectionSlots slots = section_slots(one, section, py::none(), py::none(), py::none(),
                                           py::none(), py::none(), py::none());
  one.finish();
  const Section sec = section_at(Broadcast::Cursor(one), slots, u);
  check_section(sec, true, true, settings, nullptr, u);
  const auto f = py::array_t<double, py::array::forcecast | py::array::c_style>::ensure(f_arg);
  if (!f || f.ndim() > 1) {
    PyErr_Clear();
    throw checks::InputError("f: a frequency or a one-dimensional array of them, GHz");
  }
  const py::ssize_t n = f.size();
  std::vector<double> f_hz(static_cast<std::size_t>(n));
  for (py::ssize_t k = 0; k < n; ++k) {
    checks::require_above("f", static_cast<float>(f.data()[k]), 0.0f);
    f_hz[static_cast<std::size_t>(k)] = 1e9 * f.data()[k];
  }

  rlgc::PairMaterials m;
  materials::DielectricData d;
  d.dk = decimal(sec.er);
  d.df = decimal(mat.tlos);
  d.model = materials::DielectricModel::constant;
  materials::Roughness rough;
  rough.model = materials::RoughnessModel::hammerstad_bekkadal;
  rough.rq = decimal(mat.sr) * kMetrePerMicroInch;
  if (const std::string why = materials::check(rough); !why.empty()) {
    throw checks::InputError("sr: " + why);
  }
  const double resistivity = decimal(mat.res) * kOhmMetrePerMicroOhmCm;
  try {
    m.substrate = materials::Dielectric(d);
  } catch (const std::invalid_argument& e) {
    throw checks::InputError(std::string("tlos: ") + e.what());
  }
  m.strip_resistivity = resistivity;
  m.strip_top = m.strip_bottom = m.strip_sides = rough;
  m.ground = m.cover = {resistivity, rough};
  field::Geometry g = field_geometry(sec);
  for (double* x : {&g.h, &g.w, &g.s, &g.t, &g.h2}) *x *= kMetrePerInch;
  rlgc::PairOptions options;
  options.field.accuracy = settings.accuracy;

  std::vector<rlgc::Rlgc> rows;
  std::vector<rlgc::PairModes> modes;
  double error = 0.0;
  {
    py::gil_scoped_release free;
    rlgc::LineStatics statics;
    try {
      statics = rlgc::pair_statics(g, m, options);
    } catch (const std::invalid_argument& e) {
      throw checks::InputError(std::string("the section: ") + e.what());
    }
    error = 100.0 * std::max(statics.error_c, statics.error_l);
    rows = rlgc::rlgc_sweep(statics, f_hz);
    for (const rlgc::Rlgc& r : rows) modes.push_back(rlgc::pair_modes(r));
  }
  py::array_t<double> f_out(n);
  std::copy(f.data(), f.data() + n, f_out.mutable_data());
  py::dict out;
  out["f"] = f_out;
  const auto matrices = [&](rlgc::Matrix rlgc::Rlgc::*which) {
    py::array_t<double> a({n, py::ssize_t{2}, py::ssize_t{2}});
    double* p = a.mutable_data();
    for (const rlgc::Rlgc& r : rows) {
      const std::vector<double>& v = (r.*which).data();
      p = std::copy(v.begin(), v.end(), p);
    }
    return a;
  };
  out["r"] = matrices(&rlgc::Rlgc::r);
  out["l"] = matrices(&rlgc::Rlgc::l);
  out["g"] = matrices(&rlgc::Rlgc::g);
  out["c"] = matrices(&rlgc::Rlgc::c);
  const auto column = [&](auto get) {
    py::array_t<double> a(n);
    for (py::ssize_t k = 0; k < n; ++k)
      a.mutable_data()[k] = get(modes[static_cast<std::size_t>(k)]);
    return a;
  };
  const double per_unit = kMetrePerInch / from_inch(1.0f, u);  // metres per length unit
  out["alpha_e"] = column([&](const rlgc::PairModes& p) { return p.alpha_e * per_unit; });
  out["alpha_o"] = column([&](const rlgc::PairModes& p) { return p.alpha_o * per_unit; });
  out["eff_e"] = column([](const rlgc::PairModes& p) { return p.eff_e; });
  out["eff_o"] = column([](const rlgc::PairModes& p) { return p.eff_o; });
  py::array_t<std::complex<double>> ze(n), zo(n);
  for (py::ssize_t k = 0; k < n; ++k) {
    ze.mutable_data()[k] = modes[static_cast<std::size_t>(k)].z_e;
    zo.mutable_data()[k] = modes[static_cast<std::size_t>(k)].z_o;
  }
  out["zoe"] = ze;
  out["zoo"] = zo;
  out["field_error"] = error;
  out["units"] = unit_name(u);
  return out;
}

}  // namespace kx::py_face
