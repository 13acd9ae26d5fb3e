// The program maps the libraries of a family only when a script uses it:
// the loader's own report (LD_DEBUG=files) of a real run names every file
// it opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "tests/e2e/harness_binary.h"
#include "tests/engine/harness.h"

namespace {

// The base names of the shared objects the dynamic loader opened.
std::set<std::string> FilesOpened(const std::string& report) {
  std::set<std::string> files;
  static const std::regex kFile(R"(file=(\S+) \[)");
  for (std::sregex_iterator it(report.begin(), report.end(), kFile), end; it != end; ++it)
    files.insert(std::filesystem::path((*it)[1].str()).filename().string());
  return files;
}

// A run of `program` in hide mode under the loader's report.
tarvtest::BinaryRun Traced(const std::string& program, const std::string& script, const std::string& cwd) {
  return tarvtest::RunProgram("/usr/bin/env", {"LD_DEBUG=files", program, "hide", script}, cwd);
}

// Libraries that only modules may bring in.
const char* const kHeavy[] = {"libcrypto", "libcurl",  "libsqlite3", "libmariadb", "libssh2",
                              "libnetsnmp", "libpcre2", "libfltk",   "libcairo",   "libpango",
                              "libX11",     "libzip",   "libespeak", "libfluidsynth", "libgif",
                              "tarv_"};

TEST(Modules, AnEmptyRunMapsNoLibraryOfAModule) {
  tarvtest::TempDir dir;
  const auto r = Traced(tarvtest::TarvBinary(), dir.Write("empty.nms", "run.end\n"), dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::set<std::string> files = FilesOpened(r.output);
  ASSERT_TRUE(std::any_of(files.begin(), files.end(), [](const std::string& f) { return f.starts_with("libc.so"); }))
      << r.output;
  for (const std::string& f : files)
    for (const char* heavy : kHeavy) EXPECT_FALSE(f.starts_with(heavy)) << f << " is mapped at start-up";
}

TEST(Modules, ScriptLoadsOnlyTheModulesItUses) {
  tarvtest::TempDir dir;
  const std::string script = dir.Write("s.nms",
      tarvtest::SqliteKeptLines(dir) +
      "var {n} value number {6*7}\n"
      "sys.vbscript {Function TarvMain() : TarvMain = UCase(\"~a~\") : End Function}\n"
      // A new database file's first open counts its two missing tables.
      "text.add {~a~ ~n~ ~vbscript.return~ ~run.errors~}\n"
      "text.headpointer move to head\ntext.tailpointer move to tail\n"
      "text.save to file {out.txt}\nrun.end\n");
  const auto r = Traced(tarvtest::TarvBinary(), script, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "kept 42 KEPT 2");
  const std::set<std::string> files = FilesOpened(r.output);
  EXPECT_TRUE(files.contains("tarv_database.so")) << r.output;
  EXPECT_TRUE(files.contains("tarv_scripthost.so")) << r.output;
  EXPECT_FALSE(files.contains("tarv_window.so"));
  EXPECT_FALSE(files.contains("libcurl.so.4"));
}

// The run errors the HTML log of one run of dir/tarv holds (log level error).
std::string LoggedRun(const tarvtest::TempDir& dir, const std::string& script) {
  std::filesystem::remove_all(dir.File("log"));
  std::filesystem::create_directory(dir.File("log"));
  const auto r = tarvtest::RunProgram(dir.File("tarv"), {"hide", script}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.File("log")))
    log += tarvtest::ReadFile(e.path().string());
  return log;
}

// The module folder of the build the tests run.
std::filesystem::path BuildModules() {
  return std::filesystem::path(tarvtest::TarvBinary()).parent_path() / "modules";
}

const std::string kEveryModuleScript =
    "run.set loglevel {error}\n"
    "sys.vbscript {Function TarvMain() : TarvMain = 1 : End Function}\n"
    "sqlite.close\nweb.close\nsnmp.getnext oid {x}\nssh.command {x}\nexcel.close\nscreen.clear\n"
    "text.add {errors=~run.errors~}\n"
    "text.headpointer move to head\ntext.tailpointer move to tail\n"
    "text.save to file {out.txt}\nrun.end\n";

// Every module loads into the program (all its symbols bound at once), also
// into a copy of it with its modules beside it, and a broken module beside
// the program fails only its own statements.
TEST(Modules, EveryModuleLoadsAndABrokenOneIsACountedError) {
  tarvtest::TempDir dir;
  const std::string script = dir.Write("s.nms", kEveryModuleScript);
  // A real copy of the modules: one of them is broken below.
  std::filesystem::copy_file(tarvtest::TarvBinary(), dir.File("tarv"));
  std::filesystem::copy(BuildModules(), dir.File("modules"));
  std::string log = LoggedRun(dir, script);
  EXPECT_NE(log.find("ssh_command_a2:"), std::string::npos) << log;  // the log holds the errors
  EXPECT_EQ(log.find("cannot be loaded"), std::string::npos) << log;
  const std::string errors = tarvtest::ReadFile(dir.File("out.txt"));
  ASSERT_TRUE(errors.starts_with("errors=")) << errors;

  dir.Write("modules/tarv_database.so", "not a module");
  log = LoggedRun(dir, script);
  const std::string expected = "description: [sqlite_close:The module [tarv_database.so] cannot be loaded: " +
                               dir.File("modules/tarv_database.so") + ": ";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  // One error more, and no other statement failed to load.
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "errors=" + std::to_string(std::stoi(errors.substr(7)) + 1));
  for (size_t at = log.find("cannot be loaded"); at != std::string::npos; at = log.find("cannot be loaded", at + 1))
    EXPECT_EQ(log.compare(at - 43, 43, "sqlite_close:The module [tarv_database.so] "), 0) << log.substr(at - 43, 80);
}

