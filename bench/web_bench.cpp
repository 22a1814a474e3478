// The web API's cost at the server: a 401-point response (0.5 to 4.5 GHz in
// 0.01 GHz steps) of the 10 dB coupler, as the handler forms it (run_cli and
// the JSON document) and as an HTTP client on the same machine gets it from
// the running server (keep-alive connection).
#include <benchmark/benchmark.h>

#include <thread>

#include <httplib.h>

#include "web/api.h"
#include "web/server.h"

namespace {

const char* kResponse =
    R"({"er": 3.66, "h": 0.508, "h2": 6.35, "t": 0.035, "w": 0.8724974, "s": 0.094238155,
        "units": "mm", "f-range": "0.5:4.5:0.01", "centre": 2.4})";

void WebResponse401Handler(benchmark::State& state) {
  const kx::web::Api api;
  kx::cli::RunLimits limits;
  limits.files = false;
  for (auto _ : state) {
    const kx::web::Reply r = api.post("response", kResponse, limits);
    if (r.status != 200) state.SkipWithError("the request failed");
    benchmark::DoNotOptimize(r.body.data());
  }
}
BENCHMARK(WebResponse401Handler)->Unit(benchmark::kMillisecond);

void WebResponse401Http(benchmark::State& state) {
  kx::web::Server server({});
  const int port = server.bind();
  std::thread serving([&] { server.run(); });
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  for (auto _ : state) {
    const auto r = client.Post("/api/response", kResponse, "application/json");
    if (!r || r->status != 200) state.SkipWithError("the request failed");
  }
  server.stop();
  serving.join();
}
BENCHMARK(WebResponse401Http)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
