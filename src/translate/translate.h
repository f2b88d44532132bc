#pragma once

#include <string>
#include <string_view>

// Where the store's web catalogue serves an app's detail page; the app's
// identifier follows it, so a line holding it names an app.
inline constexpr std::string_view DetailMarker = "apps.microsoft.com/detail/";

// The store's installer download endpoint; the identifier is appended to it.
inline constexpr std::string_view DownloadBase = "https://get.microsoft.com/installer/download/";

enum class TranslationOutcome { Launch, InvalidUrl, EmptyAppId };

struct TranslationResult {
  TranslationOutcome outcome;
  std::string address;  // empty unless outcome is Launch
};

// Turns one line, as typed, into the installer download address of the app
// it names. Pure: no I/O, no state, and it throws nothing but bad_alloc.
TranslationResult TranslateStoreAddress(const std::string &line);
