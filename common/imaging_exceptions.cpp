#include "common/imaging_exceptions.h"

namespace korvo {

std::string BitArrayException::Text() const { return "Bit array: writing data outside of limits"; }
std::string HuffmanException::Text() const { return "Error in Huffman compression / decompression"; }
std::string FileReadingException::Text() const { return "Error reading file: less bytes than expected"; }
std::string TiffException::Text() const { return "Error reading TIFF file"; }

}  // namespace korvo
