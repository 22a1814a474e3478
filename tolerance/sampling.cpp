// The samples of a tolerance run: random streams seeded from (seed, index),
// the draws and the evaluation of each sample.
#include "tolerance/sampling.h"
#include "tolerance/stream.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <kestrelix/validity.h>

namespace kx::tol {
namespace {

constexpr std::uint64_t kEtchStream = 0x6574636800000000ull;  // "etch": the etch offset's seed

float get(const Section& sec, Param p) {
  switch (p) {
    case p_w:
      return sec.w;
    case p_s:
      return sec.s;
    case p_h:
      return sec.h;
    case p_h2:
      return sec.h2;
    case p_t:
      return sec.t;
    default:
      return sec.er;
  }
}

Section section_of(const std::array<float, n_params>& v) {
  Section sec;
  sec.w = v[p_w];
  sec.s = v[p_s];
  sec.h = v[p_h];
  sec.h2 = v[p_h2];
  sec.t = v[p_t];
  sec.er = v[p_er];
  return sec;
}

// The four-port response of `plan`'s coupler at f.
ResponseOptions response_at(const Plan& plan, float f) {
  ResponseOptions o;
  o.f = f;
  o.length = plan.length;
  o.rs = plan.rs;
  o.rl = plan.rl;
  return o;
}

// The four-port figures of a response, in Figure order from fig_coupled_db.
void four_port(const Ports& p, float* fig) {
  // Port 2 coupled, port 3 isolated, port 4 through, port 1 reflected;
  // amplitudes turned into positive losses.
  fig[0] = -p.mag[1];
  fig[1] = -p.mag[2];
  fig[2] = -p.mag[3];
  fig[3] = -p.mag[0];
  fig[4] = fig[1] - fig[0];
  fig[5] = p.vswr;
  fig[6] = p.phase_error;
}

// The four-port over the band: each figure's extremes, and the validity of
// every point (a point the models flag, or a figure that is not finite,
// makes the sample invalid).
void evaluate_band(CoupledLine& line, const Plan& plan, const Section& sec, Sample& out) {
  out.band_lo.fill(std::numeric_limits<float>::infinity());
  out.band_hi.fill(-std::numeric_limits<float>::infinity());
  for (const float fb : plan.band) {
    const Response r = line.response(sec, plan.mat, response_at(plan, fb));
    out.flags |= range_flags(sec, fb);
    if (r.modes.iflag != 0) {
      out.status = st_model;
      out.iflag = r.modes.iflag;
      out.reasons = accuracy_reasons(sec, fb, r.modes.iflag);
      out.flags |= model_flags(r.modes.iflag);
      return;
    }
    std::array<float, n_four_port> fig{};
    four_port(r.ports, fig.data());
    for (std::size_t i = 0; i < fig.size(); ++i) {
      if (!std::isfinite(fig[i])) {
        out.status = st_non_finite;
        out.flags |= flag_not_finite;
        return;
      }
      out.band_lo[i] = std::min(out.band_lo[i], fig[i]);
      out.band_hi[i] = std::max(out.band_hi[i], fig[i]);
    }
  }
}

// The etch offset of sample `index`: one draw from its own stream, the same
// distribution as the others.
float etch_offset(const Plan& plan, Stream& rng) {
  const float sc = plan.scale[p_etch];
  const double z = plan.dist == Dist::normal ? rng.normal() : 2.0 * rng.uniform() - 1.0;
  return sc == 0.0f ? 0.0f : static_cast<float>(z) * sc;
}

}  // namespace

const char* unphysical(const Section& sec, const ModelSettings& model) {
  if (!(sec.w > 0.0f) || !std::isfinite(sec.w)) return "W must be above 0";
  if (!(sec.s > 0.0f) || !std::isfinite(sec.s)) return "S must be above 0";
  if (!(sec.h > 0.0f) || !std::isfinite(sec.h)) return "H must be above 0";
  if (!(sec.t >= 0.0f) || !std::isfinite(sec.t)) return "T must not be negative";
  if (!(sec.er >= 1.0f) || !std::isfinite(sec.er)) return "Er must be at least 1";
  if (model.model == Model::field) {
    const float coat = model.coating.thickness > 0.0f ? model.coating.thickness : 0.0f;
    if (!(sec.h2 > sec.t + coat)) return "H2 must be above the strips and their coating";
  } else if (!(sec.h2 > sec.h)) {
    return "H2 must be above H";
  }
  return nullptr;
}

void evaluate(CoupledLine& line, const Plan& plan, const Section& sec, Sample& out) {
  Modes m;
  if (plan.length > 0.0f) {
    const Response r = line.response(sec, plan.mat, response_at(plan, plan.f));
    m = r.modes;
    four_port(r.ports, &out.fig[fig_coupled_db]);
  } else {
    m = line.at(sec, plan.f);
  }
  out.fig[fig_zo] = m.zo;
  out.fig[fig_zoe] = m.zoe;
  out.fig[fig_zoo] = m.zoo;
  out.fig[fig_coupling_db] = m.coupling_db;  // positive dB, as the library gives it
  out.fig[fig_eff_e] = m.eff_e;
  out.fig[fig_eff_o] = m.eff_o;
  out.iflag = m.iflag;
  out.status = m.iflag == 0 ? st_ok : st_model;
  out.reasons = m.iflag == 0 ? 0u : accuracy_reasons(sec, plan.f, m.iflag);
  out.flags = range_flags(sec, plan.f) | model_flags(m.iflag);
  if (out.status == st_ok) {
    const int n = plan.length > 0.0f ? n_figures : n_section_figures;
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(out.fig[static_cast<std::size_t>(i)])) out.status = st_non_finite;
    }
    if (out.status == st_non_finite) out.flags |= flag_not_finite;
  }
  if (out.status == st_ok && plan.length > 0.0f && !plan.band.empty()) {
    evaluate_band(line, plan, sec, out);
  }
}

