#include "models/static/static_models.h"
namespace kx {
void lcwta(float, float, float, float, float w, float& wte, float& wto) { wte = w; wto = w; }
}  // namespace kx
