// The build's stream number, for code below the installation engine that needs it
// (user data folder, stream names, registry tables with a minimum stream).
#ifndef BASE_CHANNEL_INFO_H_
#define BASE_CHANNEL_INFO_H_

#include <cstdint>

namespace base {

// The stream numbers, as stored in registry tables, statistics and file names.
const int32_t kChannelNightly = 1;
const int32_t kChannelDeveloper = 2;
const int32_t kChannelNext = 3;
const int32_t kChannelStable = 4;

// The build's stream. This build is Stable.
int32_t GetChannel();

}  // namespace base

#endif  // BASE_CHANNEL_INFO_H_
