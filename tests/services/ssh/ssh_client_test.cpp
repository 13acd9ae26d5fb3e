// The ssh statements in scripts inside the test process, against Debian's
// sshd started by each test with its own configuration and test user.
#include "services/ssh/ssh_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/core/run_state.h"
#include "tests/engine/harness.h"
#include "tests/services/binary_run.h"
#include "tests/platform/child_watch.h"
#include "tests/services/ssh/sshd_peer.h"
#include "tests/services/statement_checks.h"

namespace {

using sshpeer::Auth;
using sshpeer::Sshd;
using tarvtest::RunErrors;
using tarvtest::TempDir;
using Errors = std::vector<std::string>;

using tarvtest::Text;

// Runs the script with a debug log in dir/log.
void RunLogged(const TempDir& dir, const std::string& script) {
  std::filesystem::create_directories(dir.path() / "log");
  tarvtest::Run(dir, "run.set loglevel {debug}\n" + script);
}

using tarvtest::Count;

// Runs the started script up to and including line `last`: the run errors
// so far.
Errors RunThroughLine(int last) {
  while (sgRun.StepRunState != RUNEND && sgRun.CurLine <= last) EsRunNextStep();
  return RunErrors();
}

bool Closed() { return sgSshSession == nullptr && sgShellChannel == nullptr && sgSsh.Socket == -1; }

TEST(SshPassword, ShellDialogueAndCommands) {
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  // Quotes split the words the script waits for, so that the echo of the
  // command line never matches them.
  RunLogged(dir, "ssh.send {early}\n" + sshd.Connect() +
                     "ssh.recv expect {$ }\n"
                     "ssh.set onrecv {Name? } send {Bob%0A}\n"
                     "ssh.send {printf 'Na''me? '; read n; echo \"Hi-$n-done\"%0A}\n"
                     "ssh.recv expect {Hi-Bob-done}\n"
                     "ssh.send {printf 'AB'; sleep 1; printf 'CD|'%0A}\n"
                     "ssh.recv expect {ABCD|}\n"
                     "ssh.recv for {1} seconds\n"
                     "text.add {[}\n"
                     "ssh.command {echo ok; echo noise >&2; exit 3}\n"
                     "text.add {][}\n"
                     "ssh.command {echo sig; kill -TERM $$}\n"
                     "text.add {]}\n"
                     "ssh.close\n"
                     "ssh.close\n"
                     "ssh.send {late}\n"
                     "ssh.recv for {0} seconds\n"
                     "ssh.command {echo late}\n");
  EXPECT_EQ(RunErrors(), (Errors{"ssh_send_a2:  ShellChannel == NULL, Error",
                                  "ssh_send_a2:  ShellChannel == NULL, Error",
                                  "ssh_recv_for_a3_seconds:  ShellChannel == NULL, Error",
                                  "ssh_command_a2:  Session == NULL, Error"}));
  const std::string text = Text();
  EXPECT_NE(text.find("Name? Bob"), std::string::npos) << text;
  EXPECT_NE(text.find("Hi-Bob-done"), std::string::npos) << text;
  EXPECT_NE(text.find("ABCD|"), std::string::npos) << text;
  EXPECT_NE(text.find("[ok\n][sig\n]"), std::string::npos) << text;
  EXPECT_EQ(sgSsh.ReadBytes, static_cast<int>(text.size()) - 4);
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_EQ(Count(log, "Authentication methods:[password] ok!"), 1);
  EXPECT_EQ(Count(log, "exit code: <3> , readbytes:"), 1);
  // The signal name is the server's data: the log shows it escaped.
  EXPECT_EQ(Count(log, "Got signal: &lt;TERM&gt;"), 1);
  // "Name? " ends its read: the next read must not find it again and answer
  // once more (the shell would then run "Bob").
  EXPECT_EQ(Count(log, "onrecv receved expected string"), 1);
  EXPECT_EQ(text.find("Bob: not found"), std::string::npos) << text;
  EXPECT_TRUE(Closed());
}

// A server that stops answering after a receive: ssh.command gives up at
// the step time-out with the channel's error, and the run goes on.  The
// library's own limit is a minute: a wait that kept to it instead of the
// step time-out ends the watch first.
TEST(SshPassword, AFrozenServerEndsTheCommandAtTheStepTimeOut) {
  childwatch::Watchdog dog(40, "AFrozenServerEndsTheCommandAtTheStepTimeOut");
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  // Short time-outs start after the login, which a loaded machine may take
  // seconds over.
  tarvtest::Start(dir, sshd.Connect() +
                           "ssh.recv expect {$ }\n"
                           "run.set step.timeout {2} seconds\n"
                           "ssh.command {echo never}\n"
                           "var {after} value {reached}\n");
  ASSERT_EQ(RunThroughLine(3), Errors{});
  sshd.Freeze();
  TarvRunToEnd();
  sshd.Thaw();
  EXPECT_EQ(RunErrors(), Errors{"ssh_command_a2: libssh2_channel_open_session Error"});
  EXPECT_EQ(tarvtest::Var("after"), "reached");
  EXPECT_EQ(Text().find("never"), std::string::npos);
  EXPECT_TRUE(Closed());
}

// A server that has become slow to answer: once the command starts, each of
// its answers comes 2 s late, so the channel opens after 2 s and the start
// of the command would be confirmed 2 s after that.  The start gets what
// the open left of the 3 s step time-out and fails; had it a step time-out
// of its own, it would be confirmed and the command would run.
TEST(SshPassword, TheChannelAndTheCommandsStartShareTheStepTimeOut) {
  childwatch::Watchdog dog(60, "TheChannelAndTheCommandsStartShareTheStepTimeOut");
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  sshpeer::SlowRelay relay(sshd.port());
  tarvtest::Start(dir, sshd.Connect(sshpeer::kPassword, relay.port()) +
                           "run.set step.timeout {3} seconds\n"
                           "ssh.command {echo never}\n"
                           "var {after} value {reached}\n");
  ASSERT_EQ(RunThroughLine(2), Errors{});
  // The shell's first output passes before the server turns slow.
  tcppeer::Pause(500);
  relay.Slow(2000);
  TarvRunToEnd();
  EXPECT_EQ(RunErrors(), Errors{"ssh_command_a2: libssh2_channel_exec Error"});
  EXPECT_EQ(tarvtest::Var("after"), "reached");
  EXPECT_EQ(Text().find("never"), std::string::npos);
  EXPECT_TRUE(Closed());
}

// A server whose every answer comes 1.2 s late: each call of the login
// (handshake, method list, password, channel, pty, shell) would be answered
// within the 4 s step time-out, but the login as a whole would take about
// ten seconds.  It gets one step time-out and fails; the connection is
// closed.
TEST(SshPassword, TheLoginAsAWholeGetsOneStepTimeOut) {
  childwatch::Watchdog dog(60, "TheLoginAsAWholeGetsOneStepTimeOut");
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  sshpeer::SlowRelay relay(sshd.port());
  relay.Slow(1200);
  tarvtest::Start(dir, "run.set step.timeout {4} seconds\n" +
                           sshd.Connect(sshpeer::kPassword, relay.port()));
  ASSERT_EQ(RunThroughLine(1), Errors{});
  const auto start = std::chrono::steady_clock::now();
  const Errors errors = RunThroughLine(2);
  EXPECT_LE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            4 + 1.5);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("ssh_connect_ip_a3_port_a5_username_a7_password_a9: ", 0), 0u)
      << errors[0];
  EXPECT_TRUE(Closed());
}

