// tolerance: the Monte Carlo engine's run (kx::tol::run) on one nominal
// section, its threads as the command line's, with every sample kept in
// numpy arrays; Ctrl-C stops it (python/src/watch.h).
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>
#include <pybind11/stl.h>

#include "python/src/functions.h"
#include "python/src/watch.h"
#include "shared/input_checks.h"
#include "tolerance/sampling.h"
#include "tolerance/tolerance.h"

namespace kx::py_face {
namespace {

// The samples as they come, into arrays made beforehand.
class Keep : public tol::SampleSink {
 public:
  Keep(long long n, int n_fig, double inches_per_unit)
      : n_fig_(n_fig),
        unit_(inches_per_unit),
        status_(static_cast<std::size_t>(n)),
        flags_(static_cast<std::size_t>(n)) {
    for (auto& a : in_) a = py::array_t<double>(n);
    for (int k = 0; k < n_fig; ++k) fig_[static_cast<std::size_t>(k)] = py::array_t<double>(n);
    iflag_ = py::array_t<int>(n);
    valid_ = py::array_t<bool>(n);
    for (std::size_t k = 0; k < in_.size(); ++k) in_p_[k] = in_[k].mutable_data();
    for (int k = 0; k < n_fig; ++k) {
      fig_p_[static_cast<std::size_t>(k)] = fig_[static_cast<std::size_t>(k)].mutable_data();
    }
    iflag_p_ = iflag_.mutable_data();
    valid_p_ = valid_.mutable_data();
  }

  void sample(long long index, const tol::Sample& s) override {
    const auto i = static_cast<std::size_t>(index);
    for (std::size_t k = 0; k < in_.size(); ++k) {
      const float v = s.in[k];
      // As the samples file writes them: lengths in the output unit.
      in_p_[k][i] = k == tol::p_er ? v : static_cast<float>(static_cast<double>(v) / unit_);
    }
    for (int k = 0; k < n_fig_; ++k) {
      fig_p_[static_cast<std::size_t>(k)][i] = s.fig[static_cast<std::size_t>(k)];
    }
    iflag_p_[i] = s.iflag;
    valid_p_[i] = s.flags == 0;
    status_[i] = s.status;
    flags_[i] = s.flags;
  }

  py::dict finish() {
    py::dict d;
    for (std::size_t k = 0; k < in_.size(); ++k) d[tol::param_names[k]] = in_[k];
    static constexpr const char* status[] = {"ok", "model", "non_finite", "unphysical"};
    std::vector<std::string> said(status_.size());
    for (std::size_t i = 0; i < status_.size(); ++i) said[i] = status[status_[i]];
    d["status"] = py::module_::import("numpy").attr("array")(py::cast(said));
    d["iflag"] = iflag_;
    d["valid"] = valid_;
    d["flags"] = code_strings(flags_, {static_cast<py::ssize_t>(flags_.size())});
    for (int k = 0; k < n_fig_; ++k) {
      d[tol::figure_names[static_cast<std::size_t>(k)]] = fig_[static_cast<std::size_t>(k)];
    }
    return d;
  }

