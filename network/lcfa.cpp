#include "network/network.h"
namespace kx {
void lcfa(Records&, float, float, float, float, float, float, float, float, float) {}
}  // namespace kx
