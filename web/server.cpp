#include "web/server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "common/stop.h"
#include "web/api.h"
#include "web/assets.h"

namespace kx::web {
namespace {

using Clock = std::chrono::steady_clock;

// Nothing on the page may load or send anything from elsewhere.
constexpr const char* kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// Every path the server has: /, a file of the page, /api/NAME.
constexpr const char* kAnyPath = "/(api/)?[A-Za-z0-9_.-]{0,64}";

constexpr std::size_t kLargeReply = std::size_t{1} << 20;  // bytes

// Runs of one kind at once: a turn is waited for until a deadline.
class Gate {
 public:
  explicit Gate(unsigned n) : free_(std::max(1u, n)) {}
  bool enter(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_until(lock, until, [&] { return free_ > 0 || closed_; }) || closed_) {
      return false;
    }
    --free_;
    return true;
  }
  void leave() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++free_;
    }
    cv_.notify_one();
  }
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  unsigned free_;
  bool closed_ = false;
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool is_ip_literal(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool is_wildcard(const std::string& host) { return host == "0.0.0.0" || host == "::"; }

// "[::1]" for an IPv6 address in a URL or Host header.
std::string url_host(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

const char* reason_phrase(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 408:
      return "the request took too long to arrive";
    case 413:
      return "the request body is too large";
    case 414:
      return "the request's address is too long";
    case 416:
      return "range not satisfiable";
    case 431:
      return "the request's headers are too large";
    default:
      return "error";
  }
}

void send(httplib::Response& res, Reply&& r) {
  res.status = r.status;
  for (const auto& [name, value] : r.headers) res.set_header(name, value);
  res.body = std::move(r.body);  // a document may be tens of megabytes: never copied
  res.set_header("Content-Type", r.content_type);
}

// A run with a large document leaves megabytes of small freed blocks in
// the allocator's arenas: they go back to the system, so that the server's
// memory stays flat from one large run to the next.
void release_free_memory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// The HTTP library listens with a queue of 5 connections: fifty clients
// that connect at once would wait a second for a second try. The queue of
// the listening socket is widened after the bind (Linux takes a second
// listen() on a listening socket as a new queue length).
class Http : public httplib::Server {
 public:
  void widen_backlog() { ::listen(svr_sock_, SOMAXCONN); }
};

}  // namespace

