#include "app/runs.h"
namespace kx {
void add_radiation_loss(State&, float, float&, float&) {}
}  // namespace kx
