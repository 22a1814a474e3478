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
// CORS headers are sent. Request bodies are capped (413), every run has a
// time limit and the command line's caps, and tolerance runs take turns on a
// pool of their own, so a long one does not hold up the others.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace kx::web {

struct Settings {
  std::string host = "127.0.0.1";
  int port = 0;                                 // 0: any free port
  unsigned workers = 64;                        // connections served at once
  std::size_t max_body = 64 * 1024;             // bytes
  std::chrono::milliseconds time_limit{10000};  // per run
  long long max_points = 100000;                // points of a sweep
  long long max_samples = 1000000;              // tolerance samples
  unsigned heavy_runs = 1;                      // tolerance runs at once
  unsigned heavy_threads = 1;                   // threads of one tolerance run
  unsigned light_runs = 4;                      // other runs at once
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
