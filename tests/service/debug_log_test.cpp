// The diagnostic line as a debugger-output monitor receives it.
#include "service/debug_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/dbwin_capture.h"

namespace {

using tarnwick::DebugLog;

TEST(DebugLogTest, WritesOnePrefixedLineFeedTerminatedMessage) {
  tarnwick::DebugOutputCapture capture;
  DWORD error = 0;
  ASSERT_TRUE(capture.Start(&error, 15000)) << error;

  DebugLog(L"StopAndRemoveTunnel: DeleteService failed");
  DebugLog(L"");
  DebugLog(L"two\nlines");
  ::OutputDebugStringA("[debug-log-test] end\n");
  ASSERT_TRUE(capture.WaitForText("[debug-log-test] end", 30000));

  std::vector<std::string> ours;
  for (const tarnwick::DebugLine& line : capture.Lines()) {
    if (line.pid == ::GetCurrentProcessId() && line.raw != "[debug-log-test] end\n") {
      ours.push_back(line.raw);
    }
  }
  // One message per call: a split write would show up as more entries.
  EXPECT_EQ(ours, (std::vector<std::string>{
                      "[Tarnwick] StopAndRemoveTunnel: DeleteService failed\n",
                      "[Tarnwick] \n",
                      "[Tarnwick] two\nlines\n",
                  }));
}

}  // namespace
