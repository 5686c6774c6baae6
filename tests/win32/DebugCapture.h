// The trace texts the Win32 test build records: its os::OutputDebugStringA keeps each text.
#ifndef UNINST_TESTS_WIN32_DEBUGCAPTURE_H
#define UNINST_TESTS_WIN32_DEBUGCAPTURE_H

#include <string>
#include <vector>

namespace debugcapture {

/// Every text handed to os::OutputDebugStringA since the last call, then forgets them.
std::vector<std::string> Take();

}  // namespace debugcapture

#endif
