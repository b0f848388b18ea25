#include "app/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "tests/temp_directory.h"

namespace qn::app {
namespace {

// A datagram socket bound to a path in a fresh directory, or to an abstract name: what systemd
// listens on.
class notify_listener {
 public:
  explicit notify_listener(bool is_abstract) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (is_abstract) {
      address_ = "@zor_app_test_" + std::to_string(getpid());
      std::memcpy(address.sun_path + 1, address_.data() + 1, address_.size() - 1);
      length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size());
    } else {
      address_ = directory_.file("notify");
      std::memcpy(address.sun_path, address_.c_str(), address_.size() + 1);
      length = sizeof address;
    }
    is_bound_ = bind(socket_, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  }
  ~notify_listener() { close(socket_); }

  bool is_bound() const { return is_bound_; }
  const std::string& address() const { return address_; }
  // The next datagram, or "<none>" after two seconds.
  std::string receive() {
    pollfd p{socket_, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return "<none>";
    char buffer[512];
    const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
    return n < 0 ? "<error>" : std::string(buffer, static_cast<size_t>(n));
  }

 private:
  int socket_ = -1;
  bool is_bound_ = false;
  testing_support::temp_directory directory_;
  std::string address_;
};

TEST(ServiceNotify, SendsEachReportAsOneDatagram) {
  for (const bool is_abstract : {false, true}) {
    notify_listener listener(is_abstract);
    ASSERT_TRUE(listener.is_bound()) << listener.address();
    const char* reports[] = {"STATUS=start pending", "READY=1\nSTATUS=running",
                             "STOPPING=1\nSTATUS=stop pending"};
    for (const char* report : reports) {
      EXPECT_TRUE(send_notify(listener.address(), report)) << listener.address();
      EXPECT_EQ(listener.receive(), report) << listener.address();
    }
  }
}

TEST(ServiceNotify, RefusesAddressesItCannotUse) {
  const std::string too_long = "/" + std::string(120, 'x');
  const char* addresses[] = {"", "relative/socket", "vsock:2:1234", too_long.c_str(),
                             "/nonexistent-zor-directory/notify"};
  for (const char* address : addresses) {
    EXPECT_FALSE(send_notify(address, "READY=1")) << address;
  }
}

}  // namespace
}  // namespace qn::app
