#pragma once
// "Did you mean": the known word closest to a mistyped one, if any is close enough to be
// what was meant. Private to the library.

#include <string>
#include <vector>

namespace suggestion {

// The candidate fewest edits (a letter added, dropped, changed, or two swapped) away from
// `word`, when that is at most a third of its length (at least one, at most three); empty
// when none is that close.
std::string Closest(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace suggestion
