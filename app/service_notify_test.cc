#include "app/service_notify.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace qn::app {
namespace {

// Each report is one datagram on the socket NOTIFY_SOCKET names; here an abstract one ("@..."),
// the form systemd uses (a path is the end-to-end service test's).
TEST(ServiceNotify, SendsEachReportAsOneDatagram) {
  const std::string name = "@zor_app_test_" + std::to_string(getpid());
  const int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
            0);
  for (const char* report : {"STATUS=start pending", "READY=1\nSTATUS=running"}) {
    EXPECT_TRUE(send_notify(name, report));
    pollfd p{listener, POLLIN, 0};
    char buffer[512];
    const ssize_t n = poll(&p, 1, 2000) == 1 ? recv(listener, buffer, sizeof buffer, 0) : -1;
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), report);
  }
  close(listener);
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
