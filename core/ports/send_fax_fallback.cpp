// A library built without the Send Fax dialogs still captures: the job's
// files stay in the OutBox and the dialog is reported missing.
#include <string>

#include "common/trace.h"

namespace korvo::sendfax {

__attribute__((weak)) bool RunSendFaxDialog(const std::string& imagePath, const std::string&) {
  DebugPrint("RunSendFaxDialog: no Send Fax dialog in this library for %s\n", imagePath.c_str());
  return false;
}

}  // namespace korvo::sendfax
