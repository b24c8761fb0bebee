// Reading and checking a container is one linear pass over its bytes:
// ReadXbiContainer and its release on a 16 MiB container whose software is
// in 64-byte blocks, with a signature section and a hash area.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "doralex/container.h"
#include "doralex/doralex.h"
#include "xbi_builder.h"

namespace {

std::vector<uint8_t> sixteenMiBContainer() {
  constexpr uint64_t kTarget = 16u << 20;
  // 64 data bytes travel in 69-byte blocks.
  const uint64_t image = (kTarget - 2048) / 69 * 64;
  nlohmann::json d = {
      {"signature", {{"entries", {{{"key_id", 7}, {"length", 128}}}}}},
      {"header",
       {{"records",
         {{{"type", 16}, {"value", 95}},
          {{"type", 17}, {"value", 230}},
          {{"type", 40}, {"text", "R12X"}},
          {{"type", 23}, {"text", "BENCH"}},
          {{"type", 52}, {"value", 5}},
          {{"type", 48}, {"start", 0}, {"end", "0xFFFFFF"}},
          {{"type", 86}}}}}},
      {"hash_area", {{"list_length", 800}}},
      {"heap", {{"image", {{"pattern_length", image}, {"address", 0}, {"block_size", 64}}}}}};
  return xbitool::BuildContainer(d).bytes;
}

void ReadAndRelease(benchmark::State& state) {
  static const std::vector<uint8_t> container = sixteenMiBContainer();
  dlx::InitLibrary(dlx::kInterfaceMajor, dlx::kInterfaceMinor);
  dlx::SetUpdateMode(1);
  dlx::ProductInfo info{};
  for (auto _ : state) {
    int accepted =
        dlx::ReadXbiContainer(&info, container.data(), static_cast<uint32_t>(container.size()));
    if (accepted != 1) {
      state.SkipWithError("container refused");
      break;
    }
    benchmark::DoNotOptimize(dlx::GetTransferLength());
    dlx::ReleaseXbiContainer();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(container.size()));
  state.counters["container_bytes"] = static_cast<double>(container.size());
}
// Wall-clock time: the machine is shared, and the figure is the one a user waits for.
BENCHMARK(ReadAndRelease)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
