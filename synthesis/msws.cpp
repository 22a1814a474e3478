#include "synthesis/synthesis.h"
namespace kx {
void msws(Records&, float, float, float, float, int& iflag, float&, float, float&, float, float) { iflag = 0; }
}  // namespace kx
