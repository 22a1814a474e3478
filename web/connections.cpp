#include "web/connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kx::web {
namespace {

using Clock = std::chrono::steady_clock;

// What a connection being closed may still send (read and dropped).
constexpr std::chrono::milliseconds kLinger{2000};
constexpr std::size_t kLingerBytes = std::size_t{1} << 20;
constexpr std::chrono::milliseconds kTick{100};  // reception looks at the deadlines this often
constexpr std::size_t kReadSize = 16 * 1024;
constexpr int kEvents = 64;

// How a request's body is delimited (its head says).
enum class Framing { none, length, chunked, unclear };

struct Head {
  Framing framing = Framing::none;
  std::uint64_t length = 0;  // Framing::length
  bool expect = false;       // the client waits for "100 Continue" before the body
};

bool named(const std::string& line, std::size_t colon, const char* name) {
  const std::size_t n = std::strlen(name);
  if (colon != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  }
  return true;
}

// The length of the head at the start of `in` (through its empty line),
// looking for it from `from` on; 0 while it is incomplete.
std::size_t head_length(const std::string& in, std::size_t from) {
  for (std::size_t i = in.find('\n', from); i != std::string::npos; i = in.find('\n', i + 1)) {
    const bool empty_line = i == 0 || in[i - 1] == '\n' ||
                            (in[i - 1] == '\r' && (i == 1 || in[i - 2] == '\n'));
    if (empty_line) return i + 1;
  }
  return 0;
}

Head parse_head(const std::string& in, std::size_t length) {
  Head h;
  int lengths = 0;
  bool valid_length = true;
  bool coded = false;
  std::size_t at = in.find('\n') + 1;  // after the request line
  while (at < length) {
    std::size_t end = in.find('\n', at);
    std::string line = in.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::size_t v = line.find_first_not_of(" \t", colon + 1);
    std::string value = v == std::string::npos ? "" : line.substr(v);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (named(line, colon, "content-length")) {
      ++lengths;
      valid_length = valid_length && !value.empty() && value.size() <= 18 &&
                     value.find_first_not_of("0123456789") == std::string::npos;
      if (valid_length) h.length = std::stoull(value);
    } else if (named(line, colon, "transfer-encoding")) {
      coded = true;
    } else if (named(line, colon, "expect")) {
      h.expect = true;
    }
  }
  if (coded) {
    h.framing = lengths == 0 ? Framing::chunked : Framing::unclear;
  } else if (lengths == 1 && valid_length) {
    h.framing = Framing::length;
  } else if (lengths > 0) {
    h.framing = Framing::unclear;
  }
  return h;
}

std::string address_text(const sockaddr_storage& a, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  }
  return text;
}

}  // namespace

struct Connections::Conn {
  int fd = -1;
  std::string peer;
  int peer_port = 0;
  std::string in;  // received, from `pos` on not yet taken by the library
  std::size_t pos = 0;
  std::size_t scanned = 0;  // bytes of `in` searched for the head's end
  std::size_t head = 0;     // the head's length, 0 while incomplete
  Head framing;
  std::uint64_t awaited = 0;    // body bytes reception waits for
  std::uint64_t body_left = 0;  // body bytes of the wire the library may still take
  bool begun = false;           // a byte of the request has come
  bool eof = false;
  bool closing = false;
  std::size_t dropped = 0;  // read and dropped while closing
  bool too_large = false;
  bool late = false;
  bool close_after = false;
  Clock::time_point deadline;    // in reception
  Clock::time_point body_until;  // a worker's reading of the body
  Clock::duration write_left{};  // a worker's waiting for the client to take the reply
  unsigned served = 0;

  bool body_finished() const {
    return framing.framing == Framing::none ||
           (framing.framing == Framing::length && body_left == 0);
  }
};

