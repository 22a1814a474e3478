#include "input/dialogue.h"
namespace kx {
DateTime local_clock() { return {}; }
void mscupinp(Console&, Design& design, Records&, float&, float&, float&, float&, float&, float&) { design.isel = -1; }
}  // namespace kx
