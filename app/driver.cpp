// The program driver: one pass per dialogue. Each pass writes the report
// stamp, runs the chosen analysis or synthesis, closes the report and asks
// for the next OPERATION.
#include "app/driver.h"

#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/program_limits.h"
#include "app/runs.h"
#include "app/state.h"
#include "common/report_testing.h"
#include "common/text.h"

namespace kx {
namespace {

constexpr std::string_view kStamp =
    R"t((/,6X,72(1H-),/,6X,'Kestrelix (v. 1.3)',22X,'Date:',I2,'/',I2,'/',I4,' at ',I2,':',I2,':',I2,'Hours',/,16X,'RF/Microwave Computer-Aided Engineering Design Data For',/,16X,'   Single-Section Edge-Coupled Microstrip Couplers:',/))t";
constexpr std::string_view kClosingRule = R"t((5X,75(1H-)))t";
constexpr std::string_view kStoredNote = R"t((6X,'Output data stored in User filename: ',A20))t";
constexpr std::string_view kNextOperation =
    R"t((/,6X,'Microstrip Coupler calculations completed. Select next OPERATION:',/,10X,' 1: Select a new OPTION for your Microstrip Coupler.',/,10X,' 2: Design a NEW Microstrip Coupler.',/,10X,'*3: EXIT to operating system (Default).'))t";
constexpr std::string_view kOperationPrompt = R"t((6X,'OPERATION selected = '))t";

constexpr int kEnd = 3;  // the starred OPERATION: leave the program

// Report stamp on the console, then (storage on) in the output file.
void write_stamp(State& st, Report& rep, const ProgramLimits& limits) {
  const Design& d = st.design;
  rep.set_storing(d.istore == 1);
  rep.console(kStamp, {d.imon, d.iday, d.iyr, d.ihr, d.imin, d.isec});
  if (d.istore != 1) return;
  // Last guard: the defaults file is never opened for writing, even when the
  // replacement name itself leads to it.
  if (same_file(trimmed(d.fn), "Kestrelix.DEF")) {
    throw FatalError("kestrelix: output file " + printable(trimmed(d.fn)) +
                     " is the defaults file Kestrelix.DEF; it is not overwritten");
  }
  errno = 0;
  const std::string name = limits.output_name ? limits.output_name(trimmed(d.fn)) : d.fn;
  const std::string shown = printable(trimmed(d.fn));
  rep.open(name);
  switch (rep.open_result()) {
    case Report::Open::kOpened:
      break;
    case Report::Open::kFailed: {
      const int err = errno != 0 ? errno : EINVAL;
      throw FatalError("kestrelix: cannot open output file " + shown +
                       " for writing: " + system_reason(err));
    }
    case Report::Open::kInUse:
      throw FatalError("kestrelix: output file " + shown +
                       " is in use by another session; it is not written");
    case Report::Open::kIsConsole:
      throw FatalError("kestrelix: output file " + shown +
                       " is the console input or output; it is not overwritten");
    case Report::Open::kIsDefaults:
      throw FatalError("kestrelix: output file " + shown +
                       " is the defaults file Kestrelix.DEF; it is not overwritten");
    case Report::Open::kBadName:
      throw FatalError("kestrelix: output file name \"" + shown +
                       "\" contains a control character; it is not used");
  }
  rep.file(kStamp, {d.imon, d.iday, d.iyr, d.ihr, d.imin, d.isec});
}

void dispatch(State& st, Report& rep) {
  const Design& d = st.design;
  if (d.ifunc == 2) {
    run_synthesis(st, rep);
  } else if (d.iop == 2) {
    run_frequency(st, rep);
  } else if (d.iop == 3) {
    run_sensitivity(st, rep);
  } else {
    run_impedance(st, rep);
  }
}

void end_of_run(State& st, Report& rep) {
  const Design& d = st.design;
  const bool storing = d.istore == 1;
  if (storing) rep.file(kClosingRule);
  rep.console(kClosingRule);
  if (storing) {
    // The note is true only once the report is in the file.
    rep.flush();
    rep.console(kStoredNote, {std::string_view(d.fn)});
    rep.file(kStoredNote, {std::string_view(d.fn)});
  }
  rep.flush();
}

// The next-OPERATION menu; returns the new isel (3 and above end).
int next_operation(Console& io) {
  io.out.console(kNextOperation);
  io.out.prompt(kOperationPrompt);
  const float sel = io.in.number();
  const int isel = nearest_int(sel);
  return isel <= 0 ? kEnd : isel;
}

}  // namespace

// The records a pass starts from: the even/odd pair of the design's
// default Zoe and Zoo.
void start_pass(State& st) {
  const Design& d = st.design;
  st.rec.lcdis1.zoef = d.zoedef;
  st.rec.lcdis1.zoof = d.zoodef;
}

namespace {

int run(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock, bool terminal,
        const ProgramLimits& limits) {
  Answers answers(in);
  Report rep(out);
  ReportTesting::set_line_limit(rep, limits.max_console_lines);
  if (terminal) {
    answers.set_retry([&rep](const std::string& message) { rep.ask_again(message); });
  }
  Console io{answers, rep, clock};
  const auto st = std::make_unique<State>();
  Design& d = st->design;
  // Every end by error: what is buffered is written out first (the output
  // file keeps everything written so far), then one line says why.
  const auto fail = [&](const std::string& message, int status) {
    const std::string also = rep.close_after_error();
    err << message << '\n';
    if (!also.empty() && also != message) err << also << '\n';
    err.flush();
    return status;
  };
  try {
    d.isel = 0;
    do {
      mscupinp(io, d, st->rec, st->rec.lcfa1.fo);
      if (d.isel == -1) {
        const std::string also = rep.close_after_error();
        if (also.empty()) return 1;
        return fail(also, 1);
      }
      start_pass(*st);
      write_stamp(*st, rep, limits);
      dispatch(*st, rep);
      end_of_run(*st, rep);
      d.isel = next_operation(io);
    } while (d.isel <= 2);
    rep.close();
    rep.flush();
  } catch (const Interrupted& e) {
    return fail(e.what(), 128 + e.signal);
  } catch (const std::runtime_error& e) {
    // End of input, an answer that is not a number, a file that cannot be
    // opened or written.
    return fail(e.what(), 1);
  } catch (const std::exception& e) {
    return fail(std::string("kestrelix: internal error: ") + e.what(), 1);
  }
  return 0;
}

}  // namespace

int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock,
                bool terminal) {
  return run(in, out, err, clock, terminal, ProgramLimits{});
}

int run_program(std::istream& in, std::ostream& out, std::ostream& err, const Clock& clock,
                const ProgramLimits& limits) {
  return run(in, out, err, clock, false, limits);
}

}  // namespace kx
