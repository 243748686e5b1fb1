// Tasks that other threads hand to one thread (the capture agent's main
// thread, where the toolkit and so every dialog runs), run there one after
// the other in the order they came.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace korvo::capture {

class TaskQueue {
 public:
  // Safe from any thread.
  void Post(std::function<void()> task);
  // Makes Run return once every task posted before has run.
  void Quit();
  // Runs the tasks as they come until Quit.
  void Run();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
};

}  // namespace korvo::capture
