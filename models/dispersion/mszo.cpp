#include "models/dispersion/dispersion.h"
namespace kx {
void mszo(Records&, float, float, float, float, float, float) {}
}  // namespace kx
