// Per-unit-length R(f), L(f), G(f), C(f) of a multiconductor line from one
// set of static field solutions, with the wideband materials of
// kestrelix/materials.h. Double precision, SI units (metres, hertz; ohm/m,
// H/m, S/m, F/m). Matrices are N x N for N signal conductors over the ground
// (the edge-coupled pair: N = 2, strip 1 and strip 2).
//
//   kx::field::Geometry g;                   // lengths in metres here
//   g.h = 0.2e-3;  g.w = 0.3e-3;  g.s = 0.2e-3;  g.t = 35e-6;
//   kx::rlgc::PairMaterials m;
//   m.substrate = kx::materials::Dielectric(fr4);
//   const kx::rlgc::LineStatics st = kx::rlgc::pair_statics(g, m);  // the field solutions
//   const kx::rlgc::Rlgc p = kx::rlgc::rlgc_at(st, 10e9);          // analytic in f
//   const kx::rlgc::PairModes modes = kx::rlgc::pair_modes(p);     // alpha_e, alpha_o, Z, ...
//
// How the frequency dependence follows from the statics (doc/wideband.md):
//   R + j omega L_int = the conductors' internal impedance: each metal surface
//     group's skin-effect impedance (1 + j) Rs(f) K(f) (dL/dn) / mu0
//     (Wheeler's incremental-inductance rule, Rs = sqrt(pi f mu0 rho), K the
//     surface's roughness factor), carried to the strips' D.C. resistance by
//     Z coth(Z / R_dc) (exact for a plate carrying current on both faces);
//   L = L_ext + L_int, L_ext the vacuum inductance mu0 eps0 C_vacuum^-1;
//   C - j G / omega = C(eps_1(f), eps_2(f), ...): the capacitance expanded in
//     each layer's complex permittivity about the solved one, a linear
//     fraction in each and a bilinear term for each two (to first order in
//     the loss G = omega sum_i eps_i'' dC/d(eps_i)).
#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <kestrelix/field.h>
#include <kestrelix/materials.h>
#include <kestrelix/stack.h>
#include <kestrelix/stack_solver.h>

namespace kx::rlgc {

// A square matrix, row-major.
template <class T>
class SquareMatrix {
 public:
  SquareMatrix() = default;
  explicit SquareMatrix(int n, T value = T{})
      : n_(n), a_(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), value) {}
  int size() const { return n_; }
  T& operator()(int i, int j) { return a_[index(i, j)]; }
  const T& operator()(int i, int j) const { return a_[index(i, j)]; }
  const std::vector<T>& data() const { return a_; }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(n_) + static_cast<std::size_t>(j);
  }
  int n_ = 0;
  std::vector<T> a_;
};
using Matrix = SquareMatrix<double>;
using CMatrix = SquareMatrix<std::complex<double>>;

// One group of metal surfaces that recede together in the incremental-
// inductance rule, with its metal and roughness.
struct SurfaceGroup {
  std::string name;    // "strip tops", "strip bottoms", "strip sides", "ground", "cover"
  Matrix dl_dn;        // dL/dn, H/m per metre of recession of every surface of the group
  Matrix dl_dn_error;  // a bound on the error of each element of dl_dn
  materials::Surface surface;
};

// One dielectric layer: its material and the capacitance's expansion in its
// permittivity about er_ref (the layer's er at the reference frequency): the
// linear fraction C_ref + a x / (1 + b x), x = er - er_ref, through three
// solutions, given by its derivatives at er_ref (a = dc_der,
// -2 a b = d2c_der2).
struct DielectricLayer {
  std::string name;  // "substrate", "coating"
  materials::Dielectric material;
  double er_ref = 1.0;
  Matrix dc_der;    // dC/d(er), F/m
  Matrix d2c_der2;  // d2C/d(er)2, F/m
};

// The mixed second derivative d2C/(d er_a d er_b) of two layers.
struct MixedTerm {
  int a = 0, b = 0;  // indices into LineStatics::dielectrics, a < b
  Matrix d2c;        // F/m
};

// What the frequency dependence is computed from: one static solve set.
struct LineStatics {
  int conductors = 0;
  Matrix c_ref;     // capacitance with every layer at er_ref, F/m
  Matrix c_vacuum;  // capacitance with every dielectric replaced by vacuum, F/m
  Matrix l_ext;     // external inductance mu0 eps0 c_vacuum^-1, H/m
  std::vector<DielectricLayer> dielectrics;
  std::vector<MixedTerm> mixed;  // one for each two layers
  std::vector<SurfaceGroup> surfaces;
  // D.C. resistance of the conductors (diagonal), ohm/m; size 0 for
  // conductors without thickness (no D.C. limit: the skin-effect impedance
  // at every f).
  Matrix r_dc;
  double f_ref_hz = 0.0;  // where the layers' er_ref were taken
  // Zero-thickness conductors: their faces are left out of the
  // incremental-inductance rule (their dL/dn diverges like ln(1/T)); what
  // remains for the pair is the ground's, the cover's and the strip edges'
  // share, the closed forms' thin-strip rule (doc/wideband.md).
  bool thin_strip_rule = false;
  // The field solver's estimate of its relative error in the static values.
  double error_c = 0.0, error_l = 0.0;
};

