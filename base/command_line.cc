#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversion_utils.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"

namespace base {

namespace {

typedef CommandLine::StringType StringType;

const wchar_t* const kSwitchPrefixes[] = {L"--", L"-", L"/"};
const wchar_t kSwitchTerminator[] = L"--";
const wchar_t kSwitchValueSeparator = L'=';

CommandLine* g_current_process_command_line = nullptr;

StringType TrimWhitespace(StringPiece16 text) {
  StringType result;
  TrimString(text.as_string(), kWhitespaceWide, &result);
  return result;
}

// Byte to unit without sign extension, so a name narrowed from Latin-1 comes back.
StringType WidenBytes(StringPiece bytes) {
  StringType result;
  result.reserve(bytes.size());
  for (char c : bytes) result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return result;
}

size_t GetSwitchPrefixLength(StringPiece16 text) {
  for (const wchar_t* prefix : kSwitchPrefixes) {
    if (text.starts_with(prefix)) return StringPiece16(prefix).size();
  }
  return 0;
}

// Splits "--name=value" into "--name" (prefix kept) and "value".
bool IsSwitch(const StringType& text, StringType* name, StringType* value) {
  name->clear();
  value->clear();
  const size_t prefix_length = GetSwitchPrefixLength(text);
  if (prefix_length == 0 || prefix_length == text.size()) return false;
  const size_t equals = text.find(kSwitchValueSeparator);
  // "--=x" names no switch: stored as one it would be written back as the terminator.
  if (equals == prefix_length) return false;
  *name = text.substr(0, equals);
  if (equals != StringType::npos) *value = text.substr(equals + 1);
  return true;
}

// The inverse of CommandLineToArgvW's rules. Any white space forces quotes, tab
// included: written bare, a tab would split the argument in two.
StringType QuoteForCommandLineArg(const StringType& arg, bool quote_placeholders) {
  const StringType triggers = StringType(kWhitespaceWide) + L"\\\"" + (quote_placeholders ? L"%" : L"");
  if (arg.find_first_of(triggers) == StringType::npos) return arg;

  StringType out(1, L'"');
  for (size_t i = 0; i < arg.size(); ++i) {
    if (arg[i] == L'\\') {
      size_t end = i + 1;
      while (end < arg.size() && arg[end] == L'\\') ++end;
      const size_t run = end - i;
      // Backslashes are literal unless they precede a quote, our closing one included.
      const bool before_quote = end == arg.size() || arg[end] == L'"';
      out.append(before_quote ? run * 2 : run, L'\\');
      i = end - 1;
    } else if (arg[i] == L'"') {
      out += L"\\\"";
    } else {
      out.push_back(arg[i]);
    }
  }
  out.push_back(L'"');
  return out;
}

}  // namespace

CommandLine::CommandLine(NoProgram) : argv_(1), begin_args_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1), begin_args_(1) {
  SetProgram(program);
}

CommandLine::CommandLine(int argc, const wchar_t* const* argv) : argv_(1), begin_args_(1) {
  StringVector args;
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  InitFromArgv(args);
}

CommandLine::CommandLine(const StringVector& argv) : argv_(1), begin_args_(1) {
  InitFromArgv(argv);
}

CommandLine::CommandLine(const CommandLine& other)
    : argv_(other.argv_), switches_(other.switches_), begin_args_(other.begin_args_) {
  RebuildSwitchViews();
}

CommandLine& CommandLine::operator=(const CommandLine& other) {
  if (this == &other) return *this;
  argv_ = other.argv_;
  switches_ = other.switches_;
  begin_args_ = other.begin_args_;
  RebuildSwitchViews();
  return *this;
}

CommandLine::~CommandLine() = default;

