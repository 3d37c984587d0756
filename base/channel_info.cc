#include "base/channel_info.h"

namespace base {

int32_t GetChannel() { return kChannelStable; }

}  // namespace base
