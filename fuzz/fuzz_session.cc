// Fuzz target: a byte stream through the session protocol (login frame, command frames) as one
// connection receives it, cut into pieces at points the input chooses, against the standard
// database. Replies go to one end of a socket pair and are discarded.
//
// Input: byte 0 seeds the cut points; the rest is the stream. Each input gets a fresh
// connection, login throttle and database.

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "net/digest.h"
#include "net/login_throttle.h"
#include "net/session.h"

namespace {

int sockets[2] = {-1, -1};

// Reads and drops whatever replies are waiting.
void drain() {
  char buffer[65536];
  while (::recv(sockets[1], buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) std::abort();
  qn::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static qn::db::nosql::Registry registry;
  static const qn::net::user_table users = {{"admin", qn::net::password_digest("secret")}};
  registry.clear_all();
  (void)qn::fuzz::build_standard(registry);
  qn::net::login_throttle throttle;
  auto c = std::make_unique<qn::net::connection>();
  c->socket = sockets[0];
  c->area = c->receive_area.data();
  c->capacity = qn::net::connection::receive_capacity;
  c->client_address = "127.0.0.1";
  c->registry = &registry;
  c->users = &users;
  c->throttle = &throttle;
  c->send_timeout = std::chrono::milliseconds(0);

  uint32_t seed = data[0];
  for (size_t at = 1; at < size;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece =
        std::min<size_t>({size - at, 1 + (seed >> 16) % 64, qn::net::connection::receive_capacity});
    std::memcpy(c->receive_area.data(), data + at, piece);
    at += piece;
    const bool keep = qn::net::receive_bytes(*c, static_cast<uint32_t>(piece));
    drain();
    if (!keep) break;
  }
  return 0;
}
