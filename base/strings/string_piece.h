// A non-owning view of narrow (UTF-8 by convention) or wide (UTF-16) text. Never
// NUL-terminated by contract; npos is the all-ones size.
#ifndef BASE_STRINGS_STRING_PIECE_H_
#define BASE_STRINGS_STRING_PIECE_H_

#include <cstddef>
#include <cstring>
#include <iosfwd>
#include <string>

namespace base {

template <typename CharT>
class BasicStringPiece {
 public:
  typedef std::basic_string<CharT> StringType;
  typedef size_t size_type;
  static constexpr size_type npos = static_cast<size_type>(-1);

  constexpr BasicStringPiece() : ptr_(nullptr), length_(0) {}
  BasicStringPiece(const CharT* text)  // NOLINT: implicit like the strings it views
      : ptr_(text), length_(text ? std::char_traits<CharT>::length(text) : 0) {}
  BasicStringPiece(const StringType& text)  // NOLINT
      : ptr_(text.data()), length_(text.size()) {}
  constexpr BasicStringPiece(const CharT* text, size_type length)
      : ptr_(text), length_(length) {}

  const CharT* data() const { return ptr_; }
  size_type size() const { return length_; }
  size_type length() const { return length_; }
  bool empty() const { return length_ == 0; }
  CharT operator[](size_type i) const { return ptr_[i]; }
  const CharT* begin() const { return ptr_; }
  const CharT* end() const { return ptr_ + length_; }
  CharT front() const { return ptr_[0]; }
  CharT back() const { return ptr_[length_ - 1]; }

  void remove_prefix(size_type n) {
    ptr_ += n;
    length_ -= n;
  }
  void remove_suffix(size_type n) { length_ -= n; }

  StringType as_string() const { return empty() ? StringType() : StringType(ptr_, length_); }

  int compare(BasicStringPiece other) const {
    size_type n = length_ < other.length_ ? length_ : other.length_;
    int r = n ? std::char_traits<CharT>::compare(ptr_, other.ptr_, n) : 0;
    if (r == 0) r = length_ < other.length_ ? -1 : (length_ > other.length_ ? 1 : 0);
    return r;
  }
  bool starts_with(BasicStringPiece x) const {
    return length_ >= x.length_ && BasicStringPiece(ptr_, x.length_) == x;
  }
  bool ends_with(BasicStringPiece x) const {
    return length_ >= x.length_ && BasicStringPiece(ptr_ + length_ - x.length_, x.length_) == x;
  }

  // Position and count are both clamped, so a start past the end gives an empty piece.
  BasicStringPiece substr(size_type position, size_type count = npos) const {
    size_type start = position < length_ ? position : length_;
    size_type rest = length_ - start;
    return BasicStringPiece(ptr_ + start, count < rest ? count : rest);
  }

  size_type find(CharT c, size_type position = 0) const {
    for (size_type i = position; i < length_; ++i)
      if (ptr_[i] == c) return i;
    return npos;
  }
  size_type find(BasicStringPiece s, size_type position = 0) const {
    if (position > length_ || s.length_ > length_ - position) return npos;
    for (size_type i = position; i + s.length_ <= length_; ++i)
      if (BasicStringPiece(ptr_ + i, s.length_) == s) return i;
    return npos;
  }
  size_type rfind(CharT c, size_type position = npos) const {
    if (length_ == 0) return npos;
    for (size_type i = position < length_ ? position + 1 : length_; i-- > 0;)
      if (ptr_[i] == c) return i;
    return npos;
  }
  size_type find_first_of(BasicStringPiece set, size_type position = 0) const;
  size_type find_first_not_of(BasicStringPiece set, size_type position = 0) const;
  size_type find_last_of(BasicStringPiece set, size_type position = npos) const;
  size_type find_last_not_of(BasicStringPiece set, size_type position = npos) const;

  friend bool operator==(BasicStringPiece a, BasicStringPiece b) {
    return a.length_ == b.length_ &&
           (a.length_ == 0 || std::char_traits<CharT>::compare(a.ptr_, b.ptr_, a.length_) == 0);
  }
  friend bool operator!=(BasicStringPiece a, BasicStringPiece b) { return !(a == b); }
  friend bool operator<(BasicStringPiece a, BasicStringPiece b) { return a.compare(b) < 0; }

 private:
  const CharT* ptr_;
  size_type length_;
};

namespace internal {

// Membership test for a search set. Narrow sets of two or more bytes are looked up in a
// 256-entry table built once per search; a one-character set compares directly.
template <typename CharT>
class CharSet {
 public:
  explicit CharSet(BasicStringPiece<CharT> set) : set_(set) {
    if (sizeof(CharT) == 1 && set.size() >= 2) {
      use_table_ = true;
      std::memset(table_, 0, sizeof(table_));
      for (CharT c : set) table_[static_cast<unsigned char>(c)] = true;
    }
  }
  bool Contains(CharT c) const {
    if (use_table_) return table_[static_cast<unsigned char>(c)];
    if (set_.size() == 1) return set_[0] == c;
    return set_.find(c) != BasicStringPiece<CharT>::npos;
  }

 private:
  BasicStringPiece<CharT> set_;
  bool use_table_ = false;
  bool table_[256];
};

}  // namespace internal

template <typename CharT>
typename BasicStringPiece<CharT>::size_type BasicStringPiece<CharT>::find_first_of(
    BasicStringPiece set, size_type position) const {
  if (length_ == 0 || set.empty()) return npos;
  internal::CharSet<CharT> members(set);
  for (size_type i = position; i < length_; ++i)
    if (members.Contains(ptr_[i])) return i;
  return npos;
}

// An empty set: find_first_not_of gives the start position, find_last_not_of the last
// position and find_last_of npos; on an empty piece every find gives npos.
template <typename CharT>
typename BasicStringPiece<CharT>::size_type BasicStringPiece<CharT>::find_first_not_of(
    BasicStringPiece set, size_type position) const {
  if (length_ == 0) return npos;
  internal::CharSet<CharT> members(set);
  for (size_type i = position; i < length_; ++i)
    if (!members.Contains(ptr_[i])) return i;
  return npos;
}

template <typename CharT>
typename BasicStringPiece<CharT>::size_type BasicStringPiece<CharT>::find_last_of(
    BasicStringPiece set, size_type position) const {
  if (length_ == 0 || set.empty()) return npos;
  internal::CharSet<CharT> members(set);
  for (size_type i = position < length_ ? position + 1 : length_; i-- > 0;)
    if (members.Contains(ptr_[i])) return i;
  return npos;
}

template <typename CharT>
typename BasicStringPiece<CharT>::size_type BasicStringPiece<CharT>::find_last_not_of(
    BasicStringPiece set, size_type position) const {
  if (length_ == 0) return npos;
  internal::CharSet<CharT> members(set);
  for (size_type i = position < length_ ? position + 1 : length_; i-- > 0;)
    if (!members.Contains(ptr_[i])) return i;
  return npos;
}

typedef BasicStringPiece<char> StringPiece;
typedef BasicStringPiece<wchar_t> StringPiece16;

std::ostream& operator<<(std::ostream& out, StringPiece piece);

}  // namespace base

#endif  // BASE_STRINGS_STRING_PIECE_H_
