#include "models/static/static_models.h"
namespace kx {
void sl1zo(float&, float&, int, float&, float&, float&) {}
}  // namespace kx
