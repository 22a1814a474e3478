#include "common/report.h"
#include <ostream>
namespace kx {
Report::Report(std::ostream& console) : console_(console) {}
Report::~Report() { close(); }
void Report::write(std::string_view, std::initializer_list<FtnArg>) {}
void Report::console(std::string_view, std::initializer_list<FtnArg>) {}
void Report::file(std::string_view, std::initializer_list<FtnArg>) {}
void Report::prompt(std::string_view, std::initializer_list<FtnArg>) {}
bool Report::open(const std::string&) { return false; }
void Report::close() {}
void Report::flush() {}
}  // namespace kx
