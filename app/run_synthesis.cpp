#include "app/runs.h"
namespace kx {
void run_synthesis(State&, Report&) {}
}  // namespace kx
