// The wideband loss options a subcommand shares: the dielectric (a material
// of the materials file by name, or a datasheet pair and its model), the
// conductor's resistivity and each metal surface's roughness. With the
// field model they give the losses from the field (kestrelix/rlgc.h); the
// closed forms take what maps exactly onto their own --res and --sr.
//
//   --material NAME [--materials FILE]   a dielectric of the materials file
//   --dk X [--df Y] [--f-datasheet GHZ]       a datasheet pair (instead of --er, --tlos)
//   --dielectric-model djordjevic-sarkar|constant
//   --conductor NAME | --resistivity UOHMCM
//   --roughness ROUGHNESS, --roughness-top|-bottom|-sides|-ground ROUGHNESS
//     ROUGHNESS: smooth, hammerstad-bekkadal:rq=UM, groisse:rq=UM,
//           huray:radius=UM,spheres=N,(tile=UM2|side=UM)[,matte=X],
//           or a roughness profile of the materials file by name
//   --coat-tlos TAN                      the coating's loss tangent
//
// Missing parts come from the closed forms' options: the substrate from
// --er and --tlos (the constant model unless --dielectric-model says
// otherwise), the resistivity from --res, every surface's roughness from
// --sr (Hammerstad-Bekkadal), so that the field's losses and the closed
// forms' start from the same materials.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <kestrelix/coupled_line.h>
#include <kestrelix/materials.h>
#include <kestrelix/rlgc.h>
#include <kestrelix/section.h>

#include "cli/context.h"
#include "cli/structure_options.h"
#include "studies/wideband.h"

namespace kx::cli {

struct LossArgs {
  Arg* material{};
  Arg* materials{};
  Arg* dk{};
  Arg* df{};
  Arg* f_datasheet{};
  Arg* dielectric_model{};
  Arg* conductor{};
  Arg* resistivity{};
  Arg* roughness{};
  Arg* roughness_top{};
  Arg* roughness_bottom{};
  Arg* roughness_sides{};
  Arg* roughness_ground{};
  Arg* coat_tlos{};
  // Any of them given.
  bool given() const;
  // The first given that the closed forms cannot take (nullptr: none).
  const Arg* beyond_closed_forms() const;
};

// Declares the options on `cmd`; `sec` are its cross-section options (the
// fallbacks and the options a material excludes); `structures`: the command
// takes board cross-sections too (the help says what the options are there).
LossArgs add_loss_options(Context& ctx, Command& cmd, const SectionArgs& sec,
                          bool structures = false);

// The wideband materials of a run.
struct WidebandMaterials {
  materials::Dielectric substrate;
  std::string substrate_name;  // the material's name, or "" for a datasheet pair
  materials::Dielectric coating;
  double resistivity = materials::copper_resistivity;  // ohm m
  materials::Roughness top, bottom, sides, ground;
  std::string top_spec, bottom_spec, sides_spec, ground_spec;  // as given, for the inputs
  // A board cross-section's layers each with its own datasheet pair (no
  // --material): `substrate` then holds only where they hold (f_hz) and the
  // model.
  bool per_layer = false;
};

// Before resolve_section: a material or --dk gives the substrate's Er (its
// datasheet Dk), so --er must not be given as well (UsageError).
void substrate_er(Context& ctx, const LossArgs& a, const SectionArgs& sec);

// The materials, with the fallbacks from `closed` (--er's Er in `er`,
// --tlos, --res, --sr resolved) and the coating's permittivity `coat_er`.
// UsageError naming the option for anything that is not usable.
WidebandMaterials resolve_loss(Context& ctx, const LossArgs& a, float er, const Materials& closed,
                               float coat_er = 1.0f);

// --model closed: what maps exactly onto the closed forms' materials
// (--resistivity onto --res, one Hammerstad-Bekkadal roughness for every
// surface onto --sr) is put into `mat`; any other loss option is a usage
// error that says it needs the field model.
void closed_form_losses(Context& ctx, const LossArgs& a, const SectionArgs& sec, Materials& mat);

// The materials in words (the comment lines of the files written).
std::vector<std::string> loss_description(const WidebandMaterials& m);

// The materials as inputs of `doc`.
void loss_inputs(Document& doc, const WidebandMaterials& m);

// The losses of a subcommand of the closed forms' analysis (analyse,
// dispersion, response) with the loss options.
struct FieldLosses {
  WidebandMaterials materials;
  std::unique_ptr<study::PairFieldLosses> losses;  // null: the model's own losses
  explicit operator bool() const { return losses != nullptr; }
  // The conductor and dielectric attenuation at f from the field, dB per
  // inch (UsageError for a cross-section the solver refuses).
  Attenuation at(const Section& sec, float f) const;
  // The same with the closed forms' radiation of the open pair added (its
  // only estimate), as the analysis rows' losses hold it.
  Attenuation with_radiation(CoupledLine& line, const Section& sec, float f) const;
};
// Without loss options: no field losses. With --model closed: the options
// that map go into `mat` (closed_form_losses) and no field losses. With the
// field model: the losses from the field with the resolved materials (the
// fallbacks from --er's `er` and `mat`). Call substrate_er before
// resolve_section.
FieldLosses resolve_field_losses(Context& ctx, const LossArgs& a, const SectionArgs& sec,
                                 const ModelSettings& model, float er, Materials& mat);

// ------------------------------------------------ a board cross-section's materials
//
// The metal and its surfaces as for the pair. The dielectrics: each layer's
// er and loss tangent (--er, --tand, ... or the stackup file's) as its
// datasheet pair at --f-datasheet (default 1 GHz) through --dielectric-model
// (default Djordjevic-Sarkar); with --material that material in every layer.
// The mask: its own pair (--mask-er, --mask-tand) the same way. The pair's
// substrate options (--dk, --df, --tlos, --coat-tlos) are not a structure's.

// Before resolve_structure: with --material, the layers' --er, --tand ...
// must not be given (UsageError), and a named structure's --er becomes the
// material's Dk.
void structure_er(Context& ctx, const LossArgs& a, const StructureArgs& st);

// The materials of `s` (its lengths in the run's unit), with the fallbacks
// of `closed` (--res, --sr); `m` gets what the inputs and the files'
// comments show.
rlgc::StackMaterials resolve_structure_loss(Context& ctx, const LossArgs& a, const stack::Stack& s,
                                            const Materials& closed, WidebandMaterials& m);

rlgc::PairMaterials pair_materials(const WidebandMaterials& m);
rlgc::StackMaterials stack_materials(const WidebandMaterials& m, std::size_t layers);

}  // namespace kx::cli
