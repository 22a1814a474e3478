// The samples file of a tolerance run: one CSV line per sample, written
// through the output-file path (whole or not at all: its owner commits it).
#pragma once

#include <string>

#include "tolerance/sampling.h"

namespace kx {
class OutputFile;
}  // namespace kx

namespace kx::tol {

class SamplesFile {
 public:
  // The header line: the drawn quantities in the unit `unit_name`
  // (inches_per_unit inches), the status and validity, the n_fig figures.
  SamplesFile(OutputFile& file, int n_fig, double inches_per_unit, const std::string& unit_name);
  SamplesFile(const SamplesFile&) = delete;
  SamplesFile& operator=(const SamplesFile&) = delete;

  void row(long long index, const Sample& s);
  void close();

 private:
  void flush();
  void put(const std::string& text);

  OutputFile& file_;
  int n_fig_;
  double unit_;
  std::string line_;
};

}  // namespace kx::tol
