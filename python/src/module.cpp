// The Python module kestrelix._kestrelix: the cross-section, its materials
// and coating as small classes, and the functions of python/src/functions.h
// with keyword arguments. kestrelix/__init__.py adds the response as a
// scikit-rf Network.
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include <kestrelix/stop.h>
#include <kestrelix/study.h>
#include "python/src/functions.h"
#include "shared/input_checks.h"
#include "tolerance/figures.h"

namespace kx::py_face {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr long long kMaxSweepPoints = 10000000;

std::string number_text(double v) { return py::repr(py::float_(v)).cast<std::string>(); }

std::string section_repr(const SectionValue& s) {
  std::string t = "Section(er=" + number_text(s.er) + ", h=" + number_text(s.h) +
                  ", h2=" + number_text(s.h2);
  if (!std::isnan(s.w)) t += ", w=" + number_text(s.w);
  if (!std::isnan(s.s)) t += ", s=" + number_text(s.s);
  return t + ", t=" + number_text(s.t) + ", units='" + unit_name(s.units) + "')";
}

SectionValue make_section(double er, double h, double w, double s, double t, double h2,
                          const std::string& units) {
  return SectionValue{er, h, h2, w, s, t, unit_of(units)};
}

constexpr const char* kSectionDoc = R"(The cross-section of an edge-coupled microstrip pair.

Section(*, er, h, w=nan, s=nan, t=0.0, h2=inf, units='in')

Two strips of width w and thickness t, a gap s apart, on a substrate of
thickness h and relative permittivity er, under a metal cover h2 above the
substrate (inf: open). Lengths in `units`: 'in', 'mil', 'mm' or 'um'.
Keywords only, so W and S cannot be swapped. W and S may be left out where
a function finds them (synthesise, diffpair). `replace(w=..., s=...)` gives
a copy with other values.)";

constexpr const char* kModesDoc =
    R"(modes(section, *, f=0.0, materials=None, model='field', accuracy=None, method=None,
      coating=None, er=None, h=None, h2=None, w=None, s=None, t=None,
      deviations=False) -> dict

The modes of the cross-section at f GHz: w, s (the section's units), zo,
zoe, zoo (ohm), coupling (positive dB; nan where Zoo is at or above Zoe),
eff_e, eff_o, eff_c, alpha_e, alpha_o (dB per length unit, positive),
quarter_wave (length unit; inf at 0 GHz), field_error (the field solver's
estimate of its own error, percent; nan with the closed forms), valid and
flags (the validity codes, blank-separated; '' when valid), model and units.

f and the section's values er, h, h2, w, s, t (given again here) may be
numbers or numpy arrays: they broadcast as numpy broadcasts, and every value
of the result is an array of that shape (numbers when every input is one).
materials: kestrelix.Materials (None: copper 1.7 micro-ohm-cm, 2.5
micro-inch, loss tangent 0). model: 'field' (the 2-D field solver) or
'closed' (the closed forms, the command line's --model closed to the bit);
accuracy 'standard' or 'fine', method 'fast' or 'direct' and a
kestrelix.Coating for the field model only. deviations=True with the closed
forms: field_dev_zoe, field_dev_zoo (percent) and field_dev_coupling (dB),
the closed forms' deviations from the field solver (accuracy is then the
solver's), and the code closed_form_off where Zoe or Zoo is 1 % off, as the
command line's closed-form rows carry them.
A value the models cannot take raises ValueError with the command line's
message.)";

constexpr const char* kCheckDoc =
    R"(check(section, *, f=0.0, accuracy=None, coating=None, er=None, h=None, h2=None,
      w=None, s=None, t=None) -> dict

The closed forms beside the field solver at the same cross-section and
frequency: dicts 'closed', 'field', 'difference' (closed - field),
'difference_pct' and 'field_error_pct', each keyed zoe, zoo, zo, coupling,
eff_e, eff_o; closed_form_off, verdict (one sentence), valid, flags.
Numbers broadcast as in modes().)";

constexpr const char* kSynthesiseDoc =
    R"(synthesise(substrate, *, zo=None, coupling=None, zoe=None, zoo=None, f=0.0,
           static=False, materials=None, model='field', accuracy=None, method=None,
           coating=None, er=None, h=None, h2=None, t=None, deviations=False) -> dict

