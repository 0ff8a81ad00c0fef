#pragma once
// The settings store: named values in an INI file, read and written one at a time the way the
// Windows profile functions do it.
//
// - Section and key names match without regard to case (and without surrounding blanks).
// - A read returns the value without surrounding blanks and without one pair of enclosing
//   quotation marks, cut to kSettingReadLimit characters; a key present with an empty value
//   reads "", a missing key (or section, or file) gives the default.
// - A file that cannot be read reads like a missing one. A write never replaces a file that
//   exists but cannot be read.
// - A write creates the file and the section when missing, rewrites an existing entry in
//   place, appends a missing key after the section's last entry, and carries every other line
//   along. Writes are atomic (support/durable_write.h); a file created by the store gets mode
//   0600 because the settings hold the enciphered proxy password, an existing file keeps its
//   mode. Names or values that cannot be stored as one line reading back the same (line
//   breaks, "=" in a key, ...) are refused: the write fails and the file is untouched.
// - Files are UTF-8 without byte-order mark and with LF line ends; on reading a byte-order mark
//   is skipped, CR LF is accepted and a line that is not UTF-8 is taken as code page 1252
//   (a settings file brought over from Windows).
// - An empty file path addresses no file: reads give the default, writes and the file
//   operations fail, the section list is empty.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// The most characters a read returns (the profile functions' 32000-character buffer).
inline constexpr std::size_t kSettingReadLimit = 31999;

std::string ReadSettingString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue);
// The leading number of the value (see SettingTextToLong); the default when the key is missing.
std::int32_t ReadSettingLong(const std::string& file, std::string_view section,
                             std::string_view key, std::int32_t defaultValue);
// The value tested by SettingTextToBool; the default when the key is missing.
bool ReadSettingBool(const std::string& file, std::string_view section, std::string_view key,
                     bool defaultValue);

bool WriteSettingString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);
// Signed decimal text.
bool WriteSettingLong(const std::string& file, std::string_view section, std::string_view key,
                      std::int32_t value);
// "1" or "0".
bool WriteSettingBool(const std::string& file, std::string_view section, std::string_view key,
                      bool value);

// Removes every section of that name with its lines. True when the file holds no such section
// afterwards (a missing file or section needs no write).
bool DeleteSettingsSection(const std::string& file, std::string_view section);
// The section names in file order, each once; returns their number.
int GetSettingsSectionNames(const std::string& file, std::vector<std::string>& names);

// The whole content of a section: its entries (and comment lines) trimmed, blank lines left
// out; empty for a missing section.
std::vector<std::string> ReadSettingsSection(const std::string& file, std::string_view section);
// Replaces the whole content of a section (created when missing) by the given lines.
bool WriteSettingsSection(const std::string& file, std::string_view section,
                          const std::vector<std::string>& lines);

// Deletes the settings file. False, with nothing touched, for a file named "system.ini" (any
// case) and for a missing file.
bool ClearSettingsFile(const std::string& file);
// Makes destination hold the non-empty sections of source, nothing else, in one atomic write
// (lines outside sections, blank lines and empty sections are not copied). False when either
// file is named "system.ini", when source is missing or unreadable, or when the write fails;
// destination is untouched then.
bool CopySettingsFile(const std::string& source, const std::string& destination);

// Pure conversions behind the reads.
// The text cut to kSettingReadLimit characters (whole UTF-8 sequences).
std::string CutToReadLimit(std::string_view text);
// The leading number (blanks skipped, optional sign, digits, optional fraction and exponent)
// rounded to the nearest integer, halves to even; 0 without a leading number or outside the
// signed 32-bit range.
std::int32_t SettingTextToLong(std::string_view text);
// True exactly for "wahr", "true", "1" and "-1", compared without regard to case.
bool SettingTextToBool(std::string_view text);

}  // namespace pv
