// Fuzz target: a byte stream through the session protocol (login frame, command frames) as one
// connection receives it, cut into pieces at points the input chooses, against the standard
// database. The session never sends: each reply it leaves in the connection is taken as sent.
//
// Input: byte 0 seeds the cut points; the rest is the stream. Each input gets a fresh
// connection, login throttle and database.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "net/digest.h"
#include "net/login_throttle.h"
#include "net/session.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qn::fuzz::silence_stdout();
  qn::fuzz::bound_hash_tables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static qn::db::nosql::container_registry registry;
  static const qn::user_table users = {{"admin", qn::net::password_digest("secret")}};
  registry.clear_all();
  (void)qn::fuzz::build_standard(registry);
  qn::net::login_throttle throttle;
  qn::net::session_context context;
  context.registry = &registry;
  context.users = &users;
  context.throttle = &throttle;
  auto c = std::make_unique<qn::net::connection>();
  c->client_address = "127.0.0.1";
  c->context = &context;

  uint32_t seed = data[0];
  for (size_t at = 1; at < size;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece =
        std::min<size_t>({size - at, 1 + (seed >> 16) % 64, qn::net::connection::receive_capacity});
    std::memcpy(c->receive_area.data(), data + at, piece);
    at += piece;
    qn::net::session_step step = qn::net::receive_bytes(*c, static_cast<uint32_t>(piece));
    if (step == qn::net::session_step::send) step = qn::net::reply_sent(*c);
    if (step == qn::net::session_step::close) break;
  }
  return 0;
}