bool is_loopback(const std::string& host) {
  const std::string h = lower(host);
  if (h == "localhost" || h == "::1" || h == "[::1]") return true;
  in_addr a{};
  return inet_pton(AF_INET, h.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

struct Server::Impl {
  explicit Impl(const Settings& s) : settings(s), heavy(s.heavy_runs), light(s.light_runs) {}

  Settings settings;
  Http http;
  Api api;
  Gate heavy, light;
  int port = 0;
  std::mutex runs_mutex;
  std::set<Stop*> runs;  // in progress, cancelled by stop()
  bool stopping = false;
  std::atomic<bool> stop_asked{false};
  std::atomic<bool> in_run{false};

  bool host_allowed(const std::string& header) const;
  bool origin_allowed(const std::string& origin) const;
  void routes();
  Reply api_post(const std::string& command, const std::string& body);
  Reply api_touchstone(const Query& query);
  template <typename Call>
  Reply turn(bool heavy_run, const Call& call);
};

bool Server::Impl::host_allowed(const std::string& header) const {
  // HOST:PORT, where HOST is the bound address, or localhost on a loopback
  // or wildcard address, or any address literal on a wildcard address: a
  // name other than localhost may have been rebound by someone else.
  const std::string h = lower(header);
  const std::string suffix = ":" + std::to_string(port);
  if (h.size() <= suffix.size() ||
      h.compare(h.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  std::string name = h.substr(0, h.size() - suffix.size());
  const std::string bound = lower(settings.host);
  if (name == url_host(bound)) return true;
  if (name == "localhost") return is_loopback(bound) || is_wildcard(bound);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  return is_wildcard(bound) && is_ip_literal(name);
}

bool Server::Impl::origin_allowed(const std::string& origin) const {
  const std::string prefix = "http://";
  return origin.empty() || (origin.compare(0, prefix.size(), prefix) == 0 &&
                            host_allowed(origin.substr(prefix.size())));
}

template <typename Call>
Reply Server::Impl::turn(bool heavy_run, const Call& call) {
  Gate& gate = heavy_run ? heavy : light;
  if (!gate.enter(Clock::now() + settings.queue_wait)) {
    Reply r = error_reply(429, "the server is busy with other runs: try again shortly");
    r.headers.emplace_back("Retry-After", "2");
    return r;
  }
  Stop stop;
  stop.set_deadline(Clock::now() + settings.time_limit);
  {
    std::lock_guard<std::mutex> lock(runs_mutex);
    if (stopping) stop.cancel();
    runs.insert(&stop);
  }
  cli::RunLimits limits;
  limits.stop = &stop;
  limits.files = false;
  limits.max_points = settings.max_points;
  limits.max_samples = settings.max_samples;
  limits.max_threads = heavy_run ? settings.heavy_threads : 1;
  Reply r;
  try {
    r = call(limits);
  } catch (const std::exception& e) {
    r = error_reply(500, std::string("internal error: ") + e.what());
  }
  {
    std::lock_guard<std::mutex> lock(runs_mutex);
    runs.erase(&stop);
  }
  gate.leave();
  if (r.body.size() > kLargeReply) release_free_memory();
  if (r.status == 422 && stop.requested()) {
    const auto seconds = std::chrono::duration<double>(settings.time_limit).count();
    r = error_reply(422,
                    "stopped: the run took longer than the server's limit of " +
                        std::to_string(static_cast<long long>(seconds)) + " s",
                    {"ask for fewer points or samples"});
  }
  return r;
}

Reply Server::Impl::api_post(const std::string& command, const std::string& body) {
  if (!api.has(command)) return error_reply(404, "no subcommand '" + command + "' in this build");
  const bool heavy_run = command == "tolerance" || command == "check";
  return turn(heavy_run, [&](const cli::RunLimits& l) { return api.post(command, body, l); });
}

Reply Server::Impl::api_touchstone(const Query& query) {
  return turn(false, [&](const cli::RunLimits& l) { return api.touchstone(query, l); });
}

void Server::Impl::routes() {
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    // The library would compress every text reply the client accepts in a
    // compressed form, brotli at its slowest setting (20 ms for the 10 KB
    // page); on this machine's loopback the plain bytes arrive sooner. The
    // request object is the server's own, not a constant one.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (!host_allowed(req.get_header_value("Host"))) {
      send(res, error_reply(421, "this server answers only to " + url_host(settings.host) + ":" +
                                     std::to_string(port)));
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!origin_allowed(req.get_header_value("Origin"))) {
      send(res, error_reply(403, "requests from other sites are refused"));
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  const auto not_allowed = [](httplib::Response& res, const char* allow) {
    send(res, error_reply(405, std::string("method not allowed here; allowed: ") + allow));
    res.set_header("Allow", allow);
  };

  // The routes are matched by std::regex, whose matcher recurses once per
  // repeated character: a pattern such as ".*" would take megabytes of a
  // worker's stack for a long path, kept by the thread for good. Bounded
  // patterns keep the depth small; any other path is the library's 404.
  http.Get(kAnyPath, [this, not_allowed](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/api/touchstone") {
      Query query(req.params.begin(), req.params.end());
      send(res, api_touchstone(query));
      res.set_header("Cache-Control", "no-store");
      return;
    }
    if (req.path.compare(0, 5, "/api/") == 0) {
      if (api.has(req.path.substr(5))) return not_allowed(res, "POST");
      return send(res, error_reply(404, "no such API route: " + req.path.substr(0, 100)));
    }
    const Asset* a = find_asset(req.path);
    if (a == nullptr)
      return send(res, error_reply(404, "no such page: " + req.path.substr(0, 100)));
    res.set_header("Cache-Control", "no-cache");
    res.set_header("ETag", a->etag);
    if (req.get_header_value("If-None-Match") == a->etag) {
      res.status = 304;
      return;
    }
    res.set_content(reinterpret_cast<const char*>(a->data), a->size, a->content_type);
  });

  http.Post(kAnyPath, [this, not_allowed](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    if (req.path.compare(0, 5, "/api/") != 0) return not_allowed(res, "GET");
    const std::string command = req.path.substr(5);
    if (command == "touchstone") return not_allowed(res, "GET");
    if (!api.has(command)) {
      return send(res, error_reply(404, "no such API route: " + req.path.substr(0, 100)));
    }
    const std::string type = lower(req.get_header_value("Content-Type"));
    if (type.compare(0, 16, "application/json") != 0) {
      return send(res, error_reply(415,
                                   "the request body must be JSON (Content-Type: "
                                   "application/json)"));
    }
    send(res, api_post(command, req.body));
  });

  const auto other = [this, not_allowed](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/api/touchstone" || req.path.compare(0, 5, "/api/") != 0) {
      return not_allowed(res, "GET, HEAD");
    }
    not_allowed(res, "POST");
  };
  http.Put(kAnyPath, other);
  http.Patch(kAnyPath, other);
  http.Delete(kAnyPath, other);
  http.Options(kAnyPath, other);

  // Replies that the HTTP library forms itself (a malformed request, a body
  // above the cap) get a JSON body too.
  http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    send(res, error_reply(res.status, reason_phrase(res.status)));
  });
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        send(res, error_reply(500, "internal error"));
      });
}

