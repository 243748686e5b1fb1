// Finds the fax servers of the LAN: walks the network neighbourhood and tries
// to open the server on every machine it meets. It runs on a worker thread
// while the user interface reads the list, so the list is only touched under
// the caller's lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/neighbourhood.h"

namespace korvo {

class ServerFinder {
 public:
  // Neither the list nor the lock is owned. Names are added in upper case,
  // without the leading backslashes, each once, in the order found.
  ServerFinder(std::vector<std::string>& list, std::mutex& lock);
  // The same over a neighbourhood of the caller's (not owned).
  ServerFinder(std::vector<std::string>& list, std::mutex& lock, platform::Neighbourhood& neighbourhood);
  ~ServerFinder();
  ServerFinder(const ServerFinder&) = delete;
  ServerFinder& operator=(const ServerFinder&) = delete;

  // Five whole walks in a row, since a network's answers come in over time.
  int FindAll();
  // Asks a walk on another thread to end: it probes no further machine and
  // returns once the probe under way is done. The owner of the list stops
  // the finder and joins its thread before it destroys the list.
  void Stop();
  bool stopped() const;
  // Enumerates below a resource (null: the top of the network).
  void Walk(const platform::NetResource* resource);
  // Tries one machine.
  void Probe(const platform::NetResource& machine);
  // Exact comparison: the list holds upper-case names only. Call under the lock.
  bool Contains(const std::string& name) const;

 private:
  std::vector<std::string>& list_;
  std::mutex& lock_;
  std::unique_ptr<platform::Neighbourhood> own_;
  platform::Neighbourhood& neighbourhood_;
  std::atomic<bool> stop_{false};
};

}  // namespace korvo