// The library's stream on a connection: the head from reception's buffer,
// then the body within its bounds.
class Connections::Wire final : public httplib::Stream {
 public:
  Wire(const Connections& owner, Conn& c) : owner_(owner), c_(c) {}

  bool is_readable() const override {
    return c_.pos < c_.in.size() || owner_.wait(c_, POLLIN, c_.body_until, true);
  }
  bool is_writable() const override { return owner_.wait(c_, POLLOUT, Clock::now(), false); }

  ssize_t read(char* ptr, size_t size) override {
    if (c_.pos < c_.head) return take(ptr, std::min(size, c_.head - c_.pos));
    if (c_.body_left == 0) {
      if (c_.framing.framing != Framing::chunked) return 0;  // the end of this request
      c_.too_large = true;
      return -1;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, c_.body_left));
    if (c_.pos < c_.in.size()) return body(take(ptr, std::min(n, c_.in.size() - c_.pos)));
    for (;;) {
      const ssize_t got = ::recv(c_.fd, ptr, n, MSG_DONTWAIT);
      if (got > 0) return body(got);
      if (got == 0) {
        c_.eof = true;
        return 0;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      if (!owner_.wait(c_, POLLIN, c_.body_until, true)) {
        c_.late = Clock::now() >= c_.body_until;
        return -1;
      }
    }
  }

  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      const ssize_t n = ::send(c_.fd, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      // The client does not take the reply: its waits add up to a bound.
      const auto start = Clock::now();
      const bool ready = owner_.wait(c_, POLLOUT, start + c_.write_left, true);
      c_.write_left -= Clock::now() - start;
      if (!ready) return -1;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.peer;
    port = c_.peer_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    port = 0;
    ip = ::getsockname(c_.fd, reinterpret_cast<sockaddr*>(&a), &n) == 0 ? address_text(a, port)
                                                                        : "";
  }
  socket_t socket() const override { return c_.fd; }

 private:
  ssize_t take(char* ptr, std::size_t n) {
    std::memcpy(ptr, c_.in.data() + c_.pos, n);
    c_.pos += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t body(ssize_t n) {
    c_.body_left -= static_cast<std::uint64_t>(n);
    return n;
  }

  const Connections& owner_;
  Conn& c_;
};

Connections::Connections(const ConnectionLimits& limits, Serve serve, Refusal refusal)
    : limits_(limits), serve_(std::move(serve)), refusal_(std::move(refusal)) {}

Connections::~Connections() { stop(); }

void Connections::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_ || stopping_) return;
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  halt_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_ < 0 || wake_ < 0 || halt_ < 0) throw std::runtime_error("cannot wait on connections");
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = wake_;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
  started_ = true;
  reception_ = std::thread([this] { receive(); });
  for (unsigned i = 0; i < std::max(1u, limits_.workers); ++i) {
    workers_.emplace_back([this] { work(); });
  }
}

void Connections::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    if (!started_) return;
  }
  const std::uint64_t one = 1;
  (void)!::write(wake_, &one, sizeof one);
  (void)!::write(halt_, &one, sizeof one);
  ready_cv_.notify_all();
  reception_.join();
  for (std::thread& t : workers_) t.join();
  std::deque<ConnPtr> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    left.swap(ready_);
    for (ConnPtr& c : incoming_) left.push_back(std::move(c));
    incoming_.clear();
  }
  for (ConnPtr& c : left) close_now(std::move(c));
  ::close(epoll_);
  ::close(wake_);
  ::close(halt_);
}

void Connections::admit(int fd) {
  bool refused = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!started_ || stopping_) {
      ::close(fd);
      return;
    }
    refused = open_ >= limits_.max_connections;
    if (!refused) ++open_;
  }
  if (refused) {
    const std::string reply = refusal_(503);
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    return;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int yes = 1;
  // A reply goes out as its head and then its body: without this the second
  // write waits for the client's delayed acknowledgement (about 40 ms).
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  auto c = std::make_unique<Conn>();
  c->fd = fd;
  sockaddr_storage a{};
  socklen_t n = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    c->peer = address_text(a, c->peer_port);
  }
  c->deadline = Clock::now() + limits_.idle;
  enter(std::move(c));
}

