#include "web/assets.h"

namespace kx::web {

const Asset* find_asset(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (const Asset* a = assets_begin(); a != assets_end(); ++a) {
    if (path == a->path) return a;
  }
  return nullptr;
}

}  // namespace kx::web
