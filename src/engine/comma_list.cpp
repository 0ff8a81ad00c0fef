#include "engine/comma_list.h"

#include <vector>

#include "support/text.h"

namespace pv {
namespace {

std::string_view OrComma(std::string_view separator) { return separator.empty() ? "," : separator; }

// Position and length of the first separator, npos when none.
std::pair<std::size_t, std::size_t> FindSeparator(std::string_view text,
                                                  std::string_view separators, bool whole,
                                                  CompareMode mode) {
  separators = OrComma(separators);
  if (whole) {
    const auto pos = mode == CompareMode::IgnoreCase ? FindNoCase(text, separators)
                                                     : text.find(separators);
    return {pos, separators.size()};
  }
  if (mode == CompareMode::IgnoreCase) {
    const std::string lowerText = ToLowerAscii(text);
    return {lowerText.find_first_of(ToLowerAscii(separators)), 1};
  }
  return {text.find_first_of(separators), 1};
}

std::string Join(const std::vector<std::string_view>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.append(separator);
    out.append(items[i]);
  }
  return out;
}

}  // namespace

std::string TextBeforeSeparator(std::string_view text, std::string_view separators, bool whole,
                                CompareMode mode) {
  const auto [pos, length] = FindSeparator(text, separators, whole, mode);
  return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

std::string TextAfterSeparator(std::string_view text, std::string_view separators, bool whole,
                               CompareMode mode) {
  const auto [pos, length] = FindSeparator(text, separators, whole, mode);
  return std::string(pos == std::string_view::npos ? text : text.substr(pos + length));
}

std::string AppendListItem(std::string_view list, std::string_view separator,
                           std::string_view item) {
  separator = OrComma(separator);
  if (list.empty()) return std::string(item);
  std::string out(list);
  if (!out.ends_with(separator)) out.append(separator);
  out.append(item);
  return out;
}

std::string RemoveDuplicateItems(std::string_view list, std::string_view separator) {
  separator = OrComma(separator);
  std::vector<std::string_view> kept;
  for (std::string_view item : SplitAt(list, separator)) {
    bool seen = false;
    for (std::string_view k : kept) seen = seen || EqualsNoCase(k, item);
    if (!seen) kept.push_back(item);
  }
  return Join(kept, separator);
}

std::string RemoveListedItems(std::string_view list, std::string_view separator,
                              std::string_view removeList, std::string_view removeSeparator) {
  separator = OrComma(separator);
  std::vector<std::string_view> kept;
  for (std::string_view item : SplitAt(list, separator))
    if (!ListContains(removeList, removeSeparator, item, CompareMode::Exact)) kept.push_back(item);
  return Join(kept, separator);
}

bool ListContains(std::string_view list, std::string_view separator, std::string_view item,
                  CompareMode mode) {
  separator = OrComma(separator);
  const std::string haystack = std::string(separator) + std::string(list) + std::string(separator);
  const std::string needle = std::string(separator) + std::string(item) + std::string(separator);
  return mode == CompareMode::IgnoreCase ? FindNoCase(haystack, needle) != std::string::npos
                                         : haystack.find(needle) != std::string::npos;
}

}  // namespace pv
