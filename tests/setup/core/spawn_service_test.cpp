#include "setup/core/spawn_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kel/base/error.h"
#include "kel/platform/spawn_channel.h"
#include "support/testlib/environment.h"

namespace setup {
namespace {

// The service is process-wide: every test leaves it as it found it.
struct TFinalizeSpawnService {
  TFinalizeSpawnService() { TSetupSpawnService::Finalize(); }
  ~TFinalizeSpawnService() { TSetupSpawnService::Finalize(); }
};

// The unprivileged parent opens what the elevated child asks for; the child
// hands every command to the parent instead of opening it.
TEST(SpawnService, CommandsGoToThePartnerProcess) {
  TFinalizeSpawnService finalize;
  orvi::test::Sandbox machine;
  const std::string program = machine.WriteFile("/bin/record", "#!/bin/sh\necho started > \"$0.ran\"\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);

  // The parent's side: a server, whose requests are opened here.
  TSetupSpawnService::Initialize(0);
  ASSERT_NE(TSetupSpawnService::ServerId(), 0);
  try {
    TSetupSpawnService::Initialize(0);
    ADD_FAILURE() << "no error";
  } catch (const kel::Exception& e) {
    EXPECT_EQ(e.Message(), "SpawnService is already initialized");
  }
  std::atomic<bool> sent{false};
  bool delivered = false;
  std::thread child([&] {
    delivered = kel::platform::SendSpawnRequest(TSetupSpawnService::ServerId(), program);
    sent = true;
  });
  while (!sent) TSetupSpawnService::Serve(50);
  child.join();
  EXPECT_TRUE(delivered);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(program + ".ran") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(std::filesystem::exists(program + ".ran"));
  TSetupSpawnService::Finalize();
  EXPECT_EQ(TSetupSpawnService::ServerId(), 0);

  // The child's side: Spawn hands the command over and returns when the
  // partner has handled it.
  kel::platform::SpawnServer partner;
  ASSERT_TRUE(partner.Listen());
  TSetupSpawnService::Initialize(partner.Id());
  EXPECT_EQ(TSetupSpawnService::ServerId(), 0);
  std::atomic<bool> spawned{false};
  std::vector<std::string> received;
  std::thread elevated([&] {
    TSetupSpawnService::Spawn(machine / "/home/u/Readme.txt");
    spawned = true;
  });
  while (!spawned) partner.Serve(50, [&](const std::string& command) { received.push_back(command); });
  elevated.join();
  EXPECT_EQ(received, std::vector<std::string>{machine / "/home/u/Readme.txt"});
}

}  // namespace
}  // namespace setup