Server::Server(const Settings& settings) : impl_(std::make_unique<Impl>(settings)) {
  httplib::Server& http = impl_->http;
  const unsigned workers = std::max(1u, settings.workers);
  http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  http.set_payload_max_length(settings.max_body);
  // A reply goes out as its head and then its body: without this the second
  // write waits for the client's delayed acknowledgement (about 40 ms).
  http.set_tcp_nodelay(true);
  http.set_read_timeout(5, 0);
  http.set_write_timeout(5, 0);
  http.set_keep_alive_timeout(5);
  http.set_keep_alive_max_count(100);
  http.set_default_headers({{"Content-Security-Policy", kPolicy},
                            {"X-Content-Type-Options", "nosniff"},
                            {"X-Frame-Options", "DENY"},
                            {"Referrer-Policy", "no-referrer"},
                            {"Cross-Origin-Opener-Policy", "same-origin"},
                            {"Cross-Origin-Resource-Policy", "same-origin"}});
  impl_->routes();
}

Server::~Server() { stop(); }

int Server::bind() {
  Impl& m = *impl_;
  const int port = m.settings.port == 0 ? m.http.bind_to_any_port(m.settings.host)
                   : m.http.bind_to_port(m.settings.host, m.settings.port) ? m.settings.port
                                                                           : -1;
  if (port < 0) {
    throw std::runtime_error("cannot listen on " + url_host(m.settings.host) + ":" +
                             std::to_string(m.settings.port) +
                             " (address in use, not this machine's, or not allowed)");
  }
  m.http.widen_backlog();
  m.port = port;
  return port;
}

std::string Server::url() const {
  return "http://" + url_host(impl_->settings.host) + ":" + std::to_string(impl_->port) + "/";
}

bool Server::run() {
  Impl& m = *impl_;
  m.in_run = true;
  const bool ok = m.stop_asked || m.http.listen_after_bind();
  m.in_run = false;
  return ok;
}

void Server::stop() {
  Impl& m = *impl_;
  {
    std::lock_guard<std::mutex> lock(m.runs_mutex);
    m.stopping = true;
    for (Stop* s : m.runs) s->cancel();
  }
  m.heavy.close();
  m.light.close();
  // A stop that comes while run() is starting waits until the server
  // listens, so that it is not lost.
  m.stop_asked = true;
  while (m.in_run && !m.http.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m.http.stop();
}

}  // namespace kx::web
