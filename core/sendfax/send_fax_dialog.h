// The entry point of the Send Fax road: the print capture calls it when a
// job ends with captured data.
#pragma once

#include <string>

namespace korvo::sendfax {

// Runs the Send Fax dialog modally on the captured print stream `imagePath`
// (OutBox/CPTxxxx.TMP) and the companion header name `headerPath`
// (OutBox/CPTxxxx.TMR). True when the dialog ended with OK. Starts the
// toolkit itself when the calling program has not (and keeps it for later
// jobs); call it on the program's main thread, where the toolkit runs.
bool RunSendFaxDialog(const std::string& imagePath, const std::string& headerPath);

}  // namespace korvo::sendfax
