#include "studies/synthesis.h"

#include <kestrelix/stop.h>
#include <kestrelix/validity.h>

namespace kx::study {
namespace {

class Run {
 public:
  Run(CoupledLine& line, const SynthesisPlan& plan, const Sink<SynthesisRow>& sink,
      const Stop* stop)
      : line_(line), plan_(plan), sink_(sink), stop_(stop), zo_(plan.zo) {}

  // A level: the target pair from Zo and the level; the row's pair is the
  // modes' at the W and S found.
  bool level(float coupling_db) {
    CouplerTarget target;
    target.zo = zo_;
    target.coupling_db = coupling_db;
    target.f = plan_.f;
    const Synthesis r = line_.synthesise(plan_.substrate, target);
    return row(r, coupling_db, zo_, r.zoe, r.zoo);
  }

  // The Zoe range, with the Zo of each pair carried to the next.
  void zoe_range() {
    const Range& z = plan_.zoe_range;
    float zoe = z.min - z.step;
    for (;;) {
      zoe = zoe + z.step;
      if (zoe > z.max) break;
      check_stop(stop_);
      const float zoo = zo_ * zo_ / zoe;
      const Coupling c = coupling_of(zoe, zoo);
      zo_ = c.zo;
      PairTarget target;
      target.zoe = zoe;
      target.zoo = zoo;
      target.f = plan_.f;
      const Synthesis r = line_.synthesise_pair(plan_.substrate, target);
      if (!row(r, c.coupling_db, zo_, zoe, zoo)) break;
      if (!(z.max > zoe)) break;
      if (zoe + z.step == zoe) break;
    }
  }

  // Levels Cweak, Cweak - Cstep, ...: the dialogue's sweep on negative
  // levels (-Cweak, -Cweak + Cstep, ...) formed on positive ones; IEEE
  // rounding is symmetric, so each level is the dialogue's to the bit.
  void level_range() {
    const Range& c = plan_.level_range;
    float level = c.max + c.step;
    for (;;) {
      level = level - c.step;
      if (level <= 0.0f) break;
      check_stop(stop_);
      if (!this->level(level)) break;
      if (!(level > c.min)) break;
      if (level - c.step == level) break;
    }
  }

 private:
  bool row(const Synthesis& r, float coupling_db, float zo, float zoe, float zoo) {
    SynthesisRow out;
    out.coupling_db = coupling_db;
    out.zo = zo;
    out.zoe = zoe;
    out.zoo = zoo;
    out.synthesis = r;
    out.section = plan_.substrate;
    out.section.w = r.w;
    out.section.s = r.s;
    if (r.iflag == 0 && plan_.reanalyse) {
      out.analysis = plan_.materials ? line_.at(out.section, *plan_.materials, plan_.f_analysis)
                                     : line_.at(out.section, plan_.f_analysis);
      if (plan_.carry_reanalysed_zo && plan_.targets != Targets::zoe_range) {
        zo_ = out.analysis->zo;
      }
    }
    out.flags = r.flags | (out.analysis ? out.analysis->flags : 0u);
    return sink_(out);
  }

  CoupledLine& line_;
  const SynthesisPlan& plan_;
  const Sink<SynthesisRow>& sink_;
  const Stop* stop_;
  float zo_;  // the Zo of the next level or Zoe point
};

}  // namespace

void synthesis_sweep(CoupledLine& line, const SynthesisPlan& plan, const Sink<SynthesisRow>& sink,
                     const Stop* stop) {
  Run run(line, plan, sink, stop);
  switch (plan.targets) {
    case Targets::levels:
      for (const float c : plan.levels) {
        check_stop(stop);
        if (!run.level(c)) return;
      }
      return;
    case Targets::level_range:
      run.level_range();
      return;
    case Targets::zoe_range:
      run.zoe_range();
      return;
  }
}

}  // namespace kx::study
