// rastertokvf: the fax printer's CUPS filter. CUPS raster in (the file named
// by the sixth argument, else standard input), the fax page stream out on
// standard output; messages to the spooler on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/raster_stream.h"

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argc > 0 ? argv[0] : "rastertokvf");
    return 1;
  }
  int fd = 0;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "ERROR: Unable to open the raster file %s: %s\n", argv[6], std::strerror(errno));
      return 1;
    }
  }
  bool writeFailed = false;
  korvo::PrintStreamWriter out([&](std::string_view piece) {
    if (!writeFailed && std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size()) writeFailed = true;
  });
  std::string error;
  const int pages = korvo::capture::ConvertRaster(fd, out, error);
  if (fd != 0) close(fd);
  if (std::fflush(stdout) != 0) writeFailed = true;
  if (pages < 0) {
    std::fprintf(stderr, "ERROR: The fax printer cannot print this job: %s\n", error.c_str());
    return 1;
  }
  if (writeFailed) {
    std::fprintf(stderr, "ERROR: Unable to write the fax page stream: %s\n", std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "INFO: %d fax page%s\n", pages, pages == 1 ? "" : "s");
  return 0;
}