W and S of the pair with coupler impedance zo (ohm) and coupling (positive
dB), or with the even/odd pair zoe, zoo, at f GHz (static=True: from the
D.C. impedances, f then only for the analysis), each section analysed again
at f: coupling, zo, zoe, zoo, w, s, eff_e, eff_o, quarter_wave, an_zo,
an_zoe, an_zoo, an_coupling, an_eff_e, an_eff_o, an_alpha_e, an_alpha_o,
closed_w, closed_s (the closed forms' answer), field_error, valid, flags.
The substrate's W and S are not used. Numbers broadcast as in modes().)";

constexpr const char* kDiffpairDoc =
    R"(diffpair(section, *, f=0.0, zdiff=None, zcomm=None, model='field', accuracy=None,
         method=None, coating=None, er=None, h=None, h2=None, w=None, s=None,
         t=None, deviations=False) -> dict

The pair as a differential pair: zdiff = 2 Zoo, zcomm = Zoe/2 (ohm), zoe,
zoo, eff_e, eff_o, delay_e, delay_o (ps per length unit). With zdiff and a
section without S (or without W) it finds S (or W); with zcomm as well, both.
found says whether the search met its target; evaluations, field_error,
valid, flags, solve. Numbers broadcast as in modes().)";

constexpr const char* kToleranceDoc =
    R"(tolerance(section, *, f, length=None, centre=None, rs=50.0, rl=50.0,
          materials=None, tol_w=None, tol_s=None, tol_h=None, tol_h2=None,
          tol_t=None, tol_er=None, tol_etch=None, dist='normal', samples=10000,
          seed=1, threads=0, limits=(), band=None, keep_samples=True, model='field',
          accuracy=None, method=None, coating=None) -> dict

Monte Carlo spread and yield of the section (and, with a length or a centre
frequency, of the coupler) as `kestrelix tolerance` runs it: half-widths in
the section's units or as percentages ('5%'), tol_etch moving both edges of
every strip; limits as 'coupling_db=9.5:10.5' or 'zo=+-2'; band: the
frequencies (GHz) at which a four-port limit must hold; threads 0: one per
core. Returns 'figures' (per figure: nominal, mean, std, percentiles, count,
share_pct per tolerance, histogram), 'limits', 'all_limits', 'summary' and
'samples' (numpy arrays: the drawn w, s, h, h2, t, er, etch, status, iflag,
valid, flags and every figure). Ctrl-C stops the run (KeyboardInterrupt).)";

constexpr const char* kRlgcDoc =
    R"(rlgc(section, *, f, materials=None, accuracy=None) -> dict

The pair's per-unit-length R, L, G, C as `kestrelix rlgc` computes them
without loss options: the field solver's statics, the substrate's er and
materials.tlos at every frequency, the resistivity materials.res and a
Hammerstad-Bekkadal roughness of materials.sr on every metal surface.
f: GHz, a number or a 1-D array. Returns f, r, l, g, c (arrays of shape
(n, 2, 2): ohm/m, H/m, S/m, F/m), the even and odd modes' alpha_e, alpha_o
(dB per length unit), eff_e, eff_o, zoe, zoo (complex, ohm), field_error
(percent) and units.)";

}  // namespace

