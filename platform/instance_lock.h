// One instance of a program per user: an exclusive flock on
// $XDG_RUNTIME_DIR/korvo/<name>.lock, which the kernel lets go when the
// holder ends, however it ends.
#pragma once

#include <string>

namespace korvo::platform {

class InstanceLock {
 public:
  // Tries to take the lock at once; held() says whether it did.
  explicit InstanceLock(const std::string& name);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  bool held() const { return fd_ >= 0; }
  // $XDG_RUNTIME_DIR/korvo/<name>.lock (/tmp when the variable is unset).
  static std::string PathFor(const std::string& name);

 private:
  int fd_ = -1;
};

}  // namespace korvo::platform