// static
bool CommandLine::Init(int, const char* const*) {
  if (g_current_process_command_line) return false;
  g_current_process_command_line = new CommandLine(NO_PROGRAM);  // lives to process end
  g_current_process_command_line->ParseFromString(GetCommandLineW());
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() { return g_current_process_command_line; }

void CommandLine::InitFromArgv(const StringVector& argv) {
  argv_ = StringVector(1);
  switches_.clear();
  switch_views_.clear();
  begin_args_ = 1;
  SetProgram(argv.empty() ? FilePath() : FilePath(argv[0]));
  AppendSwitchesAndArguments(argv);
}

void CommandLine::ParseFromString(StringPiece16 command_line) {
  const StringType text = TrimWhitespace(command_line);
  if (text.empty()) return;
  int count = 0;
  const ScopedLocalAlloc<wchar_t*> args(CommandLineToArgvW(text.c_str(), &count));
  StringVector argv;
  for (int i = 0; args.IsValid() && i < count; ++i) argv.push_back(args.Get()[i]);
  InitFromArgv(argv);
}

FilePath CommandLine::GetProgram() const { return FilePath(argv_[0]); }

void CommandLine::SetProgram(const FilePath& program) {
  argv_[0] = TrimWhitespace(program.value());
}

bool CommandLine::HasSwitch(StringPiece name) const {
  return switch_views_.find(name) != switch_views_.end();
}

StringType CommandLine::GetSwitchValueNative(StringPiece name) const {
  auto found = switch_views_.find(name);
  return found == switch_views_.end() ? StringType() : *found->second;
}

std::string CommandLine::GetSwitchValueASCII(StringPiece name) const {
  const StringType value = GetSwitchValueNative(name);
  return IsStringASCII(value) ? WideToASCII(value) : std::string();
}

FilePath CommandLine::GetSwitchValuePath(StringPiece name) const {
  return FilePath(GetSwitchValueNative(name));
}

void CommandLine::AppendSwitch(StringPiece name) { AppendSwitchNative(name, StringType()); }

void CommandLine::AppendSwitchNative(StringPiece name, StringPiece16 value) {
  const std::string lower_name = ToLowerASCII(name);
  const StringType wide_name = WidenBytes(lower_name);
  const size_t prefix_length = GetSwitchPrefixLength(wide_name);
  if (prefix_length == lower_name.size()) {
    // Written back, an empty name would read as the terminator or a plain argument.
    LOG(ERROR) << "Refusing a command-line switch without a name: " << lower_name;
    return;
  }

  auto stored = switches_.insert(SwitchMap::value_type(lower_name.substr(prefix_length),
                                                       StringType()));
  stored.first->second = value.as_string();  // a repeated switch: the later value wins
  switch_views_[StringPiece(stored.first->first)] = &stored.first->second;

  StringType entry = prefix_length == 0 ? kSwitchPrefixes[0] + wide_name : wide_name;
  if (!value.empty()) {
    entry.push_back(kSwitchValueSeparator);
    entry.append(value.data(), value.size());
  }
  argv_.insert(argv_.begin() + begin_args_, entry);
  ++begin_args_;
}

void CommandLine::AppendSwitchASCII(StringPiece name, StringPiece value) {
  AppendSwitchNative(name, ASCIIToWide(value));
}

void CommandLine::AppendSwitchPath(StringPiece name, const FilePath& path) {
  AppendSwitchNative(name, path.value());
}

void CommandLine::CopySwitchesFrom(const CommandLine& source, const char* const names[],
                                   size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (source.HasSwitch(names[i]))
      AppendSwitchNative(names[i], source.GetSwitchValueNative(names[i]));
  }
}

void CommandLine::AppendArg(StringPiece utf8) { argv_.push_back(UTF8ToWide(utf8)); }

void CommandLine::AppendArguments(const CommandLine& other, bool include_program) {
  if (include_program) SetProgram(other.GetProgram());
  AppendSwitchesAndArguments(other.argv_);
}

void CommandLine::AppendSwitchesAndArguments(const StringVector& argv) {
  bool parse_switches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    const StringType arg = TrimWhitespace(argv[i]);
    if (arg.empty()) continue;
    // After "--" everything is a plain argument; "--" itself stays as one.
    if (arg == kSwitchTerminator) parse_switches = false;
    StringType name;
    StringType value;
    if (parse_switches && IsSwitch(arg, &name, &value)) {
      AppendSwitchNative(WideToASCII(name), value);
    } else {
      argv_.push_back(arg);
    }
  }
}

void CommandLine::RebuildSwitchViews() {
  switch_views_.clear();
  for (const auto& entry : switches_) switch_views_[StringPiece(entry.first)] = &entry.second;
}

StringType CommandLine::GetArgumentsString(bool quote_placeholders) const {
  StringType result;
  bool parse_switches = true;
  for (size_t i = 1; i < argv_.size(); ++i) {
    const StringType& arg = argv_[i];
    if (i > 1) result.push_back(L' ');
    if (arg == kSwitchTerminator) parse_switches = false;
    StringType name;
    StringType value;
    if (parse_switches && IsSwitch(arg, &name, &value)) {
      // Quoting leaves ordinary names as they are and keeps odd ones in one piece.
      result += QuoteForCommandLineArg(name, quote_placeholders);
      if (!value.empty()) {
        result.push_back(kSwitchValueSeparator);
        result += QuoteForCommandLineArg(value, quote_placeholders);
      }
    } else if (arg.empty()) {
      result += L"\"\"";  // written bare, an empty argument would vanish
    } else {
      result += QuoteForCommandLineArg(arg, quote_placeholders);
    }
  }
  return result;
}

StringType CommandLine::GetCommandLineString(bool quote_placeholders) const {
  StringType result = QuoteForCommandLineArg(argv_[0], quote_placeholders);
  const StringType arguments = GetArgumentsString(quote_placeholders);
  if (!arguments.empty()) {
    result.push_back(L' ');
    result += arguments;
  }
  return result;
}

}  // namespace base
