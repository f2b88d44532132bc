// Differential fuzzing: every line must translate as the independent
// reference reads the rules, and the address must be safe to hand on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "translate/reference_translation.h"
#include "translate/translate.h"

namespace {

void Require(bool holds) {
  if (!holds) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string const line(reinterpret_cast<const char *>(data), size);
  TranslationResult const result = TranslateStoreAddress(line);
  TranslationResult const expected = ReferenceTranslation(line);

  Require(result.outcome == expected.outcome && result.address == expected.address);
  bool const holdsMarker = line.find(DetailMarker) != std::string::npos;
  Require((result.outcome == TranslationOutcome::InvalidUrl) == !holdsMarker);
  if (result.outcome != TranslationOutcome::Launch) {
    Require(result.address.empty());
    return 0;
  }
  Require(result.address.starts_with(DownloadBase));
  Require(result.address.size() > DownloadBase.size());
  Require(result.address.find_first_of(std::string("\"\\\0", 3)) == std::string::npos);
  // Every percent sign in the identifier is one of the escapes written here,
  // so that nothing in it can name a variable for the shell to expand.
  std::string_view const identifier = std::string_view(result.address).substr(DownloadBase.size());
  for (std::size_t percent = identifier.find('%'); percent != std::string_view::npos;
       percent = identifier.find('%', percent + 1)) {
    std::string_view const escape = identifier.substr(percent, 3);
    Require(escape == "%22" || escape == "%25" || escape == "%5C" || escape == "%00");
  }
  return 0;
}
