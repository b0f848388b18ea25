#include "app/log_mini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
// GCC 12 warns of an uninitialised std::function inside <regex> when optimising (a false alarm
// in the library's own code).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <string>

#include "tests/temp_directory.h"

namespace qn::app {
namespace {

// The lines of the log file at `path` joined by "|", each without its time stamp (which must have
// the form [yyyy-mm-dd hh:mm:ss.mmm]) and with the line and processor numbers shown as n.
std::string shapes(const std::string& path) {
  static const std::regex time_form(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  static const std::regex numbers(R"((\[#|\[cpu )\d+\])");
  std::ifstream in(path);
  std::string shown;
  for (std::string line; std::getline(in, line);) {
    std::smatch time;
    EXPECT_TRUE(std::regex_search(line, time, time_form, std::regex_constants::match_continuous))
        << line;
    shown += (shown.empty() ? "" : "|") + std::regex_replace(time.suffix().str(), numbers, "$1n]");
  }
  return shown;
}

// Enable, level, line counter and processor number shape what is written; a line longer than any
// buffer is kept whole; the signal handler's line is written without formatting; a log file that
// cannot be opened drops the lines quietly until the file is usable again.
TEST(LogMini, SettingsShapeWhatIsWritten) {
  testing_support::temp_directory directory;
  const std::string path = directory.file("zor_mdb_s.log"), long_text(3000, 'x');
  const std::string blocker = directory.file("not_a_directory");
  std::ofstream(blocker) << "x";  // a regular file where a directory should be
  const struct {
    std::string file, note;
    bool is_enabled;
    int level;
    bool is_counted, has_cpu;
    std::string expected;  // the lines after the time, "" when none is written
  } cases[] = {
      {path, long_text, true, log_level_note, true, true,
       "[note] [#n] [cpu n] " + long_text +
           "|[warn] [#n] [cpu n] b: 15.|[warn] [#n] catch signal: 11, abnormal."},
      {path, "a", true, log_level_note, false, true,
       "[note] [cpu n] a|[warn] [cpu n] b: 15.|[warn] catch signal: 11, abnormal."},
      {path, "a", true, log_level_warn, true, false,
       "[warn] [#n] b: 15.|[warn] [#n] catch signal: 11, abnormal."},
      {path, "a", true, log_level_off, false, false, ""},
      {path, "a", false, log_level_note, true, true, ""},
      {blocker + "/zor_mdb_s.log", "a", true, log_level_note, true, true, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path);
    set_log2file(c.file.data(), c.file.size());
    set_enable(c.is_enabled);
    set_mini_level(c.level);
    set_count(c.is_counted);
    set_cpu(c.has_cpu);
    log_note("%s\n", c.note.c_str());
    log_warn("b: %d.\n", 15);
    log_fatal_signal(11);
    EXPECT_EQ(shapes(path), c.expected) << c.expected;
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(blocker));
  set_log2file("", 0);  // lets go of the file before its directory goes
}

TEST(LogTime, FormatsUtcCivilTime) {
  for (const auto& [seconds, milliseconds, expected] :
       {std::tuple{0LL, 0, "1970-01-01 00:00:00.000"},
        {951782400LL, 5, "2000-02-29 00:00:00.005"},
        {-1LL, 40, "1969-12-31 23:59:59.040"},
        {253402300799LL, 0, "9999-12-31 23:59:59.000"}}) {
    char out[24];
    EXPECT_EQ(std::string(out, format_utc_time(seconds, milliseconds, out)), expected) << seconds;
  }
}

}  // namespace
}  // namespace qn::app
