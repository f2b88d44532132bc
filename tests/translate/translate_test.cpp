#include "translate/translate.h"

#include "translate/reference_translation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string Marker(DetailMarker);
const std::string Base(DownloadBase);

struct Case {
  const char *name;
  std::string line;
  TranslationOutcome outcome;
  std::string address;
};

void CheckCases(const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    TranslationResult const result = TranslateStoreAddress(c.line);
    EXPECT_EQ(result.outcome, c.outcome) << c.name;
    EXPECT_EQ(result.address, c.address) << c.name;
  }
}

TEST(TranslateStoreAddress, ConstantsHaveTheirFixedForm) {
  EXPECT_EQ(DetailMarker, "apps.microsoft.com/detail/");
  EXPECT_EQ(DownloadBase, "https://get.microsoft.com/installer/download/");
}

TEST(TranslateStoreAddress, NeedsTheMarkerExactly) {
  auto const invalid = TranslationOutcome::InvalidUrl;
  CheckCases({
      {"empty line", "", invalid, ""},
      {"shorter than the marker", "apps.microsoft.com/", invalid, ""},
      {"bare identifier", "9WZDNCRFJ3PZ", invalid, ""},
      {"capital in host", "https://Apps.microsoft.com/detail/9WZDNCRFJ3PZ", invalid, ""},
      {"capital in path", "https://apps.microsoft.com/Detail/9WZDNCRFJ3PZ", invalid, ""},
      {"other path", "https://apps.microsoft.com/search?query=x", invalid, ""},
      {"escaped slash", "apps.microsoft.com%2Fdetail/9WZDNCRFJ3PZ", invalid, ""},
      {"https", "https://" + Marker + "9WZDNCRFJ3PZ", TranslationOutcome::Launch,
       Base + "9WZDNCRFJ3PZ"},
      {"http", "http://" + Marker + "9WZDNCRFJ3PZ", TranslationOutcome::Launch,
       Base + "9WZDNCRFJ3PZ"},
      {"no scheme", Marker + "9WZDNCRFJ3PZ", TranslationOutcome::Launch, Base + "9WZDNCRFJ3PZ"},
      {"text ahead", "see: " + Marker + "X1", TranslationOutcome::Launch, Base + "X1"},
  });
}

TEST(TranslateStoreAddress, TakesTheIdentifierAfterTheLastSlash) {
  auto const launch = TranslationOutcome::Launch;
  CheckCases({
      {"further path", Marker + "ABC123/extra", launch, Base + "extra"},
      {"trailing slash", Marker + "ABC123/", TranslationOutcome::EmptyAppId, ""},
      {"two addresses", Marker + "AAA " + Marker + "BBB", launch, Base + "BBB"},
      {"slash in query", Marker + "ABC123?x=a/b", launch, Base + "b"},
  });
}

TEST(TranslateStoreAddress, EndsTheIdentifierAtAQuestionMarkBehindTheSlash) {
  auto const launch = TranslationOutcome::Launch;
  CheckCases({
      {"query dropped", Marker + "ABC123?hl=en-us&gl=US", launch, Base + "ABC123"},
      {"first of two marks", Marker + "ABC123?a?b", launch, Base + "ABC123"},
      {"mark ahead of marker", "why? " + Marker + "ABC123?hl=en", launch, Base + "ABC123?hl=en"},
      {"mark in earlier address", Marker + "A?x " + Marker + "B?y", launch, Base + "B?y"},
      {"exactly the marker", Marker, TranslationOutcome::EmptyAppId, ""},
      {"mark after marker", Marker + "?hl=en", TranslationOutcome::EmptyAppId, ""},
  });
}

TEST(TranslateStoreAddress, PassesOtherBytesUnchanged) {
  auto const launch = TranslationOutcome::Launch;
  CheckCases({
      {"blanks", Marker + " A B ", launch, Base + " A B "},
      {"carriage return", Marker + "ABC123\r", launch, Base + "ABC123\r"},
      {"hash and ampersand", Marker + "A#b&c", launch, Base + "A#b&c"},
      {"bytes above 127", Marker + "\xC3\xA9\xFF", launch, Base + "\xC3\xA9\xFF"},
      {"tab and quote-like", Marker + "\t'`", launch, Base + "\t'`"},
  });
}

// A handler command line like `"browser.exe" "%1"` must get the address as
// one argument, unexpanded by the shell, and a NUL would cut the address short.
TEST(TranslateStoreAddress, EncodesQuotesBackslashesPercentSignsAndNulBytes) {
  auto const launch = TranslationOutcome::Launch;
  CheckCases({
      {"injected flag", Marker + "9WZDNCRFJ3PZ\" --evil-flag \"x", launch,
       Base + "9WZDNCRFJ3PZ%22 --evil-flag %22x"},
      {"lone quote", Marker + "\"", launch, Base + "%22"},
      {"escaped closing quote", Marker + "x --evil-flag\\", launch, Base + "x --evil-flag%5C"},
      {"three backslashes", Marker + "A\\\\\\", launch, Base + "A%5C%5C%5C"},
      {"environment reference", Marker + "A%ComSpec%", launch, Base + "A%25ComSpec%25"},
      {"escape typed already", Marker + "A%41%22", launch, Base + "A%2541%2522"},
      {"nul", Marker + "A\0B"s, launch, Base + "A%00B"},
      {"nul before marker", "\0"s + Marker + "A", launch, Base + "A"},
      {"nul ends nothing", Marker + "\0"s, launch, Base + "%00"},
  });
}

TEST(TranslateStoreAddress, AgreesWithAnIndependentReadingOnRandomLines) {
  std::vector<std::string> const pieces = {
      Marker, Marker, "https://", "/",   "/",  "?",    "?x=1",
      " ",    "\r",   "\"",       "\0"s, "\\", "\xFF", "\x80",
      "AB9",  "z",    "a/",       "#",   "&",  "%22",  "apps.microsoft.com/detail"};
  std::mt19937 random(20261208);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  int launched = 0;
  for (int round = 0; round < 50000; ++round) {
    std::string line;
    for (int n = length(random); n > 0; --n) {
      line += pieces[pick(random)];
    }
    TranslationResult const expected = ReferenceTranslation(line);
    TranslationResult const actual = TranslateStoreAddress(line);
    ASSERT_EQ(actual.outcome, expected.outcome) << testing::PrintToString(line);
    ASSERT_EQ(actual.address, expected.address) << testing::PrintToString(line);
    launched += actual.outcome == TranslationOutcome::Launch ? 1 : 0;
  }
  // The mix must exercise every outcome, not only the commonest.
  EXPECT_GT(launched, 5000);
}

TEST(TranslateStoreAddress, HandlesALineOfManyMebibytes) {
  std::string const identifier(8 << 20, 'x');
  TranslationResult const result = TranslateStoreAddress(Marker + identifier);
  EXPECT_EQ(result.outcome, TranslationOutcome::Launch);
  EXPECT_EQ(result.address.size(), Base.size() + identifier.size());
}

}  // namespace
