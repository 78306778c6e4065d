// A sequence with a movable gap: an insertion or deletion moves only the elements between the
// last edit and this one, so a story written or rewritten front to back costs time in the length
// of what is written, not in the length of the story. Indexing and iteration see the elements
// without the gap, as a vector would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace xthost::doc {

template <class T>
class GapBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "the gap moves elements as bytes");

public:
    using value_type = T;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = T&;
    using const_reference = const T&;

    template <bool Const>
    class Iterator {
        using Owner = std::conditional_t<Const, const GapBuffer, GapBuffer>;

    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using reference = std::conditional_t<Const, const T&, T&>;
        using pointer = std::conditional_t<Const, const T*, T*>;

        Iterator() = default;
        Iterator(Owner* owner, std::size_t at) : owner_(owner), at_(at) {}
        // A const iterator from a mutable one, as a vector's converts.
        template <bool C, class = std::enable_if_t<Const && !C>>
        Iterator(const Iterator<C>& other) : owner_(other.owner_), at_(other.at_)  // NOLINT: implicit as a vector's
        {
        }

        reference operator*() const { return (*owner_)[at_]; }
        pointer operator->() const { return &(*owner_)[at_]; }
        reference operator[](difference_type n) const { return (*owner_)[at_ + n]; }
        Iterator& operator++() { ++at_; return *this; }
        Iterator& operator--() { --at_; return *this; }
        Iterator operator++(int) { Iterator old = *this; ++at_; return old; }
        Iterator operator--(int) { Iterator old = *this; --at_; return old; }
        Iterator& operator+=(difference_type n) { at_ += n; return *this; }
        Iterator& operator-=(difference_type n) { at_ -= n; return *this; }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b)
        {
            return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }
        friend bool operator!=(const Iterator& a, const Iterator& b) { return a.at_ != b.at_; }
        friend bool operator<(const Iterator& a, const Iterator& b) { return a.at_ < b.at_; }
        friend bool operator>(const Iterator& a, const Iterator& b) { return a.at_ > b.at_; }
        friend bool operator<=(const Iterator& a, const Iterator& b) { return a.at_ <= b.at_; }
        friend bool operator>=(const Iterator& a, const Iterator& b) { return a.at_ >= b.at_; }

        std::size_t Index() const { return at_; }

    private:
        friend class Iterator<!Const>;
        Owner* owner_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    GapBuffer() = default;
    GapBuffer(std::initializer_list<T> items) : buf_(items), start_(buf_.size()), end_(buf_.size()) {}
    GapBuffer(std::size_t n, const T& value) : buf_(n, value), start_(n), end_(n) {}
    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    GapBuffer(It first, It last) : buf_(first, last), start_(buf_.size()), end_(buf_.size())
    {
    }

    std::size_t size() const { return buf_.size() - (end_ - start_); }
    bool empty() const { return size() == 0; }

    T& operator[](std::size_t i) { return buf_[i < start_ ? i : i + (end_ - start_)]; }
    const T& operator[](std::size_t i) const { return buf_[i < start_ ? i : i + (end_ - start_)]; }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[size() - 1]; }
    const T& back() const { return (*this)[size() - 1]; }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, size()); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    void clear()
    {
        buf_.clear();
        start_ = end_ = 0;
    }
    void reserve(std::size_t n)
    {
        if (n > size())
            Room(n - size());
    }
    void push_back(const T& value) { insert(end(), value); }

    iterator insert(const_iterator at, const T& value) { return insert(at, std::size_t(1), value); }
    iterator insert(const_iterator at, std::size_t n, const T& value)
    {
        const T copy = value;  // the value may be one of ours, which growing would move
        const std::size_t pos = at.Index();
        Open(pos, n);
        std::fill_n(buf_.begin() + static_cast<std::ptrdiff_t>(pos), n, copy);
        return iterator(this, pos);
    }
    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    iterator insert(const_iterator at, It first, It last)
    {
        const std::size_t pos = at.Index();
        const auto n = static_cast<std::size_t>(std::distance(first, last));
        // The source may be this buffer: take it before the gap moves under it.
        if constexpr (std::is_same_v<It, iterator> || std::is_same_v<It, const_iterator>) {
            const std::vector<T> items(first, last);
            Open(pos, n);
            std::copy(items.begin(), items.end(), buf_.begin() + static_cast<std::ptrdiff_t>(pos));
        } else {
            Open(pos, n);
            std::copy(first, last, buf_.begin() + static_cast<std::ptrdiff_t>(pos));
        }
        return iterator(this, pos);
    }
    iterator erase(const_iterator first, const_iterator last)
    {
        const std::size_t pos = first.Index();
        MoveGap(pos);
        end_ += last.Index() - pos;
        return iterator(this, pos);
    }
    iterator erase(const_iterator at) { return erase(at, at + 1); }

    template <class It, class = typename std::iterator_traits<It>::iterator_category>
    void assign(It first, It last)
    {
        buf_.assign(first, last);
        start_ = end_ = buf_.size();
    }
    void assign(std::size_t n, const T& value)
    {
        buf_.assign(n, value);
        start_ = end_ = n;
    }

    // The elements [pos, pos + n) in one piece.
    template <class Out>
    Out CopyOut(std::size_t pos, std::size_t n) const
    {
        Out out;
        out.reserve(n);
        const std::size_t stop = pos + n, gap = end_ - start_;
        const std::size_t split = std::clamp(start_, pos, stop);  // before it the range lies before the gap
        const auto at = [&](std::size_t physical) { return buf_.begin() + static_cast<std::ptrdiff_t>(physical); };
        out.insert(out.end(), at(pos), at(split));
        out.insert(out.end(), at(split + gap), at(stop + gap));
        return out;
    }

    friend bool operator==(const GapBuffer& a, const GapBuffer& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator!=(const GapBuffer& a, const GapBuffer& b) { return !(a == b); }
    friend bool operator==(const GapBuffer& a, const std::vector<T>& b)
    {
        return a.size() == b.size() && std::equal(b.begin(), b.end(), a.begin());
    }

protected:
    // Room for n elements at pos: the gap moves there and grows when it is too small.
    void Open(std::size_t pos, std::size_t n)
    {
        if (end_ - start_ < n)
            Room(n);
        MoveGap(pos);
        start_ += n;
    }

private:
    void MoveGap(std::size_t pos)
    {
        if (pos < start_) {
            std::move_backward(buf_.begin() + static_cast<std::ptrdiff_t>(pos), buf_.begin() + static_cast<std::ptrdiff_t>(start_),
                               buf_.begin() + static_cast<std::ptrdiff_t>(end_));
            end_ -= start_ - pos;
            start_ = pos;
        } else if (pos > start_) {
            const std::size_t n = pos - start_;
            std::move(buf_.begin() + static_cast<std::ptrdiff_t>(end_), buf_.begin() + static_cast<std::ptrdiff_t>(end_ + n),
                      buf_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ += n;
            end_ += n;
        }
    }

    // A gap of at least n: the buffer grows by half its size at least, so that growing is paid
    // for once per doubling.
    void Room(std::size_t n)
    {
        const std::size_t gap = end_ - start_;
        const std::size_t grow = std::max(n - std::min(n, gap), std::max<std::size_t>(buf_.size() / 2, 16));
        buf_.insert(buf_.begin() + static_cast<std::ptrdiff_t>(end_), grow, T{});
        end_ += grow;
    }

    std::vector<T> buf_;
    std::size_t start_ = 0, end_ = 0;  // the gap
};

// A story's text: a gap buffer of UTF-16 code units with the string operations the host needs.
class StoryText : public GapBuffer<char16_t> {
public:
    using GapBuffer::GapBuffer;
    using GapBuffer::insert;
    using GapBuffer::erase;
    StoryText(const std::u16string& text) : GapBuffer(text.begin(), text.end()) {}  // NOLINT: as a string
    StoryText(const char16_t* text) : StoryText(std::u16string(text)) {}              // NOLINT: as a string
    StoryText& operator=(const std::u16string& text)
    {
        assign(text.begin(), text.end());
        return *this;
    }

    std::u16string substr(std::size_t pos, std::size_t n = std::u16string::npos) const
    {
        pos = std::min(pos, size());
        return CopyOut<std::u16string>(pos, std::min(n, size() - pos));
    }
    std::u16string str() const { return substr(0); }

    std::size_t find(const std::u16string& part, std::size_t from = 0) const
    {
        if (from > size())
            return std::u16string::npos;
        const auto at = std::search(begin() + from, end(), part.begin(), part.end());
        return at == end() && !part.empty() ? std::u16string::npos : at.Index();
    }

    void insert(std::size_t pos, const std::u16string& text) { GapBuffer::insert(begin() + pos, text.begin(), text.end()); }
    void erase(std::size_t pos, std::size_t n) { GapBuffer::erase(begin() + pos, begin() + pos + n); }
    StoryText& operator+=(const std::u16string& text)
    {
        GapBuffer::insert(end(), text.begin(), text.end());
        return *this;
    }

    friend bool operator==(const StoryText& a, const std::u16string& b)
    {
        return a.size() == b.size() && std::equal(b.begin(), b.end(), a.begin());
    }
    friend bool operator==(const std::u16string& a, const StoryText& b) { return b == a; }
    friend bool operator!=(const StoryText& a, const std::u16string& b) { return !(a == b); }
};

}  // namespace xthost::doc
