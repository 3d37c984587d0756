// What the installer prints instead of installing: the value of an
// informational switch
// ("version", "internal-version", "stream") and the help text of "help".
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_H_

#include <cstdio>
#include <string>
#include <vector>

namespace base {
class CommandLine;
}

namespace installer {

// printf to the standard output the host inherited, flushed at once: a parent
// reading a pipe must see the value before the process ends.
// gcc checks the format; clang knows no gnu_printf (and refuses it).
#if defined(__clang__)
void PrintToConsole(const char* format, ...);
#else
void PrintToConsole(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#endif

// Prints the value of the first informational switch of `command_line`
// ("version", "internal-version", "stream", in that order) with no newline;
// false when it has none.
[[nodiscard]] bool PrintInformationalSwitch(const base::CommandLine& command_line);

// The help text (switches, the offered `languages`, feature switches) written to `out`.
void PrintHelpTo(FILE* out, const std::vector<std::wstring>& languages);

// Opens a console, prints the help into it and waits for a key press.
void PrintHelp();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_HELP_H_
