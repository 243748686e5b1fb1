// The handlers of the requests the server serves: lists, status requests,
// record changes, parameters, shutdown, and the faxes sent to and fetched
// from the queue.
#pragma once

namespace korvo {

// Fills the IPC server's handler slots; before the IPC server starts.
void InstallRequestHandlers();

}  // namespace korvo
