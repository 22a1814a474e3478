#include "common/ftn_format.h"
namespace kx {
std::string ftn_format(std::string_view, std::initializer_list<FtnArg>, bool) { return {}; }
std::string ftn_f(float, int, int) { return {}; }
std::string ftn_i(int, int) { return {}; }
std::string ftn_a(std::string_view, int) { return {}; }
}  // namespace kx
