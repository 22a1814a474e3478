#include "models/loss/loss.h"
namespace kx {
void ms1los(Records&, float& ate, float& ato, float, float, float, float, float, float, float, float, float, float) { ate = 0.0f; ato = 0.0f; }
}  // namespace kx
