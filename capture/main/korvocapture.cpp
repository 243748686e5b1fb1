// korvocapture: the user's capture agent, started in the desktop session by
// XDG autostart. Print jobs sent to the Korvo Printer come here from the
// backend, and the Send Fax dialog opens for each on this desktop. At start
// it releases the user's jobs that were held because no agent ran, or that
// an earlier agent left with their dialog open. SIGTERM, SIGINT and SIGHUP
// end it after the job in hand and the dialogs already queued.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "capture/capture_agent.h"
#include "capture/held_jobs.h"
#include "capture/task_queue.h"
#include "common/userenvironment.h"
#include "platform/instance_lock.h"

int main() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);

  korvo::platform::InstanceLock only("capture");
  if (!only.held()) {
    std::fprintf(stderr, "korvocapture: already running for this user\n");
    return 0;
  }
  korvo::GetUserEnvironment();
  korvo::capture::CaptureAgent agent;
  if (!agent.Start()) {
    std::fprintf(stderr, "korvocapture: %s\n", agent.Problem().c_str());
    return 1;
  }
  std::fprintf(stderr, "korvocapture: listening on %s\n", agent.SocketPath().c_str());
  if (!agent.HasDisplay()) {
    std::fprintf(stderr, "korvocapture: no display: print jobs stay held until an agent with a display starts\n");
  } else {
    // Listening already: the released jobs wait for their turn on the socket.
    // These are the jobs held for want of an agent, and those an earlier
    // agent took but ended without their dialog's end.
    const korvo::capture::ReleasedJobs released = korvo::capture::ReleaseHeldJobs();
    for (int job : released.jobs) std::fprintf(stderr, "korvocapture: released held job %d\n", job);
    if (!released.problem.empty()) std::fprintf(stderr, "korvocapture: %s\n", released.problem.c_str());
  }

  // The jobs come in on a thread of their own; their dialogs run here, on
  // the main thread, where the toolkit starts.
  korvo::capture::TaskQueue dialogs;
  std::thread jobs([&] {
    agent.Run([&](std::function<void()> task) { dialogs.Post(std::move(task)); });
    dialogs.Quit();
  });
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stops, &signal);
    agent.Stop();
  });
  dialogs.Run();
  jobs.join();
  // Run also ends when the listener fails; the stopper then needs its signal.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return 0;
}
