// Cost of one 64-byte block over a pty to a peer that acknowledges at once,
// beyond the 10 ms pause the framing makes after every answer. The reported
// time per iteration is that overhead (mean); "median_overhead_us" and
// "p90_overhead_us" show how much of it is the scheduling tail of a busy
// machine, "block_us" is the whole time per block.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "doralex/serial/wseril1.h"
#include "doralex/serial/wseril2.h"
#include "support/pty_peer.h"

namespace {

using testsupport::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 0;
constexpr double kPauseSeconds = 0.010;

Bytes DataBlock() {
  Bytes block = {0x01, 0x00, 0x00, 64};
  for (int i = 0; i < 64; ++i) block.push_back(static_cast<uint8_t>(i * 7));
  uint8_t x = 0;
  for (uint8_t b : block) x ^= b;
  block.push_back(x);
  return block;
}

void BM_BlockOverheadBeyondPause(benchmark::State& state) {
  testsupport::PtyPeer peer;
  if (!peer.ok()) {
    state.SkipWithError("no pty");
    return;
  }
  testsupport::SerialTableFile table({{kPort, peer.slavePath()}});
  if (!dlx::ComOpen(kPort, 115200, 0)) {
    state.SkipWithError("port did not open");
    return;
  }
  const Bytes block = DataBlock();

  // The phone: every complete block is acknowledged as soon as it is in.
  std::atomic<bool> stop{false};
  std::thread phone([&] {
    std::size_t pending = 0;
    uint8_t buffer[512];
    while (!stop.load(std::memory_order_relaxed)) {
      pollfd p{peer.master(), POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = read(peer.master(), buffer, sizeof buffer);
      if (n <= 0) break;
      pending += static_cast<std::size_t>(n);
      while (pending >= block.size()) {
        pending -= block.size();
        peer.send({dlx::kAck});
      }
    }
  });

  double totalSeconds = 0;
  std::vector<double> overheads;
  for (auto _ : state) {
    uint32_t sent = 0;
    const auto start = Clock::now();
    const int acknowledged = dlx::SendBlock(kPort, block.data(), 5000, &sent);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!acknowledged) {
      state.SkipWithError("block not acknowledged");
      break;
    }
    totalSeconds += seconds;
    state.SetIterationTime(seconds - kPauseSeconds);
    overheads.push_back((seconds - kPauseSeconds) * 1e6);
  }
  stop = true;
  phone.join();
  dlx::ComClose(kPort);
  if (state.iterations() > 0) {
    state.counters["block_us"] = totalSeconds * 1e6 / static_cast<double>(state.iterations());
  }
  if (!overheads.empty()) {
    std::sort(overheads.begin(), overheads.end());
    state.counters["median_overhead_us"] = overheads[overheads.size() / 2];
    state.counters["p90_overhead_us"] = overheads[overheads.size() * 9 / 10];
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_BlockOverheadBeyondPause)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