void bind(py::module_& m) {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const checks::InputError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const tol::Error& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const Stopped& e) {
      PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
    }
  });

  m.attr("__version__") = KX_VERSION;
  m.attr("default_model") = model_name(ModelSettings{});

  py::class_<SectionValue>(m, "Section", kSectionDoc)
      .def(py::init(&make_section), py::kw_only(), py::arg("er"), py::arg("h"), py::arg("w") = kNaN,
           py::arg("s") = kNaN, py::arg("t") = 0.0, py::arg("h2") = kInf, py::arg("units") = "in")
      .def_readonly("er", &SectionValue::er)
      .def_readonly("h", &SectionValue::h)
      .def_readonly("h2", &SectionValue::h2)
      .def_readonly("w", &SectionValue::w)
      .def_readonly("s", &SectionValue::s)
      .def_readonly("t", &SectionValue::t)
      .def_property_readonly("units", [](const SectionValue& s) { return unit_name(s.units); })
      .def(
          "replace",
          [](const SectionValue& s, const py::kwargs& kw) {
            SectionValue r = s;
            for (const auto& [key, value] : kw) {
              const std::string k = key.cast<std::string>();
              double* field = k == "er"   ? &r.er
                              : k == "h"  ? &r.h
                              : k == "h2" ? &r.h2
                              : k == "w"  ? &r.w
                              : k == "s"  ? &r.s
                              : k == "t"  ? &r.t
                                          : nullptr;
              if (field == nullptr) {
                throw checks::InputError(k + ": not a value of the section (er, h, h2, w, s, t)");
              }
              *field = value.cast<double>();
            }
            return r;
          },
          "A copy with the values given (er, h, h2, w, s, t) replaced, in the same units.")
      .def("__repr__", &section_repr)
      .def("__eq__", [](const SectionValue& a, const SectionValue& b) {
        return section_repr(a) == section_repr(b);
      });

  py::class_<MaterialsValue>(m, "Materials",
                             "Conductor and dielectric losses.\n\nMaterials(*, res=1.7, sr=2.5, "
                             "tlos=0.0): resistivity in micro-ohm-cm (copper 1.7), RMS surface "
                             "roughness in micro-inch, dielectric loss tangent.")
      .def(py::init([](double res, double sr, double tlos) {
             return MaterialsValue{res, sr, tlos};
           }),
           py::kw_only(), py::arg("res") = static_cast<double>(checks::default_res),
           py::arg("sr") = static_cast<double>(checks::default_sr), py::arg("tlos") = 0.0)
      .def_readonly("res", &MaterialsValue::res)
      .def_readonly("sr", &MaterialsValue::sr)
      .def_readonly("tlos", &MaterialsValue::tlos)
      .def("__repr__", [](const MaterialsValue& v) {
        return "Materials(res=" + number_text(static_cast<float>(v.res)) +
               ", sr=" + number_text(static_cast<float>(v.sr)) +
               ", tlos=" + number_text(static_cast<float>(v.tlos)) + ")";
      });

  py::class_<CoatingValue>(m, "Coating",
                           "A conformal coating (solder mask) over the substrate and the strips: "
                           "the field model only.\n\nCoating(*, thickness, er, units='in')")
      .def(py::init([](double thickness, double er, const std::string& units) {
             return CoatingValue{thickness, er, unit_of(units)};
           }),
           py::kw_only(), py::arg("thickness"), py::arg("er"), py::arg("units") = "in")
      .def_readonly("thickness", &CoatingValue::thickness)
      .def_readonly("er", &CoatingValue::er)
      .def_property_readonly("units", [](const CoatingValue& c) { return unit_name(c.units); })
      .def("__repr__", [](const CoatingValue& c) {
        return "Coating(thickness=" + number_text(c.thickness) + ", er=" + number_text(c.er) +
               ", units='" + unit_name(c.units) + "')";
      });

  const auto none = py::none();
  // The results' keys, owned by the functions that make the results.
  const auto keys = std::make_shared<Keys>();
  m.def(
      "modes",
      [keys](const SectionValue& sec, const py::object& f, const py::object& materials,
             const py::object& model, const py::object& accuracy, const py::object& method,
             const py::object& coating, const py::object& er, const py::object& h,
             const py::object& h2, const py::object& w, const py::object& s, const py::object& t,
             bool deviations) {
        return modes(*keys, sec, f, materials, {model, accuracy, method, coating, deviations},
                     {er, h, h2, w, s, t});
      },
      kModesDoc, py::arg("section"), py::kw_only(), py::arg("f") = 0.0, py::arg("materials") = none,
      py::arg("model") = "field", py::arg("accuracy") = none, py::arg("method") = none,
      py::arg("coating") = none, py::arg("er") = none, py::arg("h") = none, py::arg("h2") = none,
      py::arg("w") = none, py::arg("s") = none, py::arg("t") = none, py::arg("deviations") = false);

  m.def(
      "check",
      [keys](const SectionValue& sec, const py::object& f, const py::object& accuracy,
             const py::object& coating, const py::object& er, const py::object& h,
             const py::object& h2, const py::object& w, const py::object& s, const py::object& t) {
        return check(*keys, sec, f, accuracy, coating, {er, h, h2, w, s, t});
      },
      kCheckDoc, py::arg("section"), py::kw_only(), py::arg("f") = 0.0, py::arg("accuracy") = none,
      py::arg("coating") = none, py::arg("er") = none, py::arg("h") = none, py::arg("h2") = none,
      py::arg("w") = none, py::arg("s") = none, py::arg("t") = none);

  const auto synth =
      [keys](const SectionValue& sub, const py::object& zo, const py::object& coupling,
             const py::object& zoe, const py::object& zoo, const py::object& f, bool dc,
             const py::object& materials, const py::object& model, const py::object& accuracy,
             const py::object& method, const py::object& coating, const py::object& er,
             const py::object& h, const py::object& h2, const py::object& t, bool deviations) {
        return synthesise(*keys, sub, zo, coupling, zoe, zoo, f, dc, materials,
                          {model, accuracy, method, coating, deviations},
                          {er, h, h2, py::none(), py::none(), t});
      };
  for (const char* name : {"synthesise", "synthesize"}) {
    m.def(name, synth, kSynthesiseDoc, py::arg("substrate"), py::kw_only(), py::arg("zo") = none,
          py::arg("coupling") = none, py::arg("zoe") = none, py::arg("zoo") = none,
          py::arg("f") = 0.0, py::arg("static") = false, py::arg("materials") = none,
          py::arg("model") = "field", py::arg("accuracy") = none, py::arg("method") = none,
          py::arg("coating") = none, py::arg("er") = none, py::arg("h") = none,
          py::arg("h2") = none, py::arg("t") = none, py::arg("deviations") = false);
  }

  m.def(
      "diffpair",
      [keys](const SectionValue& sec, const py::object& f, const py::object& zdiff,
             const py::object& zcomm, const py::object& model, const py::object& accuracy,
             const py::object& method, const py::object& coating, const py::object& er,
             const py::object& h, const py::object& h2, const py::object& w, const py::object& s,
             const py::object& t, bool deviations) {
        return diffpair(*keys, sec, f, zdiff, zcomm, {model, accuracy, method, coating, deviations},
                        {er, h, h2, w, s, t});
      },
      kDiffpairDoc, py::arg("section"), py::kw_only(), py::arg("f") = 0.0, py::arg("zdiff") = none,
      py::arg("zcomm") = none, py::arg("model") = "field", py::arg("accuracy") = none,
      py::arg("method") = none, py::arg("coating") = none, py::arg("er") = none,
      py::arg("h") = none, py::arg("h2") = none, py::arg("w") = none, py::arg("s") = none,
      py::arg("t") = none, py::arg("deviations") = false);

  m.def(
      "_response",
      [](const SectionValue& sec, const py::object& f, const py::object& length,
         const py::object& centre, double rs, double rl, double reference, bool radiation,
         const py::object& materials, const py::object& model, const py::object& accuracy,
         const py::object& method, const py::object& coating) {
        return response(sec, f, length, centre, rs, rl, reference, radiation, materials,
                        {model, accuracy, method, coating});
      },
      "The coupler's S-matrix: (f GHz, S (n, 4, 4), Touchstone comment lines, reference "
      "impedance, coupler); kestrelix.response makes a scikit-rf Network of it.",
      py::arg("section"), py::kw_only(), py::arg("f"), py::arg("length") = none,
      py::arg("centre") = none, py::arg("rs") = 50.0, py::arg("rl") = 50.0,
      py::arg("reference") = 50.0, py::arg("radiation") = true, py::arg("materials") = none,
      py::arg("model") = "field", py::arg("accuracy") = none, py::arg("method") = none,
      py::arg("coating") = none);

  m.def(
      "tolerance",
      [](const SectionValue& sec, double f, const py::object& length, const py::object& centre,
         double rs, double rl, const py::object& materials, const py::object& tol_w,
         const py::object& tol_s, const py::object& tol_h, const py::object& tol_h2,
         const py::object& tol_t, const py::object& tol_er, const py::object& tol_etch,
         const std::string& dist, long long samples, unsigned long long seed, unsigned threads,
         const std::vector<std::string>& limits, const py::object& band, bool keep_samples,
         const py::object& model, const py::object& accuracy, const py::object& method,
         const py::object& coating) {
        ToleranceArgs a;
        a.f = f;
        a.length = length;
        a.centre = centre;
        a.rs = rs;
        a.rl = rl;
        a.materials = materials;
        a.tol = {tol_w, tol_s, tol_h, tol_h2, tol_t, tol_er, tol_etch};
        a.dist = dist;
        a.samples = samples;
        a.seed = seed;
        a.threads = threads;
        a.limits = limits;
        a.band = band;
        a.keep_samples = keep_samples;
        return tolerance(sec, a, {model, accuracy, method, coating});
      },
      kToleranceDoc, py::arg("section"), py::kw_only(), py::arg("f"), py::arg("length") = none,
      py::arg("centre") = none, py::arg("rs") = 50.0, py::arg("rl") = 50.0,
      py::arg("materials") = none, py::arg("tol_w") = none, py::arg("tol_s") = none,
      py::arg("tol_h") = none, py::arg("tol_h2") = none, py::arg("tol_t") = none,
      py::arg("tol_er") = none, py::arg("tol_etch") = none, py::arg("dist") = "normal",
      py::arg("samples") = 10000, py::arg("seed") = 1, py::arg("threads") = 0,
      py::arg("limits") = std::vector<std::string>{}, py::arg("band") = none,
      py::arg("keep_samples") = true, py::arg("model") = "field", py::arg("accuracy") = none,
      py::arg("method") = none, py::arg("coating") = none);

  // The speed script's reference (bench/python_bench.py): the C++ work of
  // one modes() call on numbers with the closed forms (a fresh evaluator,
  // the modes with the losses), n times, in wall-clock seconds per call.
  m.def(
      "_cxx_modes_seconds",
      [](const SectionValue& section, double f, long long n) {
        Section sec;
        sec.er = static_cast<float>(section.er);
        sec.h = to_inch(section.h, section.units);
        sec.h2 = to_inch(section.h2, section.units);
        sec.w = to_inch(section.w, section.units);
        sec.s = to_inch(section.s, section.units);
        sec.t = to_inch(section.t, section.units);
        Materials mat;
        mat.res = checks::default_res;
        mat.sr = checks::default_sr;
        double sink = 0.0;
        const auto start = std::chrono::steady_clock::now();
        ModelSettings closed;
        closed.model = Model::closed;
        for (long long k = 0; k < n; ++k) {
          CoupledLine line(closed);
          sink += static_cast<double>(line.at(sec, mat, static_cast<float>(f)).zoe);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (std::isnan(sink)) return std::nan("");
        return took.count() / static_cast<double>(n);
      },
      py::arg("section"), py::arg("f"), py::arg("n"));

  m.def("_run", &run_command,
        "_run(args) -> (status, out, err): one command line of the program in this process "
        "(args without the program's name; the GIL released, Ctrl-C stops it).",
        py::arg("args"));

  m.def("_rlgc", &rlgc, kRlgcDoc, py::arg("section"), py::kw_only(), py::arg("f"),
        py::arg("materials") = none, py::arg("accuracy") = none);

  m.def("sweep", &sweep,
        "sweep(start, stop, step) -> numpy array: the points of START:STOP:STEP by the "
        "program's sweep rule (the frequencies of --f-range, the widths of --w-range).",
        py::arg("start"), py::arg("stop"), py::arg("step"));
}

py::array sweep(double min, double max, double step) {
  const study::Range r{static_cast<float>(min), static_cast<float>(max), static_cast<float>(step)};
  const long long n = study::points(r);
  if (n > kMaxSweepPoints) {
    throw checks::InputError("sweep: too many points (at most " + std::to_string(kMaxSweepPoints) +
                             ")");
  }
  py::array_t<double> a(n);
  double* p = a.mutable_data();
  for (long long k = 0; k < n; ++k) p[k] = study::point(r, k);
  return std::move(a);
}

}  // namespace kx::py_face

PYBIND11_MODULE(_kestrelix, m) {
  m.doc() = "kestrelix: edge-coupled microstrip lines and couplers (the C++ library's faces)";
  kx::py_face::bind(m);
}
