#include "models/static/static_models.h"
namespace kx {
void mscuppv(Records&, float&, float&, float&, float, float, float, float, int, int, float, float, float) {}
}  // namespace kx
