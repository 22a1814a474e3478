// `kestrelix serve [--port N] [--host ADDR] [--open]`: the local web page
// (web/server.h) until SIGINT or SIGTERM. Prints the page's address on
// standard output; binds 127.0.0.1 unless told otherwise (another address
// with a warning on standard error); port 0 is any free port. Exit status:
// 0 stopped by a signal, 1 the server could not start, 2 a usage error.
#pragma once

#include <iosfwd>
#include <string>

namespace kx::web {

int serve_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Starts the user's browser on `url`: the first command of $BROWSER that
// starts (each a program and its arguments, %s standing for the address),
// else xdg-open; no shell is involved. False when none could be started.
bool open_browser(const std::string& url);

}  // namespace kx::web
