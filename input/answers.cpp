#include "input/answers.h"
#include <istream>
namespace kx {
bool read_f13(std::string_view, float& v) { v = 0.0f; return true; }
std::string read_a20(std::string_view) { return std::string(20, ' '); }
int nearest_int(float) { return 0; }
int trunc_int(float) { return 0; }
Answers::Answers(std::istream& in) : in_(in) {}
float Answers::number() { return 0.0f; }
std::string Answers::text20() { return read_a20(line()); }
std::string Answers::line() { return {}; }
}  // namespace kx
