// The jobs the backend held because no capture agent of their user ran:
// the agent releases them when it starts, so none stays held for ever.
#pragma once

#include <string>
#include <vector>

namespace korvo::capture {

struct ReleasedJobs {
  std::vector<int> jobs;  // released, in the spooler's order
  std::string problem;    // why the spooler could not be asked, or a release failed
};

// Asks the CUPS server the environment names (CUPS_SERVER, else the
// system's), as the user running the agent, for that user's held jobs, and
// releases those whose state message is the backend's hold, for want of an
// agent or handed to one that has gone; jobs held on purpose keep waiting.
// Call it only while no job of this user is in an agent's hands.
ReleasedJobs ReleaseHeldJobs();

}  // namespace korvo::capture
