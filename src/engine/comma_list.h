#pragma once
// Recipient and address lists: texts of items separated by "," (the default wherever a
// separator is empty). Items are not trimmed.
#include <string>
#include <string_view>

namespace pv {

enum class CompareMode { Exact = 0, IgnoreCase = 1 };

// The text before the first separator, the whole text when there is none. whole: separators
// is one string; otherwise a set of characters, any of which counts.
std::string TextBeforeSeparator(std::string_view text, std::string_view separators, bool whole,
                                CompareMode mode);
// The text after the first separator (after the whole string, or the one character), the whole
// text when there is none.
std::string TextAfterSeparator(std::string_view text, std::string_view separators, bool whole,
                               CompareMode mode);
// item when list is empty; otherwise list, the separator unless list already ends in it, item.
std::string AppendListItem(std::string_view list, std::string_view separator,
                           std::string_view item);
// The items in their first order without later repetitions (compared without regard to case).
std::string RemoveDuplicateItems(std::string_view list, std::string_view separator);
// The items of list that removeList does not hold (exact comparison).
std::string RemoveListedItems(std::string_view list, std::string_view separator,
                              std::string_view removeList, std::string_view removeSeparator);
// separator + item + separator occurs in separator + list + separator.
bool ListContains(std::string_view list, std::string_view separator, std::string_view item,
                  CompareMode mode);

}  // namespace pv
