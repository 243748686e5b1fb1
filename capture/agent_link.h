// What the backend kvf and the user's capture agent say to each other on the
// agent's socket (a message socket, one write one message):
//   backend: announcement (job id, printer)   agent: kStarted or kRefused
//   backend: kData + bytes, ..., kDataEnd      agent: kEnded, after the job
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
inline constexpr char kEnded = 'E';
inline constexpr char kData = 'D';
inline constexpr char kDataEnd = 'Z';
inline constexpr uint32_t kDataChunk = 4096;

// What the state message of every job the backend holds says; the agent
// releases its user's held jobs that say it when it starts.
inline constexpr char kHeldForAgent[] = "Start the Korvo capture agent (korvocapture)";

struct JobAnnouncement {
  uint32_t jobId = 0;
  std::string printer;
};

// "KVJ1", the job id (32-bit little-endian), the printer name.
std::string EncodeAnnouncement(const JobAnnouncement& job);
bool DecodeAnnouncement(const std::string& message, JobAnnouncement& job);

}  // namespace korvo::capture
