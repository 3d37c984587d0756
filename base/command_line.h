// CommandLine: one parsed command line (program, switches, plain arguments) and its
// string form for starting further processes. Switches are read with the prefixes "--",
// "-" and "/" and written as "--name=value"; names are kept lower-case.
//
//   CommandLine command(program);
//   command.AppendSwitchNative("installfolder", folder);
//   std::wstring text = command.GetCommandLineString();  // for CreateProcessW
#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine {
 public:
  typedef std::wstring StringType;
  typedef std::vector<StringType> StringVector;
  // Lower-case name without prefix -> value (empty for a switch without value).
  typedef std::map<std::string, StringType> SwitchMap;

  enum NoProgram { NO_PROGRAM };
  explicit CommandLine(NoProgram no_program);
  explicit CommandLine(const FilePath& program);
  CommandLine(int argc, const wchar_t* const* argv);
  explicit CommandLine(const StringVector& argv);
  CommandLine(const CommandLine& other);
  CommandLine& operator=(const CommandLine& other);
  ~CommandLine();

  // Creates the process-wide instance from GetCommandLineW(); false (and no change)
  // when it exists already, which a caller that only needs it to exist may ignore. The
  // arguments are unused: Windows' own text is parsed.
  static bool Init(int argc = 0, const char* const* argv = nullptr);
  // The process-wide instance, null before Init().
  static CommandLine* ForCurrentProcess();

  // Replaces everything: argv[0] is the program, the rest is parsed for switches.
  void InitFromArgv(const StringVector& argv);
  // Splits `command_line` by the Windows rules (CommandLineToArgvW) and parses it.
  void ParseFromString(StringPiece16 command_line);

  FilePath GetProgram() const;
  void SetProgram(const FilePath& program);

  // Lookups take the lower-case name without prefix and never allocate.
  bool HasSwitch(StringPiece name) const;
  StringType GetSwitchValueNative(StringPiece name) const;
  // Empty when absent or not pure ASCII.
  std::string GetSwitchValueASCII(StringPiece name) const;
  FilePath GetSwitchValuePath(StringPiece name) const;

  // Switches go before the plain arguments; a repeated switch keeps the later value
  // but stands twice in argv.
  void AppendSwitch(StringPiece name);
  void AppendSwitchNative(StringPiece name, StringPiece16 value);
  void AppendSwitchASCII(StringPiece name, StringPiece value);
  void AppendSwitchPath(StringPiece name, const FilePath& path);
  // Appends those of `names` that `source` has, with the source's values.
  void CopySwitchesFrom(const CommandLine& source, const char* const names[], size_t count);

  // A plain argument at the end, taken as it is (no trimming, no switch recognition).
  void AppendArg(StringPiece utf8);
  // Parses other's arguments into this one; optionally takes its program too.
  void AppendArguments(const CommandLine& other, bool include_program);

  // Program and arguments quoted so that CommandLineToArgvW gives them back.
  // `quote_placeholders` also quotes arguments holding '%' (for "%1" templates).
  StringType GetCommandLineString(bool quote_placeholders = false) const;
  // Everything after the program, quoted the same way.
  StringType GetArgumentsString(bool quote_placeholders = false) const;

  const StringVector& argv() const { return argv_; }
  const SwitchMap& GetSwitches() const { return switches_; }

 private:
  // Parses argv[1..] into switches and plain arguments.
  void AppendSwitchesAndArguments(const StringVector& argv);
  void RebuildSwitchViews();

  StringVector argv_;
  SwitchMap switches_;
  // Views of the keys of switches_, so lookups by a caller's name need no string.
  std::map<StringPiece, const StringType*> switch_views_;
  // Index in argv_ of the first plain argument.
  size_t begin_args_;
};

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
