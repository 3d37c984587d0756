// The points in the writing of a client's dump where a reporter can be held, so that a
// test can keep it there past the client's wait for the dump. The product passes none.
#ifndef CRASH_REPORTER_DUMP_WRITE_PAUSES_H_
#define CRASH_REPORTER_DUMP_WRITE_PAUSES_H_

#include <stdint.h>

namespace crash_reporter {

class DumpWritePauses {
 public:
  // The crash of client |pid| has been read out of it; its dump file does not exist yet.
  virtual void BeforeDumpFile(uint32_t pid) = 0;
  // The dump file of client |pid| exists and the system has begun writing into it.
  virtual void WhileWriting(uint32_t pid) = 0;

 protected:
  ~DumpWritePauses() = default;
};

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_DUMP_WRITE_PAUSES_H_
