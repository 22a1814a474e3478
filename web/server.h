// The local web server: the page and its files, and the JSON API (web/api.h)
// on the command line's runs.
//
//   kx::web::Server server(settings);
//   const int port = server.bind();     // throws std::runtime_error with the reason
//   std::cout << server.url() << '\n';
//   server.run();                        // until stop(), from any thread
//
// Only requests whose Host header names the bound address and port are
// answered (421 otherwise: a page of another site cannot reach the server by
// rebinding its name to 127.0.0.1); requests from another origin are 403; no
// CORS headers are sent. Request bodies are capped (413) in every transfer
// coding; a request is read before a worker takes it, within a time limit
// (web/connections.h), so slow clients hold no worker. Every run has a time
// limit and the command line's caps. Runs take turns: the heavy kind
// (tolerance, check, the field solver: web/api.h) on turns of its own, so
// that a long run does not hold up the others; and the turns are shared
// among clients (web/turns.h), so that one page's many runs wait behind
// each other, not in front of another page's.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace kx::web {

struct Settings {
  std::string host = "127.0.0.1";
  int port = 0;                                   // 0: any free port
  unsigned workers = 64;                          // requests served at once
  std::size_t max_connections = 512;              // open at once
  std::size_t max_body = 64 * 1024;               // bytes
  std::chrono::milliseconds request_time{10000};  // for a request's head and body to arrive
  std::chrono::milliseconds time_limit{10000};    // per run
  long long max_points = 100000;                  // points of a sweep
  long long max_samples = 1000000;                // tolerance samples
  // Runs at once of each kind; one client holds at most half of them
  // (rounded up).
  unsigned heavy_runs = 1;                      // the slow kind (web/api.h: is_heavy)
  unsigned heavy_threads = 1;                   // threads of one heavy run
  unsigned light_runs = 4;                      // the quick kind
  std::chrono::milliseconds queue_wait{20000};  // longest wait for a turn
};

class Server {
 public:
  explicit Server(const Settings& settings);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the listening socket; returns the port.
  int bind();
  // "http://127.0.0.1:PORT/" (after bind).
  std::string url() const;
  // Serves until stop(); false when the server could not run.
  bool run();
  // Ends run() and asks the runs in progress to stop; safe from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool is_loopback(const std::string& host);

}  // namespace kx::web
