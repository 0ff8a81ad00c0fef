#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "shell/startup.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// The value of KEY in the [Desktop Entry] group; "<missing KEY>" when it has none.
std::string EntryValue(const std::string& entry, const std::string& key) {
  std::istringstream lines(entry);
  bool inMainGroup = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.front() == '[') inMainGroup = line == "[Desktop Entry]";
    if (inMainGroup && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "<missing " + key + ">";
}

// The menu shows what the service says of itself; the two must not drift apart.
TEST(DesktopEntry, NamesAndDescribesTheProgramAsTheServiceDoes) {
  const std::string entry = test::ReadFile(POSTVANE_SOURCE_DIR "/dist/postvane.desktop");
  ASSERT_FALSE(entry.empty());
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Name", kApplicationTitle}, {"Comment", kServiceDescription}, {"Exec", "postvane"}};
  for (const auto& [key, value] : rows) {
    SCOPED_TRACE(key);
    EXPECT_EQ(EntryValue(entry, key), value);
  }
}

}  // namespace
}  // namespace pv