// A peer that takes the connection and never sends its banner: the
// handshake waits only for what is left of the step time-out, the connect
// fails and the run goes on, and the peer sees the connection closed.
// Without the deadline the handshake waits on the library's own terms,
// which the watch ends.
TEST(SshPassword, APeerThatNeverSendsItsBannerEndsTheConnectAtTheStepTimeOut) {
  childwatch::Watchdog dog(6, "APeerThatNeverSendsItsBannerEndsTheConnectAtTheStepTimeOut");
  TempDir dir;
  bool closed = false;
  tcppeer::Peer mute([&closed](int fd) { closed = fd >= 0 && tcppeer::WaitEof(fd); });
  tarvtest::Start(dir, "run.set step.timeout {2} seconds\n"
                       "ssh.connect ip {127.0.0.1} port {" + std::to_string(mute.port()) +
                       "} username {u} password {p}\n"
                       "var {after} value {reached}\n");
  ASSERT_EQ(RunThroughLine(1), Errors{});
  const auto start = std::chrono::steady_clock::now();
  const Errors errors = RunThroughLine(2);
  EXPECT_LE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2 + 1.0);
  EXPECT_EQ(errors, Errors{"ssh_connect_ip_a3_port_a5_username_a7_password_a9: Failure establishing SSH "
                           "session: -9"});
  EXPECT_TRUE(Closed());
  TarvRunToEnd();
  EXPECT_EQ(tarvtest::Var("after"), "reached");
  mute.Join();
  EXPECT_TRUE(closed);
}

