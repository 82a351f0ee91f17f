#include "setup/core/spawn_service.h"

#include <memory>

#include "kel/base/error.h"
#include "kel/base/shell.h"
#include "kel/platform/process.h"
#include "kel/platform/shell.h"
#include "kel/platform/spawn_channel.h"
#include "kel/platform/users.h"

namespace setup {

namespace {

struct TSpawnState {
  int64_t window = 0;  // the partner's server (client mode) or our own (server mode)
  bool owned = false;  // server mode
  std::unique_ptr<kel::platform::SpawnServer> server;
};

TSpawnState gState;

}  // namespace

void TSetupSpawnService::Initialize(int64_t handle) {
  if (gState.window != 0 || gState.server) throw kel::Exception("SpawnService is already initialized");
  if (handle != 0) {
    gState.window = handle;
    gState.owned = false;
    return;
  }
  gState.server = std::make_unique<kel::platform::SpawnServer>();
  // A server that cannot listen leaves the child to open commands itself
  // (its requests find nobody and are dropped): nothing to fail here.
  gState.server->Listen();
  gState.window = gState.server->Id();
  gState.owned = true;
}

void TSetupSpawnService::Spawn(const std::string& command) {
  if (gState.window != 0 && !gState.owned) {
    kel::platform::SendSpawnRequest(gState.window, command);
    return;
  }
  if (kel::platform::GetOsVersion().major >= 6)
    kel::platform::ShellOpenAsUser(command, "", kel::platform::InvokingUser());
  else
    kel::kelShellExecute(command);
}

int64_t TSetupSpawnService::ServerId() { return gState.owned ? gState.window : 0; }

void TSetupSpawnService::Serve(int timeoutMilliseconds) {
  if (!gState.server) return;
  gState.server->Serve(timeoutMilliseconds, [](const std::string& command) { kel::kelShellExecute(command); });
}

void TSetupSpawnService::Finalize() { gState = TSpawnState(); }

}  // namespace setup
