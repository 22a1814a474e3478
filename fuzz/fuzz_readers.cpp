// Fuzz target: the "(F13.0)" number reader, the "(A20)" text reader and the
// menu conversions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "input/answers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  float value = 0.0f;
  if (kx::read_f13(line, value)) {
    if (!std::isfinite(value)) __builtin_trap();  // accepted values are finite
    (void)kx::nearest_int(value);
    (void)kx::trunc_int(value);
    (void)kx::trunc_int(value + 0.1f);
  }
  if (kx::read_a20(line).size() != 20) __builtin_trap();

  std::istringstream in{std::string(line)};
  kx::Answers answers(in);
  try {
    for (int k = 0; k < 64; ++k) {
      (void)answers.number();
      (void)answers.text20();
    }
  } catch (const kx::InputError&) {
    // End of input or an answer that is not a number: the documented stop.
  }
  return 0;
}
