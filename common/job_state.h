// The state of a queued fax job, with the names the queue lists show.
#pragma once

#include <cstdint>

namespace korvo {

struct JobState {
  static constexpr int32_t Undefined = 0;
  static constexpr int32_t Queued = 10;
  static constexpr int32_t Scheduled = 100;
  static constexpr int32_t Dialing = 110;
  static constexpr int32_t Connecting = 120;
  static constexpr int32_t Negotiating = 130;
  static constexpr int32_t Sending = 140;
  static constexpr int32_t Done = 150;
  static constexpr int32_t Answering = 200;
  static constexpr int32_t Receiving = 210;
  static constexpr int32_t NoResponse = 300;
  static constexpr int32_t CommunicationError = 310;
  static constexpr int32_t PartiallyReceived = 320;
  static constexpr int32_t UserCanceled = 330;
  static constexpr int32_t Ok = 400;
  static constexpr int32_t Expired = 500;

  // The display name; empty for a code that is not a state.
  static const char* Name(int32_t code);
  // A job in one of these states is being worked on by a port.
  static bool IsActive(int32_t code) { return code >= Scheduled && code <= Receiving; }
};

}  // namespace korvo
