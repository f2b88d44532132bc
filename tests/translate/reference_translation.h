#pragma once

#include <string>

#include "translate/translate.h"

// An independent reading of the rules: plain index loops, no searching
// helpers, percent-encoding by table.
inline TranslationResult ReferenceTranslation(const std::string &line) {
  std::string const marker(DetailMarker);
  bool holdsMarker = false;
  for (std::size_t start = 0; start + marker.size() <= line.size() && !holdsMarker; ++start) {
    holdsMarker = line.compare(start, marker.size(), marker) == 0;
  }
  if (!holdsMarker) {
    return {TranslationOutcome::InvalidUrl, ""};
  }
  std::size_t slash = 0;
  std::size_t mark = line.size();
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '/') slash = i;
    if (line[i] == '?' && mark == line.size()) mark = i;
  }
  std::size_t const end = mark > slash ? mark : line.size();
  if (end == slash + 1) {
    return {TranslationOutcome::EmptyAppId, ""};
  }
  std::string address(DownloadBase);
  for (std::size_t i = slash + 1; i < end; ++i) {
    switch (line[i]) {
      case '"':
        address += "%22";
        break;
      case '\\':
        address += "%5C";
        break;
      case '%':
        address += "%25";
        break;
      case '\0':
        address += "%00";
        break;
      default:
        address.push_back(line[i]);
    }
  }
  return {TranslationOutcome::Launch, address};
}
