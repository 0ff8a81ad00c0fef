// bench_wire_data: the cost of preparing a mail's bytes for DATA, for large and awkward mails.
//
// Each shape is prepared REPEATS times with PrepareWireData (and, for the 8-bit shape, with
// PrepareSevenBitWireData for a server without 8BITMIME); the figure is MB of mail per second.
// The shapes that a rewrite of the whole buffer per line would make quadratic are in it: lines
// that all need a dot stuffed, and one header line of megabytes without a blank to fold at.
// The output is checked for its last line and its final dot; exit status 1 when it is wrong.
//
// usage: bench_wire_data [MB [REPEATS]]   (8, 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "transport/wire_data.h"

namespace pv::bench {
namespace {

struct Shape {
  const char* name;
  std::string headers, body;
  bool sevenBit;  // prepared for a server without 8BITMIME
  const char* ending;
};

std::vector<Shape> Shapes(std::size_t size) {
  std::string text, dots, umlauts;
  while (text.size() < size) text += std::string(78, 'x') + "\r\n";
  while (dots.size() < size) dots += "\n.";
  // The mail text holds characters (UTF-8 here) that code page 1252 gives bytes for.
  while (umlauts.size() < size)
    umlauts += "Gr\xC3\xBC\xC3\x9F" "e, 10 \xE2\x82\xAC f\xC3\xBCr alle " + std::string(60, 'y') + "\r\n";
  const std::string plain = "From: a@x.test\r\nTo: b@y.test\r\nSubject: bench";
  return {
      {"plain 80-octet lines", plain, text, false, "x\r\n.\r\n"},
      {"a dot to stuff on every line", plain, dots, false, "\r\n..\r\n.\r\n"},
      {"one header line without a blank", "X-Long:" + std::string(size, 'h'), "x", false,
       "\r\n\r\nx\r\n.\r\n"},
      {"8-bit text, raw", plain, umlauts, false, "y\r\n.\r\n"},
      {"8-bit text as quoted-printable", plain, umlauts, true, "y\r\n.\r\n"},
  };
}

WireData Prepare(const Shape& shape) {
  if (!shape.sevenBit) return PrepareWireData(shape.headers, shape.body);
  std::string error;
  return PrepareSevenBitWireData(shape.headers, shape.body, error);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

bool Measure(const Shape& shape, int repeats) {
  const double mb = static_cast<double>(shape.headers.size() + shape.body.size()) / 1e6;
  std::vector<double> seconds;
  std::size_t wireSize = 0;
  bool right = true;
  for (int run = 0; run < repeats; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const WireData wire = Prepare(shape);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    wireSize = wire.bytes.size();
    right = right && wire.bytes.ends_with(shape.ending);
  }
  const double median = Median(seconds);
  std::printf("%-34s %7.1f MB -> %7.1f MB  median %.3f s  %7.1f MB/s%s\n", shape.name, mb,
              static_cast<double>(wireSize) / 1e6, median, mb / median, right ? "" : "  WRONG OUTPUT");
  return right;
}

}  // namespace
}  // namespace pv::bench

int main(int argc, char** argv) {
  const long mb = argc > 1 ? std::max(1L, std::atol(argv[1])) : 8;
  const int repeats = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 100) : 5;
  bool right = true;
  for (const auto& shape : pv::bench::Shapes(static_cast<std::size_t>(mb) << 20))
    right = pv::bench::Measure(shape, repeats) && right;
  return right ? 0 : 1;
}
