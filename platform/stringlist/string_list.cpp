#include "platform/stringlist/StringList.h"

#include <algorithm>
#include <cstdio>

#include "platform/exceptions/Exception.h"

namespace platform {

namespace {

unsigned char UpperAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

int TStringList::Compare(const std::string& a, const std::string& b) const {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (!caseSensitive_) {
            ca = UpperAscii(ca);
            cb = UpperAscii(cb);
        }
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int TStringList::Add(const std::string& text) {
    if (!sorted_) {
        items_.push_back(text);
        return Count() - 1;
    }
    const auto place = std::lower_bound(
        items_.begin(), items_.end(), text,
        [this](const std::string& item, const std::string& t) { return Compare(item, t) < 0; });
    const int index = static_cast<int>(place - items_.begin());
    if (place != items_.end() && Compare(*place, text) == 0 &&
        duplicates_ == TDuplicates::dupIgnore) {
        return index;
    }
    items_.insert(place, text);
    return index;
}

void TStringList::Clear() {
    items_.clear();
}

const std::string& TStringList::Strings(int index) const {
    if (index < 0 || index >= Count()) {
        char message[64];
        std::snprintf(message, sizeof message, "Index de liste hors limites (%d)", index);
        throw EStringListError(message);
    }
    return items_[static_cast<std::size_t>(index)];
}

void TStringList::Sort() {
    std::stable_sort(
        items_.begin(), items_.end(),
        [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        sorted_ = true;
        Sort();
    }
    sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
    caseSensitive_ = caseSensitive;
    if (sorted_) {
        Sort();
    }
}

}  // namespace platform