// A server that takes no more input while a trigger keeps coming: once the
// channel's window is spent, the automatic answers wait within the
// receive's step time-out, so only the first is tried, not one for each
// read with a step time-out of its own.
TEST(SshPassword, AutomaticAnswersWaitWithinTheReceive) {
  childwatch::Watchdog dog(90, "AutomaticAnswersWaitWithinTheReceive");
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "log");
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  sshpeer::SlowRelay relay(sshd.port());
  // The window is then spent by sends nothing takes: the one that meets
  // its end fails and ends the loop.
  tarvtest::Start(dir, "run.set run.maxtime {60} seconds\n" +
                           sshd.Connect(sshpeer::kPassword, relay.port()) +
                           "ssh.recv expect {$ }\n"
                           "run.set step.timeout {2} seconds\n"
                           "ssh.send {while :; do printf 'Q''?'; sleep 0.2; done%0A}\n"
                           "ssh.recv for {1} seconds\n"
                           "loop.begin\nssh.send {" + std::string(1020, 'x') +
                           "}\nif.var {run.errors} > {0}\nloop.exit\nif.end\nloop.end\n"
                           "run.set loglevel {debug}\n"
                           "ssh.set onrecv {Q?} send {a}\n"
                           "ssh.recv expect {never}\n"
                           "ssh.close\n");
  ASSERT_EQ(RunThroughLine(6), Errors{});
  relay.Deaf();
  TarvRunToEnd();
  const Errors errors = RunErrors();
  ASSERT_EQ(errors.size(), 2u) << ::testing::PrintToString(errors);
  EXPECT_EQ(errors[1], "ssh_recv_expect_a3: TimeOut, expected string not received !");
  EXPECT_EQ(Count(tarvtest::LogsIn(dir), "onrecv receved expected string"), 1);
}

// What a server that has gone silent does to one statement: the server
// freezes (or, through a relay, stops taking input) after `before`; `after`
// runs untimed, then the timed statement must end within its own time (its
// receive time or the step time-out) plus 1.5 s, with the errors it records.
// A close that waited for the server beyond that, or gave up and kept the
// session (the leak checker of the sanitizer build sees it), fails here.
struct SilentCase {
  const char* name;
  bool deaf;           // the relay drops what the client sends; else the server freezes
  std::string before;  // while the server still answers
  std::string after;   // once it has gone silent, untimed
  std::string timed;   // one statement
  int ownSeconds;
  Errors errors;       // what the timed statement records
  bool closes;         // the connection is gone after it
};

