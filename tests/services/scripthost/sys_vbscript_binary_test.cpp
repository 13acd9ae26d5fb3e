// sys.vbscript in a real run of the built program.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

TEST(SysVbscriptBinary, ReportFromVariables) {
  tarvtest::TempDir dir;
  const std::string script = std::string(TARV_SOURCE_DIR) + "/tests/services/scripthost/scripts/host_report.nms";
  const auto r = tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("host_report.out")),
            "ALPHA=5;BETA=4;GAMMA=5;\n"
            "339 days, 1,234.5\n"
            "errors=1 last=339 days, 1,234.5\n"
            "n=4");
}

}  // namespace
