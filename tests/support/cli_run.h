// The command line run in-process for the tests: its status and what it
// wrote, and a scratch folder for the files it writes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"

namespace kx::test {

struct CliRun {
  int status{};
  std::string out, err;
  nlohmann::json doc() const { return nlohmann::json::parse(out); }
};

// `kestrelix ARGS...`
inline CliRun run_cli(std::vector<std::string> args, const cli::RunLimits& limits = {}) {
  args.insert(args.begin(), "kestrelix");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  const int status = cli::run_cli(static_cast<int>(argv.size()), argv.data(), out, err, limits);
  return {status, out.str(), err.str()};
}

inline std::vector<std::string> with(std::vector<std::string> head,
                                     const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// A fresh folder under the system's temporary one, removed with all it holds
// at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& stem = "kx_test") {
    std::string tmpl = (std::filesystem::temp_directory_path() / (stem + "_XXXXXX")).string();
    const char* made = ::mkdtemp(tmpl.data());
    if (made == nullptr) throw std::runtime_error("no scratch folder under " + tmpl);
    dir_ = made;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace kx::test
