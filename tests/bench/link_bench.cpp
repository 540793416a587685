// Throughput of the receive path: Poll through the fake port, the state machine and the CRC.
#include <benchmark/benchmark.h>

#include "tests/bench/LinkStream.h"

namespace {

const LinkStream& Stream() {
  static const LinkStream s = MakeLinkStream(1 << 20);
  return s;
}

void BM_PollStream(benchmark::State& state) {
  const LinkStream& s = Stream();
  BenchLink link;
  for (auto _ : state) link.Feed(s);
  if (link.delivered != s.frames * state.iterations()) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(s.bytes * state.iterations()));
}
BENCHMARK(BM_PollStream)->Unit(benchmark::kMillisecond);

// The state machine alone, without the port.
void BM_ReceiveByte(benchmark::State& state) {
  const LinkStream& s = Stream();
  BenchLink link;
  for (auto _ : state)
    for (const auto& burst : s.bursts)
      for (uint8_t b : burst) link.trx.ReceiveByte(b);
  if (link.delivered != s.frames * state.iterations()) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<int64_t>(s.bytes * state.iterations()));
}
BENCHMARK(BM_ReceiveByte)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
