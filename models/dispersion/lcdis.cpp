#include "models/dispersion/dispersion.h"
namespace kx {
void lcdis(Records&, float, float, float, float, float, float, int, int&, int, float, float, float, float, float) {}
}  // namespace kx
