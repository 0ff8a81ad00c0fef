#include "settings/ini_document.h"

#include <utility>

#include "support/text.h"

namespace pv {
namespace {

constexpr std::string_view kBlanks = " \t\v\f\r";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

enum class LineKind { kBlank, kComment, kHeader, kEntry, kOther };

struct LineInfo {
  LineKind kind = LineKind::kBlank;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // entry value, trimmed
};

LineInfo Classify(std::string_view line) {
  const std::string_view text = Trim(line, kBlanks);
  if (text.empty()) return {LineKind::kBlank, {}, {}};
  if (text.front() == ';' || text.front() == '#') return {LineKind::kComment, {}, {}};
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return {LineKind::kOther, {}, {}};
    return {LineKind::kHeader, Trim(text.substr(1, close - 1), kBlanks), {}};
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {LineKind::kOther, {}, {}};
  return {LineKind::kEntry, Trim(text.substr(0, equals), kBlanks),
          Trim(text.substr(equals + 1), kBlanks)};
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsBlankLine(const std::string& line) { return Trim(line, kBlanks).empty(); }

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  // Every mark goes, however many an editor stacked up: a mark left in the first line would
  // be written back and, once a later read took it away, turn that line into a header that
  // shadows the section a write appended.
  while (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  IniDocument doc;
  doc.sections_.emplace_back();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    start = end + 1;
    const LineInfo info = Classify(line);
    if (info.kind == LineKind::kHeader) {
      doc.sections_.push_back({std::string(info.name), true, std::string(line), {}});
    } else {
      doc.sections_.back().lines.emplace_back(line);
    }
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Section& section : sections_) {
    if (section.hasHeader) out.append(section.header).push_back('\n');
    for (const std::string& line : section.lines) out.append(line).push_back('\n');
  }
  return out;
}

bool IniDocument::Empty() const {
  for (const Section& section : sections_) {
    if (section.hasHeader || !section.lines.empty()) return false;
  }
  return true;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  name = Trim(name, kBlanks);
  if (name.empty()) return nullptr;
  for (const Section& section : sections_) {
    if (section.hasHeader && EqualsNoCase(section.name, name)) return &section;
  }
  return nullptr;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

IniDocument::Section& IniDocument::AppendSection(std::string_view name) {
  if (sections_.empty()) sections_.emplace_back();
  if (!Empty()) {
    // Keep a blank line between the last section and the new one.
    Section& last = sections_.back();
    const bool endsBlank = last.lines.empty() ? !last.hasHeader : IsBlankLine(last.lines.back());
    if (!endsBlank) last.lines.emplace_back();
  }
  const std::string trimmed(Trim(name, kBlanks));
  sections_.push_back({trimmed, true, "[" + trimmed + "]", {}});
  return sections_.back();
}

std::optional<std::string> IniDocument::Find(std::string_view section,
                                             std::string_view key) const {
  const Section* found = FindSection(section);
  key = Trim(key, kBlanks);
  if (found == nullptr || key.empty()) return std::nullopt;
  for (const std::string& line : found->lines) {
    const LineInfo info = Classify(line);
    if (info.kind == LineKind::kEntry && EqualsNoCase(info.name, key)) {
      return std::string(info.value);
    }
  }
  return std::nullopt;
}

std::vector<std::string> IniDocument::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& section : sections_) {
    if (!section.hasHeader || section.name.empty()) continue;
    if (FindSection(section.name) == &section) names.push_back(section.name);
  }
  return names;
}

int IniDocument::SectionCount(std::string_view section) const {
  section = Trim(section, kBlanks);
  int count = 0;
  for (const Section& s : sections_) count += s.hasHeader && EqualsNoCase(s.name, section);
  return count;
}

std::optional<std::vector<std::string>> IniDocument::SectionLines(
    std::string_view section) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  std::vector<std::string> lines;
  for (const std::string& line : found->lines) {
    if (!IsBlankLine(line)) lines.emplace_back(Trim(line, kBlanks));
  }
  return lines;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsStorableSectionName(section) || !IsStorableKey(key) || !IsStorableValue(value)) {
    return false;
  }
  key = Trim(key, kBlanks);
  Section* target = FindSection(section);
  if (target == nullptr) target = &AppendSection(section);
  std::size_t insertAt = 0;
  bool sawEntry = false;
  for (std::size_t i = 0; i < target->lines.size(); ++i) {
    const LineInfo info = Classify(target->lines[i]);
    if (info.kind == LineKind::kEntry && EqualsNoCase(info.name, key)) {
      target->lines[i] = std::string(info.name) + "=" + std::string(value);
      return true;
    }
    if (info.kind == LineKind::kEntry || (!sawEntry && info.kind != LineKind::kBlank)) {
      insertAt = i + 1;
    }
    sawEntry = sawEntry || info.kind == LineKind::kEntry;
  }
  target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                       std::string(key) + "=" + std::string(value));
  return true;
}

bool IniDocument::RemoveSection(std::string_view section) {
  bool removed = false;
  while (const Section* found = FindSection(section)) {
    sections_.erase(sections_.begin() + (found - sections_.data()));
    removed = true;
  }
  return removed;
}

bool IniDocument::ReplaceSection(std::string_view section,
                                 const std::vector<std::string>& lines) {
  if (!IsStorableSectionName(section)) return false;
  std::vector<std::string> content;
  for (const std::string& line : lines) {
    const std::string_view trimmed = Trim(line, kBlanks);
    if (trimmed.empty() || HasLineBreakOrNul(trimmed) ||
        Classify(trimmed).kind == LineKind::kHeader) {
      return false;
    }
    content.emplace_back(trimmed);
  }
  Section* target = FindSection(section);
  if (target == nullptr) target = &AppendSection(section);
  // Blank lines at the end separate the section from the next one; they stay.
  std::size_t trailingBlanks = 0;
  while (trailingBlanks < target->lines.size() &&
         IsBlankLine(target->lines[target->lines.size() - 1 - trailingBlanks])) {
    ++trailingBlanks;
  }
  content.insert(content.end(), target->lines.end() - static_cast<std::ptrdiff_t>(trailingBlanks),
                 target->lines.end());
  target->lines = std::move(content);
  return true;
}

bool IniDocument::IsStorableSectionName(std::string_view name) {
  name = Trim(name, kBlanks);
  return !name.empty() && !HasLineBreakOrNul(name) && name.find(']') == std::string_view::npos;
}

bool IniDocument::IsStorableKey(std::string_view key) {
  key = Trim(key, kBlanks);
  return !key.empty() && !HasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
         key.front() != ';' && key.front() != '#' && key.front() != '[';
}

bool IniDocument::IsStorableValue(std::string_view value) { return !HasLineBreakOrNul(value); }

std::string StripEnclosingQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace pv