// R, L, G, C at one frequency.
struct Rlgc {
  double f_hz = 0.0;
  Matrix r, l, g, c;
  Matrix r_error;  // a bound on the error of R from the surfaces' dL/dn errors, ohm/m
};

// R, L, G, C at f_hz > 0 (throws std::invalid_argument otherwise).
Rlgc rlgc_at(const LineStatics& st, double f_hz);
std::vector<Rlgc> rlgc_sweep(const LineStatics& st, const std::vector<double>& f_hz);

// ------------------------------------------ a static set from a field solver

// One solution of a static problem: the capacitance matrix with the
// dielectrics as asked and with every dielectric replaced by vacuum, F/m,
// and the solver's estimate of its relative error in them.
struct StaticSolution {
  Matrix c, c_vacuum;
  double error = 0.0;
};

// A group of metal surfaces that recede together.
struct RecessionGroup {
  std::string name;
  // The length (m) over which the group's dL/dn varies; the differences
  // step a tenth of it, and the problem must take recessions of +-0.2 of it.
  double scale = 0.0;
  // Non-empty: this group's recession is, term by term, the sum of other
  // groups' (index, factor) and its dL/dn is formed from theirs.
  std::vector<std::pair<int, double>> sum_of;
};

// A static field problem of N conductors over a ground, with dielectric
// layers and metal surface groups, as line_statics() asks it. pair_statics()
// has one for the edge-coupled pair; a solver of other cross-sections gives
// the wideband line its own.
class StaticProblem {
 public:
  virtual ~StaticProblem() = default;
  virtual int conductors() const = 0;
  // The dielectric layers' names, in the order of solve()'s permittivities.
  virtual std::vector<std::string> layers() const = 0;
  virtual std::vector<RecessionGroup> recession_groups() const = 0;
  // Each conductor's metal cross-section, m^2 (0: no thickness; then its
  // faces are left out of the recession groups).
  virtual std::vector<double> conductor_areas() const = 0;
  // The relative size of the jumps in the solver's values as the geometry
  // moves (where its mesh changes; 0 for values smooth in the geometry).
  virtual double mesh_jump() const = 0;
  // The cross-section with layer i at relative permittivity er[i]. Throws
  // std::invalid_argument with the solver's reason.
  virtual StaticSolution solve(const std::vector<double>& er) const = 0;
  // The vacuum problem with every surface of group g receded into its metal
  // by d metres (d < 0: grown out of it).
  virtual StaticSolution recede(int g, double d) const = 0;
};

// The materials of a static problem.
struct LineMaterials {
  std::vector<materials::Dielectric> layers;  // one per layer
  std::vector<materials::Surface> surfaces;   // one per recession group
  std::vector<double> resistivity;            // ohm m, one per conductor (its D.C. resistance)
};

// The static set of `problem`: the capacitance with each layer at its er at
// f_ref_hz and its expansion in the layers' permittivities (solutions at
// +-5 %, and one for each two layers' mixed term); the vacuum
// inductance and each recession group's dL/dn (differences at a tenth and a
// fifth of the group's scale, extrapolated) with a bound on its error; the
// D.C. resistance. Throws std::invalid_argument for materials that do not
// fit the problem or fail their checks.
LineStatics line_statics(const StaticProblem& problem, const LineMaterials& m, double f_ref_hz);

// ------------------------------------------------------- the edge-coupled pair

// The materials of the pair's cross-section. The strips' surfaces share the
// strip metal; the roughness of each surface is its own (the treated side of
// a foil, usually the bottom on the substrate, is rougher than its drum side).
struct PairMaterials {
  materials::Dielectric substrate;
  materials::Dielectric coating;  // used when the geometry has a coating
  double strip_resistivity = materials::copper_resistivity;
  materials::Roughness strip_top, strip_bottom, strip_sides;
  materials::Surface ground;  // the ground plane's face towards the strips
  materials::Surface cover;   // the cover's face towards the strips
};

struct PairOptions {
  field::Settings field;  // the solver's accuracy
  // Where the layers' er_ref are taken (the statics are solved there); 0:
  // the substrate's datasheet frequency.
  double f_ref_hz = 0.0;
};

