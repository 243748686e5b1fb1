#include "common/modem_record.h"

#include <cstring>
#include <vector>

#include "common/fields.h"

namespace korvo {

namespace {

constexpr char kDefaultPort[] = "COM1";
constexpr char kDefaultModemName[] = "Standard Fax Modem";

// A number field of the record with its text position, range and default.
struct NumberField {
  int32_t ModemRecord::*member;
  int text;
  int32_t lower, upper, fallback;
};

constexpr NumberField kNumbers[] = {
    {&ModemRecord::portSpeed, 1, 0, 6, 3},
    {&ModemRecord::flowControl, 8, 0, 1, 0},
    {&ModemRecord::inputBufferSize, 15, 1024, 524288, 4096},
    {&ModemRecord::outputBufferSize, 16, 1024, 524288, 4096},
    {&ModemRecord::usage, 2, 0, 2, 2},
    {&ModemRecord::faxSpeed, 7, 0, 5, 5},
    {&ModemRecord::dialMode, 3, 0, 1, 1},
    {&ModemRecord::speakerVolume, 10, 0, 2, 1},
    {&ModemRecord::speakerMode, 11, 0, 3, 1},
    {&ModemRecord::callWaiting, 9, 0, 3, 0},
    {&ModemRecord::enabled, 17, 0, 1, 1},
    {&ModemRecord::furtherNumber1, 12, 1, 10, 3},
    {&ModemRecord::furtherNumber2, 13, 0, 300, 5},
    {&ModemRecord::ringsBeforeAnswer, 14, 1, 10, 1},
    {&ModemRecord::class2BitOrder, 18, 0, 1, 0},
};

struct TextField {
  FixedText<32> ModemRecord::*member;
  int text;
  const char* fallback;
};

constexpr TextField kTexts[] = {
    {&ModemRecord::portName, 0, kDefaultPort},
    {&ModemRecord::dialPrefix, 4, ""},
    {&ModemRecord::initString, 5, ""},
    {&ModemRecord::modemName, 6, kDefaultModemName},
};

constexpr int kIdField = 19;

}  // namespace

int InRange(int32_t value, int32_t lower, int32_t upper) { return lower <= value && value <= upper; }
int InRange(uint32_t value, uint32_t lower, uint32_t upper) { return lower <= value && value <= upper; }

void ModemRecord::SetDefaults() {
  std::memset(this, 0, sizeof *this);
  for (const auto& t : kTexts) (this->*t.member).Assign(t.fallback);
  for (const auto& n : kNumbers) this->*n.member = n.fallback;
  id = 0;
}

bool ModemRecord::Decode(std::string_view text) {
  std::memset(this, 0, sizeof *this);
  std::vector<std::string> f(kFieldCount);
  DecodeFields(text, f);
  for (const auto& t : kTexts) {
    const std::string& value = f[static_cast<std::size_t>(t.text)];
    (this->*t.member).Assign(value.size() > FixedText<32>::kCapacity ? std::string_view(t.fallback) : value);
  }
  for (const auto& n : kNumbers) {
    const int32_t value = ParseDecimal(f[static_cast<std::size_t>(n.text)]);
    this->*n.member = InRange(value, n.lower, n.upper) ? value : n.fallback;
  }
  id = ParseDecimal(f[kIdField]);
  return true;
}

std::string ModemRecord::Encode() const {
  std::vector<std::string> f(kFieldCount);
  for (const auto& t : kTexts) f[static_cast<std::size_t>(t.text)] = (this->*t.member).Str();
  for (const auto& n : kNumbers) f[static_cast<std::size_t>(n.text)] = std::to_string(this->*n.member);
  f[kIdField] = std::to_string(id);
  std::string text;
  EncodeFields(&text, f, kFieldCount);
  return text;
}

int CompareModemIds(const void* a, const void* b) {
  const int32_t x = static_cast<const ModemRecord*>(a)->id;
  const int32_t y = static_cast<const ModemRecord*>(b)->id;
  return (x > y) - (x < y);
}

}  // namespace korvo
