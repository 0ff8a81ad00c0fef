#pragma once
// An INI document held in memory: parsed from text, looked up, edited and written back as text.
// No file I/O here (see ini_store.h).
//
// Lines are kept as they were read, so an edit changes only the lines it is about; every other
// line, comments and unknown sections included, comes back unchanged (line ends become LF).
// Section and key names compare without regard to ASCII case and without their surrounding
// blanks. Lines whose first non-blank character is ";" or "#" are comments. A line
// "[name]" opens a section; "key=value" is an entry; other lines are kept but never addressed.
// Lines before the first section belong to no section and cannot be addressed either.
// Where a section or key name occurs twice, the first occurrence is the one addressed.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

class IniDocument {
 public:
  // Leading UTF-8 byte-order marks are skipped (all of them); lines end with LF, CR LF or
  // CR CR LF (one CR is the line end, any other is a blank at the end of the line). A CR
  // alone does not end a line.
  static IniDocument Parse(std::string_view text);
  // Every line followed by LF; "" for a document without lines.
  std::string Serialize() const;

  // The stored value of an entry, blanks around it removed (quotation marks kept); nullopt
  // when the section or the key is missing or the name is empty after trimming.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Section names in file order, each name once (the first spelling).
  std::vector<std::string> SectionNames() const;
  // How many sections of that name the document holds (only the first is addressed).
  int SectionCount(std::string_view section) const;
  // The entries and comment lines of a section, trimmed, in file order (blank lines left out);
  // nullopt when the section is missing.
  std::optional<std::vector<std::string>> SectionLines(std::string_view section) const;

  // Sets key=value: the entry's line is rewritten in place, a missing key is inserted after
  // the section's last entry, a missing section is appended. False (document unchanged) when
  // the names or the value cannot be stored as one line that reads back the same (see
  // IsStorableName / IsStorableValue).
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every section of that name with all its lines. True when one was removed.
  bool RemoveSection(std::string_view section);
  // Replaces the content of the section (created when missing) by the given lines, each stored
  // trimmed. False (document unchanged) for an invalid name or a line that is empty, multi-line
  // or would open a section.
  bool ReplaceSection(std::string_view section, const std::vector<std::string>& lines);

  bool Empty() const;

  // A section name without CR, LF, NUL and "]"; a key without those, "=", and a leading ";",
  // "#" or "[". Both non-empty after trimming.
  static bool IsStorableSectionName(std::string_view name);
  static bool IsStorableKey(std::string_view key);
  // A value without CR, LF and NUL.
  static bool IsStorableValue(std::string_view value);

 private:
  struct Section {
    std::string name;                // trimmed; "" for the lines before the first section
    bool hasHeader = false;          // false only for those lines
    std::string header;              // the header line as read
    std::vector<std::string> lines;  // the lines after the header, as read
  };

  const Section* FindSection(std::string_view name) const;
  Section* FindSection(std::string_view name);
  Section& AppendSection(std::string_view name);

  std::vector<Section> sections_;
};

// The value as the profile functions return it: one pair of enclosing quotation marks
// (both " or both ') removed.
std::string StripEnclosingQuotes(std::string_view value);

}  // namespace pv
