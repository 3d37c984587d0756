// Rewrites "<folder>\target.txt" through the important file writer until it is killed,
// with the complete versions of the kill tests; sets the named event (second argument)
// after the first write.
#include <windows.h>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/test/kill_test_util.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 255;
  const base::FilePath target = base::FilePath(argv[1]).Append(L"target.txt");
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (!ready) return 254;
  for (int generation = 1;; ++generation) {
    if (!base::ImportantFileWriter::WriteFileAtomically(target,
                                                        base::KillTestContents(generation)))
      return 1;
    if (generation == 1) SetEvent(ready);
  }
}
