// The AT vocabulary of Class 2 (EIA-592) and Class 2.0 (ITU-T T.32) fax
// modems: the brand-independent commands, and per fax class the fax commands
// and the report prefixes the engine recognises. The tables are constant.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/page_descriptor.h"

namespace korvo {

class BasicCommandSet {
 public:
  enum Command : int {
    kReset = 0,        // "ATZ"
    kAnswer = 1,       // "ATA"
    kOffHook = 2,      // "ATH1"
    kHangUp = 3,       // "ATH0"
    kBasicInit = 4,    // "ATQ0V1E0X0&D2&C1L1S0=0H0"
    kClassQuery = 5,   // "AT+FCLASS=?"
    kFlowFirst = 6,    // pairs 6/7 ... 22/23: hardware / software flow control
    kCount = 24,
  };
  static const char* Get(int command);
};

class FaxCommandSet {
 public:
  enum Slot : int {
    kSelectClass = 0,
    kCapabilities = 1,          // prefix
    kNegotiationReporting = 2,  // prefix
    kLocalId = 3,               // prefix
    kTransmitPage = 4,
    kEnableReception = 5,
    kReceivePage = 6,
    kDataBitOrder = 7,  // prefix
    kFlowControl = 8,   // prefix
    kEndPage = 9,       // prefix
    kManufacturer = 10,
    kModel = 11,
    kRevision = 12,
    kSlotCount = 13,
  };
  static const FaxCommandSet& Class2();
  static const FaxCommandSet& Class20();

  // The command text; empty when the class has no such command.
  const char* Get(Slot slot) const { return slots_[slot]; }
  bool Has(Slot slot) const { return slots_[slot][0] != '\0'; }
  bool IsClass20() const { return this == &Class20(); }

  explicit constexpr FaxCommandSet(const char* const (&slots)[kSlotCount]) : slots_{} {
    for (int i = 0; i < kSlotCount; ++i) slots_[i] = slots[i];
  }

 private:
  const char* slots_[kSlotCount];
};

class FaxResponseSet {
 public:
  enum Slot : int {
    kConnection = 0,
    kNsf = 1,
    kCsi = 2,
    kDis = 3,
    kNss = 4,
    kTsi = 5,
    kDcs = 6,
    kPageStatus = 7,
    kPostPageMessage = 8,
    kHangUp = 9,
    kSlotCount = 10,
  };
  static const FaxResponseSet& Class2();
  static const FaxResponseSet& Class20();

  const char* Get(Slot slot) const { return slots_[slot]; }
  // Only the first four characters count, so "+FCON" matches "+FCO" and
  // "+FHNG" is known by "+FHN".
  bool Matches(Slot slot, const char* line) const;

  explicit constexpr FaxResponseSet(const char* const (&slots)[kSlotCount]) : slots_{} {
    for (int i = 0; i < kSlotCount; ++i) slots_[i] = slots[i];
  }

 private:
  const char* slots_[kSlotCount];
};

// Post-page responses (ppr) and messages (ppm).
inline constexpr int kPprMcf = 1;
inline constexpr int kPprRtn = 2;
inline constexpr int kPprPin = 4;
inline constexpr int kPpmMps = 0;
inline constexpr int kPpmEom = 1;
inline constexpr int kPpmEop = 2;
// The trace name of a code; empty for an unknown one.
const char* PostPageResponseName(int ppr);
const char* PostPageMessageName(int ppm);

// Reads the session parameters vr,br,wd,ln,df,ec,bf,st of a DIS or DCS report
// into the page's vertical resolution (196 for vr not 0, else 98) and width
// (1728, 2048, 2432 for wd 0, 1, 2; else 1728); the other fields stay.
void ParseSessionParameters(const char* text, PageDescriptor& page);

// The remote station identifier as reported: the text between the first two
// double quotes when it has them; only blanks become empty.
void CleanRemoteId(char* id, size_t size);

}  // namespace korvo
