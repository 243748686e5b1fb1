// prnstream: writes a print job in the fax printer's page stream.
//   prnstream [-p a4|letter] (-t TEXT | -i IMAGE.pbm) OUTPUT
// TEXT and IMAGE may be "-" for standard input, OUTPUT "-" for standard output.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "tools/prnstream/prn_stream.h"

namespace {

constexpr const char* kUsage =
    "usage: prnstream [-p a4|letter] (-t TEXT | -i IMAGE.pbm) OUTPUT\n"
    "  -t TEXT       a text file, printed in 12 pt with one-inch margins; long lines\n"
    "                wrap at blanks, a form feed starts a page\n"
    "  -i IMAGE.pbm  a PBM image (P1 or P4, at most 1728 pixels wide), cut into pages\n"
    "  -p            the paper, a4 (the default) or letter\n"
    "  TEXT and IMAGE may be - for standard input, OUTPUT - for standard output.\n";

int Usage() {
  std::cerr << kUsage;
  return 2;
}

bool ReadAll(const std::string& path, std::string& data) {
  if (path == "-") {
    data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  data = all.str();
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvo::tools;
  Paper paper = Paper::A4;
  std::string text, image, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return std::cout.flush() ? 0 : 1;
    }
    if ((arg == "-p" || arg == "-t" || arg == "-i") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "-t") text = value;
      else if (arg == "-i") image = value;
      else if (value == "a4") paper = Paper::A4;
      else if (value == "letter") paper = Paper::Letter;
      else return Usage();
    } else if (output.empty() && (arg == "-" || arg[0] != '-')) {
      output = arg;
    } else {
      return Usage();
    }
  }
  if (output.empty() || text.empty() == image.empty()) return Usage();

  std::string input;
  if (!ReadAll(text.empty() ? image : text, input)) {
    std::cerr << "prnstream: cannot read " << (text.empty() ? image : text) << "\n";
    return 1;
  }
  std::vector<PageRows> pages;
  if (!text.empty()) {
    pages = RenderTextPages(input, PageLines(paper));
  } else {
    std::string error;
    if (!PbmPages(input, PageLines(paper), pages, error)) {
      std::cerr << "prnstream: " << image << ": " << error << "\n";
      return 1;
    }
  }
  PrnStreamWriter stream;
  stream.BeginDocument(paper);
  for (const auto& page : pages) stream.Page(page);
  stream.EndDocument();

  const std::string& bytes = stream.Bytes();
  if (output == "-") {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    return std::cout ? 0 : 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "prnstream: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