Connections::Body Connections::body() const {
  Body b;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = serving_.find(std::this_thread::get_id());
  if (at == serving_.end()) return b;
  b.finished = at->second->body_finished();
  b.too_large = at->second->too_large;
  b.late = at->second->late;
  return b;
}

void Connections::close_after() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = serving_.find(std::this_thread::get_id());
  if (at != serving_.end()) at->second->close_after = true;
}

void Connections::enter(ConnPtr c) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) {
      incoming_.push_back(std::move(c));
      const std::uint64_t one = 1;
      (void)!::write(wake_, &one, sizeof one);
      return;
    }
  }
  close_now(std::move(c));
}

void Connections::close_now(ConnPtr c) {
  ::close(c->fd);
  std::lock_guard<std::mutex> lock(mutex_);
  --open_;
}

bool Connections::wait(const Conn& c, short events, Clock::time_point until, bool stoppable) const {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd p[2] = {{c.fd, events, 0}, {halt_, POLLIN, 0}};
    const int r =
        ::poll(p, stoppable ? 2 : 1, static_cast<int>(std::clamp<long long>(left, 0, 1000)));
    if (r < 0 && errno != EINTR) return false;
    if (r > 0 && stoppable && p[1].revents != 0) return false;
    if (r > 0 && p[0].revents != 0) return true;
    if (left <= 0) return false;
  }
}

void Connections::refuse(ConnPtr& c, int status) {
  const std::string reply = refusal_(status);
  ::send(c->fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(c->fd, SHUT_WR);
  c->closing = true;
  c->deadline = Clock::now() + kLinger;
}

void Connections::examine(ConnPtr& c, bool& gone) {
  Conn& k = *c;
  gone = false;
  if (k.closing) {
    char sink[kReadSize];
    while (k.dropped < kLingerBytes) {
      const ssize_t n = ::recv(k.fd, sink, sizeof sink, MSG_DONTWAIT);
      if (n > 0) k.dropped += static_cast<std::size_t>(n);
      if (n > 0 || (n < 0 && errno == EINTR)) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      break;  // the client's end, or an error
    }
    close_now(std::move(c));
    gone = true;
    return;
  }
  // Reads what the request needs: its head, then a body of declared length.
  for (;;) {
    if (k.head == 0) {
      k.head = head_length(k.in, k.scanned);
      k.scanned = k.in.size();
      if (k.head != 0) {
        k.framing = parse_head(k.in, k.head);
        const bool whole = k.framing.framing == Framing::length && !k.framing.expect;
        k.awaited = whole && k.framing.length <= limits_.max_body ? k.framing.length : 0;
      }
    }
    const std::size_t want = k.head == 0 ? limits_.max_head : k.head + k.awaited;
    if (k.in.size() >= want || k.eof) break;
    const std::size_t old = k.in.size();
    k.in.resize(old + std::min(kReadSize, want - old));
    const ssize_t n = ::recv(k.fd, &k.in[old], k.in.size() - old, MSG_DONTWAIT);
    const int error = errno;
    k.in.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0) {
      if (!k.begun) k.deadline = Clock::now() + limits_.request;
      k.begun = true;
      continue;
    }
    if (n == 0) {
      k.eof = true;
    } else if (error == EINTR) {
      continue;
    } else if (error != EAGAIN && error != EWOULDBLOCK) {
      close_now(std::move(c));
      gone = true;
      return;
    }
    break;
  }
  if (k.head == 0) {
    if (k.in.size() >= limits_.max_head) return refuse(c, 431);
    if (k.eof && k.in.empty()) {
      close_now(std::move(c));
      gone = true;
    } else if (k.eof) {
      refuse(c, 400);
    }
    return;
  }
  if (k.in.size() < k.head + k.awaited && !k.eof) return;  // the body is on its way

  // A whole request (or all there will be of it): to a worker.
  ::epoll_ctl(epoll_, EPOLL_CTL_DEL, k.fd, nullptr);
  k.pos = 0;
  switch (k.framing.framing) {
    case Framing::length:
      k.body_left = k.framing.length;
      break;
    case Framing::chunked:  // the content is counted by the handler; this bounds the wire
      k.body_left = 4 * limits_.max_body + kReadSize;
      break;
    default:
      k.body_left = 0;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back(std::move(c));
  }
  ready_cv_.notify_one();
  gone = true;
}

