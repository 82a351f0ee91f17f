#include "setup/core/active_x.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "kel/base/shell.h"
#include "support/temp_dir.h"

namespace setup {
namespace {

TEST(ActiveX, UnregisterServerCallsTheExport) {
  // Holding the library keeps its call counter alive across the loads.
  kel::TKELModule library = kel::kelLoadLibrary(ORVI_TESTLIB_PATH);
  ASSERT_NE(library, nullptr);
  void* address = kel::kelGetProcAddress(library, "TestUnregisterCalls");
  ASSERT_NE(address, nullptr);
  int32_t (*calls)();
  std::memcpy(&calls, &address, sizeof calls);

  EXPECT_EQ(calls(), 0);
  TSetupActiveX::UnregisterServer(ORVI_TESTLIB_PATH);
  EXPECT_EQ(calls(), 1);
  TSetupActiveX::CallExport(ORVI_TESTLIB_PATH, "NoSuchExport");
  EXPECT_EQ(calls(), 1) << "a missing export is skipped";

  orvi::test::TempDir dir;
  TSetupActiveX::UnregisterServer(dir / "missing.so");
  TSetupActiveX::UnregisterServer(dir.WriteFile("not-a-library.so", "garbage"));
  TSetupActiveX::UnregisterServer("");
  EXPECT_EQ(calls(), 1);
  kel::kelFreeLibrary(library);
}

}  // namespace
}  // namespace setup
