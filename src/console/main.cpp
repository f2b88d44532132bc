#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "console/platform.h"
#include "translate/translate.h"

namespace {

constexpr WORD BannerAttribute = 3;  // dark cyan
constexpr WORD NormalAttribute = 7;  // light grey, the console's default
constexpr WORD ErrorAttribute = 12;  // bright red

constexpr const char *ConsoleTitle = "Varnholt";
constexpr std::string_view Prompt = "Url: ";
constexpr std::string_view InvalidUrlMessage = "Failed: Invalid url\n";
constexpr std::string_view EmptyAppIdMessage = "Failed: Empty app id\n";

// The shell builds the handler's whole command line, its path and arguments
// included, in a fixed space: under Wine, a handler at a 200-character path
// registered as `-osint -url "%1"` gets addresses of up to 805 bytes whole and
// longer ones empty, and the shell crashes from 997 bytes. 700 leaves room for
// a longer path or more arguments; a store address is about 60 bytes.
constexpr std::size_t LongestOpenedAddress = 700;

// Eight rows of art, a subtitle naming the version, so that a user can say
// which build they run, and a row of blanks, every row whole.
// clang-format off
constexpr std::string_view BannerText =
    R"($$\    $$\                               $$\                 $$\   $$\     )" "\n"
    R"($$ |   $$ |                              $$ |                $$ |  $$ |    )" "\n"
    R"($$ |   $$ | $$$$$$\   $$$$$$\  $$$$$$$\  $$$$$$$\   $$$$$$\  $$ |$$$$$$\   )" "\n"
    R"(\$$\  $$  | \____$$\ $$  __$$\ $$  __$$\ $$  __$$\ $$  __$$\ $$ |\_$$  _|  )" "\n"
    R"( \$$\$$  /  $$$$$$$ |$$ |  \__|$$ |  $$ |$$ |  $$ |$$ /  $$ |$$ |  $$ |    )" "\n"
    R"(  \$$$  /  $$  __$$ |$$ |      $$ |  $$ |$$ |  $$ |$$ |  $$ |$$ |  $$ |$$\ )" "\n"
    R"(   \$  /   \$$$$$$$ |$$ |      $$ |  $$ |$$ |  $$ |\$$$$$$  |$$ |  \$$$$  |)" "\n"
    R"(    \_/     \_______|\__|      \__|  \__|\__|  \__| \______/ \__|   \____/ )" "\n"
    "Varnholt " VARNHOLT_VERSION ": paste a Store app's address to fetch its installer." "\n"
    R"(                                                          )" "\n";
// clang-format on

// Text still held in the stream's buffer would otherwise be shown in the
// attribute set after it was written.
void SetAttribute(HANDLE output, WORD attribute) {
  std::cout.flush();
  SetConsoleTextAttribute(output, attribute);
}

void ReportFailure(HANDLE output, std::string_view message) {
  SetAttribute(output, ErrorAttribute);
  // Standard error is unit-buffered: the message is flushed as it is written.
  std::cerr << message;
}

}  // namespace

int main() {
  // The streams keep buffers of their own, so a line costs one read of a
  // large block rather than a call into C stdio for every byte. The tie to
  // standard output still shows the prompt before each read.
  std::ios::sync_with_stdio(false);

  SetConsoleTitleA(ConsoleTitle);
  HANDLE const output = GetStdHandle(STD_OUTPUT_HANDLE);
  SetAttribute(output, BannerAttribute);
  std::cout << BannerText;

  for (;;) {
    SetAttribute(output, NormalAttribute);
    std::cout << Prompt;
    std::string line;
    if (!std::getline(std::cin, line)) {
      break;
    }
    TranslationResult const result = TranslateStoreAddress(line);
    switch (result.outcome) {
      case TranslationOutcome::Launch:
        if (result.address.size() <= LongestOpenedAddress) {
          ShellExecuteA(nullptr, "open", result.address.c_str(), nullptr, nullptr, SW_HIDE);
        }
        break;
      case TranslationOutcome::InvalidUrl:
        ReportFailure(output, InvalidUrlMessage);
        break;
      case TranslationOutcome::EmptyAppId:
        ReportFailure(output, EmptyAppIdMessage);
        break;
    }
  }

  // Input has ended: leave a console's cursor on a fresh line in its normal
  // colours for the shell's prompt; a redirected output gets nothing more.
  DWORD mode = 0;
  if (GetConsoleMode(output, &mode) != 0) {
    std::cout << '\n';
    SetAttribute(output, NormalAttribute);
  }
  // A read that failed, or a line too large for memory, also ends the input,
  // but the rest of it is lost: that is not a normal end.
  return std::cin.bad() ? EXIT_FAILURE : EXIT_SUCCESS;
}
