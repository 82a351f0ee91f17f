#include <gtest/gtest.h>

#include "setup/core/extract.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "support/session_fixture.h"

namespace setup {
namespace {

using orvi::test::SessionFixture;
using orvi::test::SessionSpec;

// A silent session over in-memory packages runs its actions on the worker,
// hands every notification to the main thread, and extracts a file.
TEST(SessionSmoke, SilentRunExtractsAFileAndWritesTheLog) {
  orvi::test::TTestProductScope product;
  SessionSpec spec;
  spec.installXml = orvi::test::MinimalInstallXml("<Components><File name=\"$DESTa/b.txt\"/></Components>");
  spec.productFiles = {{"b.txt", "hello"}};
  spec.params = "/AUTO=/opt/Test /SILENT";
  orvi::test::TTestProduct::Actions = {TSetupActionClass::Of<TSetupActionExtract>("TSetupActionExtract")};
  SessionFixture fixture(spec);
  TSetup& session = fixture.Session();
  ASSERT_TRUE(session.HasFlag(sfSILENT));
  orvi::test::TRecordingListener listener;
  session.AddListener(&listener);
  session.Start(true);
  EXPECT_FALSE(session.HasErrors()) << session.Errors().Text();
  EXPECT_EQ(fixture.Machine().Root() + "/opt/Test/", session.DestPath());
  EXPECT_EQ(orvi::test::ReadFileBytes(session.DestPath() + "a/b.txt"), "hello");
  ASSERT_FALSE(listener.entries.empty());
  EXPECT_EQ(listener.entries.back().code, neFinished);
}

}  // namespace
}  // namespace setup
