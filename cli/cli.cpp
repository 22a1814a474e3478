#include "cli/cli.h"

#include <algorithm>
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "cli/context.h"

namespace kx::cli {
namespace {

constexpr const char* kAbout =
    "kestrelix: coupled transmission lines: edge-coupled microstrip couplers and pairs, board\n"
    "cross-sections on the field solver, wideband losses and R L G C.\n"
    "Without arguments: the console dialogue (it reads its defaults from Kestrelix.DEF in the\n"
    "working folder; an example is installed as share/kestrelix/Kestrelix.DEF). With a\n"
    "subcommand: one run, no questions asked.";

constexpr const char* kFooter =
    R"(Synopsis (columns as CSV and JSON keys; <u> is the length unit of --units):
  kestrelix analyse     SECTION [--f GHZ] [--w-range MIN:MAX:STEP | --s-range MIN:MAX:STEP] [--tlos TAN]
      Zo, Zoe, Zoo, coupling, effective Er and losses of each W or S at the spot frequency
      (0 or omitted: D.C.). Columns: w_<u> s_<u> w_h s_h zo_ohm zoe_ohm zoo_ohm coupling_db
      eff_e eff_o alpha_e_db_per_<u> alpha_o_db_per_<u>
  kestrelix response    SECTION --f-range START:STOP:STEP (--length L | --centre GHZ)
                        [--rs OHM] [--rl OHM] [--tlos TAN] [--touchstone FILE] [--reference OHM]
                        [--no-radiation]
      Four-port response of the coupler between Rs and Rl (default 50 ohms).
      Columns: f_ghz s11_db s11_deg s21_db s21_deg s31_db s31_deg s41_db s41_deg
               vswr phi_deg phase_error_deg total_loss_db i2r_loss_db length_<u>
      Ports: 1 input, 2 coupled, 3 isolated, 4 thru. --touchstone writes the 4x4 S-matrix
      (Touchstone 1.0, real/imaginary) referred to --reference ohms (default 50) at every port;
      --format touchstone writes it to standard output. --no-radiation leaves out the
      radiation loss of the open pair (with --res 0 --sr 0 --tlos 0 the coupler is lossless).
  kestrelix dispersion  SECTION --f-range START:STOP:STEP [--tlos TAN]
      Columns: f_ghz eff_e eff_o eff_c zoe_ohm zoo_ohm zo_ohm quarter_wave_<u>
      alpha_e_db_per_<u> alpha_o_db_per_<u>
  kestrelix sensitivity SECTION (--f-range START:STOP:STEP | --w-range MIN:MAX:STEP --f GHZ |
                        --s-range MIN:MAX:STEP --f GHZ) [--mode zoe|zoo|both]
      Normalised sensitivity of Zoe and/or Zoo (default both) to Er, H, H2, S, W and T.
      Columns: f_ghz (or w_<u>, s_<u>) zoe_ohm zoo_ohm s_zoe_er s_zoe_h s_zoe_h2 s_zoe_s
      s_zoe_w s_zoe_t, s_zoo_...
  kestrelix synthesise  --er --h --h2 --t [--res --sr --tlos] --zo OHM
                        (--coupling DB[,DB...] | --coupling-range STRONG:WEAK:STEP |
                         --zoe-range MAX:MIN:STEP) [--f GHZ [--static]]
      W and S for each coupling level (positive dB) or Zoe, from D.C. impedances (--f omitted
      or 0, or --static) or at --f GHz. Columns: coupling_db zo_ohm zoe_ohm zoo_ohm w_<u> s_<u>
      w_h s_h eff_e eff_o quarter_wave_<u>, then the section analysed again at --f: an_zo_ohm
      an_zoe_ohm an_zoo_ohm an_coupling_db an_eff_e an_eff_o an_alpha_e_db_per_<u> ...
  kestrelix diffpair    SECTION [--f GHZ] [--zdiff OHM [--zcomm OHM]]
      The pair as a differential pair: Zdiff = 2 Zoo, Zcomm = Zoe/2, delays sqrt(eff)/c0.
      --zdiff with --w finds S, with --s finds W; with --zcomm as well finds both.
      Columns: w_<u> s_<u> w_h s_h zdiff_ohm zcomm_ohm zoe_ohm zoo_ohm eff_e eff_o
      delay_e_ps_per_<u> delay_o_ps_per_<u>
  kestrelix tolerance   SECTION --f GHZ [--length L | --centre GHZ] [--rs OHM] [--rl OHM] [--tlos TAN]
                        [--tol-w X] [--tol-s X] [--tol-h X] [--tol-h2 X] [--tol-t X] [--tol-er X]
                        [--tol-etch X] [--f-range START:STOP:STEP]
                        [--dist normal|uniform] [--samples N] [--seed S] [--threads N]
                        [--limit NAME=MIN:MAX ...] [--samples-out FILE.csv]
      Monte Carlo spread of every figure, yield against each limit and all jointly (95 % Wilson
      interval), and each tolerance's share of the spread. Tolerances are half-widths (normal:
      3 sigma), as lengths or percentages (5%); --tol-etch moves both edges of every strip
      (W - 2x, S + 2x). With --f-range a four-port limit must hold across the band.
      Figures: zo zoe zoo coupling_db eff_e eff_o; with a length also coupled_db isolation_db
      thru_db return_loss_db directivity_db vswr phase_error_deg (losses positive dB).
  kestrelix check       SECTION [--f GHZ] [--s-range MIN:MAX:STEP] [--t-range MIN:MAX:STEP] [--map]
      The closed forms beside the field solver: Zoe, Zoo, Zo, coupling, eff_e, eff_o by both,
      their difference and a verdict (rows: quantity unit closed field difference
      difference_pct field_error_pct); with a range, a map of the differences over S and T.
  kestrelix line        (--structure NAME DIMENSIONS | --stackup FILE | --kicad FILE --layer NAME)
                        [--pair] [--z0 OHM | --zdiff OHM [--zcomm OHM | --pitch P]]
                        [--neighbour GAP [--both-sides]] [--check] [--accuracy standard|fine]
                        [--tol-h|er|w|s|t|etch|inset|mask|mask-er X ... --samples N --limit ...]
      Board cross-sections on the general field solver. NAME: microstrip, embedded-microstrip,
      stripline, offset-stripline, gcpw (NAME-pair or --pair: a pair), broadside-pair;
      DIMENSIONS: --h --er [--tand] (below the trace; stripline: each side), --h-above
      --er-above, --h-between --er-between, --w --s --t [--etch-factor F | --top-w W],
      --offset, --ground-gap [--ground-width], --mask-over-trace --mask-er [--mask-on-substrate
      --mask-between --mask-tand]. A stackup file of layers takes --interface N and the trace
      options, a KiCad layer [--above NAME|none] [--below NAME|none] and the trace options.
      Rows by kind: layer, mask, conductor, line (z0_ohm eff delay_ps_per_<u>, c_pf_per_<u>
      l_nh_per_<u>), pair (zdiff_ohm zcomm_ohm zoe_ohm zoo_ohm eff_e eff_o delays), mode,
      crosstalk (kb, kf, kf_per_length_ps_per_<u>), closed (--check); each with
      field_error_pct. --z0 finds W; --zdiff with --w finds S, with --s W, with --pitch or
      --zcomm both. Any --tol-* makes it a tolerance run laid out as tolerance's.
  kestrelix serve       [--port N] [--host ADDR] [--open]
      The local web page on these subcommands, at the address printed (kestrelix serve --help).