TEST(SshPassword, EachWaitOnASilentServerEndsWithinItsOwnTime) {
  childwatch::Watchdog dog(240, "EachWaitOnASilentServerEndsWithinItsOwnTime");
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  // A shell that keeps printing the trigger to a client whose sends are all
  // dropped once the channel's window is spent.
  const std::string trigger = "ssh.recv expect {$ }\n"
                              "ssh.send {while :; do printf 'Q''?'; sleep 0.2; done%0A}\n"
                              "ssh.recv for {1} seconds\n";
  const std::string spend = "run.set step.timeout {2} seconds\nloop.begin\nssh.send {" +
                            std::string(1020, 'x') +
                            "}\nif.var {run.errors} > {0}\nloop.exit\nif.end\nloop.end\n";
  const std::string opened = "ssh_command_a2: libssh2_channel_open_session Error";
  const SilentCase cases[] = {
      {"command, blocking session", false, "", "run.set step.timeout {3} seconds\n",
       "ssh.command {echo never}\n", 3, {opened}, true},
      {"command after a receive", false, "ssh.recv expect {$ }\n",
       "run.set step.timeout {3} seconds\n", "ssh.command {echo never}\n", 3, {opened}, true},
      {"close, blocking session", false, "", "run.set step.timeout {3} seconds\n", "ssh.close\n",
       3, {}, true},
      {"close after a receive", false, "ssh.recv expect {$ }\n",
       "run.set step.timeout {3} seconds\n", "ssh.close\n", 3, {}, true},
      {"close of a server that takes no input", true, trigger,
       spend + "run.set step.timeout {3} seconds\n", "ssh.close\n", 3, {}, true},
      // Each answer waits for the shell within the receive's second, not a
      // step time-out of its own.
      {"automatic answer", true, trigger,
       spend + "ssh.set onrecv {Q?} send {a}\nrun.set step.timeout {6} seconds\n",
       "ssh.recv for {1} seconds\n", 1, {}, false},
  };
  for (const SilentCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<sshpeer::SlowRelay> relay;
    if (c.deaf) relay.emplace(sshd.port());
    const std::string head = "run.set run.maxtime {90} seconds\n" +
                             sshd.Connect(sshpeer::kPassword, c.deaf ? relay->port() : -1) +
                             c.before;
    const int silentAt = Count(head, "\n");
    const int timedAt = silentAt + Count(c.after, "\n") + 1;
    // The end of the run closes what is left under a short time-out.
    tarvtest::Start(dir, head + c.after + c.timed + "run.set step.timeout {1} seconds\n");
    ASSERT_EQ(RunThroughLine(silentAt), Errors{});
    if (c.deaf)
      relay->Deaf();
    else
      sshd.Freeze();
    const size_t known = RunThroughLine(timedAt - 1).size();
    // The timed statement and the end of the run's close (a second) within
    // their bounds, or the watch ends a wait that would go on.
    std::optional<childwatch::Watchdog> timedDog(std::in_place, c.ownSeconds + 4, c.name);
    const auto start = std::chrono::steady_clock::now();
    const Errors all = RunThroughLine(timedAt);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(took, c.ownSeconds + 1.5);
    EXPECT_EQ(Errors(all.begin() + static_cast<std::ptrdiff_t>(known), all.end()), c.errors);
    EXPECT_EQ(Closed(), c.closes);
    TarvRunToEnd();
    timedDog.reset();
    sshd.Thaw();
    EXPECT_TRUE(Closed());
  }
}

// The same through the program, which pauses a second after each run error:
// a frozen server holds ssh.command and ssh.close one step time-out each.
// A peer of the test tells the script when the server has been frozen and
// takes the time of each statement's end.
TEST(SshPassword, AFrozenServerHoldsCommandAndCloseOneStepTimeOutThroughTheBinary) {
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  using Clock = std::chrono::steady_clock;
  double commandTook = -1, closeTook = -1;
  tcppeer::Peer control([&](int fd) {
    // Freezes the server once the script is ready, lets it go on and takes
    // the time until its mark.
    auto timed = [&](const char* mark) {
      if (tcppeer::Read(fd, 5, 60000) != "ready") return -1.0;
      sshd.Freeze();
      const auto start = Clock::now();
      if (!tcppeer::Write(fd, "go")) return -1.0;
      const bool marked = tcppeer::Read(fd, 1, 60000) == mark;
      const double took = std::chrono::duration<double>(Clock::now() - start).count();
      sshd.Thaw();
      return marked ? took : -1.0;
    };
    commandTook = timed("a");
    closeTook = timed("b");
  });
  const std::string ready = "ssh.recv expect {$ }\n"
                            "tcp.send {ready}\n"
                            "tcp.recv expect {go}\n"
                            "run.set step.timeout {4} seconds\n";
  const std::string text = tarvtest::RunSaved(
      dir, "frozen.nms",
      "tcp.connect ip {127.0.0.1} port {" + std::to_string(control.port()) + "}\n" +
          sshd.Connect() + ready +
          "ssh.command {uptime}\n"
          "tcp.send {a}\n"
          "run.set step.timeout {10} seconds\n" +
          sshd.Connect() + ready +
          "ssh.close\n"
          "tcp.send {b}\n"
          "text.add {|errors=~run.errors~|~run.error.1~}\n",
      120);
  control.Join();
  ASSERT_GE(commandTook, 0) << text;
  ASSERT_GE(closeTook, 0) << text;
  EXPECT_LE(commandTook, 4 + 1 + 1.5);  // with the run error's pause
  EXPECT_LE(closeTook, 4 + 1.5);
  const size_t errors = text.find("|errors=");
  ASSERT_NE(errors, std::string::npos) << text;
  EXPECT_EQ(text.substr(errors), "|errors=1|run.steps [7], Line No. [7], Error: [" +
                                     std::string("ssh_command_a2: libssh2_channel_open_session "
                                                 "Error]"));
}

