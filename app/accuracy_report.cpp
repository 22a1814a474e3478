#include "app/runs.h"
namespace kx {
void accuracy_report(State&, Report&) {}
}  // namespace kx
