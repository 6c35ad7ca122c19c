#pragma once
// Internal state shared by the files of the session layer; not for windows.

namespace cacheapi::detail {

void resetConnectionState();
int retryWaitHundredths();

} // namespace cacheapi::detail
