#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvo::platform {

TEST(LastError, IsPerThreadAndGuardRestoresIt) {
  SetLastError(kErrorBrokenPipe);
  std::thread([] { EXPECT_EQ(GetLastError(), 0u); SetLastError(kErrorMoreData); }).join();
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
  {
    LastErrorGuard guard;
    SetLastError(kErrorFileNotFound);
    errno = EIO;
  }
  EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
}

TEST(LastError, SystemTextHasNoLineEnd) {
  std::string text = SystemErrorText(ENOENT);
  EXPECT_EQ(text, "No such file or directory");
}

}  // namespace korvo::platform
