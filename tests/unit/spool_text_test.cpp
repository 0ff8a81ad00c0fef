#include <gtest/gtest.h>

#include "engine/give_up.h"
#include "temp_dir.h"

namespace pv {
namespace {

// Written in two pieces, a spool file has the bytes of the joined text, in every encoding a
// spool file may have been read in; an existing file is kept unless replacing is asked for.
TEST(SpoolText, TwoPiecesAreWrittenAsTheJoinedText) {
  const SpoolText text{"Subject: Gr\xC3\xBC\xC3\x9F" "e\r\nX-pvx-Retry: 1",
                       "K\xC3\xB6ln \xE2\x82\xAC\r\n"};
  test::TempDir dir;
  for (const char* encoding : {"ansi-1031", "utf8", "utf16be"}) {
    SCOPED_TRACE(encoding);
    const std::string pieces = dir / (std::string(encoding) + ".pieces");
    const std::string joined = dir / (std::string(encoding) + ".joined");
    ASSERT_FALSE(WriteSpoolText(pieces, text, encoding, false));
    ASSERT_FALSE(WriteSpoolText(joined, std::string(text), encoding, false));
    EXPECT_EQ(test::ReadFile(pieces), test::ReadFile(joined));
    EXPECT_TRUE(WriteSpoolText(pieces, SpoolText{"A: 1", "x"}, encoding, false));
    EXPECT_FALSE(WriteSpoolText(pieces, SpoolText{"A: 1", "x"}, encoding, true));
  }
  EXPECT_EQ(test::ReadFile(dir / "ansi-1031.joined"),
            "Subject: Gr\xFC\xDF" "e\r\nX-pvx-Retry: 1\r\n\r\nK\xF6ln \x80\r\n");
}

}  // namespace
}  // namespace pv
