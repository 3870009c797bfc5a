#pragma once
// A growable array of 8-bit strings, in order; duplicates allowed.

#include <string>
#include <vector>

namespace chatterly {

class CStringArray {
  public:
    size_t GetSize() const { return items_.size(); }
    void SetSize(size_t n) { items_.resize(n); }
    void Add(std::string s) { items_.push_back(std::move(s)); }
    void RemoveAll() { items_.clear(); }
    const std::string& operator[](size_t i) const { return items_.at(i); }
    std::string& operator[](size_t i) { return items_.at(i); }

    const std::string* data() const { return items_.data(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<std::string> items_;
};

}  // namespace chatterly
