// The web page's files, embedded in the program at build time
// (cmake/KxEmbed.cmake writes the arrays): the page works offline and the
// installed program needs no file beside it.
#pragma once

#include <cstddef>
#include <string_view>

namespace kx::web {

struct Asset {
  const char* path;          // "/index.html"
  const char* content_type;  // "text/html; charset=utf-8"
  const char* etag;          // "\"0123456789abcdef\"": changes with the content
  const unsigned char* data;
  std::size_t size;
};

const Asset* assets_begin();
const Asset* assets_end();

// The asset served at `path` ("/" is /index.html), nullptr when none.
const Asset* find_asset(std::string_view path);

}  // namespace kx::web
