#include "web/server.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <httplib.h>

#include "common/stop.h"
#include "web/api.h"
#include "web/assets.h"
#include "web/connections.h"
#include "web/turns.h"

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

// The header by which the page names itself (a random word per page load),
// so that the runs of one page take turns with another page's.
constexpr const char* kClientHeader = "Kestrelix-Client";

// Requests of one client waiting for a turn or running, of each kind.
constexpr unsigned kClientRequests = 8;

// The keep-alive a reply announces, which reception keeps.
constexpr int kIdleSeconds = 5;
constexpr unsigned kRequestsPerConnection = 100;

// Security headers of every reply.
const httplib::Headers& security_headers() {
  static const httplib::Headers headers = {{"Content-Security-Policy", kPolicy},
                                           {"X-Content-Type-Options", "nosniff"},
                                           {"X-Frame-Options", "DENY"},
                                           {"Referrer-Policy", "no-referrer"},
                                           {"Cross-Origin-Opener-Policy", "same-origin"},
                                           {"Cross-Origin-Resource-Policy", "same-origin"}};
  return headers;
}

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
    case 503:
      return "the server has too many connections open: try again shortly";
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

// A refusal that reception sends by itself, before the HTTP library sees
// the request: the same JSON error and headers as every other reply.
std::string refusal(int status) {
  const Reply r = error_reply(status, reason_phrase(status));
  std::ostringstream out;
  const char* text = status == 400   ? "Bad Request"
                     : status == 408 ? "Request Timeout"
                     : status == 431 ? "Request Header Fields Too Large"
                                     : "Service Unavailable";
  out << "HTTP/1.1 " << status << " " << text << "\r\n"
      << "Content-Type: " << r.content_type << "\r\n"
      << "Content-Length: " << r.body.size() << "\r\n"
      << "Connection: close\r\n";
  if (status == 503) out << "Retry-After: 1\r\n";
  for (const auto& [name, value] : security_headers()) out << name << ": " << value << "\r\n";
  out << "\r\n" << r.body;
  return out.str();
}

// The HTTP library's server, with its connections handed to Connections:
// the library accepts them and handles each request, reception reads them.
class Http : public httplib::Server {
 public:
  explicit Http(Connections& connections) : connections_(connections) {
    // The library's accept loop hands each new connection to its task
    // queue; this one passes it to reception at once.
    new_task_queue = [this] { return new Handover(connections_); };
  }

  // The library listens with a queue of 5 connections: fifty clients that
  // connect at once would wait a second for a second try. The queue of the
  // listening socket is widened after the bind (Linux takes a second
  // listen() on a listening socket as a new queue length).
  void widen_backlog() { ::listen(svr_sock_, SOMAXCONN); }

  bool serve(httplib::Stream& stream, bool last, bool& closed) {
    return process_request(stream, last, closed, nullptr);
  }

 private:
  class Handover : public httplib::TaskQueue {
   public:
    explicit Handover(Connections& c) : connections_(c) {}
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override { connections_.stop(); }

   private:
    Connections& connections_;
  };

  bool process_and_close_socket(socket_t sock) override {
    connections_.admit(sock);
    return true;
  }

  Connections& connections_;
};

bool is_token(const std::string& s) {
  return !s.empty() && s.size() <= 64 && std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

// Who a request comes from, for its share of the runs. Another machine is
// one client, whatever it says. On this machine every client has the same
// address: a page is the client its header names; a program that names
// none is one client per connection (HTTP/1.1 carries one request at a
// time on a connection, and a source port per connection).
std::string client_of(const httplib::Request& req) {
  std::string address = req.remote_addr;
  if (address.compare(0, 7, "::ffff:") == 0) address = address.substr(7);
  if (!is_loopback(address)) return address;
  const std::string page = req.get_header_value(kClientHeader);
  if (is_token(page)) return "page " + page;
  return address + " port " + std::to_string(req.remote_port);
}

}  // namespace

