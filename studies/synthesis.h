// The synthesis run: the W and S that realise a coupler impedance at a list
// or a range of coupling levels, or a range of even-mode impedances, each
// section optionally analysed again.
#pragma once

#include <optional>
#include <vector>

#include <kestrelix/coupled_line.h>
#include <kestrelix/study.h>

namespace kx::study {

enum class Targets {
  levels,       // the coupling levels of `levels`, in order
  level_range,  // the levels of `level_range`, from the weakest toward the strongest
  zoe_range,    // the even-mode impedances of `zoe_range`, from the lowest up
};

struct SynthesisPlan {
  Section substrate;  // er, h, h2, t; W and S are what the synthesis finds
  float zo{};         // ohms: the coupler impedance of every level, the first of a Zoe range
  float f{};          // GHz, of the synthesis (0: from the D.C. impedances)
  Targets targets = Targets::levels;
  // Coupling levels, positive dB (10: a 10 dB coupler).
  std::vector<float> levels;
  // A level range: min the strongest level, max the weakest, positive dB.
  // Swept Cweak, Cweak - Cstep, ... to the first level not weaker than
  // Cstrong, never at or below 0 dB; a step too small to change the level
  // ends the sweep after its first level.
  Range level_range;
  // A Zoe range, ohms: ZoeMIN, ZoeMIN + ZoeSTEP, ... not above ZoeMAX; each
  // point's Zoo is Zo^2/Zoe with the Zo of the pair before (the plan's at the
  // first), and Zo is taken again from each pair. A step too small to
  // change Zoe ends the sweep after its point.
  Range zoe_range;
  // Analyse every synthesised section again at f_analysis (with the losses
  // of `materials` when given).
  bool reanalyse{};
  float f_analysis{};
  std::optional<Materials> materials;
  // The next level's Zo is the re-analysed Zo of this one (the dialogue's
  // baseline verification; a Zoe range takes its Zo from each pair).
  bool carry_reanalysed_zo{};
};

// One synthesis. zo, zoe and zoo are the row's coupler impedance and pair:
// for a level the Zo it was synthesised for and the modes at the W and S
// found, for a Zoe point the target pair and the Zo taken from it.
struct SynthesisRow {
  float coupling_db{};  // the level, positive dB (a Zoe point: of its target pair)
  float zo{}, zoe{}, zoo{};
  Synthesis synthesis;
  Section section;                // the substrate with the W and S found
  std::optional<Modes> analysis;  // the section again at f_analysis (a synthesis that
                                  // failed is not analysed)
  unsigned flags{};               // the synthesis's and the re-analysis's
};

void synthesis_sweep(CoupledLine& line, const SynthesisPlan& plan, const Sink<SynthesisRow>& sink,
                     const Stop* stop = nullptr);

}  // namespace kx::study