void Connections::receive() {
  epoll_event events[kEvents];
  for (;;) {
    const int n = ::epoll_wait(epoll_, events, kEvents, static_cast<int>(kTick.count()));
    std::deque<ConnPtr> incoming;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      incoming.swap(incoming_);
    }
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wake_) {
        std::uint64_t count = 0;
        (void)!::read(wake_, &count, sizeof count);
        continue;
      }
      const auto at = waiting_.find(fd);
      if (at == waiting_.end()) continue;
      bool gone = false;
      examine(at->second, gone);
      if (gone) waiting_.erase(at);
    }
    for (ConnPtr& c : incoming) {
      const int fd = c->fd;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLRDHUP;
      ev.data.fd = fd;
      if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        close_now(std::move(c));
        continue;
      }
      ConnPtr& slot = waiting_[fd];
      slot = std::move(c);
      bool gone = false;
      examine(slot, gone);
      if (gone) waiting_.erase(fd);
    }
    const auto now = Clock::now();
    for (auto at = waiting_.begin(); at != waiting_.end();) {
      ConnPtr& c = at->second;
      if (now < c->deadline) {
        ++at;
      } else if (c->begun && !c->closing) {
        refuse(c, 408);  // a request begun and not complete in time
        ++at;
      } else {
        close_now(std::move(c));  // idle, or done closing
        at = waiting_.erase(at);
      }
    }
  }
  for (auto& [fd, c] : waiting_) close_now(std::move(c));
  waiting_.clear();
}

void Connections::work() {
  for (;;) {
    ConnPtr c;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_cv_.wait(lock, [&] { return stopping_ || !ready_.empty(); });
      if (stopping_) return;
      c = std::move(ready_.front());
      ready_.pop_front();
      serving_[std::this_thread::get_id()] = c.get();
    }
    Conn& k = *c;
    k.body_until = Clock::now() + limits_.request;
    k.write_left = limits_.reply;
    k.too_large = k.late = k.close_after = false;
    const bool last = ++k.served >= limits_.max_requests || k.eof;
    bool closed = false;
    Wire wire(*this, k);
    bool ok = false;
    try {
      ok = serve_(wire, last, closed);
    } catch (const std::exception&) {  // the connection is closed
    }
    bool stopping = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      serving_.erase(std::this_thread::get_id());
      stopping = stopping_;
    }
    const bool again = ok && !closed && !last && !stopping && !k.close_after && k.body_finished();
    k.in.erase(0, std::max(k.pos, k.head));      // the whole head, even where the library stopped
    if (k.in.empty()) std::string().swap(k.in);  // an idle connection keeps no buffer
    k.pos = k.scanned = k.head = 0;
    k.framing = Head{};
    k.awaited = k.body_left = 0;
    if (again) {
      k.begun = !k.in.empty();  // the next request, sent already
      k.deadline = Clock::now() + (k.begun ? limits_.request : limits_.idle);
    } else if (k.eof) {
      close_now(std::move(c));
      continue;
    } else {
      ::shutdown(k.fd, SHUT_WR);
      k.closing = true;
      k.deadline = Clock::now() + kLinger;
    }
    enter(std::move(c));
  }
}

}  // namespace kx::web
