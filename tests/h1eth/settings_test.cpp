// h1eth.conf: each key read into its setting, each bad line reported once with its line number
// while the other keys still count, a file that is not TOML leaving every default, and only a
// regular file read at all.
#include "settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <string>
#include <vector>

namespace tav::h1eth {
namespace {

Settings With(void (*change)(Settings&)) {
  Settings settings;
  change(settings);
  return settings;
}

struct Row {
  const char* text;
  Settings expected;
  std::vector<std::string> problems;  // each the start of one reported problem, in order
};

TEST(H1EthSettings, ReadsKeysAndReportsEachBadLineOnce) {
  const Row rows[] = {
      {"", Settings{}, {}},
      {"# only a comment\n\n", Settings{}, {}},
      {"tpdu_size = 512\nchecksum = false\nextended_numbering = true\ncredit = 200\n"
       "retransmission_ms = 50\nretries = 3\nacknowledge_ms = 2\nwindow_ms = 900\n"
       "inactivity_ms = 4000\n",
       With([](Settings& s) { s = {512, false, true, 200, 50, 3, 2, 900, 4000, {}}; }),
       {}},
      // A bad key keeps its default; the good keys around it count.
      {"credit = 4\ntpdu_size = 2048\nretries = 2\n",
       With([](Settings& s) { s.credit = 4, s.retries = 2; }),
       {"line 2: tpdu_size = 2048 is outside 128 to 1024"}},
      {"tpdu_size = 300\n", Settings{}, {"line 1: tpdu_size takes 128, 256, 512 or 1024"}},
      {"checksum = 1\nretries = \"5\"\n",
       Settings{},
       {"line 1: checksum takes true or false", "line 2: retries takes a whole number"}},
      {"colour = \"red\"\n", Settings{}, {"line 1: unknown key 'colour'"}},
      {"retransmission_ms = 0\n", Settings{}, {"line 1: retransmission_ms = 0 is outside"}},
      // Above 15 the credit needs 31-bit numbering.
      {"credit = 40\n",
       With([](Settings& s) { s.credit = 15; }),
       {"credit 40 needs extended_numbering = true"}},
      // Stations whose data blocks count words; an entry that is no address is left out alone.
      {"word_addressed = [\"0a0b0c010205\", \"080006000001\"]\n",
       With([](Settings& s) {
         s.wordAddressedStations = {{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x05},
                                    {0x08, 0x00, 0x06, 0x00, 0x00, 0x01}};
       }),
       {}},
      {"word_addressed = [\n  \"0A0B0C010205\",\n  \"0A0B0C01020\",\n  7,\n]\ncredit = 4\n",
       With([](Settings& s) {
         s.wordAddressedStations = {{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x05}};
         s.credit = 4;
       }),
       {"line 3: word_addressed takes Ethernet addresses of 12 hex digits",
        "line 4: word_addressed takes Ethernet addresses of 12 hex digits"}},
      {"word_addressed = \"0A0B0C010205\"\n",
       Settings{},
       {"line 1: word_addressed takes a list of Ethernet addresses"}},
      // Not TOML, or not text: once, and nothing of it counts.
      {"credit = 4\ncredit = 5\n", Settings{}, {"line 2: "}},
      {"credit = 4\nretries = [\n", Settings{}, {"line "}},
      {"credit = 4\n\x01", Settings{}, {"line 2: not text; the file is ignored"}},
      {"credit = 4\n[#\n", Settings{}, {"not TOML; the file is ignored"}},
      // A byte-order mark ahead of the first line, as some editors save UTF-8.
      {"\xEF\xBB\xBF" "credit = 4\n", With([](Settings& s) { s.credit = 4; }), {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const SettingsReading reading = ParseSettings(row.text);
    EXPECT_EQ(reading.settings, row.expected);
    ASSERT_EQ(reading.problems.size(), row.problems.size());
    for (size_t i = 0; i < row.problems.size(); ++i) {
      EXPECT_EQ(reading.problems[i].rfind(row.problems[i], 0), 0u) << reading.problems[i];
    }
  }
}

// The file itself: only a regular file within the limit is read; whatever else is named is one
// problem, never a wait (a FIFO) or a read without end (/dev/zero), and the defaults apply.
TEST(H1EthSettings, ReadsOnlyARegularFileWithinTheLimit) {
  const std::filesystem::path folder =
      std::filesystem::path(::testing::TempDir()) / ("h1eth_conf_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "small.conf") << "credit = 4\n";
  std::ofstream(folder / "large.conf") << std::string(kSettingsByteLimit + 1, '#');
  ASSERT_EQ(::mkfifo((folder / "fifo.conf").c_str(), 0600), 0);
  const struct {
    std::string path;
    uint16_t credit;
    const char* problem;  // the one problem, or nothing
    bool named = false;   // named by TAV_H1ETH_CONF
  } rows[] = {
      {(folder / "small.conf").string(), 4, ""},
      {(folder / "none.conf").string(), 8, ""},
      {(folder / "none.conf").string(), 8,
       "does not exist (TAV_H1ETH_CONF names it): the defaults apply", true},
      {folder.string(), 8, "is a directory: the defaults apply"},
      {(folder / "fifo.conf").string(), 8, "is not a regular file"},
      {"/dev/zero", 8, "is not a regular file"},
      {(folder / "large.conf").string(), 8, "is larger than 65536 bytes: the defaults apply"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    const SettingsReading reading = ReadSettingsFile(row.path, row.named);
    EXPECT_EQ(reading.settings.credit, row.credit);
    ASSERT_EQ(reading.problems.size(), *row.problem == '\0' ? 0u : 1u);
    if (!reading.problems.empty()) {
      EXPECT_EQ(reading.problems[0].rfind(row.problem, 0), 0u);
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tav::h1eth
