// Opening programs and documents as the ordinary user after an elevated run.
//
// The unprivileged process that relaunched the setup elevated keeps a spawn
// server and waits; the elevated copy learns the server's id from the switch
// SKIPUAC and hands it every command to open, so what is opened gets the
// user's rights. A process without a partner opens commands itself, dropping
// to the invoking user's rights when it runs as root through sudo or pkexec.
#pragma once

#include <cstdint>
#include <string>

namespace setup {

class TSetupSpawnService {
 public:
  // Once per process: a non-zero handle selects client mode (requests go to
  // the server of that id), 0 server mode (this process serves requests).
  // A second call fails with "SpawnService is already initialized".
  static void Initialize(int64_t handle);
  // Opens a document, folder, address or program as the unprivileged user.
  // Failures are not reported.
  static void Spawn(const std::string& command);

  // Server mode: the id that names this process's server to the child.
  static int64_t ServerId();
  // Server mode: serves requests arriving within the time.
  static void Serve(int timeoutMilliseconds);

  // Back to the state before Initialize (the end of the program; tests).
  static void Finalize();
};

}  // namespace setup
