#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "translate/translate.h"

namespace {

// The least any translation must do: look for the marker with the C
// library's memmem and, where it is found, copy what follows it once. Each
// data set is measured with it as a baseline.
void SearchAndCopy(benchmark::State &state, const std::vector<std::string> &lines) {
  for (auto _ : state) {
    for (const std::string &line : lines) {
      const void *found =
          memmem(line.data(), line.size(), DetailMarker.data(), DetailMarker.size());
      if (found != nullptr) {
        std::string copy(static_cast<const char *>(found) + DetailMarker.size(),
                         line.data() + line.size());
        benchmark::DoNotOptimize(copy);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}

void Translate(benchmark::State &state, const std::vector<std::string> &lines) {
  for (auto _ : state) {
    for (const std::string &line : lines) {
      benchmark::DoNotOptimize(TranslateStoreAddress(line));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}

const std::vector<std::string> RealAddresses = {
    "https://apps.microsoft.com/detail/9WZDNCRFJ3PZ?hl=en-us&gl=US",
    "https://apps.microsoft.com/detail/9nblggh4nns1?hl=de-de&gl=DE",
    "https://apps.microsoft.com/detail/XP89DCGQ3K6VLD", "apps.microsoft.com/detail/9MZ95KL8MR0L"};
const std::vector<std::string> NoMarkerLines = {
    "https://apps.microsoft.com/search?query=notepad&hl=en-us",
    "https://www.microsoft.com/store/apps/9WZDNCRFJ3PZ", "", "9WZDNCRFJ3PZ"};
const std::vector<std::string> MebibyteAddress = {std::string(DetailMarker) +
                                                  std::string(std::size_t{1} << 20U, 'x')};
const std::vector<std::string> MebibyteWithoutMarker = {std::string(std::size_t{1} << 20U, 'a')};

}  // namespace

BENCHMARK_CAPTURE(SearchAndCopy, RealAddresses, RealAddresses);
BENCHMARK_CAPTURE(Translate, RealAddresses, RealAddresses);
BENCHMARK_CAPTURE(SearchAndCopy, NoMarkerLines, NoMarkerLines);
BENCHMARK_CAPTURE(Translate, NoMarkerLines, NoMarkerLines);
BENCHMARK_CAPTURE(SearchAndCopy, MebibyteAddress, MebibyteAddress);
BENCHMARK_CAPTURE(Translate, MebibyteAddress, MebibyteAddress);
BENCHMARK_CAPTURE(SearchAndCopy, MebibyteWithoutMarker, MebibyteWithoutMarker);
BENCHMARK_CAPTURE(Translate, MebibyteWithoutMarker, MebibyteWithoutMarker);
BENCHMARK_MAIN();
