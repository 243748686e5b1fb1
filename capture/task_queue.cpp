#include "capture/task_queue.h"

namespace korvo::capture {

void TaskQueue::Post(std::function<void()> task) {
  {
    std::lock_guard hold(lock_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_one();
}

void TaskQueue::Quit() {
  {
    std::lock_guard hold(lock_);
    quit_ = true;
  }
  changed_.notify_one();
}

void TaskQueue::Run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock hold(lock_);
      changed_.wait(hold, [this] { return quit_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // Run without the lock: a task (a dialog) takes as long as the user.
    task();
  }
}

}  // namespace korvo::capture
