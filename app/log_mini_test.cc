#include "app/log_mini.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/temp_directory.h"

namespace qn::app {
namespace {

// A fresh directory with a log file path in it; logging is configured as the server does it.
class LogMini : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = directory_.file("zor_mdb_s.log");
    set_enable(true);
    set_log2file(path_.data(), path_.size());
    set_mini_level(log_level_note);
    set_count(true);
    set_cpu(true);
  }
  void TearDown() override {
    set_log2file("", 0);  // lets go of the file before its directory goes
  }

  // The lines of the log file joined by "|", each without its time stamp (which must have the
  // form [yyyy-mm-dd hh:mm:ss.mmm]) and with the line number and the processor number shown as n.
  // Line numbers must run on by one.
  std::string shapes() const {
    constexpr std::string_view time_form = "[dddd-dd-dd dd:dd:dd.ddd] ";
    std::ifstream in(path_);
    std::string shown;
    unsigned long long last = 0;
    for (std::string line; std::getline(in, line);) {
      bool is_time = line.size() > time_form.size();
      for (size_t i = 0; is_time && i < time_form.size(); ++i) {
        is_time = time_form[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                      : line[i] == time_form[i];
      }
      EXPECT_TRUE(is_time) << line;
      line.erase(0, time_form.size());
      for (const std::string_view field : {"[#", "[cpu "}) {
        const size_t at = line.find(field);
        if (at == std::string::npos) continue;
        const size_t from = at + field.size(), to = line.find(']', from);
        if (field == "[#") {
          EXPECT_TRUE(last == 0 || std::stoull(line.substr(from, to - from)) == last + 1) << line;
          last = std::stoull(line.substr(from, to - from));
        }
        line.replace(from, to - from, "n");
      }
      shown += (shown.empty() ? "" : "|") + line;
    }
    return shown;
  }

  testing_support::temp_directory directory_;
  std::string path_;
};

TEST_F(LogMini, LongLinesAndTheSignalHandlersLine) {
  const std::string long_text(3000, 'x');  // longer than any line buffer: kept whole
  log_note("%s and %d", long_text.c_str(), 7);
  log_fatal_signal(11);  // written without formatting
  EXPECT_EQ(shapes(),
            "[note] [#n] [cpu n] " + long_text + " and 7|[warn] [#n] catch signal: 11, abnormal.");
}

TEST_F(LogMini, SettingsShapeWhatIsWritten) {
  struct case_t {
    bool is_enabled;
    int level;
    bool is_counted;
    bool has_cpu;
    const char* expected;  // the note and the warning after the time, "" when not written
  };
  const case_t cases[] = {
      {true, log_level_note, true, true, "[note] [#n] [cpu n] a|[warn] [#n] [cpu n] b: 15."},
      {true, log_level_note, true, false, "[note] [#n] a|[warn] [#n] b: 15."},
      {true, log_level_note, false, true, "[note] [cpu n] a|[warn] [cpu n] b: 15."},
      {true, log_level_warn, false, false, "[warn] b: 15."},
      {true, log_level_off, false, false, ""},
      {false, log_level_note, true, true, ""},
  };
  for (const case_t& c : cases) {
    std::filesystem::remove(path_);
    set_log2file(path_.data(), path_.size());
    set_enable(c.is_enabled);
    set_mini_level(c.level);
    set_count(c.is_counted);
    set_cpu(c.has_cpu);
    log_note("a\n");
    log_warn("b: %d.\n", 15);
    EXPECT_EQ(shapes(), c.expected)
        << c.is_enabled << " " << c.level << " " << c.is_counted << " " << c.has_cpu;
  }
}

TEST_F(LogMini, UnopenableFileDropsLinesQuietly) {
  // A regular file where the directory should be: no user, root included, can create the log.
  const std::string blocker = directory_.file("not_a_directory");
  std::ofstream(blocker) << "x";
  const std::string nowhere = blocker + "/zor_mdb_s.log";
  set_log2file(nowhere.data(), nowhere.size());
  log_note("want to exit by ctrl-c\n");
  log_warn("at_terminate!\n");
  log_fatal_signal(6);
  EXPECT_TRUE(std::filesystem::is_regular_file(blocker));
  EXPECT_EQ(shapes(), "");
  // Pointing it at a usable file again brings the lines back.
  set_log2file(path_.data(), path_.size());
  log_note("back");
  EXPECT_EQ(shapes(), "[note] [#n] [cpu n] back");
}

TEST(LogTime, FormatsUtcCivilTime) {
  struct case_t {
    long long seconds;
    int milliseconds;
    const char* expected;
  };
  const case_t cases[] = {
      {0, 0, "1970-01-01 00:00:00.000"},
      {951782400, 5, "2000-02-29 00:00:00.005"},
      {-1, 40, "1969-12-31 23:59:59.040"},
      {253402300799, 0, "9999-12-31 23:59:59.000"},
  };
  for (const case_t& c : cases) {
    char out[24];
    const size_t n = format_utc_time(c.seconds, c.milliseconds, out);
    EXPECT_EQ(std::string(out, n), c.expected) << c.seconds;
  }
}

}  // namespace
}  // namespace qn::app
