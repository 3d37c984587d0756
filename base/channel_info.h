// The build's stream number, for code below the installation engine that needs it
// (user data folder, stream names, registry tables with a minimum stream).
#ifndef BASE_CHANNEL_INFO_H_
#define BASE_CHANNEL_INFO_H_

#include <cstdint>

namespace base {

// Stream numbers: 1 Nightly, 2 Developer, 3 Next, 4 Stable. This build is Stable.
int32_t GetChannel();

}  // namespace base

#endif  // BASE_CHANNEL_INFO_H_
