#include "app/driver.h"
namespace kx {
int run_program(std::istream&, std::ostream&, std::ostream&, const Clock&) { return 1; }
}  // namespace kx
