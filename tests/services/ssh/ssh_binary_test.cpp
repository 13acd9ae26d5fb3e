// The ssh statements through the real binary against sshd.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"
#include "tests/services/ssh/sshd_peer.h"

namespace {

TEST(SshBinary, ScriptLogsInAndRunsACommand) {
  tarvtest::TempDir dir;
  sshpeer::Sshd sshd(dir, sshpeer::Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  const std::string out = dir.File("out.txt");
  const std::string script = dir.Write(
      "ssh.nms", sshd.Connect() +
                     "ssh.recv expect {$ }\n"
                     "ssh.send {echo tw''o-$((40+2))%0A}\n"
                     "ssh.recv expect {two-42}\n"
                     "text.add {|}\n"
                     "ssh.command {printf 'ok'; exit 3}\n"
                     "ssh.close\n"
                     "text.add {|~run.errors~}\n"
                     "text.headpointer move to head\n"
                     "text.tailpointer move to tail\n"
                     "text.save to file {" + out + "}\n"
                     "run.end\n");
  const auto r =
      tarvtest::RunProgram(tarvtest::TarvBinary(), {"hide", script}, dir.path().string(), 60);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string text = tarvtest::ReadFile(out);
  const size_t bar = text.find('|');
  ASSERT_NE(bar, std::string::npos) << text;
  EXPECT_NE(text.find("\ntwo-42"), std::string::npos) << text;
  EXPECT_EQ(text.substr(bar), "|ok|0");
}

}  // namespace
