// The server over HTTP on a free port of 127.0.0.1: the page, the statuses
// of the requests it refuses, the Host and Origin checks, no CORS, and the
// limits of one run.

#include <gtest/gtest.h>

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

}  // namespace