// Output into a text 10 bytes short of full fills it to its last byte and
// not one byte beyond.
TEST(SshPassword, CommandOutputStopsAtTheEndOfTheText) {
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  const auto o = tarvtest::RunCase(dir, sshd.Connect() + "ssh.command {yes | head -c 100000}\n"
                                                         "ssh.recv for {0} seconds\n",
                                   [] {
                                     sgRun.TextLen = TEXT_SIZE - 10;
                                     sgRun.Text[TEXT_SIZE + 1] = '#';
                                   });
  EXPECT_EQ(sgRun.TextLen, TEXT_SIZE);
  EXPECT_EQ(sgRun.Text[TEXT_SIZE + 1], '#');
  EXPECT_EQ(o.text.substr(TEXT_SIZE - 10), "y\ny\ny\ny\ny\n");
  EXPECT_EQ(o.errors, Errors{});
  EXPECT_TRUE(Closed());
}

// A shell that takes no input: the channel's window runs out, and the send
// that meets its end is an error that tells how much of it went out; every
// send before it went out whole.
TEST(SshPassword, ASendCutShortIsAnError) {
  childwatch::Watchdog dog(120, "ASendCutShortIsAnError");
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  std::string sends;
  for (int i = 0; i < 8; i++) sends += "ssh.send {" + std::string(1020, 'x') + "}\n";
  // The first error ends the run; one that never comes, the run's time limit.
  // The login keeps the default time-out: a loaded machine may take over a
  // second for the key exchange.
  RunLogged(dir, "run.set run.maxtime {40} seconds\n" + sshd.Connect() +
                     "ssh.recv expect {$ }\n"
                     "run.set step.timeout {1} seconds\n"
                     "ssh.send {stty raw -echo; sleep 60%0A}\n"
                     "ssh.recv for {1} seconds\n"
                     "run.set onerror {run.end}\n"
                     "loop.begin\n" + sends + "loop.end\n");
  const std::string log = tarvtest::LogsIn(dir);
  static const std::regex kWrite("ssh_send_a2 , len=<1020>, libssh2_channel_write=<(-?[0-9]+)>");
  std::vector<int> written;
  for (std::sregex_iterator m(log.begin(), log.end(), kWrite), end; m != end; ++m)
    written.push_back(std::stoi((*m)[1]));
  // A run that ended before its sends says why.
  ASSERT_GE(written.size(), 2u) << ::testing::PrintToString(RunErrors()) << "\n"
                                << tarvtest::ReadFile(sshd.log());
  for (size_t i = 0; i + 1 < written.size(); i++) ASSERT_EQ(written[i], 1020) << "send " << i;
  EXPECT_NE(written.back(), 1020);
  EXPECT_EQ(RunErrors(), Errors{"ssh_send_a2: libssh2_channel_write sent " +
                                std::to_string(written.back()) + " of 1020 bytes, Error"});
}

TEST(SshPassword, ThroughTheBinary) {
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  const std::string text = tarvtest::RunSaved(dir, "ssh.nms",
                                              sshd.Connect() +
                                                  "ssh.recv expect {$ }\n"
                                                  "ssh.send {echo tw''o-$((40+2))%0A}\n"
                                                  "ssh.recv expect {two-42}\n"
                                                  "text.add {|}\n"
                                                  "ssh.command {printf 'ok'; exit 3}\n"
                                                  "ssh.close\n"
                                                  "text.add {|~run.errors~}\n");
  const size_t bar = text.find('|');
  ASSERT_NE(bar, std::string::npos) << text;
  EXPECT_NE(text.find("\ntwo-42"), std::string::npos) << text;
  EXPECT_EQ(text.substr(bar), "|ok|0");
}