 private:
  int n_fig_;
  double unit_;
  std::array<py::array_t<double>, tol::n_params> in_;
  std::array<double*, tol::n_params> in_p_{};
  std::array<py::array_t<double>, tol::n_figures> fig_;
  std::array<double*, tol::n_figures> fig_p_{};
  py::array_t<int> iflag_;
  int* iflag_p_{};
  py::array_t<bool> valid_;
  bool* valid_p_{};
  std::vector<unsigned char> status_;
  std::vector<unsigned> flags_;
};

py::object number(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::none(); }

py::dict figure(const tol::FigureStats& f, std::size_t i) {
  py::dict d;
  d["unit"] = tol::figure_units[i];
  d["nominal"] = number(f.nominal);
  d["mean"] = number(f.mean);
  d["std"] = number(f.stddev);
  d["min"] = number(f.min);
  static constexpr const char* pct[] = {"p1", "p5", "p50", "p95", "p99"};
  for (std::size_t k = 0; k < f.pct.size(); ++k) d[pct[k]] = number(f.pct[k]);
  d["max"] = number(f.max);
  d["count"] = f.count;
  py::dict share;
  for (std::size_t k = 0; k < f.share.size(); ++k) share[tol::param_names[k]] = 100.0 * f.share[k];
  d["share_pct"] = share;
  py::array_t<long long> h(static_cast<py::ssize_t>(f.histogram.size()));
  std::copy(f.histogram.begin(), f.histogram.end(), h.mutable_data());
  d["histogram"] = h;
  return d;
}

py::dict yield(const char* figure, const char* unit, float lo, float hi, bool band,
               const tol::Yield& y) {
  py::dict d;
  d["figure"] = figure;
  d["unit"] = unit;
  d["min"] = number(lo);
  d["max"] = number(hi);
  d["over_band"] = band;
  d["passed"] = y.passed;
  d["count"] = y.count;
  d["yield_pct"] = number(y.percent);
  d["ci95_low_pct"] = number(y.ci_low);
  d["ci95_high_pct"] = number(y.ci_high);
  return d;
}

py::dict summary(const tol::Study& study, const tol::Summary& sum, LengthUnit u) {
  py::dict d;
  d["length"] = sum.four_port ? py::object(py::float_(from_inch(sum.length, u))) : py::none();
  d["centre"] = study.centre > 0.0f ? py::object(py::float_(study.centre)) : py::none();
  d["samples"] = sum.samples;
  d["valid"] = sum.valid;
  const tol::OutsideRange& out = sum.outside;
  d["outside_range"] = out.total;
  d["outside_wh"] = out.wh;
  d["outside_sh"] = out.sh;
  d["outside_er"] = out.er;
  d["outside_fh"] = out.fh;
  d["outside_s_lt_2t"] = out.s_lt_2t;
  const tol::Invalid& inv = sum.invalid;
  d["invalid"] = inv.total;
  d["invalid_zo_single"] = inv.iflag1;
  d["invalid_cover"] = inv.iflag2;
  d["invalid_not_finite"] = inv.non_finite;
  d["invalid_unphysical"] = inv.unphysical;
  for (const unsigned code : {flag_fh, flag_er, flag_wh, flag_w_narrow, flag_sh, flag_s_narrow}) {
    d[py::str(std::string("invalid_") + validity_code(code))] =
        inv.reason[static_cast<std::size_t>(code_index(code))];
  }
  d["invalid_no_reason"] = inv.no_reason;
  d["redrawn"] = sum.redraws;
  d["oat_samples"] = sum.oat_samples;
  d["nominal_flags"] = validity_codes(sum.nominal_flags);
  d["nominal_valid"] = sum.nominal_flags == 0;
  if (sum.field_method != tol::FieldMethod::none) {
    const bool direct = sum.field_method == tol::FieldMethod::direct;
    d["field_method"] = direct ? "direct" : "nominal_ratios";
    d["field_error"] = 100.0f * sum.nominal_error;
  }
  return d;
}

}  // namespace

py::dict tolerance(const SectionValue& section, const ToleranceArgs& a, const ModelArgs& model) {
  tol::Study study;
  study.model = settings_of(model);
  study.mat = materials_of(a.materials);
  const LengthUnit u = section.units;
  {
    Broadcast one;
    const SectionSlots slots = section_slots(one, section, py::none(), py::none(), py::none(),
                                             py::none(), py::none(), py::none());
    one.finish();
    study.nominal = section_at(Broadcast::Cursor(one), slots, u);
  }
  check_section(study.nominal, true, true, study.model, coating_of(model.coating), u,
                "the nominal section");
  study.f = static_cast<float>(a.f);
  check_at_least("f", study.f, 0.0f);
  if (!a.length.is_none() && !a.centre.is_none()) {
    throw checks::InputError("tolerance: give length or centre, not both");
  }
  if (!a.length.is_none()) {
    study.length = to_inch(a.length.cast<double>(), u);
    checks::require_above("length", study.length, 0.0f);
  }
  if (!a.centre.is_none()) {
    study.centre = static_cast<float>(a.centre.cast<double>());
    checks::require_above("centre", study.centre, 0.0f);
  }
  study.rs = static_cast<float>(a.rs);
  study.rl = static_cast<float>(a.rl);
  checks::require_above("rs", study.rs, 0.0f);
  checks::require_above("rl", study.rl, 0.0f);
  const Section& n = study.nominal;
  const std::array<float, tol::n_params> nominal{n.w, n.s, n.h, n.h2, n.t, n.er, 0.0f};
  for (int k = 0; k < tol::n_params; ++k) {
    const auto p = static_cast<tol::Param>(k);
    const std::string name = std::string("tol_") + tol::param_names[static_cast<std::size_t>(k)];
    const py::object& given = a.tol[static_cast<std::size_t>(k)];
    float half = 0.0f;
    if (py::isinstance<py::str>(given)) {
      std::string text = given.cast<std::string>();
      char* end = nullptr;
      const float pct = text.empty() || text.back() != '%' ? std::nanf("")
                                                           : std::strtof(text.c_str(), &end);
      if (!(end == text.c_str() + text.size() - 1) || std::isnan(pct)) {
        throw checks::InputError(name + ": a number or a percentage ('5%'), not '" + text + "'");
      }
      half = checks::percent_half_width(name, pct, nominal[static_cast<std::size_t>(k)],
                                        p == tol::p_etch);
    } else if (!given.is_none()) {
      const double v = given.cast<double>();
      half = p == tol::p_er ? static_cast<float>(v) : to_inch(v, u);
    }
    checks::require_at_least(name, half, 0.0f);
    study.tol[p] = half;
  }
  if (a.dist != "normal" && a.dist != "uniform") {
    throw checks::InputError("dist: normal or uniform, not '" + a.dist + "'");
  }
  study.dist = a.dist == "uniform" ? tol::Dist::uniform : tol::Dist::normal;
  study.samples = a.samples;
  study.seed = a.seed;
  study.threads = a.threads;
  for (const std::string& text : a.limits) {
    try {
      study.limits.push_back(tol::parse_limit(text));
    } catch (const tol::Error& e) {
      throw checks::InputError("limits: " + std::string(e.what()));
    }
  }
  if (!a.band.is_none()) {
    const auto band = py::array_t<double, py::array::forcecast>::ensure(a.band);
    if (!band || band.ndim() != 1) {
      PyErr_Clear();
      throw checks::InputError("band: a one-dimensional array of frequencies, GHz");
    }
    for (py::ssize_t k = 0; k < band.size(); ++k) {
      study.band.push_back(static_cast<float>(band.data()[k]));
    }
  }
  // Lengths of the samples in the unit, as the command line converts them.
  study.inches_per_unit = 1.0 / static_cast<double>(static_cast<float>(from_inch(1.0f, u)));
  study.unit_name = unit_name(u);
  study.progress = false;
  if (const std::string why = tol::check(study); !why.empty()) throw checks::InputError(why);

  const bool four_port = study.length > 0.0f || study.centre > 0.0f;
  const int n_fig = four_port ? tol::n_figures : tol::n_section_figures;
  std::optional<Keep> keep;
  if (a.keep_samples) keep.emplace(study.samples, n_fig, study.inches_per_unit);
  study.sample_sink = keep ? &*keep : nullptr;
  Stop stop;
  study.stop = &stop;
  const tol::Summary sum = run_watched<tol::Summary>(stop, [&study] { return tol::run(study); });

  py::dict d;
  py::dict figures;
  for (int i = 0; i < sum.n_fig; ++i) {
    const auto ui = static_cast<std::size_t>(i);
    figures[tol::figure_names[ui]] = figure(sum.fig[ui], ui);
  }
  d["figures"] = figures;
  py::list limits;
  for (std::size_t j = 0; j < sum.limits.size(); ++j) {
    const tol::Limit& lim = sum.limits[j];
    const auto fi = static_cast<std::size_t>(lim.figure);
    const bool band = !study.band.empty() && lim.figure >= tol::n_section_figures;
    limits.append(
        yield(tol::figure_names[fi], tol::figure_units[fi], lim.min, lim.max, band, sum.yields[j]));
  }
  d["limits"] = limits;
  d["all_limits"] = sum.limits.empty() ? py::object(py::none())
                                       : py::object(yield("all", "", -INFINITY, INFINITY,
                                                          !study.band.empty(), sum.joint));
  d["summary"] = summary(study, sum, u);
  if (keep) {
    d["samples"] = keep->finish();
  } else {
    d["samples"] = py::none();
  }
  d["model"] = model_name(study.model);
  d["units"] = unit_name(u);
  return d;
}

}  // namespace kx::py_face
