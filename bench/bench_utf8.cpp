// Benchmarks of the UTF-8 wire conversions on a 16 KB request of mixed ASCII
// and Chinese text. Bytes processed are the UTF-8 bytes, so the figures show MB/s.
#include <benchmark/benchmark.h>

#include <string>

#include "server/Utf8Unit.h"

namespace {

std::string Utf8Request() {
  const std::string item =
      "  <Guest id=\"42\"><Name>张三 李四</Name><Note>已入住 checked in</Note></Guest>\r\n";
  std::string text = "<DoorRequest type=\"IssueCard\">\r\n";
  while (text.size() + item.size() < 16384 - 16) text += item;
  return text + "</DoorRequest>";
}

void BM_DecodeUtf8(benchmark::State& state) {
  const std::string bytes = Utf8Request();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeUtf8(bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeUtf8);

void BM_EncodeUtf8(benchmark::State& state) {
  const std::string bytes = Utf8Request();
  const std::u16string text = DecodeUtf8(bytes);
  for (auto _ : state) benchmark::DoNotOptimize(EncodeUtf8(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_EncodeUtf8);

}  // namespace
