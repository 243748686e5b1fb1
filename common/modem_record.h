// One modem configuration: the 192-byte record of Config/Modems.dbs, its
// 20-field text form, and the names and modem commands of its settings.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/field_sizes.h"
#include "common/fixed_text.h"

namespace korvo {

static_assert(std::endian::native == std::endian::little, "stored records are little-endian");

// 1 when lower <= value <= upper.
int InRange(int32_t value, int32_t lower, int32_t upper);
int InRange(uint32_t value, uint32_t lower, uint32_t upper);

// Text fields, in order: 0 port name, 1 port data rate, 2 usage, 3 dial mode,
// 4 dial prefix, 5 additional init, 6 modem name, 7 fax data rate, 8 flow
// control, 9 call waiting, 10 speaker volume, 11 speaker mode, 12 further
// number 1, 13 further number 2, 14 rings before answer, 15 input buffer,
// 16 output buffer, 17 enabled, 18 Class 2 bit order, 19 record id.
struct ModemRecord {
  static constexpr int kFieldCount = 20;

  ModemRecord() { SetDefaults(); }
  // Every field its default, id 0.
  void SetDefaults();
  // Texts of more than 31 characters and numbers outside their range take
  // their defaults; the id is taken as it is.
  bool Decode(std::string_view text);
  std::string Encode() const;

  // Display names and values of the settings; empty for an index outside
  // the table.
  std::string GetModemUsageName() const;
  std::string GetPortSpeedName() const;
  // The bit rate; an index outside 0-6 gives 3, so callers test it with
  // InRange first.
  int32_t GetPortSpeedValue() const;
  std::string GetFaxSpeedName() const;
  std::string GetCallWaitingName() const;
  // The dial command that disables call waiting ("ATD *70"), or with the
  // flag set its twin ("ATD *71"); empty for no call waiting.
  std::string GetCallWaitingCommand(bool flag) const;
  std::string GetSpeakerVolumeName() const;
  std::string GetSpeakerModeName() const;
  // "AT" with the volume code L1-L3 and the mode code M0-M3, e.g. "ATL2M1".
  std::string BuildSpeakerCommand() const;

  StoredText<field_size::kModemText> portName;
  int32_t portSpeed;        // index: 2400, 4800, 9600, 19200, 38400, 57600, 115200
  int32_t flowControl;      // 0 hardware (RTS/CTS), 1 software (XON/XOFF)
  int32_t inputBufferSize;
  int32_t outputBufferSize;
  StoredText<field_size::kModemText> modemName;
  int32_t usage;  // 0 send only, 1 receive only, 2 both
  int32_t faxSpeed;  // index: 2400, 4800, 7200, 9600, 12000, 14400
  int32_t dialMode;  // 0 pulse, 1 tone
  StoredText<field_size::kModemText> initString;
  StoredText<field_size::kModemText> dialPrefix;
  int32_t speakerVolume;  // 0 low, 1 medium, 2 high
  int32_t speakerMode;    // 0 off, 1 until carrier, 2 on, 3 after dialing until carrier
  int32_t callWaiting;    // 0 none, 1-3 the dial codes
  int32_t enabled;
  int32_t furtherNumber1;  // stored, not used by the fax engine
  int32_t furtherNumber2;
  int32_t ringsBeforeAnswer;
  int32_t class2BitOrder;  // 0 standard, 1 nonstandard
  int32_t id;
};
static_assert(sizeof(ModemRecord) == 192);
static_assert(offsetof(ModemRecord, portSpeed) == 32 && offsetof(ModemRecord, modemName) == 48 &&
              offsetof(ModemRecord, usage) == 80 && offsetof(ModemRecord, initString) == 92 &&
              offsetof(ModemRecord, dialPrefix) == 124 && offsetof(ModemRecord, speakerVolume) == 156 &&
              offsetof(ModemRecord, enabled) == 168 && offsetof(ModemRecord, ringsBeforeAnswer) == 180 &&
              offsetof(ModemRecord, id) == 188);

// Ascending record ids.
int CompareModemIds(const void* a, const void* b);

}  // namespace korvo
