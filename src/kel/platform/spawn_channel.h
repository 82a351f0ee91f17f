// Requests to open something, handed from an elevated process to the
// unprivileged process that started it, so that what is opened runs with the
// user's own rights.
//
// The server is a Unix-domain socket in the abstract namespace, named after
// the server's process id (which is the value the elevated process receives
// on its command line). The server accepts only clients that run as root or
// as its own user; the client accepts only a server whose process id is the
// one it was given. A request is one command (UTF-8); the server answers with
// one byte after it has handled it, so a request is synchronous.
//
// Result contract: nothing throws; failures give false and, where taken, the
// reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kel::platform {

class SpawnServer {
 public:
  SpawnServer() = default;
  ~SpawnServer();
  SpawnServer(const SpawnServer&) = delete;
  SpawnServer& operator=(const SpawnServer&) = delete;

  // Starts listening; false when the socket cannot be made (for instance
  // because another process holds the name).
  bool Listen(std::string* error = nullptr);
  // The value that names this server to clients.
  int64_t Id() const { return id_; }
  // Waits up to `timeoutMilliseconds` for requests and hands each command to
  // `handler` before acknowledging it. Requests from other users are
  // dropped unanswered.
  void Serve(int timeoutMilliseconds, const std::function<void(const std::string&)>& handler);

 private:
  int socket_ = -1;
  int64_t id_ = 0;
};

// Commands longer than this are refused by both sides.
inline constexpr size_t kMaxSpawnCommand = 1 << 16;

// Sends the command to the server named by `serverId` and waits until it has
// been handled (at most `timeoutMilliseconds`). False when there is no such
// server or it did not answer.
bool SendSpawnRequest(int64_t serverId, const std::string& command, std::string* error = nullptr,
                      int timeoutMilliseconds = 60000);

}  // namespace kel::platform