TEST(SshPassword, WrongPasswordAndReconnects) {
  TempDir dir;
  Sshd sshd(dir, Auth::Password);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  tarvtest::Start(dir, sshd.Connect("wrong") + sshd.Connect() + sshd.Connect() +
                           "ssh.command {echo again}\n");
  EXPECT_EQ(RunThroughLine(3),
            Errors{"ssh_connect_ip_a3_port_a5_username_a7_password_a9: Failure "
                   "libssh2_userauth_password: -18"});
  // The failed login and the connection that the third connect replaced
  // have both been shut down.
  EXPECT_TRUE(childwatch::WaitFor([&] {
    return Count(tarvtest::ReadFile(sshd.log()), "Normal Shutdown, Thank you for playing") == 2;
  })) << tarvtest::ReadFile(sshd.log());
  TarvRunToEnd();
  EXPECT_EQ(Text(), "again\n");
  EXPECT_EQ(RunErrors().size(), 1u);
  EXPECT_TRUE(Closed());  // by the end of the run
}

TEST(SshKbdInteractive, LoginThroughPam) {
  TempDir dir;
  Sshd sshd(dir, Auth::KbdInteractive);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  RunLogged(dir, sshd.Connect() + "ssh.command {echo kbd-ok}\n" + sshd.Connect("wrong") +
                     "ssh.command {echo never}\n");
  EXPECT_EQ(RunErrors(), (Errors{"ssh_connect_ip_a3_port_a5_username_a7_password_a9: Failure "
                                 "libssh2_userauth_keyboard_interactive: -18",
                                 "ssh_command_a2:  Session == NULL, Error"}));
  EXPECT_EQ(Text(), "kbd-ok\n");
  const std::string log = tarvtest::LogsIn(dir);
  EXPECT_EQ(Count(log, "Authentication methods:[keyboard-interactive]\n"), 2) << log;
  EXPECT_EQ(Count(log, "Authentication methods:[keyboard-interactive] ok"), 1);
  // The prompt is shown by its length, whatever follows it in memory.
  EXPECT_GE(Count(log, "Prompt 0 from server: [Password: ],len=10"), 2);
  // Each answer shows as its length only.
  EXPECT_EQ(Count(log, "Response 0 from user is [********],len=9"), 1);
  EXPECT_EQ(Count(log, "Response 0 from user is [********],len=5"), 1);
  EXPECT_EQ(Count(log, "from user is [" + std::string(sshpeer::kPassword)), 0);
  EXPECT_TRUE(Closed());
}

TEST(SshPublicKeyOnly, MethodListRefused) {
  TempDir dir;
  Sshd sshd(dir, Auth::PublicKeyOnly);
  ASSERT_TRUE(sshd.up()) << tarvtest::ReadFile(sshd.log());
  tarvtest::Run(dir, sshd.Connect() + "ssh.recv expect {$}\n");
  EXPECT_EQ(RunErrors(), (Errors{"ssh_connect_ip_a3_port_a5_username_a7_password_a9: "
                                 "Authentication methods:[publickey] Not Support!",
                                 "ssh_recv_expect_a3:  ShellChannel == NULL, Error"}));
  EXPECT_TRUE(Closed());
}

TEST(SshStatements, NoServerAndArgumentChecks) {
  tarvtest::RunChecks("services/ssh/checks.txt", [] { EXPECT_TRUE(Closed()); });
  TempDir dir;
  tarvtest::Run(dir, "ssh.connect ip {127.0.0.1} port {" + std::to_string(tcppeer::FreePort()) +
                         "} username {u} password {p}\nssh.set onrecv {ab} send {cd}\n");
  // The refused connect: the socket layer's error, then the statement's.
  EXPECT_EQ(RunErrors().size(), 2u);
  EXPECT_EQ(RunErrors().back(), "ssh_connect_ip_a3_port_a5_username_a7_password_a9: WinTcpConnect < 0 .");
  EXPECT_EQ(tarvtest::Var("ssh.onrecv"), "ab");
  EXPECT_EQ(tarvtest::Var("ssh.autosend"), "cd");
  EXPECT_TRUE(Closed());
}

}  // namespace