// The paths of the modules the dynamic loader opened, in its report, with
// their ".." folded ("bin/../lib" is "lib").
std::set<std::string> ModulePathsOpened(const std::string& report) {
  std::set<std::string> paths;
  static const std::regex kFile(R"(file=(\S+/tarv_\w+\.so) \[)");
  for (std::sregex_iterator it(report.begin(), report.end(), kFile), end; it != end; ++it)
    paths.insert(std::filesystem::path((*it)[1].str()).lexically_normal().string());
  return paths;
}

// A program with a modules folder beside it and an installed one, each with
// its own copy of the database module, one of them no module at all: the
// copy beside the program is the one loaded, and only it, whichever of the
// two is broken.
TEST(Modules, TheFolderBesideTheProgramIsSearchedFirst) {
  tarvtest::TempDir dir;
  const std::string beside = dir.File("prefix/bin/modules"), installed = dir.File("prefix/lib/tarv/modules");
  std::filesystem::create_directories(beside);
  std::filesystem::create_directories(installed);
  const std::string logs = dir.File("prefix/bin/log");
  std::filesystem::create_directories(logs);
  const std::string program = dir.File("prefix/bin/tarv");
  std::filesystem::copy_file(tarvtest::TarvBinary(), program);
  const std::string script = dir.Write("s.nms", "run.set loglevel {error}\n" + tarvtest::SqliteKeptLines(dir) +
                                                    "text.add {~a~}\n"
                                                    "text.headpointer move to head\ntext.tailpointer move to tail\n"
                                                    "text.save to file {out.txt}\nrun.end\n");
  struct Case {
    const char* name;
    std::string broken;  // the folder whose copy is no module
    const char* a;       // what the script's variable holds at its end
  };
  const Case cases[] = {
      {"a broken installed copy", installed, "kept"},
      {"a broken copy beside the program", beside, "lost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string& folder : {beside, installed}) {
      const std::string module = folder + "/tarv_database.so";
      std::filesystem::remove(module);
      if (folder == c.broken)
        std::ofstream(module) << "not a module";
      else
        std::filesystem::copy_file(BuildModules() / "tarv_database.so", module);
    }
    std::filesystem::remove(dir.File("t.db"));
    std::filesystem::remove_all(logs);
    std::filesystem::create_directory(logs);
    const auto r = Traced(program, script, dir.path().string());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), c.a);
    const std::set<std::string> opened = ModulePathsOpened(r.output);
    EXPECT_FALSE(opened.contains(installed + "/tarv_database.so")) << r.output;
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(logs)) log += tarvtest::ReadFile(e.path().string());
    if (c.broken == beside) {
      EXPECT_NE(log.find("cannot be loaded: " + beside + "/tarv_database.so: "), std::string::npos) << log;
    } else {
      EXPECT_TRUE(opened.contains(beside + "/tarv_database.so")) << r.output;
      EXPECT_EQ(log.find("cannot be loaded"), std::string::npos) << log;
    }
  }
}

// An installed program takes its modules from PREFIX/lib/tarv/modules and
// from nowhere else: with its own database module removed, the build's
// module (which still exists) is not loaded either, and the error names the
// folders looked in.
TEST(Modules, AnInstalledProgramLoadsOnlyItsOwnModules) {
  tarvtest::TempDir dir;
  const std::string prefix = dir.File("prefix");
  const auto install = tarvtest::RunProgram(
      "/usr/bin/cmake", {"--install", std::filesystem::path(tarvtest::TarvBinary()).parent_path().string(),
                         "--prefix", prefix},
      dir.path().string());
  ASSERT_EQ(install.exitCode, 0) << install.output;
  const std::string program = prefix + "/bin/tarv";
  const std::string installed = prefix + "/lib/tarv/modules";
  ASSERT_TRUE(std::filesystem::exists(installed + "/tarv_database.so")) << install.output;
  ASSERT_TRUE(std::filesystem::exists(BuildModules() / "tarv_database.so"));

  const std::string script = dir.Write("s.nms", kEveryModuleScript);
  const auto whole = Traced(program, script, dir.path().string());
  EXPECT_EQ(whole.exitCode, 0) << whole.output;
  EXPECT_TRUE(FilesOpened(whole.output).contains("tarv_database.so")) << whole.output;
  const std::string errors = tarvtest::ReadFile(dir.File("out.txt"));
  ASSERT_TRUE(errors.starts_with("errors=")) << errors;

  std::filesystem::remove(installed + "/tarv_database.so");
  std::filesystem::create_directory(prefix + "/bin/log");
  const auto r = Traced(program, script, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_FALSE(FilesOpened(r.output).contains("tarv_database.so")) << r.output;
  // One error more: the statement of the missing module.
  EXPECT_EQ(tarvtest::ReadFile(dir.File("out.txt")), "errors=" + std::to_string(std::stoi(errors.substr(7)) + 1));
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(prefix + "/bin/log")) log += tarvtest::ReadFile(e.path().string());
  const std::string expected = "description: [sqlite_close:The module [tarv_database.so] cannot be loaded: "
                               "tarv_database.so is in neither " + prefix + "/bin/modules nor " + prefix +
                               "/bin/../lib/tarv/modules]";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
}

}  // namespace
