// The entry point of the Send Fax road: the print capture calls it when a
// job ends with captured data.
#pragma once

#include <string>

namespace korvo::sendfax {

// How the Send Fax dialog of a captured job ended. kNotShown: no window could
// open (no display), so the job is still to be offered.
enum class DialogEnd { kNotShown, kOk, kCancelled };

// Runs the Send Fax dialog modally on the captured print stream `imagePath`
// (OutBox/CPTxxxx.TMP) and the companion header name `headerPath`
// (OutBox/CPTxxxx.TMR). kOk when the dialog ended with OK. Starts the
// toolkit itself when the calling program has not (and keeps it for later
// jobs); call it on the program's main thread, where the toolkit runs.
DialogEnd RunSendFaxDialog(const std::string& imagePath, const std::string& headerPath);

// Tells the user that the printed document has no pages to fax, in place of
// the dialog. False when no window could show it.
bool ReportNoPages();

}  // namespace korvo::sendfax
