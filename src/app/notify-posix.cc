#include <errno.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/notify.h"

namespace wendrake {

namespace {

bool asked = false;   // $NOTIFY_SOCKET was set
sockaddr_un address;  // where to send, when addressLength is not 0
socklen_t addressLength = 0;

}  // namespace

void TakeServiceManagerSocket() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr) return;
  asked = true;
  std::size_t length = std::strlen(name);
  // A path, or a name in the abstract namespace written with '@' for its
  // leading NUL; such a name is as long as it is, with no NUL at its end.
  // Any other is refused at the first message.
  bool abstract = name[0] == '@';
  if ((name[0] == '/' && length < sizeof address.sun_path) ||
      (abstract && length > 1 && length <= sizeof address.sun_path)) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name, length);
    if (abstract) address.sun_path[0] = '\0';
    addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + !abstract);
  }
  unsetenv("NOTIFY_SOCKET");
}

bool TellServiceManager(const char* state) {
  if (!asked) return true;
  if (addressLength == 0) {
    errno = EINVAL;
    return false;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::size_t length = std::strlen(state);
  ssize_t sent = sendto(fd, state, length, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), addressLength);
  int error = errno;
  close(fd);
  errno = error;
  return sent == static_cast<ssize_t>(length);
}

}  // namespace wendrake
