#include "cli/cli.h"

#include <algorithm>
#include <csignal>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/context.h"
#include "common/report.h"

namespace kx::cli {
namespace {

constexpr const char* kAbout =
    "kestrelix: edge-coupled microstrip directional couplers.\n"
    "Without arguments: the console dialogue. With a subcommand: one run, no questions asked.";

constexpr const char* kFooter = R"(Synopsis:
  kestrelix analyse     SECTION [--f GHZ] [--w-range MIN:MAX:STEP | --s-range MIN:MAX:STEP] [--tlos TAN]
      Zo, Zoe, Zoo, coupling, effective Er and losses of each W or S at the spot frequency
      (0 or omitted: D.C.). Columns: w s w_h s_h zo zoe zoo coupling_db eff_e eff_o loss_e loss_o
  kestrelix response    SECTION --f-range START:STOP:STEP (--length L | --centre GHZ)
                        [--rs OHM] [--rl OHM] [--tlos TAN] [--touchstone FILE] [--reference OHM]
                        [--no-radiation]
      Four-port response of the coupler between Rs and Rl (default 50 ohms).
      Columns: f_ghz s11_db s11_deg s21_db s21_deg s31_db s31_deg s41_db s41_deg
               vswr phi_deg phase_error_deg loss_db atot_db
      Ports: 1 input, 2 coupled, 3 isolated, 4 thru. --touchstone writes the 4x4 S-matrix
      (Touchstone 1.0, real/imaginary) referred to --reference ohms (default 50) at every port.
      --no-radiation leaves out the radiation loss of the open pair (with --res 0 --sr 0
      --tlos 0 the coupler is then lossless).
  kestrelix dispersion  SECTION --f-range START:STOP:STEP [--tlos TAN]
      Columns: f_ghz eff_e eff_o eff_c zoe zoo zo length loss_e loss_o (length: quarter wave)
  kestrelix sensitivity SECTION (--f-range START:STOP:STEP | --w-range MIN:MAX:STEP --f GHZ |
                        --s-range MIN:MAX:STEP --f GHZ) [--mode zoe|zoo|both]
      Normalised sensitivity of Zoe and/or Zoo (default both) to Er, H, H2, S, W and T.
      Columns: f_ghz (or w, s) zoe zoo s_zoe_er s_zoe_h s_zoe_h2 s_zoe_s s_zoe_w s_zoe_t, s_zoo_...
  kestrelix synthesise  --er --h --h2 --t [--res --sr --tlos] --zo OHM
                        (--coupling DB[,DB...] | --coupling-range STRONG:WEAK:STEP |
                         --zoe-range MAX:MIN:STEP) [--f GHZ]
      W and S for each coupling level (positive dB) or Zoe, from D.C. impedances (--f omitted
      or 0) or at --f GHz. Columns: coupling_db zo zoe zoo w s w_h s_h eff_e eff_o, then the
      synthesised cross-section analysed again at f: an_zo an_zoe an_zoo an_coupling_db
      an_eff_e an_eff_o an_loss_e an_loss_o
  kestrelix tolerance   SECTION --f GHZ [--length L | --centre GHZ] [--rs OHM] [--rl OHM] [--tlos TAN]
                        [--tol-w X] [--tol-s X] [--tol-h X] [--tol-h2 X] [--tol-t X] [--tol-er X]
                        [--dist normal|uniform] [--samples N] [--seed S] [--threads N]
                        [--limit NAME=MIN:MAX ...] [--samples-out FILE.csv]
      Monte Carlo spread of every figure (nominal, mean, std, min, max, 1/5/50/95/99th
      percentiles), yield against each limit and all jointly (95 % Wilson interval), and each
      tolerance's share of the spread. Tolerances are half-widths (normal: 3 sigma). Figures:
      zo zoe zoo coupling_db eff_e eff_o; with a length also coupled_db isolation_db thru_db
      return_loss_db directivity_db vswr phase_error_deg (losses positive dB).
  kestrelix serve       [--port N] [--host ADDR] [--open]
      The local web page on these subcommands, at the address printed (kestrelix serve --help).

  SECTION: --er --h --h2 --w --s --t [--res UOHMCM] [--sr UINCH]
  Common:  --units in|mil|mm|um  every length in and out (default in); losses in dB per unit
           --format table|csv|json (default table); csv and json give every value at full
           float precision (the shortest text that reads back as the same value)
           --defaults FILE  any value not given comes from FILE (Kestrelix.DEF format, its
           lengths in inches); without it a missing value is an error. RES and SR default to 1.7 micro-ohm-cm
           (copper) and 2.5 micro-inch, DLTAN to 0.
  Units as in the dialogue: frequencies GHz, impedances ohms, coupling dB (entered as a
  positive number, printed negative as in the reports), RES micro-ohm-cm, SR micro-inch.
  Losses are printed as the reports print them (negative dB per length unit).

  Exit status: 0 done; 1 a point outside the models' accuracy limits (the rows before it
  are printed, the reasons go to standard error) or a file that cannot be written;
  2 a usage error. Values outside the accuracy limits of the dialogue's warnings are
  reported on standard error and the run goes on.
)";

// The subcommands, in the order --help lists them.
void register_commands(Context& ctx) {
  register_analyse(ctx);
  register_response(ctx);
  register_dispersion(ctx);
  register_sensitivity(ctx);
  register_synthesise(ctx);
  register_tolerance(ctx);
}

std::string one_line(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

}  // namespace

int run_cli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const RunLimits& limits) {
  Context ctx(out, err, kAbout, kFooter);
  ctx.set_limits(limits);
  register_commands(ctx);

  const Parsed parsed = ctx.parse(argc, argv);
  switch (parsed.action) {
    case Parsed::Action::help:
      out << parsed.text;
      out.flush();
      return out ? kExitOk : kExitFailed;
    case Parsed::Action::usage_error:
      err << "kestrelix: " << parsed.text << '\n';
      return kExitUsage;
    case Parsed::Action::version:
      out << kVersion << '\n';
      out.flush();
      return out ? kExitOk : kExitFailed;
    case Parsed::Action::run:
      break;
  }
  if (ctx.command().empty()) {
    err << "kestrelix: a subcommand is needed (analyse, response, dispersion, sensitivity, "
           "synthesise, tolerance); see kestrelix --help\n";
    return kExitUsage;
  }
  const std::string& name = ctx.command();
  try {
    ctx.defaults();  // a faulty --defaults file is reported even when every value is given
    return ctx.run_action();
  } catch (const Interrupted& e) {
    err << "kestrelix " << name << ": stopped by "
        << (e.signal == SIGINT    ? "SIGINT"
            : e.signal == SIGTERM ? "SIGTERM"
                                  : "a signal")
        << '\n';
    return 128 + e.signal;
  } catch (const UsageError& e) {
    err << "kestrelix " << name << ": " << one_line(e.what()) << '\n';
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "kestrelix " << name << ": " << one_line(e.what()) << '\n';
    return kExitFailed;
  }
}

}  // namespace kx::cli