// The static solve set of the pair `g` (lengths in metres; its er and
// er_coat are not read: the permittivities come from `m` at the reference
// frequency). Throws std::invalid_argument for a cross-section the solver
// cannot take or materials that fail their checks.
LineStatics pair_statics(const field::Geometry& g, const PairMaterials& m,
                         const PairOptions& options = {});

// The even and odd modes of a symmetric pair's R, L, G, C (2 x 2).
struct PairModes {
  double f_hz = 0.0;
  std::complex<double> z_e, z_o;          // characteristic impedances, ohm
  std::complex<double> gamma_e, gamma_o;  // propagation constants alpha + j beta, 1/m
  double alpha_e = 0.0, alpha_o = 0.0;    // attenuation 20 log10(e) Re(gamma), dB/m (positive)
  // Conductor and dielectric shares (low-loss forms R/(2 Z0), G Z0/2 with
  // Z0 = sqrt(L/C); their sum is alpha within the square of the losses).
  double alpha_c_e = 0.0, alpha_c_o = 0.0, alpha_d_e = 0.0, alpha_d_o = 0.0;  // dB/m
  double alpha_c_error_e = 0.0, alpha_c_error_o = 0.0;  // bounds from R's error, dB/m
  double eff_e = 0.0, eff_o = 0.0;                      // (beta c0 / omega)^2
};
PairModes pair_modes(const Rlgc& p);

// ------------------------------------------------- a general cross-section

// The materials of a stack's cross-section (kestrelix/stack.h). The
// conductors on the layers' interfaces (signals, coplanar grounds, floating
// metal) are etched from one foil: one metal, and one roughness for their
// tops, one for their bottoms and one for their sides; the planes have their
// own surfaces.
struct StackMaterials {
  // One per layer of the stack, from the ground plane up; empty: each
  // layer's er and loss_tangent at every frequency (the constant model).
  std::vector<materials::Dielectric> layers;
  // The mask's, when the stack has one; false: its er and loss_tangent,
  // constant.
  bool mask_set = false;
  materials::Dielectric mask;
  double resistivity = materials::copper_resistivity;  // of the traces, ohm m
  materials::Roughness top, bottom, sides;             // of the traces' faces
  materials::Surface ground;                           // the ground plane's face towards the traces
  materials::Surface top_plane;                        // the top plane's (a stack with top_plane)
};

struct StackOptions {
  double unit_m = 1.0;    // metres per length unit of the stack
  stack::Settings field;  // the solver's accuracy (its filling and surface are not used)
  double f_ref_hz = 0.0;  // where the layers' er_ref are taken; 0: the bottom layer's
                          // datasheet frequency
};

// The static solve set of the signal conductors of `s` (kx::stack::solve
// for the capacitance and its expansion in the permittivities; layers of
// one material count as one region). The metal's recession groups: "strip
// sides", and with thickness "strip tops" and "strip bottoms" (the traces,
// coplanar grounds and floating metal on the interfaces), "ground" (the
// plane under the stack) and "top plane". The conductors must all have a
// thickness or all none (zero thickness: the thin-strip rule). Throws
// std::invalid_argument for a stack the solver refuses or materials that do
// not fit it.
LineStatics stack_statics(const stack::Stack& s, const StackMaterials& m,
                          const StackOptions& options = {});

// -------------------------------------------------------- the modes of a line

// One mode of a line of N conductors at one frequency: an eigenvector of
// Z Y (Z = R + j omega L, Y = G + j omega C). For a symmetric pair (equal
// diagonals) the even mode (1, 1) and the odd mode (1, -1) exactly.
struct LineMode {
  std::complex<double> gamma;                 // alpha + j beta, 1/m
  std::vector<std::complex<double>> voltage;  // the lines' voltages, largest magnitude 1
  // The mode's impedance (V . V) / (V . I): a single line's Z0, a symmetric
  // pair's Zoe and Zoo.
  std::complex<double> z;
  double alpha = 0.0;  // 20 log10(e) Re(gamma), dB/m
  // The conductor and dielectric shares of the power lost, I* R I / (4 P)
  // and V* G V / (4 P) (P = Re(V* I) / 2), dB/m: for one line R / (2 Re Z)
  // and G |Z|^2 / (2 Re Z). Their sum is alpha (the power balance of one
  // mode).
  double alpha_c = 0.0, alpha_d = 0.0;
  double alpha_c_error = 0.0;  // a bound from R's error, dB/m
  double eff = 0.0;            // (beta c0 / omega)^2
  // Its voltages have opposite signs (a pair's odd, differential mode).
  bool differential() const;
};
// The modes, fastest first (smallest eff).
std::vector<LineMode> line_modes(const Rlgc& p);

}  // namespace kx::rlgc