bool is_loopback(const std::string& host) {
  const std::string h = lower(host);
  if (h == "localhost" || h == "::1" || h == "[::1]") return true;
  in_addr a{};
  return inet_pton(AF_INET, h.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

namespace {

ConnectionLimits connection_limits(const Settings& s) {
  ConnectionLimits l;
  l.workers = s.workers;
  l.max_connections = s.max_connections;
  l.max_requests = kRequestsPerConnection;
  l.max_body = s.max_body;
  l.idle = std::chrono::seconds(kIdleSeconds);
  l.request = s.request_time;
  return l;
}

}  // namespace

struct Server::Impl {
  explicit Impl(const Settings& s)
      : settings(s),
        connections(
            connection_limits(s),
            [this](httplib::Stream& stream, bool last, bool& closed) {
              return http.serve(stream, last, closed);
            },
            refusal),
        http(connections),
        heavy(s.heavy_runs, (s.heavy_runs + 1) / 2),
        light(s.light_runs, (s.light_runs + 1) / 2) {}

  Settings settings;
  Connections connections;
  Http http;
  Api api;
  Turns heavy, light;
  int port = 0;
  std::mutex runs_mutex;
  std::set<Stop*> runs;  // in progress, cancelled by stop()
  bool stopping = false;
  std::atomic<bool> stop_asked{false};
  std::atomic<bool> in_run{false};

  bool host_allowed(const std::string& header) const;
  bool origin_allowed(const std::string& origin) const;
  std::optional<Reply> refused_head(const httplib::Request& req) const;
  void routes();
  Reply api_post(const std::string& command, const std::string& body, const std::string& client);
  Reply api_touchstone(const Query& query, const std::string& client);
  Reply unread_body(bool too_large) const;
  template <typename Call>
  Reply turn(bool heavy_run, const std::string& client, const Call& call);
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

// A request that is refused on its head alone, before its body is read.
std::optional<Reply> Server::Impl::refused_head(const httplib::Request& req) const {
  if (req.get_header_value_count("Host") > 1 || req.get_header_value_count("Origin") > 1) {
    return error_reply(400, "a repeated Host or Origin header");
  }
  if (!host_allowed(req.get_header_value("Host"))) {
    return error_reply(421, "this server answers only to " + url_host(settings.host) + ":" +
                                std::to_string(port));
  }
  if (!origin_allowed(req.get_header_value("Origin"))) {
    return error_reply(403, "requests from other sites are refused");
  }
  // The body's framing: one length, or chunks.
  const std::size_t lengths = req.get_header_value_count("Content-Length");
  const std::string length = req.get_header_value("Content-Length");
  const bool chunks = req.has_header("Transfer-Encoding");
  if (lengths > 1 ||
      (lengths == 1 &&
       (chunks || length.empty() || length.find_first_not_of("0123456789") != std::string::npos))) {
    return error_reply(400, "the request's length is unclear");
  }
  if (chunks && lower(req.get_header_value("Transfer-Encoding")) != "chunked") {
    return error_reply(501, "a transfer coding other than chunked");
  }
  // A compressed body would be decoded to any size before a handler saw it.
  const std::string coding = lower(req.get_header_value("Content-Encoding"));
  if (!coding.empty() && coding != "identity") {
    return error_reply(415, "the request body must not be compressed");
  }
  if (length.size() > 18 || (!length.empty() && std::stoull(length) > settings.max_body)) {
    return error_reply(413, reason_phrase(413));
  }
  return std::nullopt;
}

Reply Server::Impl::unread_body(bool too_large) const {
  const Connections::Body body = connections.body();
  if (too_large || body.too_large) return error_reply(413, reason_phrase(413));
  if (body.late) return error_reply(408, reason_phrase(408));
  return error_reply(400, "the request body is incomplete or malformed");
}

template <typename Call>
Reply Server::Impl::turn(bool heavy_run, const std::string& client, const Call& call) {
  Turns& turns = heavy_run ? heavy : light;
  if (turns.load(client) >= kClientRequests) {
    Reply r = error_reply(429, "too many requests of this client at once: wait for their replies");
    r.headers.emplace_back("Retry-After", "1");
    return r;
  }
  if (!turns.enter(client, Clock::now() + settings.queue_wait)) {
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
  turns.leave(client);
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

Reply Server::Impl::api_post(const std::string& command, const std::string& body,
                             const std::string& client) {
  if (!api.has(command)) return error_reply(404, "no subcommand '" + command + "' in this build");
  bool heavy_run = false;
  try {
    heavy_run = is_heavy(command_line(command, body));
  } catch (const BadRequest&) {  // refused by the run at once
  }
  return turn(heavy_run, client,
              [&](const cli::RunLimits& l) { return api.post(command, body, l); });
}

Reply Server::Impl::api_touchstone(const Query& query, const std::string& client) {
  bool heavy_run = false;
  try {
    heavy_run = is_heavy(command_line("response", query));
  } catch (const BadRequest&) {  // refused by the run at once
  }
  return turn(heavy_run, client, [&](const cli::RunLimits& l) { return api.touchstone(query, l); });
}

void Server::Impl::routes() {
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    // The library would compress every text reply the client accepts in a
    // compressed form, brotli at its slowest setting (20 ms for the 10 KB
    // page); on this machine's loopback the plain bytes arrive sooner. The
    // request object is the server's own, not a constant one.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (std::optional<Reply> refused = refused_head(req)) {
      send(res, std::move(*refused));
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // A client that waits for "100 Continue" before it sends the body gets
  // the refusal instead.
  http.set_expect_100_continue_handler([this](const httplib::Request& req, httplib::Response& res) {
    std::optional<Reply> refused = refused_head(req);
    if (!refused) return 100;
    send(res, std::move(*refused));
    return res.status;
  });
  // A reply to a request whose body was left unread ends its connection:
  // the rest of that body cannot be told from the next request.
  http.set_post_routing_handler([this](const httplib::Request&, httplib::Response& res) {
    if (!connections.body().finished) res.set_header("Connection", "close");
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
      send(res, api_touchstone(query, client_of(req)));
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

  // The body is read here, counted as it comes: in any transfer coding it
  // is refused as soon as it passes the limit.
  http.Post(kAnyPath, [this, not_allowed](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& read) {
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
    std::string body;
    bool too_large = false;
    const bool whole = read([&](const char* data, std::size_t n) {
      too_large = n > settings.max_body - body.size();
      if (!too_large) body.append(data, n);
      return !too_large;
    });
    if (!whole) return send(res, unread_body(too_large));
    send(res, api_post(command, body, client_of(req)));
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
  http.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    // A chunked body past the wire's bound, read by the library for a route
    // that takes no body.
    if (res.status == 400 && connections.body().too_large) res.status = 413;
    // After a request the library could not read, what follows on its
    // connection cannot be trusted to be the next request.
    if (res.status != 404) {
      connections.close_after();
      res.set_header("Connection", "close");
    }
    send(res, error_reply(res.status, reason_phrase(res.status)));
  });
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        send(res, error_reply(500, "internal error"));
      });
}

Server::Server(const Settings& settings) : impl_(std::make_unique<Impl>(settings)) {
  httplib::Server& http = impl_->http;
  http.set_payload_max_length(settings.max_body);
  // Reading and writing are bounded by Connections; these are what a
  // reply announces.
  http.set_keep_alive_timeout(kIdleSeconds);
  http.set_keep_alive_max_count(kRequestsPerConnection);
  http.set_default_headers(security_headers());
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
  try {
    m.connections.start();
  } catch (const std::exception&) {
    m.in_run = false;
    return false;
  }
  const bool ok = m.stop_asked || m.http.listen_after_bind();
  m.connections.stop();
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
