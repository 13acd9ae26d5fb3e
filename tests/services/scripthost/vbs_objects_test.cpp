// Dictionary, FileSystemObject and RegExp as scripts use them, and a suite
// of administrators' scripts with their exact results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/scripthost/script_host.h"
#include "tests/services/scripthost/vbs_test_util.h"

namespace {

using namespace tarv;

std::string Answer(const std::string& script) {
  const scripthost::UserOutcome out = scripthost::RunUserScript(script, std::nullopt);
  return out.ok ? out.text : "#" + std::to_string(out.error.number) + " line " + std::to_string(out.error.line);
}

std::string Main(const std::string& body) { return "Function TarvMain()\n" + body + "\nEnd Function\n"; }

// Replaces every "@" in a script by the test's folder.
std::string At(std::string s, const std::string& dir) {
  for (std::size_t i = s.find('@'); i != std::string::npos; i = s.find('@', i + dir.size())) s.replace(i, 1, dir);
  return s;
}

TEST(VbsObjects, Dictionary) {
  const struct { const char* body; const char* result; } cases[] = {
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add \"b\", 2\nd.Add \"a\", 1\nd(\"c\") = 3\n"
       "TarvMain = d.Count & Join(d.Keys, \"\") & Join(d.Items, \"\") & d.Item(\"a\") & d.Exists(\"z\")",
       "3bac2131False"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add 1, \"num\"\nd.Add \"1\", \"text\"\n"
       "TarvMain = d(1) & d(\"1\") & d.Count", "numtext2"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nx = d(\"missing\")\nTarvMain = d.Count & IsEmpty(x)",
       "1True"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.CompareMode = vbTextCompare\nd.Add \"Host\", 1\n"
       "TarvMain = d.Exists(\"HOST\") & d(\"host\")", "True1"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add \"a\", 1\nd.Add \"b\", 2\nd.Add \"c\", 3\n"
       "d.Remove \"b\"\nd.Key(\"c\") = \"z\"\nFor Each k In d\n s = s & k & d(k)\nNext\nd.RemoveAll\nTarvMain = s & d.Count",
       "a1z30"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add \"a\", 1\nd.Add \"a\", 2", "#457 line 4"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Remove \"x\"", "#32811 line 3"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nd.Add \"a\", 1\nd.CompareMode = 1", "#5 line 4"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nTarvMain = d.Nope", "#438 line 3"},
      {"Set d = CreateObject(\"Scripting.Dictionary\")\nSet d(\"o\") = CreateObject(\"Scripting.Dictionary\")\n"
       "d(\"o\")(\"in\") = 5\nTarvMain = d(\"o\")(\"in\") & TypeName(d(\"o\"))", "5Dictionary"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Answer(Main(c.body)), c.result);
  }
}

TEST(VbsObjects, FileSystem) {
  tarvtest::TempDir dir;
  const std::string d = dir.path().string();
  const struct { const char* body; const char* result; } cases[] = {
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/a.txt\", True)\n"
       "f.WriteLine \"one\"\nf.Write \"two\"\nf.WriteBlankLines 1\nf.WriteLine\nf.Close\n"
       "Set f = fs.OpenTextFile(\"@/a.txt\", 8)\nf.WriteLine \"three\"\nf.Close\n"
       "Set f = fs.OpenTextFile(\"@/a.txt\")\nDo Until f.AtEndOfStream\n s = s & \"[\" & f.ReadLine & \"]\"\nLoop\n"
       "f.Close\nTarvMain = s & fs.GetFile(\"@/a.txt\").Size",
       "[one][two][][three]15"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.OpenTextFile(\"@/b.txt\", 2, True)\n"
       "f.Write \"x\" & vbCrLf & \"y\"\nf.Close\nSet f = fs.OpenTextFile(\"@/b.txt\", 1)\n"
       "a = f.ReadLine\nb = f.ReadAll\nf.Close\nTarvMain = a & \"|\" & b & \"|\" & fs.FileExists(\"@/b.txt\")",
       "x|y|True"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateFolder \"@/sub\"\n"
       "fs.CreateTextFile(\"@/sub/c.log\").Close\nr = fs.FolderExists(\"@/sub\") & fs.FileExists(\"@/sub/c.log\")\n"
       "For Each f In fs.GetFolder(\"@/sub\").Files\n r = r & f.Name\nNext\nfs.DeleteFile \"@/sub/c.log\"\n"
       "TarvMain = r & fs.FileExists(\"@/sub/c.log\") & fs.GetFileName(\"/x/y.txt\") & fs.BuildPath(\"/x\", \"y\")",
       "TrueTruec.logFalsey.txt/x/y"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.OpenTextFile(\"@/none.txt\")", "#53 line 3"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.DeleteFile \"@/none.txt\"", "#53 line 3"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateTextFile(\"@/e.txt\").Close\n"
       "Set f = fs.OpenTextFile(\"@/e.txt\")\nx = f.ReadLine", "#62 line 5"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/w.txt\")\nx = f.ReadLine",
       "#54 line 4"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nfs.CreateTextFile(\"@/k.txt\").Close\n"
       "Set f = fs.CreateTextFile(\"@/k.txt\", False)", "#58 line 4"},
      {"Set fs = CreateObject(\"Scripting.FileSystemObject\")\nSet f = fs.CreateTextFile(\"@/nodir/k.txt\")",
       "#76 line 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Answer(Main(At(c.body, d))), c.result);
  }
}

TEST(VbsObjects, RegExp) {
  const struct { const char* body; const char* result; } cases[] = {
      {"Set re = New RegExp\nre.Pattern = \"^\\d+$\"\nTarvMain = re.Test(\"123\") & re.Test(\"12a\") & re.Test(\"12\" & vbLf)",
       "TrueFalseFalse"},
      {"Set re = CreateObject(\"VBScript.RegExp\")\nre.Pattern = \"(\\d+)\\.(\\d+)\"\nre.Global = True\n"
       "Set ms = re.Execute(\"v1.2 and v10.20\")\nFor Each m In ms\n s = s & m.Value & \"@\" & m.FirstIndex & \"+\" & "
       "m.Length & \"=\" & m.SubMatches(0) & \"/\" & m.SubMatches(1) & \";\"\nNext\nTarvMain = ms.Count & \" \" & s",
       "2 1.2@1+3=1/2;10.20@10+5=10/20;"},
      {"Set re = New RegExp\nre.Pattern = \"o\"\nTarvMain = re.Replace(\"foo boo\", \"0\")", "f0o boo"},
      {"Set re = New RegExp\nre.Pattern = \"o\"\nre.Global = True\nTarvMain = re.Replace(\"foo boo\", \"0\")", "f00 b00"},
      {"Set re = New RegExp\nre.Pattern = \"(\\w+)@(\\w+)\"\nTarvMain = re.Replace(\"mail: joe@host\", \"$2 at $1 ($&) $$\")",
       "mail: host at joe (joe@host) $"},
      {"Set re = New RegExp\nre.Pattern = \"ERROR\"\nre.IgnoreCase = True\nre.Global = True\n"
       "TarvMain = re.Execute(\"error Error ERROR\").Count", "3"},
      {"Set re = New RegExp\nre.Pattern = \"^\\w+$\"\nre.Multiline = True\nre.Global = True\n"
       "TarvMain = re.Execute(\"ab\" & vbLf & \"cd\").Count", "2"},
      {"Set re = New RegExp\nre.Pattern = \"z\"\nTarvMain = re.Execute(\"\xE4\xBD\xA0\xF0\x9F\x98\x80z\")(0).FirstIndex",
       "3"},
      {"Set re = New RegExp\nre.Pattern = \"x*\"\nre.Global = True\nTarvMain = re.Replace(\"ab\", \"-\")", "-a-b-"},
      {"Set re = New RegExp\nre.Pattern = \"(a)|(b)\"\nSet m = re.Execute(\"b\")(0)\n"
       "TarvMain = IsEmpty(m.SubMatches(0)) & m.SubMatches(1) & m.SubMatches.Count", "Trueb2"},
      {"Set re = New RegExp\nre.Pattern = \"\\u0041+\"\nTarvMain = re.Replace(\"xAAy\", \"-\")", "x-y"},
      {"Set re = New RegExp\nre.Pattern = \"(\"\nTarvMain = re.Test(\"x\")", "#5017 line 4"},
      {"Set re = New RegExp\nre.Pattern = \"(a+)+$\"\nTarvMain = re.Test(String(40, \"a\") & \"!\")", "#28 line 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Answer(Main(c.body)), c.result);
  }
}

// Scripts as administrators write them: parsing command output, subnet
// arithmetic, counting with a Dictionary, reading and writing text files.
struct AdminScript {
  const char* name;
  const char* script;
  const char* result;
};

const AdminScript kAdmin[] = {
    {"interfaces from ip addr",
     "Function TarvMain()\n"
     "out = \"1: lo: <LOOPBACK,UP>\" & vbLf & \"    inet 127.0.0.1/8 scope host lo\" & vbLf & _\n"
     "  \"2: eth0: <BROADCAST,UP>\" & vbLf & \"    inet 10.0.0.5/24 brd 10.0.0.255\" & vbLf & _\n"
     "  \"3: eth1: <BROADCAST>\" & vbLf & \"    inet 192.168.1.9/16 brd 192.168.255.255\"\n"
     "Set re = New RegExp\n"
     "re.Pattern = \"^\\d+: (\\w+):[\\s\\S]*?inet ([\\d.]+)/(\\d+)\"\n"
     "re.Global = True : re.Multiline = True\n"
     "For Each m In re.Execute(out)\n"
     "  If m.SubMatches(0) <> \"lo\" Then r = r & m.SubMatches(0) & \"=\" & m.SubMatches(1) & \"/\" & m.SubMatches(2) & \" \"\n"
     "Next\n"
     "TarvMain = Trim(r)\n"
     "End Function\n",
     "eth0=10.0.0.5/24 eth1=192.168.1.9/16"},
    {"subnet arithmetic",
     "Function Octets(ip)\n Octets = Split(ip, \".\")\nEnd Function\n"
     "Function Subnet(cidr)\n"
     " parts = Split(cidr, \"/\")\n o = Octets(parts(0))\n bits = CInt(parts(1))\n"
     " For i = 0 To 3\n"
     "  n = bits - i * 8\n  If n > 8 Then n = 8\n  If n < 0 Then n = 0\n"
     "  m = 256 - 2 ^ (8 - n)\n"
     "  net = net & (CInt(o(i)) And m)\n  bc = bc & ((CInt(o(i)) And m) Or (255 - m))\n"
     "  If i < 3 Then net = net & \".\" : bc = bc & \".\"\n"
     " Next\n"
     " hosts = 2 ^ (32 - bits) - 2\n"
     " Subnet = net & \" \" & bc & \" \" & hosts\n"
     "End Function\n"
     "Function TarvMain()\nTarvMain = Subnet(\"192.168.10.77/26\") & \"; \" & Subnet(\"10.1.2.3/12\")\nEnd Function\n",
     "192.168.10.64 192.168.10.127 62; 10.0.0.0 10.15.255.255 1048574"},
    {"status counts",
     "Function TarvMain()\n"
     "entries = Array(\"GET /a 200\", \"GET /b 404\", \"POST /c 200\", \"GET /d 500\", \"GET /a 200\")\n"
     "Set d = CreateObject(\"Scripting.Dictionary\")\n"
     "For Each line In entries\n  code = Split(line)(2)\n  d(code) = d(code) + 1\nNext\n"
     "keys = d.Keys\n"
     "For i = 0 To UBound(keys) - 1\n  For j = i + 1 To UBound(keys)\n"
     "    If keys(j) < keys(i) Then t = keys(i) : keys(i) = keys(j) : keys(j) = t\n  Next\nNext\n"
     "For Each k In keys\n  r = r & k & \":\" & d(k) & \" \"\nNext\n"
     "TarvMain = RTrim(r)\n"
     "End Function\n",
     "200:3 404:1 500:1"},
    {"disks over their limit",
     "Function TarvMain()\n"
     "df = \"Filesystem Size Used Avail Use% Mounted\" & vbLf & \"/dev/sda1 50G 45G 5G 90% /\" & vbLf & _\n"
     "     \"/dev/sdb1 100G 20G 80G 20% /data\" & vbLf & \"tmpfs 2G 1.7G 0.3G 85% /run\"\n"
     "lines = Split(df, vbLf)\n"
     "For i = 1 To UBound(lines)\n"
     "  f = Split(lines(i), \" \")\n"
     "  pct = CInt(Replace(f(4), \"%\", \"\"))\n"
     "  If pct >= 80 Then r = r & f(5) & \"(\" & pct & \") \"\n"
     "Next\n"
     "TarvMain = Trim(r)\n"
     "End Function\n",
     "/(90) /run(85)"},
    {"uptime text",
     "Function Pad(n)\n Pad = Right(\"0\" & n, 2)\nEnd Function\n"
     "Function TarvMain()\n"
     "secs = DateDiff(\"s\", \"2026-12-01 08:00:00\", \"2026-12-03 10:04:09\")\n"
     "d = secs \\ 86400 : h = (secs Mod 86400) \\ 3600 : m = (secs Mod 3600) \\ 60 : s = secs Mod 60\n"
     "TarvMain = d & \"d \" & Pad(h) & \":\" & Pad(m) & \":\" & Pad(s)\n"
     "End Function\n",
     "2d 02:04:09"},
    {"error handling around a conversion",
     "Function ToPort(s)\n On Error Resume Next\n ToPort = CInt(s)\n If Err.Number <> 0 Then ToPort = -1\nEnd Function\n"
     "Function TarvMain()\nTarvMain = ToPort(\"8080\") & \",\" & ToPort(\"http\") & \",\" & ToPort(\"99999\")\nEnd Function\n",
     "8080,-1,-1"},
};

TEST(VbsAdminScripts, ExactResults) {
  for (const AdminScript& a : kAdmin) {
    SCOPED_TRACE(a.name);
    EXPECT_EQ(Answer(a.script), a.result);
  }
  std::vector<std::string> scripts;
  for (const AdminScript& a : kAdmin) scripts.push_back(a.script);
  std::size_t errors = 0;
  const std::vector<std::string> got = vbstest::RunAll(scripts, &errors);
  EXPECT_EQ(errors, 0u);
  for (std::size_t i = 0; i < scripts.size(); ++i) EXPECT_EQ(got[i], kAdmin[i].result) << kAdmin[i].name;
}

TEST(VbsAdminScripts, CsvWrittenReadAndSummed) {
  tarvtest::TempDir dir;
  const std::string script = At(
      "Const ForReading = 1\n"
      "Function TarvMain()\n"
      "Set fs = CreateObject(\"Scripting.FileSystemObject\")\n"
      "Set out = fs.CreateTextFile(\"@/hosts.csv\", True)\n"
      "out.WriteLine \"host,ms\"\n"
      "hosts = Array(\"alpha\", \"beta\", \"gamma\")\n"
      "For i = 0 To 2\n  out.WriteLine hosts(i) & \",\" & (i + 1) * 12.5\nNext\n"
      "out.Close\n"
      "Set inp = fs.OpenTextFile(\"@/hosts.csv\", ForReading)\n"
      "inp.SkipLine\n"
      "Do While Not inp.AtEndOfStream\n"
      "  cols = Split(inp.ReadLine, \",\")\n"
      "  total = total + CDbl(cols(1)) : n = n + 1 : names = names & UCase(Left(cols(0), 1))\n"
      "Loop\n"
      "inp.Close\n"
      "TarvMain = names & \" \" & n & \" \" & FormatNumber(total / n, 2)\n"
      "End Function\n",
      dir.path().string());
  EXPECT_EQ(Answer(script), "ABG 3 25.00");
  EXPECT_EQ(tarvtest::ReadFile(dir.File("hosts.csv")), "host,ms\nalpha,12.5\nbeta,25\ngamma,37.5\n");
}

}  // namespace
