#include "common/job_state.h"

namespace korvo {

const char* JobState::Name(int32_t code) {
  switch (code) {
    case Undefined: return "Undefined";
    case Queued: return "Queued";
    case Scheduled: return "Scheduled";
    case Dialing: return "Dialing";
    case Connecting: return "Connecting to remote fax";
    case Negotiating: return "Negotiating";
    case Sending: return "Sending";
    case Done: return "Done";
    case Answering: return "Answering";
    case Receiving: return "Receiving";
    case NoResponse: return "No response";
    case CommunicationError: return "Communication error";
    case PartiallyReceived: return "Partially received fax";
    case UserCanceled: return "User canceled";
    case Ok: return "Ok";
    case Expired: return "Queue holding time expired";
    default: return "";
  }
}

}  // namespace korvo
