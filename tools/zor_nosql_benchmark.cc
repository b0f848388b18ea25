// zor_nosql_benchmark: drives a running server (ours, or redis-server over RESP) with ready-made or
// user-given workloads and reports requests per second, latency percentiles and its own CPU use.
// See `load_usage()` for the options.
//
// Exit status: 0 when every workload ran and no reply failed unexpectedly, 1 when a workload
// could not run (broken connection, stuck server) or had unexpected failed replies, 2 for bad
// options and connection or login errors.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/frame.h"
#include "tools/load_driver.h"
#include "tools/load_options.h"
#include "tools/resp.h"
#include "zor_version.h"

namespace qn::tools {
namespace {

// xorshift64*: cheap, and independent per connection so no state is shared.
struct key_source {
  uint64_t state;
  uint64_t next(uint64_t keyspace) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return (state * 2685821657736338717ull) % keyspace;
  }
};

// The slot number in a creation reply (its "vkey" item).
bool slot_of_creation(const std::string& frame, uint64_t& slot) {
  client::command_reply reply;
  if (client::decode_command_reply(frame, reply) != client::decode_status::complete) return false;
  for (const client::reply_item& item : reply.items) {
    if (item.label == "vkey" && item.values.size() == 1) {
      if (const auto* v = std::get_if<uint64_t>(&item.values[0])) {
        slot = *v;
        return true;
      }
    }
  }
  return false;
}

bool fail(const workload& w, const std::string& message) {
  std::fprintf(stderr, "zor_nosql_benchmark: %s: %s\n", w.name.c_str(), message.c_str());
  return false;
}

// Failed replies that the workload does not expect (see workload::may_fail).
uint64_t unexpected_failures(const workload& w, const phase_result& r) {
  return w.may_fail ? 0 : r.failures;
}

// Above this share of its one core the tool, not the server, set the pace.
constexpr double client_bound_share = 0.9;

void report(const load_options& o, const workload& w, const phase_result& r) {
  const double rps = r.seconds > 0 ? static_cast<double>(r.requests) / r.seconds : 0;
  const double core_share = r.seconds > 0 ? r.cpu_seconds / r.seconds : 0;
  const bool client_bound = core_share > client_bound_share;
  auto us = [&](double f) { return static_cast<double>(r.latency.percentile(f)) / 1000.0; };
  const double max_us = static_cast<double>(r.latency.max()) / 1000.0;
  const uint64_t unexpected = unexpected_failures(w, r);
  if (o.json) {
    std::printf(
        "{\"workload\":\"%s\",\"connections\":%d,\"requests\":%llu,\"failures\":%llu,"
        "\"unexpected_failures\":%llu,\"seconds\":%.3f,\"requests_per_second\":%.0f,"
        "\"p50_us\":%.1f,\"p99_us\":%.1f,\"p999_us\":%.1f,\"max_us\":%.1f,"
        "\"client_cpu_seconds\":%.3f,\"client_cpu_share\":%.3f,\"client_bound\":%s}\n",
        w.name.c_str(), o.connections, static_cast<unsigned long long>(r.requests),
        static_cast<unsigned long long>(r.failures), static_cast<unsigned long long>(unexpected),
        r.seconds, rps, us(0.5), us(0.99), us(0.999), max_us, r.cpu_seconds, core_share,
        client_bound ? "true" : "false");
  } else {
    std::printf(
        "%-12s %d connections: %llu requests in %.2f s, %.0f requests/s, latency p50 %.1f us, "
        "p99 %.1f us, p99.9 %.1f us, max %.1f us, failed replies %llu%s, client CPU %.2f s "
        "(%.0f %% of one core)%s\n",
        w.name.c_str(), o.connections, static_cast<unsigned long long>(r.requests), r.seconds, rps,
        us(0.5), us(0.99), us(0.999), max_us, static_cast<unsigned long long>(r.failures),
        w.may_fail && r.failures > 0 ? " (keys already present)" : "", r.cpu_seconds,
        core_share * 100, client_bound ? ", CLIENT-BOUND: this measured the load tool" : "");
  }
  std::fflush(stdout);
  if (unexpected > 0) {
    std::fprintf(stderr,
                 "zor_nosql_benchmark: %s: %llu of %llu replies failed; the figures above "
                 "include them and do not measure the workload\n",
                 w.name.c_str(), static_cast<unsigned long long>(unexpected),
                 static_cast<unsigned long long>(r.requests));
  }
}

// Sends `text` once per key 0..keyspace-1 over every connection; false (message printed) when
// that fails or any reply fails.
bool run_each_key(const load_options& o, const workload& w, load_driver& driver,
                  const std::string& text, uint64_t slot, const char* what) {
  uint64_t key = 0;
  auto each = [&](int, std::string& line) {
    if (key >= o.keyspace) return false;
    expand_template(text, slot, key++, line);
    return true;
  };
  phase_result r;
  if (!driver.run_phase(each, 0, resp_any_success, r)) return fail(w, driver.last_error());
  if (r.failures > 0) {
    return fail(w, std::to_string(r.failures) + " of the " + std::to_string(r.requests) +
                       " lines that " + what + " failed");
  }
  return true;
}

// Creates the workload's container, fills it, warms up, measures, and erases what it made.
// False when the workload could not run (the message is printed); `unexpected` gets the failed
// replies the workload does not expect.
bool run_workload(const load_options& o, const workload& w, load_driver& driver,
                  uint64_t& unexpected) {
  uint64_t slot = 0;
  std::string frame;
  if (!w.create.empty()) {
    if (!driver.run_one(w.create, frame)) return fail(w, driver.last_error());
    if (!slot_of_creation(frame, slot)) {
      return fail(w, "the server refused to create its container (" + w.create + ")");
    }
  }
  if (!w.prefill.empty() && !run_each_key(o, w, driver, w.prefill, slot, "fill the container")) {
    return false;
  }
  std::vector<key_source> keys;
  for (int i = 0; i < o.connections; ++i) keys.push_back({0x9E3779B97F4A7C15ull * (i + 1)});
  std::vector<size_t> turn(static_cast<size_t>(o.connections), 0);
  uint64_t budget = 0;
  auto random_command = [&](int i, std::string& line) {
    if (budget == 0) return false;
    --budget;
    const std::string& t = w.commands[turn[i]++ % w.commands.size()];
    expand_template(t, slot, keys[static_cast<size_t>(i)].next(o.keyspace), line);
    return true;
  };
  if (o.warmup_seconds > 0) {
    budget = UINT64_MAX;
    phase_result discard;
    if (!driver.run_phase(random_command, o.warmup_seconds, w.resp_accepts, discard)) {
      return fail(w, driver.last_error());
    }
  }
  phase_result result;
  budget = o.duration_seconds > 0 ? UINT64_MAX : o.requests;
  if (!driver.run_phase(random_command, o.duration_seconds, w.resp_accepts, result)) {
    return fail(w, driver.last_error());
  }
  report(o, w, result);
  unexpected = unexpected_failures(w, result);
  if (w.erase.find(key_placeholder) != std::string::npos) {
    return run_each_key(o, w, driver, w.erase, slot, "delete the keys");
  }
  if (!w.erase.empty() && !driver.run_one(expand_template(w.erase, slot, 0), frame)) {
    return fail(w, driver.last_error());
  }
  return true;
}

}  // namespace
}  // namespace qn::tools

int main(int argc, char** argv) {
  using namespace qn::tools;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  for (std::string_view a : args) {
    if (a == "--help") {
      std::printf("%s", load_usage().c_str());
      return 0;
    }
    if (a == "--version") {
      std::printf("zor_nosql_benchmark %s\n", qn::release_version);
      return 0;
    }
  }
  load_options options;
  std::string error;
  if (!parse_load_options(args, options, error)) {
    std::fprintf(stderr, "zor_nosql_benchmark: %s\n%s", error.c_str(), load_usage().c_str());
    return 2;
  }
  if (const char* p = std::getenv("ZOR_PASSWORD")) options.password = p;
  load_driver driver;
  if (!driver.open(options, error)) {
    std::fprintf(stderr, "zor_nosql_benchmark: %s\n", error.c_str());
    return 2;
  }
  bool has_unexpected_failures = false;
  for (const workload& w : options.workloads) {
    uint64_t unexpected = 0;
    if (!run_workload(options, w, driver, unexpected)) return 1;
    has_unexpected_failures = has_unexpected_failures || unexpected > 0;
  }
  return has_unexpected_failures ? 1 : 0;
}
