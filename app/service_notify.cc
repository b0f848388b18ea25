#include "app/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace qn::app {

bool send_notify(std::string_view socket_address, std::string_view message) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_address.empty() || socket_address.size() > sizeof address.sun_path - 1) return false;
  if (socket_address[0] != '/' && socket_address[0] != '@') return false;
  std::memcpy(address.sun_path, socket_address.data(), socket_address.size());
  socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_address.size());
  if (socket_address[0] == '@') {
    address.sun_path[0] = '\0';  // abstract name: no terminating zero, length counts exactly
  } else {
    ++length;  // a path name is passed with its terminating zero
  }
  const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  const ssize_t sent = sendto(s, message.data(), message.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address), length);
  close(s);
  return sent == static_cast<ssize_t>(message.size());
}

service_notifier service_notifier::from_environment() {
  const char* address = std::getenv("NOTIFY_SOCKET");
  return service_notifier(address != nullptr ? std::string(address) : std::string());
}

}  // namespace qn::app
