#include "tolerance/samples_file.h"

#include <charconv>

#include <kestrelix/validity.h>
#include "common/output_file.h"

namespace kx::tol {

SamplesFile::SamplesFile(OutputFile& file, int n_fig, double inches_per_unit,
                         const std::string& unit_name)
    : file_(file), n_fig_(n_fig), unit_(inches_per_unit) {
  std::string head = "index";
  for (int k = 0; k < n_params; ++k) {
    head += std::string(",") + param_names[static_cast<std::size_t>(k)];
    if (k != p_er) head += "_" + unit_name;
  }
  head += ",status,iflag,valid,flags";
  for (int i = 0; i < n_fig; ++i)
    head += std::string(",") + figure_keys[static_cast<std::size_t>(i)];
  head += '\n';
  put(head);
}

void SamplesFile::row(long long index, const Sample& s) {
  char buf[48];
  const auto num = [&](auto v) {
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    line_.append(buf, r.ptr);
  };
  num(index);
  for (int k = 0; k < n_params; ++k) {
    line_ += ',';
    const float v = s.in[static_cast<std::size_t>(k)];
    num(k == p_er ? v : static_cast<float>(static_cast<double>(v) / unit_));
  }
  static constexpr const char* status[] = {"ok", "model", "non_finite", "unphysical"};
  line_ += ',';
  line_ += status[s.status];
  line_ += ',';
  num(s.iflag);
  line_ += s.flags == 0 ? ",true," : ",false,";
  line_ += validity_codes(s.flags);
  for (int i = 0; i < n_fig_; ++i) {
    line_ += ',';
    num(s.fig[static_cast<std::size_t>(i)]);
  }
  line_ += '\n';
  if (line_.size() >= 1u << 16) flush();
}

void SamplesFile::flush() {
  put(line_);
  line_.clear();
}

void SamplesFile::close() { flush(); }

void SamplesFile::put(const std::string& text) { file_.write(text); }

}  // namespace kx::tol
