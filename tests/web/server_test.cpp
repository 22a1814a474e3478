// The server over HTTP on a free port of 127.0.0.1: the page, the statuses
// of the requests it refuses, the Host and Origin checks, no CORS, the
// limits of one run, and clients that misbehave: bodies past the limit in
// any transfer coding, slow request heads, one client's many long runs.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "web/server.h"

namespace {

using nlohmann::json;

class Served : public ::testing::Test {
 protected:
  void start(const kx::web::Settings& s) {
    server_ = std::make_unique<kx::web::Server>(s);
    port_ = server_->bind();
    thread_ = std::thread([this] { server_->run(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
  }
  void SetUp() override { start({}); }
  void TearDown() override {
    server_->stop();
    thread_.join();
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  httplib::Result post(const std::string& path, const std::string& body,
                       const httplib::Headers& headers = {}) {
    return client_->Post(path.c_str(), headers, body, "application/json");
  }
  // An error reply: the status, and a JSON body with an error text.
  void expect_error(const httplib::Result& r, int status) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, status) << r->body;
    EXPECT_TRUE(json::parse(r->body, nullptr, false).contains("error")) << r->body;
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
  }

  std::unique_ptr<kx::web::Server> server_;
  std::thread thread_;
  std::unique_ptr<httplib::Client> client_;
  int port_ = 0;
};

// A connection that speaks HTTP by hand, for requests a client library
// would not send.
class Raw {
 public:
  explicit Raw(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Raw() { ::close(fd_); }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;

  void send(const std::string& s) {
    if (connected_) ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL);
  }
  // Reads what arrives within `wait` (returns when something came); true
  // when the server has closed its side.
  bool read(std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return true;
    got_.append(buf, static_cast<std::size_t>(n));
    return false;
  }
  // The status of the reply received, 0 when none came within `wait`.
  int status(std::chrono::milliseconds wait = std::chrono::milliseconds(3000)) {
    const auto until = std::chrono::steady_clock::now() + wait;
    while (got_.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < until) {
      if (read(std::chrono::milliseconds(50))) break;
    }
    return got_.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(got_.c_str() + 9) : 0;
  }

 private:
  int fd_;
  bool connected_ = false;
  std::string got_;
};

std::string chunk(const std::string& data) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + data + "\r\n";
}

const char* kDesign =
    R"({"er": 3.66, "h": 0.508, "h2": 6.35, "t": 0.035, "w": 0.8725, "s": 0.0942, "units": "mm")";

TEST_F(Served, PageAndItsFilesComeFromTheProgramUnderAStrictPolicy) {
  const auto page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<!doctype html>"), std::string::npos);
  const std::string policy = page->get_header_value("Content-Security-Policy");
  EXPECT_NE(policy.find("default-src 'none'"), std::string::npos);
  EXPECT_NE(policy.find("connect-src 'self'"), std::string::npos);
  for (const char* file : {"/app.js", "/keys.js", "/plots.js", "/section.js", "/style.css"}) {
    const auto r = client_->Get(file);
    ASSERT_TRUE(r) << file;
    EXPECT_EQ(r->status, 200) << file;
    std::string text = r->body;
    const std::string svg = "http://www.w3.org/2000/svg";  // a name, never fetched
    for (auto at = text.find(svg); at != std::string::npos; at = text.find(svg))
      text.erase(at, svg.size());
    EXPECT_EQ(text.find("http"), std::string::npos) << file << " names another site";
  }
  const auto chart = client_->Get("/chart.min.js");
  ASSERT_TRUE(chart);
  EXPECT_GT(chart->body.size(), 100000u);
  const auto again =
      client_->Get("/chart.min.js", {{"If-None-Match", chart->get_header_value("ETag")}});
  EXPECT_EQ(again->status, 304);
  expect_error(client_->Get("/nosuch.js"), 404);
}

TEST_F(Served, RefusedRequestsGetTheirStatusAndAJsonError) {
  const std::string big = std::string(R"({"er": ")") + std::string(70 * 1024, '1') + "\"}";
  expect_error(post("/api/analyse", big), 413);
  expect_error(post("/api/analyse", "{\"er\": 3.66}"), 400);
  expect_error(post("/api/nosuch", "{}"), 404);
  expect_error(client_->Get("/api/analyse"), 405);
  expect_error(client_->Delete("/api/analyse"), 405);
  expect_error(client_->Post("/api/analyse", "{}", "text/plain"), 415);
  // A compressed body would be decoded to any size: refused unread.
  expect_error(post("/api/analyse", "{}", {{"Content-Encoding", "gzip"}}), 415);
  expect_error(post("/index.html", "{}"), 405);
  // Another name for this address (DNS rebinding), another site's page.
  expect_error(post("/api/analyse", "{}", {{"Host", "attacker.example:" + std::to_string(port_)}}),
               421);
  expect_error(client_->Get("/", {{"Host", "127.0.0.1:1"}}), 421);
  expect_error(post("/api/analyse", "{}", {{"Origin", "http://attacker.example"}}), 403);
  expect_error(client_->Options("/api/analyse", {{"Origin", "http://attacker.example"},
                                                 {"Access-Control-Request-Method", "POST"}}),
               403);
  // The names of this server are answered.
  const auto local = client_->Get("/", {{"Host", "localhost:" + std::to_string(port_)}});
  EXPECT_EQ(local->status, 200);
  const auto ok = post(std::string("/api/dispersion"),
                       std::string(kDesign) + R"(, "f-range": "1:2:1"})",
                       {{"Origin", "http://" + host()}});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200) << ok->body;
  EXPECT_FALSE(ok->has_header("Access-Control-Allow-Origin"));
}

TEST_F(Served, RunsKeepTheServersLimits) {
  TearDown();
  kx::web::Settings s;
  s.max_samples = 1000;
  s.time_limit = std::chrono::milliseconds(0);
  start(s);
  const std::string tol = std::string(kDesign) + R"(, "f": 2.4, "tol-w": 0.01, "samples": )";
  expect_error(post("/api/tolerance", tol + "1001}"), 400);
  const auto late = post("/api/tolerance", tol + "1000}");
  expect_error(late, 422);
  EXPECT_NE(late->body.find("limit"), std::string::npos) << late->body;
  const auto file = post(
      "/api/response", std::string(kDesign) +
                           R"(, "f-range": "1:2:1", "centre": 2.4, "touchstone": "/tmp/kx.s4p"})");
  expect_error(file, 400);
}

TEST_F(Served, BodiesPastTheLimitAreRefusedInEveryTransferCoding) {
  const std::string head = "POST /api/analyse HTTP/1.1\r\nHost: " + host() +
                           "\r\nContent-Type: application/json\r\n"
                           "Transfer-Encoding: chunked\r\n\r\n";
  Raw small(port_);
  small.send(head + chunk(std::string(kDesign) + "}") + "0\r\n\r\n");
  EXPECT_EQ(small.status(), 200);
  // 80 KiB of a body that never ends: refused once 64 KiB have come,
  // without waiting for the rest.
  Raw big(port_);
  big.send(head + chunk(R"({"er": 3.66, "x": ")"));
  for (int i = 0; i < 5; ++i) big.send(chunk(std::string(16 * 1024, 'a')));
  EXPECT_EQ(big.status(), 413);
}

TEST_F(Served, ARepeatedHostOrOriginIsRefused) {
  for (const std::string& extra : {"Host: attacker.example:" + std::to_string(port_),
                                   std::string("Origin: http://attacker.example")}) {
    Raw r(port_);
    r.send("GET / HTTP/1.1\r\nHost: " + host() + "\r\nOrigin: http://" + host() + "\r\n" + extra +
           "\r\n\r\n");
    EXPECT_EQ(r.status(), 400) << extra;
  }
}

TEST_F(Served, SlowRequestHeadsDoNotShutOthersOut) {
  TearDown();
  kx::web::Settings s;
  s.workers = 4;
  start(s);
  // Four times as many connections as workers, each with a request head
  // begun and never ended.
  std::vector<std::unique_ptr<Raw>> slow;
  for (int i = 0; i < 16; ++i) {
    slow.push_back(std::make_unique<Raw>(port_));
    slow.back()->send("POST /api/analyse HTTP/1.1\r\nHost: " + host() + "\r\n");
  }
  client_->set_read_timeout(3, 0);  // against a hang only: the answer is immediate
  const auto page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

TEST_F(Served, ARequestHeadThatKeepsComingIsCutOff) {
  TearDown();
  kx::web::Settings s;
  s.request_time = std::chrono::milliseconds(300);
  start(s);
  // A byte every 50 ms: every read is prompt, the head never ends.
  Raw trickle(port_);
  trickle.send("GET /");
  bool closed = false;
  for (int i = 0; i < 60 && !closed; ++i) {
    trickle.send("a");
    closed = trickle.read(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(trickle.status(std::chrono::milliseconds(0)), 408);
}

TEST_F(Served, FieldSolverRunsDoNotHoldUpTheOthers) {
  TearDown();
  kx::web::Settings s;
  s.light_runs = 2;
  start(s);
  // Three clients ask for long field-solver sweeps at once (99001 points:
  // slow however cheap a field point becomes).
  const std::string sweep = R"({"er": 3.66, "h": 0.508, "h2": 6.35, "t": 0.035, "s": 0.0942, )"
                            R"("units": "mm", "model": "field", "w-range": "0.5:1.49:0.00001"})";
  std::vector<std::thread> busy;
  for (int i = 0; i < 3; ++i) {
    busy.emplace_back([&] {
      httplib::Client c("127.0.0.1", port_);
      c.set_read_timeout(60, 0);
      c.Post("/api/analyse", sweep, "application/json");
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // they have begun
  // Another client is answered while they run.
  client_->set_read_timeout(5, 0);  // against a hang only
  const auto other = post("/api/analyse", std::string(kDesign) + "}");
  server_->stop();
  for (std::thread& t : busy) t.join();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200);
}

}  // namespace