namespace {

// The draws of sample `index` into out.in (and out.redraws); false when no
// draw within the redraw limit is physical.
bool draw(const Plan& plan, std::uint64_t index, Sample& out) {
  Stream rng(plan.seed, index);
  Stream etch(plan.seed ^ kEtchStream, index);
  for (int attempt = 0; attempt <= max_redraws; ++attempt) {
    for (int k = 0; k < p_etch; ++k) {
      const auto p = static_cast<Param>(k);
      const double z = plan.dist == Dist::normal ? rng.normal() : 2.0 * rng.uniform() - 1.0;
      const float x0 = get(plan.nominal, p);
      const float sc = plan.scale[static_cast<std::size_t>(k)];
      out.in[static_cast<std::size_t>(k)] = sc == 0.0f ? x0 : x0 + static_cast<float>(z) * sc;
    }
    const float x = etch_offset(plan, etch);
    out.in[p_etch] = x;
    if (x != 0.0f) {
      out.in[p_w] = out.in[p_w] - 2.0f * x;
      out.in[p_s] = out.in[p_s] + 2.0f * x;
    }
    if (unphysical(section_of(out.in), plan.model) == nullptr) {
      out.redraws = attempt;
      return true;
    }
  }
  out.redraws = max_redraws;
  return false;
}

}  // namespace

bool draw_section(const Plan& plan, std::uint64_t index, Section& sec) {
  Sample s;
  const bool ok = draw(plan, index, s);
  sec = section_of(s.in);
  return ok;
}

void take_sample(CoupledLine& line, const Plan& plan, std::uint64_t index, Sample& out) {
  out = Sample{};
  if (draw(plan, index, out)) {
    evaluate(line, plan, section_of(out.in), out);
    return;
  }
  out.status = st_unphysical;
  out.fig.fill(std::numeric_limits<float>::quiet_NaN());
  out.flags = flag_not_finite;
}

}  // namespace kx::tol