  SECTION: --er --h --h2 --w --s --t [--res UOHMCM] [--sr UINCH]; --h2 inf: no cover
  Model:   --model closed|field (default closed): the static values from the closed forms or
           the field solver (the closed forms' dispersion and losses on them; rows add
           field_error_pct); --accuracy standard|fine and --coat-thickness X --coat-er E
           (a solder mask) for the solver only; --check (analyse, dispersion, synthesise):
           every closed-form row also gives field_dev_zoe_pct field_dev_zoo_pct
           field_dev_coupling_db, flagged closed_form_off where Zoe or Zoo is 1 % off
  Common:  --units in|mil|mm|um  every length in and out (default in); losses in dB per unit
           --format table|csv|json (default table); csv and json give every value at full
           precision (the shortest text that reads back as the same value); the table gives
           the precision of the dialogue's reports
           --defaults FILE  any value not given comes from FILE (Kestrelix.DEF format, its
           lengths in inches); without it a missing value is an error. RES and SR default to
           1.7 micro-ohm-cm (copper) and 2.5 micro-inch, DLTAN to 0.
  Signs: coupling in positive dB (in and out), attenuation and losses in positive dB,
  S-parameters in dB as the negative numbers they are.
  Every row carries valid and flags: wh sh (W/H, S/H outside 0.1..10, 0.1..8), er (above 20),
  fh (F*H above 25 GHz-mm), s_lt_2t (S below 2 T); flagged rows are marked with * and named
  on standard error. A reversed --f-range, --w-range or --s-range is a usage error;
  --coupling-range and --zoe-range take their ends in either order. --center = --centre.

  Exit status: 0 done; 1 a point outside the models' validity or not finite (the rows before
  it are printed, the reasons go to standard error), a target that cannot be met, a file
  that cannot or may not be written (the defaults file, the console's own file, a file in
  use) or too little memory; 2 a usage error; 130 and 143 stopped by SIGINT and SIGTERM.
  A file is written whole or not at all.
)";

// The subcommands, in the order --help lists them.
void register_commands(Context& ctx) {
  register_analyse(ctx);
  register_response(ctx);
  register_dispersion(ctx);
  register_sensitivity(ctx);
  register_synthesise(ctx);
  register_tolerance(ctx);
  register_diffpair(ctx);
  register_check(ctx);
  register_line(ctx);
  register_rlgc(ctx);
  register_loss(ctx);
}

std::string one_line(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

}  // namespace

int run_cli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
            const RunLimits& limits) {
  Context ctx(out, err, kAbout, kFooter, limits);
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
           "synthesise, tolerance, diffpair, check, line, rlgc, loss); see kestrelix --help\n";
    return kExitUsage;
  }
  const std::string& name = ctx.command();
  try {
    ctx.defaults();  // a faulty --defaults file is reported even when every value is given
    return ctx.run_action();
  } catch (const UsageError& e) {
    err << "kestrelix " << name << ": " << one_line(e.what()) << '\n';
    return kExitUsage;
  } catch (const Interrupted& e) {
    err << "kestrelix " << name << ": stopped by " << signal_name(e.signal) << '\n';
    return 128 + e.signal;
  } catch (const std::exception& e) {
    err << "kestrelix " << name << ": " << one_line(e.what()) << '\n';
    return kExitFailed;
  }
}

}  // namespace kx::cli
