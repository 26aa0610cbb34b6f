// Every text the launcher shows, byte for byte in code page 932 (the expected
// bytes were produced by `iconv -f UTF-8 -t CP932` from the texts as written).
#include <gtest/gtest.h>

#include <string>

#include "install/installation_check.h"
#include "res/texts.h"
#include "update/update_run.h"

namespace kv {
namespace {

struct TextCase {
  const char* name;
  const char* actual;
  const char* expected;
};

const TextCase kTexts[] = {
    {"caption", text::kUpdateCaption, "Kelvaro for Win \xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF"},
    {"not installed", text::kNotInstalled,
     "Kelvaro for Win \x82\xAA\xB2\xDD\xBD\xC4\xB0\xD9\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9"
     "\x82\xF1\x81"
     "B\n\xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF\x82\xCC\x91O\x82\xC9 Kelvaro for Win \x82\xF0\xB2"
     "\xDD\xBD\xC4\xB0\xD9\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81"
     "B"},
    {"installed incorrectly", text::kInstalledIncorrectly,
     "Kelvaro for Win \x82\xAA\x90\xB3\x82\xB5\x82\xAD\xB2\xDD\xBD\xC4\xB0\xD9\x82\xB3\x82\xEA\x82\xC4"
     "\x82\xA2\x82\xDC\x82\xB9\x82\xF1\x81"
     "B\n\xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF\x82\xCC\x91O\x82\xC9 Kelvaro for Win \x82\xF0\x8D"
     "\xC4\xB2\xDD\xBD\xC4\xB0\xD9\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81"
     "B"},
    {"already current", text::kAlreadyCurrent,
     "\x82\xB7\x82\xC5\x82\xC9\x8D\xC5\x90V\x82\xCC\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x82\xAA\xB2\xDD\xBD\xC4"
     "\xB0\xD9\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xE9\x82\xCC\x82\xC5\x81"
     "A\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xCC\x95K\x97v\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1"
     "\x81"
     "B"},
    {"update completed", text::kUpdateCompleted,
     "\xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF\x82\xAA\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82"
     "\xBD\x81"
     "B"},
    {"update failed", text::kUpdateFailed,
     "\xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF\x82\xAA\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB9\x82"
     "\xF1\x82\xC5\x82\xB5\x82\xBD\x81"
     "B\x8D\xC4\xB2\xDD\xBD\xC4\xB0\xD9\x8C\xE3\x81"
     "A\x82\xE0\x82\xA4\x88\xEA\x93x\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81"
     "B"},
    {"wait failed caption", text::kWaitFailedCaption, "CreateProcess Error"},
    {"wait failed text", text::kWaitFailedText, "WaitForSingleObject"},
    {"status format", text::kStatusFormat, "%s\n\n\tVersion:%s -> %s"},
    {"target version", TARGET_VERSION, "1.01"},
    {"update program", UPDATE_PROGRAM_NAME, "update.exe"},
    {"app paths key", APP_PATHS_KEY, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KvWin.exe"},
    {"version key", VERSION_KEY, "Software\\Tovrelund\\Kelvaro"},
    {"version value", VERSION_VALUE, "ExeVersion"},
};

TEST(Texts, AreExactCp932Bytes) {
  for (const TextCase& c : kTexts) {
    EXPECT_EQ(std::string(c.actual), std::string(c.expected)) << c.name;
  }
}

TEST(Texts, InstalledFilesInProbeOrder) {
  const char* expected[] = {"%sKvWin.exe", "%sKvBc.exe", "%sKvRace.exe",
                            "%sKvVtr.exe", "%sHelp\\body.html", "%sHelp\\menu.html"};
  ASSERT_EQ(INSTALLED_FILE_COUNT, 6u);
  for (std::size_t i = 0; i < INSTALLED_FILE_COUNT; ++i) EXPECT_STREQ(INSTALLED_FILES[i], expected[i]);
}

TEST(Texts, FreshnessThresholdIsTheCutOffInstant) {
  // 2000-06-06 15:00:00 UTC in 100 ns intervals since 1601-01-01.
  std::uint64_t ticks = (std::uint64_t{FRESHNESS_THRESHOLD.high} << 32) | FRESHNESS_THRESHOLD.low;
  EXPECT_EQ(ticks, 126047772000000000ull);
  std::uint64_t unixSeconds = (ticks - 116444736000000000ull) / 10000000ull;
  EXPECT_EQ(unixSeconds, 960303600ull);  // date -u -d @960303600: 2000-06-06 15:00:00
}

}  // namespace
}  // namespace kv
