// POSIX implementation of the spawn request channel. Only operating-system
// code lives here.
#include "kel/platform/spawn_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "kel/platform/posix/errors.h"

namespace kel::platform {

namespace {

// The socket address "\0orvi-setup-spawn-<id>" (abstract namespace: no file
// is made anywhere).
socklen_t AddressOf(int64_t id, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string name = "orvi-setup-spawn-" + std::to_string(id);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

using posix::Fail;

// Reads or writes exactly `count` bytes before the deadline.
bool Transfer(int fd, void* buffer, size_t count, bool write, std::chrono::steady_clock::time_point deadline) {
  auto* bytes = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = write ? ::send(fd, bytes + done, count - done, MSG_NOSIGNAL) : ::recv(fd, bytes + done, count - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool PeerCredentials(int fd, ucred& credentials) {
  socklen_t length = sizeof credentials;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0;
}

}  // namespace

SpawnServer::~SpawnServer() {
  if (socket_ >= 0) ::close(socket_);
}

bool SpawnServer::Listen(std::string* error) {
  if (socket_ >= 0) return true;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Fail(error);
  sockaddr_un address;
  id_ = ::getpid();
  const socklen_t length = AddressOf(id_, address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0) {
    Fail(error);
    ::close(fd);
    return false;
  }
  socket_ = fd;
  return true;
}

void SpawnServer::Serve(int timeoutMilliseconds, const std::function<void(const std::string&)>& handler) {
  if (socket_ < 0) {
    ::usleep(static_cast<useconds_t>(timeoutMilliseconds) * 1000);
    return;
  }
  pollfd entry{socket_, POLLIN, 0};
  const int ready = ::poll(&entry, 1, timeoutMilliseconds);
  if (ready <= 0) return;
  for (;;) {
    const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;  // nothing more waiting
    ucred peer{};
    const bool trusted = PeerCredentials(client, peer) && (peer.uid == 0 || peer.uid == ::geteuid());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    uint32_t length = 0;
    if (trusted && Transfer(client, &length, sizeof length, false, deadline) && length <= kMaxSpawnCommand) {
      std::string command(length, '\0');
      if (Transfer(client, command.data(), length, false, deadline)) {
        handler(command);
        char done = 1;
        Transfer(client, &done, 1, true, std::chrono::steady_clock::now() + std::chrono::seconds(5));
      }
    }
    ::close(client);
  }
}

bool SendSpawnRequest(int64_t serverId, const std::string& command, std::string* error, int timeoutMilliseconds) {
  if (command.size() > kMaxSpawnCommand) {
    if (error) *error = posix::ErrorText(E2BIG);
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(error);
  sockaddr_un address;
  const socklen_t length = AddressOf(serverId, address);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  if (!ok) posix::ReportErrno(error);
  ucred peer{};
  if (ok && (!PeerCredentials(fd, peer) || peer.pid != serverId)) {
    ok = false;
    if (error) *error = "The process that answered is not the one that started this setup.";
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  const uint32_t size = static_cast<uint32_t>(command.size());
  char done = 0;
  if (ok) {
    ok = Transfer(fd, const_cast<uint32_t*>(&size), sizeof size, true, deadline) &&
         Transfer(fd, const_cast<char*>(command.data()), command.size(), true, deadline) &&
         Transfer(fd, &done, 1, false, deadline) && done == 1;
    if (!ok && error) *error = "The spawn server did not answer.";
  }
  ::close(fd);
  return ok;
}

}  // namespace kel::platform
