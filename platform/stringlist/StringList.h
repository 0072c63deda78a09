#pragma once

#include <string>
#include <vector>

namespace platform {

// What a sorted list does with a text equal to an entry already present.
enum class TDuplicates {
    dupIgnore,  // nothing is added, no error; Add returns the existing entry's index
    dupAccept,  // the text is added next to its equal
};

// The framework's string list, with the behaviour the program relies on.
//
// Order and equality: the system compared entries with the user locale's collation, which has
// no counterpart here. Texts compare byte by byte as unsigned char (case-sensitive), or after
// ASCII upper-casing (case-insensitive). For port entries ("COM", digits, " : ", "KELDRAN") both
// give the same order: digits compare as characters, so COM1 < COM10 < COM2.
//
// A sorted list inserts every text at its place in ascending order and applies Duplicates; an
// unsorted list keeps insertion order and accepts every text, as the framework does.
class TStringList {
  public:
    // Adds text and returns its index.
    int Add(const std::string& text);
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }

    // The entry at index; raises EStringListError for an index outside the list.
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }

    bool Sorted() const { return sorted_; }
    // Switching sorting on sorts the entries already present.
    void SetSorted(bool sorted);
    bool CaseSensitive() const { return caseSensitive_; }
    // A sorted list is re-sorted under the new comparison.
    void SetCaseSensitive(bool caseSensitive);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates duplicates) { duplicates_ = duplicates; }

  private:
    int Compare(const std::string& a, const std::string& b) const;
    void Sort();

    std::vector<std::string> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

}  // namespace platform
