#include "models/dispersion/dispersion.h"
namespace kx {
void lceff(Records&, float, float, float, float, float, float, int, int, float, float, float) {}
}  // namespace kx
