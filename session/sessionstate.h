#pragma once
// Internal state shared by the files of the session layer; not for windows.

namespace cacheapi::detail {

// The last call of LoadConnectionSettings took its values from the command line.
bool tookCommandLine();
void setTookCommandLine(bool took);
void resetConnectionState();
int retryWaitHundredths();

} // namespace cacheapi::detail
