// Fuzz target: the template writer with random templates and values.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ftn_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first 16 bytes (when present) give two floats, an int and a text
  // length; the rest is the template.
  float f1 = 0.0f;
  float f2 = 0.0f;
  int i1 = 0;
  uint32_t tl = 0;
  if (size >= 16) {
    std::memcpy(&f1, data, 4);
    std::memcpy(&f2, data + 4, 4);
    std::memcpy(&i1, data + 8, 4);
    std::memcpy(&tl, data + 12, 4);
    data += 16;
    size -= 16;
  }
  const std::string_view tmpl(reinterpret_cast<const char*>(data), size);
  const std::string text(tl % 64, 'x');
  try {
    (void)kx::ftn_format(tmpl, {f1, i1, std::string_view(text), f2, f1, i1});
    (void)kx::ftn_format(tmpl, {f1, f2, f1, f2}, true);
    (void)kx::ftn_format(tmpl, {});
  } catch (const kx::FtnFormatError&) {
    // A malformed template or a mismatched value is reported, never undefined.
  }
  if (size >= 2) {
    const int w = data[0] % 40;
    const int d = data[1] % 40;
    try {
      (void)kx::ftn_f(f1, w, d);
      (void)kx::ftn_i(i1, w);
      (void)kx::ftn_a(tmpl, w);
    } catch (const kx::FtnFormatError&) {
      // A width or decimal count out of range is reported the same way.
    }
  }
  return 0;
}
