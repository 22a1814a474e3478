#include "network/network.h"
namespace kx {
void xline(float, float, float, Abcd&) {}
void taugam(Complex&, Complex&, const Abcd&, float, float) {}
void nmult(int, float&, float&, float, float, float, float) {}
float atn2(float, float) { return 0.0f; }
}  // namespace kx
