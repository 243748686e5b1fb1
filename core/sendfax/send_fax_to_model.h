// The Send Fax To dialog without its window: the recipients picked from the
// local address book, and with "Use Global Address Book" from the server's
// global book and its registered users.
#pragma once

#include <string>
#include <vector>

#include "common/fax_header.h"
#include "common/faxclient.h"
#include "core/sendfax/send_fax_job.h"

namespace korvo::sendfax {

class SendFaxToModel {
 public:
  struct Entry {
    std::string text;
    int data;  // the recipient's position in recipients()
  };

  // Fills the list.
  explicit SendFaxToModel(SendFaxJob& job);

  // Each source stands above the one before: registered users, the global
  // book, the local book. A source whose list cannot be had adds nothing.
  void Fill();
  // Checked sets the job's flag and fills the list again; unchecked clears
  // it and keeps what is listed.
  void SetUseGlobal(bool checked);
  // OK: the job's flag, and the selected rows' recipients appended to the
  // job's recipients header in list order.
  void Apply(const std::vector<int>& selectedRows);

  bool useGlobal() const { return useGlobal_; }
  const std::vector<Entry>& entries() const { return entries_; }
  const RecipientList& recipients() const { return recipients_; }

 private:
  // The lines of one list (7000 or 7500), inserted from the top.
  void AddSource(const char* server, uint32_t code, bool users);

  SendFaxJob& job_;
  FaxClient client_;
  bool useGlobal_ = false;
  std::vector<Entry> entries_;
  RecipientList recipients_;
};

}  // namespace korvo::sendfax
