#include "translate/translate.h"

#include <algorithm>
#include <array>
#include <functional>

namespace {

// Skips ahead by the marker's bad-character table, so that a long line
// without the marker is passed over in strides rather than byte by byte.
const std::boyer_moore_horspool_searcher MarkerSearcher(DetailMarker.begin(), DetailMarker.end());

// The bytes written percent-encoded. The address is handed to a shell that
// passes it on to a handler command line such as `"browser.exe" "%1"`: a
// double quote would end the argument there and let the rest of the line
// inject arguments, a backslash before the closing quote would turn that
// quote into part of the address, and a NUL would cut the address short. The
// Windows shell replaces `%NAME%` with the variable's value before it builds
// that command line, after the address was measured and encoded, so a
// percent sign is encoded too. No store identifier holds any of them.
constexpr std::array<bool, 256> EncodedBytes = [] {
  std::array<bool, 256> encoded{};
  encoded['"'] = encoded['\\'] = encoded['%'] = encoded['\0'] = true;
  return encoded;
}();

void AppendIdentifier(std::string &address, std::string_view identifier) {
  // One load per byte: three comparisons cost twice as much on a long line.
  auto const needsEncoding = [](char byte) {
    return EncodedBytes[static_cast<unsigned char>(byte)];
  };
  for (std::string_view::iterator plain = identifier.begin();;) {
    std::string_view::iterator const special = std::find_if(plain, identifier.end(), needsEncoding);
    address.append(plain, special);
    if (special == identifier.end()) {
      return;
    }
    switch (*special) {
      case '"':
        address += "%22";
        break;
      case '\\':
        address += "%5C";
        break;
      case '%':
        address += "%25";
        break;
      default:
        address += "%00";
    }
    plain = special + 1;
  }
}

}  // namespace

TranslationResult TranslateStoreAddress(const std::string &line) {
  std::string_view const text = line;
  if (std::search(text.begin(), text.end(), MarkerSearcher) == text.end()) {
    return {TranslationOutcome::InvalidUrl, {}};
  }

  // The marker ends in a slash, so there is always a last one.
  std::size_t const lastSlash = text.rfind('/');
  std::size_t const firstQuestionMark = text.find('?');
  std::string_view identifier = text.substr(lastSlash + 1);
  // A '?' ahead of the last slash belongs to text before the identifier
  // and does not end it.
  if (firstQuestionMark != std::string_view::npos && firstQuestionMark > lastSlash) {
    identifier = identifier.substr(0, firstQuestionMark - lastSlash - 1);
  }
  if (identifier.empty()) {
    return {TranslationOutcome::EmptyAppId, {}};
  }

  TranslationResult result{TranslationOutcome::Launch, std::string(DownloadBase)};
  result.address.reserve(DownloadBase.size() + identifier.size());
  AppendIdentifier(result.address, identifier);
  return result;
}
