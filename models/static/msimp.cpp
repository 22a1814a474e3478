#include "models/static/static_models.h"
namespace kx {
void msimp(Records&, float, float, float, float, float) {}
}  // namespace kx
