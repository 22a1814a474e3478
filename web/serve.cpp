#include "web/serve.h"

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "web/server.h"

extern char** environ;

namespace kx::web {
namespace {

constexpr const char* kFooter =
    R"(The page runs the same models as the subcommands, through the same code: its
numbers are the subcommands' JSON numbers. It is served by this program alone
(no file is read, nothing is fetched from elsewhere). Only requests that name
the address and port printed are answered. Ctrl-C (SIGINT) or SIGTERM stops
the server; exit status 0 then, 1 when it could not start, 2 a usage error.)";

// One program and its arguments, the address in place of %s (or last).
std::vector<std::string> browser_command(const std::string& entry, const std::string& url) {
  std::vector<std::string> argv;
  std::istringstream words(entry);
  std::string w;
  bool placed = false;
  while (words >> w) {
    for (std::size_t at = w.find("%s"); at != std::string::npos;
         at = w.find("%s", at + url.size())) {
      w.replace(at, 2, url);
      placed = true;
    }
    argv.push_back(w);
  }
  if (!argv.empty() && !placed) argv.push_back(url);
  return argv;
}

bool spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attr);
  // The browser gets the signals this server blocks or ignores back.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &files, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  return true;
}

}  // namespace

bool open_browser(const std::string& url) {
  if (const char* browser = std::getenv("BROWSER"); browser != nullptr) {
    std::istringstream entries(browser);
    std::string entry;
    while (std::getline(entries, entry, ':')) {
      const std::vector<std::string> argv = browser_command(entry, url);
      if (!argv.empty() && spawn(argv)) return true;
    }
  }
  return spawn({"xdg-open", url});
}

int serve_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CLI::App app("Start the local web page: design a coupler in the browser, with live plots.",
               "kestrelix serve");
  app.footer(kFooter);
  Settings settings;
  bool open = false;
  app.add_option("--port", settings.port,
                 "TCP port (default 0: any free port; the address is printed)")
      ->type_name("N")
      ->check(CLI::Range(0, 65535));
  app.add_option("--host", settings.host,
                 "Address to listen on (default 127.0.0.1; any other is reachable from other "
                 "machines)")
      ->type_name("ADDR");
  app.add_flag("--open", open, "Start the browser on the page");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help() << std::flush;
    return out ? 0 : 1;
  } catch (const CLI::ParseError& e) {
    std::string msg = e.what();
    for (char& c : msg) {
      if (c == '\n') c = ' ';
    }
    err << "kestrelix serve: " << msg << '\n';
    return 2;
  }
  if (settings.host.empty()) {
    err << "kestrelix serve: --host: the address is empty\n";
    return 2;
  }

  // SIGINT and SIGTERM are taken by one thread (sigwait); every other
  // thread, started below, inherits the mask that blocks them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

#ifdef __GLIBC__
  // Documents of megabytes come and go: blocks that large are mapped and
  // unmapped each time (a fixed threshold, not one that grows with the
  // largest block freed), and a few arenas serve the many threads.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_ARENA_MAX, 4);
#endif
  Server server(settings);
  try {
    server.bind();
  } catch (const std::exception& e) {
    err << "kestrelix serve: " << e.what() << '\n';
    return 1;
  }
  if (!is_loopback(settings.host)) {
    err << "kestrelix serve: warning: listening on " << settings.host
        << ": other machines can reach the page and run computations on this one\n";
  }
  out << server.url() << std::endl;
  if (open && !open_browser(server.url())) {
    err << "kestrelix serve: no browser could be started ($BROWSER, xdg-open): open "
        << server.url() << " yourself\n";
  }

  std::atomic<bool> by_signal{false};
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    by_signal = true;
    server.stop();
  });
  const bool ran = server.run();
  const bool signalled = by_signal;
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter
  waiter.join();
  if (!ran && !signalled) {
    err << "kestrelix serve: the server stopped unexpectedly\n";
    return 1;
  }
  return 0;
}

}  // namespace kx::web
