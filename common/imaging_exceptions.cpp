#include "common/imaging_exceptions.h"

#include <exception>

#include "common/trace.h"

namespace korvo {

void TraceCaughtException() {
  try {
    throw;
  } catch (Exception* e) {
    DebugPrint("%s\n", e->Text().c_str());
    delete e;
  } catch (const std::exception& e) {
    DebugPrint("%s\n", e.what());
  } catch (...) {
    DebugPrint("Unexpected exception\n");
  }
}

std::string BitArrayException::Text() const { return "Bit array: writing data outside of limits"; }
std::string HuffmanException::Text() const { return "Error in Huffman compression / decompression"; }
std::string FileReadingException::Text() const { return "Error reading file: less bytes than expected"; }
std::string TiffException::Text() const { return "Error reading TIFF file"; }

}  // namespace korvo
