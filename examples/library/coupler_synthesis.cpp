// Strip width and spacing of a 50 ohm, 10 dB edge-coupled microstrip coupler
// at 2.4 GHz, synthesised from the dispersive impedances: first by the
// closed forms (the digits the console dialogue prints), then by the field
// model, the library's default, with what the closed forms' W and S give
// there.
#include <iomanip>
#include <iostream>

#include <kestrelix/coupled_line.h>
#include <kestrelix/validity.h>

int main() {
  // The substrate; W and S are what the synthesis finds. Typed in mil, held
  // in inches (the library's unit).
  kx::Section substrate;
  substrate.er = 3.66f;
  substrate.h = kx::from_mil(20.0);
  substrate.h2 = kx::from_mil(250.0);
  substrate.t = kx::from_mil(1.4);
  kx::CouplerTarget target;    // by name: Zo and the coupling cannot be swapped
  target.zo = 50.0f;           // coupler impedance, ohms
  target.coupling_db = 10.0f;  // dB: a 10 dB coupler
  target.f = 2.4f;             // GHz
  const float zo = target.zo;
  const float coupling = target.coupling_db;
  const float f = target.f;

  // The closed forms, asked for by name.
  kx::CoupledLine closed(kx::ModelSettings{kx::Model::closed});
  const kx::Synthesis syn = closed.synthesise(substrate, target);
  if (!syn.valid) {
    std::cerr << "the synthesis is not valid here: " << kx::validity_codes(syn.flags) << "\n";
    return 1;
  }

  // Zo and C are the design targets; W, S, Zoe, Zoo and the effective
  // dielectric constants are what the models give for the synthesised strips.
  std::cout << std::fixed << "Coupler at " << std::setprecision(3) << f
            << " GHz, by the closed forms\n"
            << std::setprecision(4) << "  W   = " << std::setw(8) << syn.w << " inch\n"
            << "  S   = " << std::setw(8) << syn.s << " inch\n"
            << std::setprecision(3) << "  Zoe = " << std::setw(8) << syn.zoe << " ohm\n"
            << "  Zoo = " << std::setw(8) << syn.zoo << " ohm\n"
            << "  Zo  = " << std::setw(8) << zo << " ohm\n"
            << "  C   = " << std::setw(8) << coupling << " dB\n"
            << "  Effective Er, even mode = " << syn.eff_e << "\n"
            << "  Effective Er, odd mode  = " << syn.eff_o << "\n\n";

  // The field model (the default evaluator): its synthesis is checked on
  // the solver's direct solution, whose values it gives.
  kx::CoupledLine line;
  const kx::Synthesis field = line.synthesise(substrate, target);
  if (!field.valid) {
    std::cerr << "the field synthesis is not valid here: " << kx::validity_codes(field.flags)
              << "\n";
    return 1;
  }
  const kx::Coupling met = kx::coupling_of(field.zoe, field.zoo);
  kx::Section closed_section = substrate;
  closed_section.w = syn.w;
  closed_section.s = syn.s;
  const kx::Modes there = line.at(closed_section, f);
  std::cout << std::setprecision(2) << "By the field model (the library's default)\n"
            << "  W   = " << std::setw(8) << kx::to_mil(field.w) << " mil\n"
            << "  S   = " << std::setw(8) << kx::to_mil(field.s) << " mil\n"
            << std::setprecision(3) << "  Zoe = " << std::setw(8) << field.zoe << " ohm\n"
            << "  Zoo = " << std::setw(8) << field.zoo << " ohm\n"
            << "  Zo  = " << std::setw(8) << met.zo << " ohm\n"
            << "  C   = " << std::setw(8) << met.coupling_db << " dB\n"
            << std::setprecision(2) << "The closed forms' W and S give there Zo " << there.zo
            << " ohm, C " << there.coupling_db << " dB\n";
  return 0;
}
