// What the backend kvf and the user's capture agent say to each other on the
// agent's socket (a message socket, one write one message):
//   backend: announcement (job id, printer)   agent: kStarted, kRefused or
//                                              kNoDisplay (it takes no job)
//   backend: kData + bytes, ..., kDataEnd      agent: kTaken, once the whole
//                                              stream is in its capture file
// The agent answers kTaken before the job's Send Fax dialog opens: the
// backend then ends, the job stays held in the spooler until the dialog has
// ended, and the printer is free for everyone's next job.
// The socket is <runtime folder>/korvo/capture, the runtime folder being
// $XDG_RUNTIME_DIR for the agent and <runtime root>/<uid> for the backend,
// which finds each printing user's folder there.
#pragma once

#include <cstdint>
#include <string>

namespace korvo::capture {

// $KORVO_RUNTIME_ROOT, default /run/user: the folder of every user's runtime
// folder, named by uid.
std::string RuntimeRoot();
// <runtime root>/<uid>/korvo, and the socket in it.
std::string AgentFolderForUser(uint32_t uid);
std::string AgentSocketForUser(uint32_t uid);
// $XDG_RUNTIME_DIR/korvo and the socket in it: the agent's own; empty when
// the variable is unset or not absolute.
std::string OwnAgentFolder();
std::string OwnAgentSocket();

inline constexpr char kStarted = 'S';
inline constexpr char kRefused = 'F';
inline constexpr char kNoDisplay = 'N';
inline constexpr char kTaken = 'T';
inline constexpr char kData = 'D';
inline constexpr char kDataEnd = 'Z';
inline constexpr uint32_t kDataChunk = 4096;

// What the state message of every job the backend holds says; the agent
// releases its user's held jobs that say it when it starts.
inline constexpr char kHeldForAgent[] = "Start the Korvo capture agent (korvocapture)";
// What the state message of a job handed to an agent says: it stays held
// until its dialog has ended, and an agent that starts (after one that
// ended with the dialog open) releases it, so it is offered again.
inline constexpr char kHandedToAgent[] = "Handed to the Korvo capture agent";

struct JobAnnouncement {
  uint32_t jobId = 0;
  std::string printer;
};

// "KVJ1", the job id (32-bit little-endian), the printer name.
std::string EncodeAnnouncement(const JobAnnouncement& job);
bool DecodeAnnouncement(const std::string& message, JobAnnouncement& job);

}  // namespace korvo::capture
