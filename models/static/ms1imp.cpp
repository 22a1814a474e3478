#include "models/static/static_models.h"
namespace kx {
void ms1imp(Records&, float, float, float, float, float, int, int& iflag, int, float, float, float, float&, float&) { iflag = 0; }
}  // namespace kx
