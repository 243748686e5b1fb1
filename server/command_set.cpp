#include "server/command_set.h"

#include <cstdio>
#include <cstring>

#include "server/trace.h"

namespace korvo {

namespace {

constexpr const char* kBasic[BasicCommandSet::kCount] = {
    "ATZ",          "ATA",          "ATH1",           "ATH0",          "ATQ0V1E0X0&D2&C1L1S0=0H0",
    "AT+FCLASS=?",  "AT&H3",        "AT&H4",          "AT&H1&I0&R2",   "AT&H2&I2&R1",
    "AT\\Q3",       "AT\\Q1",       "AT&K3",          "AT&K4",         "AT*F3",
    "AT*F2",        "AT#K3",        "AT#K4",          "AT&E4",         "AT&E5",
    "AT$F4",        "AT$F5",        "ATS58=2S68=255", "ATS58=2S68=255",
};

constexpr const char* kClass20Commands[FaxCommandSet::kSlotCount] = {
    "AT+FCLASS=2.0", "AT+FCC=", "AT+FNR=", "AT+FLI=", "AT+FDT",  "AT+FCR=1", "AT+FDR",
    "",              "AT+FLO=", "",        "AT+FMI?", "AT+FMM?", "AT+FMR?",
};
constexpr const char* kClass2Commands[FaxCommandSet::kSlotCount] = {
    "AT+FCLASS=2", "AT+FDCC=", "",        "AT+FLID=",  "AT+FDT",   "AT+FCR=1", "AT+FDR",
    "AT+FBOR=",    "",         "AT+FET=", "AT+FMFR?", "AT+FMDL?", "AT+FREV?",
};

constexpr const char* kClass20Responses[FaxResponseSet::kSlotCount] = {
    "+FCO", "+FNF", "+FCI", "+FIS", "+FNS", "+FTI", "+FCS", "+FPS", "+FET", "+FHS",
};
constexpr const char* kClass2Responses[FaxResponseSet::kSlotCount] = {
    "+FCON", "+FNSF", "+FCSI", "+FDIS", "+FNSS", "+FTSI", "+FDCS", "+FPTS", "+FET", "+FHNG",
};

const FaxCommandSet gClass20Commands(kClass20Commands);
const FaxCommandSet gClass2Commands(kClass2Commands);
const FaxResponseSet gClass20Responses(kClass20Responses);
const FaxResponseSet gClass2Responses(kClass2Responses);

}  // namespace

const char* BasicCommandSet::Get(int command) {
  return command >= 0 && command < kCount ? kBasic[command] : "";
}

const FaxCommandSet& FaxCommandSet::Class2() { return gClass2Commands; }
const FaxCommandSet& FaxCommandSet::Class20() { return gClass20Commands; }
const FaxResponseSet& FaxResponseSet::Class2() { return gClass2Responses; }
const FaxResponseSet& FaxResponseSet::Class20() { return gClass20Responses; }

bool FaxResponseSet::Matches(Slot slot, const char* line) const {
  return std::strncmp(line, slots_[slot], 4) == 0;
}

const char* PostPageResponseName(int ppr) {
  switch (ppr) {
    case 1: return "MCF (Message confirmation/Page good)";
    case 2: return "RTN (Retrain negative/Page bad)";
    case 3: return "RTP (Retrain positive/Page good/Retrain requested)";
    case 4: return "PIN (Page bad/Interrupt requested)";
    case 5: return "PIP (Page good/Interrupt requested)";
    default: return "";
  }
}

const char* PostPageMessageName(int ppm) {
  switch (ppm) {
    case 0: return "MPS (Multipage signal/Another page, same document)";
    case 1: return "EOM (End of message/Another document)";
    case 2: return "EOP (End of procedure/No more pages or documents)";
    case 3: return "NULL/Another partial page";
    default: return "";
  }
}

void ParseSessionParameters(const char* text, PageDescriptor& page) {
  int vr = 0, br = 0, wd = 0, ln = 0, df = 0, ec = 0, bf = 0, st = 0;
  std::sscanf(text, "%d,%d,%d,%d,%d,%d,%d,%d", &vr, &br, &wd, &ln, &df, &ec, &bf, &st);
  DebugTrace("\nvr=%d,br=%d,wd=%d,ln=%d,df=%d,ec=%d,bf=%d,st=%d\n", vr, br, wd, ln, df, ec, bf, st);
  page.yResolution = vr != 0 ? 196 : 98;
  switch (wd) {
    case 1: page.width = 2048; break;
    case 2: page.width = 2432; break;
    default: page.width = 1728; break;
  }
  DebugTrace("\npageDescription.imageWidth=%d, pageDescription.imageLength=%d\n", page.width, page.length);
  DebugTrace("pageDescription.imagexResolution=%d, pageDescription.yResolution=%d\n", page.xResolution,
             page.yResolution);
  DebugTrace("pageDescription.photometricInterpret=%d, pageDescription.fillOrder=%d\n\n",
             static_cast<int>(page.photometric), static_cast<int>(page.fillOrder));
}

void CleanRemoteId(char* id, size_t size) {
  if (size == 0) return;
  id[size - 1] = '\0';
  if (char* open = std::strchr(id, '"')) {
    char* start = open + 1;
    char* close = std::strchr(start, '"');
    const size_t n = close ? static_cast<size_t>(close - start) : std::strlen(start);
    std::memmove(id, start, n);
    id[n] = '\0';
  }
  DebugTrace("\nFax from [%s]\n", id);
  if (id[std::strspn(id, " ")] == '\0') id[0] = '\0';
}

}  // namespace korvo
