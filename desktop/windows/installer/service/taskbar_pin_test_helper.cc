// Runs PinToTaskbar in a process of its own, so that a test can choose the Windows
// version Wine reports to it. Arguments: company key path, stream name, helper folder,
// shortcut, mode. Exit code 1 when pinned, 0 when not, 2 for bad arguments.
#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/taskbar_pin.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  base::LoggingSettings settings;
  settings.logging_dest = base::LOG_TO_SYSTEM_DEBUG_LOG;  // no log file beside the EXE
  (void)base::InitLogging(settings);  // the answer is the exit code; the log only helps debug
  installer::PinStampLocation stamp;
  stamp.company_key_path = argv[1];
  stamp.stream_name = base::WideToUTF8(argv[2]);
  const bool pinned = installer::PinToTaskbar(stamp, base::FilePath(argv[3]),
                                              base::FilePath(argv[4]), _wtoi(argv[5]));
  return pinned ? 1 : 0;
}
