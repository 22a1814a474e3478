// The web server's connections, between the listening socket and the HTTP
// library's request handling.
//
// One reception thread waits on every open connection (epoll) and reads
// each request's head, and its body when the head gives its length, before
// a worker is taken: a client that sends its request slowly holds no
// worker, only a socket and a buffer. A complete request goes to one of the
// workers, which serves it through `Serve` (the library's request handling
// on a Wire, this file's stream), then hands the connection back to
// reception for the next request or to be closed.
//
// Bounds: a request must begin within `idle` of the connection's opening
// or of the reply before it; its head (and a body of declared length) must
// be complete within `request` of its first byte, and a body read by the
// worker (a chunked one) within `request` more; a head above `max_head`
// bytes is refused (431), a request that does not arrive in time gets 408;
// a body read by the worker stops at `max_body` bytes of content (chunked:
// four times that of the wire, for the chunks' framing); a reply must be
// written within `reply`; `max_connections` are open at once (503 beyond).
// A connection is closed by shutting down its sending side and reading
// what the client still sends for a moment (2 s, 1 MiB), so that a refusal
// sent before the request's end reaches the client.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

namespace kx::web {

struct ConnectionLimits {
  unsigned workers = 64;
  std::size_t max_connections = 512;
  unsigned max_requests = 100;  // on one connection
  std::size_t max_head = 32 * 1024;
  std::size_t max_body = 64 * 1024;
  std::chrono::milliseconds idle{5000};
  std::chrono::milliseconds request{10000};
  std::chrono::milliseconds reply{60000};
};

class Connections {
 public:
  // Serves one request from `stream`; `last`: the connection closes after
  // it. Sets `closed` when the request asked for the connection to close;
  // false when the connection failed.
  using Serve = std::function<bool(httplib::Stream& stream, bool last, bool& closed)>;
  // The whole reply (head and body) with which reception refuses a
  // request: 400, 408, 431 or 503.
  using Refusal = std::function<std::string(int status)>;

  Connections(const ConnectionLimits& limits, Serve serve, Refusal refusal);
  ~Connections();
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;

  void start();
  // A new connection, from then on this object's to close. Any thread.
  void admit(int fd);
  // Closes the connections that wait and waits for the requests being
  // served. Any thread, more than once.
  void stop();

  // The body of the request served on the calling thread (a worker).
  struct Body {
    bool finished = true;    // read to its end (or none): the connection can serve another
    bool too_large = false;  // refused at the limit
    bool late = false;       // did not arrive in time
  };
  Body body() const;
  // Closes the connection after the reply to the request served on the
  // calling thread (a worker): a request the library could not read.
  void close_after();

 private:
  struct Conn;
  class Wire;
  using ConnPtr = std::unique_ptr<Conn>;

  void receive();
  void work();
  void enter(ConnPtr c);  // into reception (from any thread)
  void examine(ConnPtr& c, bool& done);
  void refuse(ConnPtr& c, int status);
  void close_now(ConnPtr c);
  bool wait(const Conn& c, short events, std::chrono::steady_clock::time_point until,
            bool stoppable) const;

  const ConnectionLimits limits_;
  Serve serve_;
  Refusal refusal_;

  mutable std::mutex mutex_;
  std::condition_variable ready_cv_;
  std::deque<ConnPtr> incoming_;  // for reception
  std::deque<ConnPtr> ready_;     // complete requests, for the workers
  std::map<std::thread::id, Conn*> serving_;
  std::size_t open_ = 0;
  bool started_ = false;
  bool stopping_ = false;

  int epoll_ = -1;
  int wake_ = -1;                   // eventfd: something for reception
  int halt_ = -1;                   // eventfd: readable once stop() began
  std::map<int, ConnPtr> waiting_;  // reception's own
  std::thread reception_;
  std::vector<std::thread> workers_;
};

}  // namespace kx::web
