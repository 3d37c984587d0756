#include "base/command_line.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/files/scratch_dir_test_util.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"

namespace base {
namespace {

typedef CommandLine::StringVector StringVector;

TEST(CommandLineTest, ParsesSwitchesWithTheirPrefixesAndValues) {
  CommandLine cl(StringVector{L"prog", L"--Foo=Bar", L"/silent", L"-quiet", L"--a=b=c",
                              L"--empty=", L"plain", L"/path/like"});
  EXPECT_EQ(std::wstring(L"Bar"), cl.GetSwitchValueNative("foo"));
  EXPECT_FALSE(cl.HasSwitch("Foo"));  // lookups are not case-folded
  EXPECT_TRUE(cl.HasSwitch("silent"));
  EXPECT_TRUE(cl.HasSwitch("quiet"));
  EXPECT_EQ(std::wstring(L"b=c"), cl.GetSwitchValueNative("a"));
  EXPECT_TRUE(cl.HasSwitch("empty"));
  EXPECT_EQ(std::wstring(), cl.GetSwitchValueNative("empty"));
  EXPECT_TRUE(cl.HasSwitch("path/like"));  // a leading slash makes a switch
  EXPECT_EQ((StringVector{L"prog", L"--foo=Bar", L"/silent", L"-quiet", L"--a=b=c", L"--empty",
                          L"/path/like", L"plain"}),
            cl.argv());
  EXPECT_EQ(std::wstring(), cl.GetSwitchValueNative("missing"));
}

TEST(CommandLineTest, TerminatorEndsSwitchParsing) {
  CommandLine cl(StringVector{L"prog", L"-", L"--x", L"--", L"--y", L"/z"});
  EXPECT_TRUE(cl.HasSwitch("x"));
  EXPECT_FALSE(cl.HasSwitch("y"));
  EXPECT_FALSE(cl.HasSwitch("z"));
  EXPECT_FALSE(cl.HasSwitch(""));
  EXPECT_EQ((StringVector{L"prog", L"--x", L"-", L"--", L"--y", L"/z"}), cl.argv());
  // Written back, the terminator still protects what follows it.
  EXPECT_EQ(std::wstring(L"--x - -- --y /z"), cl.GetArgumentsString());

  // A switch without a name would be written back as the terminator and swallow the
  // switches after it: it stays a plain argument, and appending one is refused.
  CommandLine empty_name(StringVector{L"x.exe", L"--=", L"b", L"--c"});
  EXPECT_EQ(std::wstring(L"--c --= b"), empty_name.GetArgumentsString());
  CommandLine reparsed(StringVector{L"x.exe", L"--c", L"--=", L"b"});
  EXPECT_TRUE(reparsed.HasSwitch("c"));
  EXPECT_EQ(empty_name.argv(), reparsed.argv());
  empty_name.AppendSwitchASCII("--", "v");
  empty_name.AppendSwitch("/");
  EXPECT_EQ(std::wstring(L"--c --= b"), empty_name.GetArgumentsString());
}

TEST(CommandLineTest, TrimsWhitespaceAndDropsEmptyArguments) {
  CommandLine cl(StringVector{L"  prog\t", L"", L" \t ", L"\u3000", L"\u00A0a\u2028",
                              L" --s = v "});
  EXPECT_EQ(std::wstring(L"prog"), cl.GetProgram().value());
  EXPECT_EQ(std::wstring(L" v"), cl.GetSwitchValueNative("s "));
  EXPECT_EQ((StringVector{L"prog", L"--s = v", L"a"}), cl.argv());
  CommandLine cut(StringVector{std::wstring(L"p\0q", 3)});
  EXPECT_EQ(std::wstring(L"p"), cut.GetProgram().value());
}

TEST(CommandLineTest, RepeatedAndAppendedSwitches) {
  CommandLine cl(StringVector{L"prog", L"--v=1", L"arg", L"--V=2"});
  EXPECT_EQ(std::wstring(L"2"), cl.GetSwitchValueNative("v"));
  EXPECT_EQ(1u, cl.GetSwitches().size());
  cl.AppendSwitch("X");
  cl.AppendSwitchASCII("/Mode", "fast");
  cl.AppendSwitchPath("dir", FilePath(L"C:\\a b\\"));
  cl.AppendArg("\xC3\xA9");
  EXPECT_EQ((StringVector{L"prog", L"--v=1", L"--v=2", L"--x", L"/mode=fast",
                          L"--dir=C:\\a b\\", L"arg", L"\u00E9"}),
            cl.argv());
  EXPECT_EQ(std::wstring(L"--v=1 --v=2 --x /mode=fast --dir=\"C:\\a b\\\\\" arg \u00E9"),
            cl.GetArgumentsString());
  EXPECT_EQ(std::string("fast"), cl.GetSwitchValueASCII("mode"));
  EXPECT_EQ(std::wstring(L"C:\\a b\\"), cl.GetSwitchValuePath("dir").value());
}

TEST(CommandLineTest, SwitchValueASCIIRejectsNonASCII) {
  CommandLine cl(CommandLine::NO_PROGRAM);
  cl.AppendSwitchNative("lang", L"fr\u00E9");
  EXPECT_EQ(std::string(), cl.GetSwitchValueASCII("lang"));
  EXPECT_EQ(std::wstring(L"fr\u00E9"), cl.GetSwitchValueNative("lang"));
}

TEST(CommandLineTest, CopiesKeepTheirOwnSwitchViews) {
  CommandLine* original = new CommandLine(StringVector{L"prog", L"--a=1"});
  CommandLine copy(*original);
  CommandLine assigned(CommandLine::NO_PROGRAM);
  assigned = *original;
  original->AppendSwitchASCII("a", "2");
  delete original;  // views into it would now dangle
  EXPECT_EQ(std::wstring(L"1"), copy.GetSwitchValueNative("a"));
  EXPECT_EQ(std::wstring(L"1"), assigned.GetSwitchValueNative("a"));
  assigned = assigned;
  EXPECT_EQ(std::wstring(L"1"), assigned.GetSwitchValueNative("a"));
}

TEST(CommandLineTest, CopySwitchesFromAndAppendArguments) {
  CommandLine source(StringVector{L"other.exe", L"--keep=1", L"--drop", L"--flag", L"x"});
  CommandLine target(FilePath(L"target.exe"));
  const char* const kNames[] = {"flag", "keep", "absent"};
  target.CopySwitchesFrom(source, kNames, 3);
  EXPECT_EQ((StringVector{L"target.exe", L"--flag", L"--keep=1"}), target.argv());

  CommandLine joined(FilePath(L"target.exe"));
  joined.AppendArg("first");
  joined.AppendArguments(CommandLine(StringVector{L"o.exe", L"--UP=1", L"", L"y"}), true);
  EXPECT_EQ(std::wstring(L"o.exe"), joined.GetProgram().value());
  EXPECT_EQ((StringVector{L"o.exe", L"--up=1", L"first", L"y"}), joined.argv());
}

TEST(CommandLineTest, Quoting) {
  struct Case {
    const char* name;
    const wchar_t* arg;
    bool quote_placeholders;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {"plain", L"abc", false, L"abc"},
      {"space", L"a b", false, L"\"a b\""},
      {"folder with trailing backslash", L"C:\\a b\\", false, L"\"C:\\a b\\\\\""},
      {"inner backslashes kept single", L"C:\\a\\b", false, L"\"C:\\a\\b\""},
      {"quote", L"say \"hi\"", false, L"\"say \\\"hi\\\"\""},
      {"backslashes before quote", L"a\\\\\"b", false, L"\"a\\\\\\\\\\\"b\""},
      {"tab alone forces quotes", L"a\tb", false, L"\"a\tb\""},
      {"line feed", L"a\nb", false, L"\"a\nb\""},
      {"percent plain", L"%1", false, L"%1"},
      {"percent quoted", L"%1", true, L"\"%1\""},
      {"empty", L"", false, L"\"\""},
  };
  for (const Case& c : kCases) {
    CommandLine cl(CommandLine::NO_PROGRAM);
    cl.AppendArg(WideToUTF8(c.arg));
    EXPECT_EQ(std::wstring(c.expected), cl.GetArgumentsString(c.quote_placeholders)) << c.name;
  }
}

TEST(CommandLineTest, CommandLineStringQuotesProgram) {
  EXPECT_EQ(std::wstring(), CommandLine(CommandLine::NO_PROGRAM).GetCommandLineString());
  CommandLine cl(FilePath(L"C:\\Program Files\\v.exe"));
  EXPECT_EQ(std::wstring(L"\"C:\\Program Files\\v.exe\""), cl.GetCommandLineString());
  cl.AppendSwitchNative("name", L"a b");
  cl.AppendSwitch("odd name");
  EXPECT_EQ(std::wstring(L"\"C:\\Program Files\\v.exe\" --name=\"a b\" \"--odd name\""),
            cl.GetCommandLineString());
  CommandLine no_program(CommandLine::NO_PROGRAM);
  no_program.AppendSwitch("x");
  EXPECT_EQ(std::wstring(L" --x"), no_program.GetCommandLineString());
}

TEST(CommandLineTest, ParseFromString) {
  CommandLine cl(CommandLine::NO_PROGRAM);
  cl.ParseFromString(L"  \"C:\\a b\\p.exe\" --Install-Folder=\"C:\\x y\\\\\" \"q r\" \t ");
  EXPECT_EQ(std::wstring(L"C:\\a b\\p.exe"), cl.GetProgram().value());
  EXPECT_EQ(std::wstring(L"C:\\x y\\"), cl.GetSwitchValueNative("install-folder"));
  EXPECT_EQ((StringVector{L"C:\\a b\\p.exe", L"--install-folder=C:\\x y\\", L"q r"}), cl.argv());

  CommandLine untouched(StringVector{L"p", L"--k"});
  untouched.ParseFromString(L" \u3000 ");
  EXPECT_TRUE(untouched.HasSwitch("k"));
}

TEST(CommandLineTest, InitCreatesTheProcessInstanceOnce) {
  CommandLine::Init();
  CommandLine* current = CommandLine::ForCurrentProcess();
  ASSERT_NE(nullptr, current);
  EXPECT_FALSE(CommandLine::Init());
  EXPECT_EQ(current, CommandLine::ForCurrentProcess());
  EXPECT_EQ(std::wstring(L".exe"), current->GetProgram().Extension());
}

// Arguments that are hard to write: each must reach a child process unchanged.
const char* const kHardArguments[] = {
    "plain",      "two words",     "tab\tonly",     "\t",           "trailing\\",
    "dir with space\\", "quote\"inside", "\\\"",    "back\\\\\"quote", "\\\\server\\share\\",
    "",           "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "%1",  "--",   "-x",
    "a=b c",      "  lead and trail  ",
};

TEST(CommandLineTest, ChildProcessReceivesTheSameArguments) {
  // A copy in a folder whose name has a space, to test the quoted program too.
  ScratchDir scratch;
  const FilePath folder = scratch.path().Append(L"argv echo");
  ASSERT_TRUE(CreateDirectoryW(folder.value().c_str(), nullptr));
  const FilePath program = folder.Append(L"echo helper.exe");
  ASSERT_TRUE(CopyFileW(TestExeSibling(L"argv_echo_test_helper.exe").c_str(),
                        program.value().c_str(), FALSE))
      << GetLastError();

  CommandLine cl(program);
  cl.AppendSwitchNative("install-folder", L"C:\\Program Files\\Velum\\");
  cl.AppendSwitchNative("tab", L"a\tb");
  cl.AppendSwitchNative("quoted", L"say \"hi\"\\");
  cl.AppendSwitch("silent");
  for (const char* arg : kHardArguments) cl.AppendArg(arg);
  std::string output;
  ASSERT_TRUE(RunAndCaptureOutput(cl, &output));
  StringVector received;
  size_t start = 0;
  for (size_t nul = output.find('\0'); nul != std::string::npos;
       start = nul + 1, nul = output.find('\0', start)) {
    received.push_back(UTF8ToWide(StringPiece(output).substr(start, nul - start)));
  }
  EXPECT_EQ(output.size(), start) << "output not NUL-terminated";
  EXPECT_EQ(cl.argv(), received);

  // The child's own parser sees the switches too.
  CommandLine parsed(received);
  EXPECT_EQ(std::wstring(L"a\tb"), parsed.GetSwitchValueNative("tab"));
  EXPECT_TRUE(parsed.HasSwitch("silent"));
}

}  // namespace
}  // namespace base
