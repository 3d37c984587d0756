#include "crash/reporter/dump_client.h"

#include "crash/reporter/minidump_file_writer.h"

namespace crash_reporter {

bool ProcessDumpClient::Read(uint64_t address, void* buffer, size_t size) const {
  return ReadProcessBytes(process_, address, buffer, size);
}

bool ProcessDumpClient::Ended() const {
  return WaitForSingleObject(process_, 0) != WAIT_TIMEOUT;
}

}  // namespace crash_reporter
