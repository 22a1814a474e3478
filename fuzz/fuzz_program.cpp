// Fuzz target: the whole program. One input is split at its first NUL byte
// into a defaults file and the console answers (without a NUL the answers
// meet a fixed, valid defaults file). The run happens in a private working
// directory; the output file name is kept inside it, and the console report is
// bounded so that a run with a huge sweep stays short.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "app/program_limits.h"

namespace {

constexpr std::size_t kMaxConsoleLines = 2000;

constexpr std::string_view kValidDefaults =
    "Kestrelix fuzzing defaults\n"
    "9.8          ER.\n2.0          F.\n6.0          FMAX.\n0.5          FMIN.\n"
    "0.5          FSTEP.\n0.025        H.\n0.25         H2.\n10           Co.\n"
    "6            Cstrong.\n20           Cweak.\n2            Cstep.\n0.6          L.\n"
    "1.7          RES.\n50           RL.\n50           RS.\n0.005        S.\n"
    "0.03         SMAX.\n0.005        SMIN.\n2.5          SR.\n0.005        SSTEP.\n"
    "0.0007       T.\n0.0005       TLOS.\n0.02         W.\n0.04         WMAX.\n"
    "0.01         WMIN.\n0.005        WSTEP.\n50           ZO.\n69.37        ZOE.\n"
    "90           ZOEmax.\n60           ZOEmin.\n5            ZOEstep.\n36.04        ZOO.\n"
    "Coupler.txt\n";

std::string read_file(const char* name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Output names stay in the private directory: a name with a directory part
// becomes one fixed local name.
std::string local_name(const std::string& name) {
  return name.find('/') == std::string::npos ? name : std::string("fuzz_out.txt");
}

kx::DateTime fixed_clock() { return {2026, 12, 7, 9, 5, 3}; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/kx_fuzz_XXXXXX";
  if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  const std::string_view defaults = cut == std::string_view::npos ? kValidDefaults
                                                                  : input.substr(0, cut);
  const std::string_view answers = cut == std::string_view::npos ? input : input.substr(cut + 1);

  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(".", ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
  {
    std::ofstream f("Kestrelix.DEF", std::ios::binary);
    f << defaults;
  }

  std::istringstream in{std::string(answers)};
  std::ostringstream out;
  std::ostringstream err;
  kx::ProgramLimits limits;
  limits.max_console_lines = kMaxConsoleLines;
  limits.output_name = local_name;
  const int status = kx::run_program(in, out, err, fixed_clock, limits);

  if (status != 0 && status != 1) abort();
  if (read_file("Kestrelix.DEF") != defaults) abort();  // the defaults file is never written
  if (status == 1 && err.str().empty() && out.str().find("Kestrelix.DEF") == std::string::npos) {
    abort();  // every end by error says why
  }
  return 0;
}
