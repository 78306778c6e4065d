// The object runs of a story, sorted by position, split where the last edit was: the runs
// before the split hold their positions, those behind it hold theirs less a shift that every
// edit in front of them adds once. An edit thus moves the runs between the split and itself, not
// every run behind it. Reads answer runs by value, with their positions as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace xthost::doc {

// An object run of a story: an anchored box (kind 1), a page number (5, 6, 7) or hidden
// content (a marker U+E000 | kind followed by one character per data byte).
struct ObjectRun {
    int32_t at = 0;
    int32_t len = 0;
    uint32_t kind = 0;
    uint32_t box = 0;    // kind 1: the anchored box's uid
    uint32_t value = 0;  // the item value of the run
    bool operator==(const ObjectRun& o) const
    {
        return at == o.at && len == o.len && kind == o.kind && box == o.box && value == o.value;
    }
};

class ObjectRuns {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = ObjectRun;
        using difference_type = std::ptrdiff_t;
        using reference = ObjectRun;  // by value: a position behind the split is worked out
        struct pointer {
            ObjectRun run;
            const ObjectRun* operator->() const { return &run; }
        };

        const_iterator() = default;
        const_iterator(const ObjectRuns* owner, std::size_t at) : owner_(owner), at_(at) {}

        ObjectRun operator*() const { return (*owner_)[at_]; }
        pointer operator->() const { return pointer{(*owner_)[at_]}; }
        ObjectRun operator[](difference_type n) const { return (*owner_)[at_ + n]; }
        const_iterator& operator++() { ++at_; return *this; }
        const_iterator& operator--() { --at_; return *this; }
        const_iterator operator++(int) { const_iterator old = *this; ++at_; return old; }
        const_iterator operator--(int) { const_iterator old = *this; --at_; return old; }
        const_iterator& operator+=(difference_type n) { at_ += n; return *this; }
        const_iterator& operator-=(difference_type n) { at_ -= n; return *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b)
        {
            return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }
        friend bool operator!=(const const_iterator& a, const const_iterator& b) { return a.at_ != b.at_; }
        friend bool operator<(const const_iterator& a, const const_iterator& b) { return a.at_ < b.at_; }
        friend bool operator>(const const_iterator& a, const const_iterator& b) { return a.at_ > b.at_; }
        friend bool operator<=(const const_iterator& a, const const_iterator& b) { return a.at_ <= b.at_; }
        friend bool operator>=(const const_iterator& a, const const_iterator& b) { return a.at_ >= b.at_; }

        std::size_t Index() const { return at_; }

    private:
        const ObjectRuns* owner_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = const_iterator;

    ObjectRuns() = default;
    ObjectRuns(std::initializer_list<ObjectRun> runs) : head_(runs) {}
    ObjectRuns(const std::vector<ObjectRun>& runs) : head_(runs) {}  // NOLINT: as a vector

    std::size_t size() const { return head_.size() + tail_.size(); }
    bool empty() const { return head_.empty() && tail_.empty(); }
    ObjectRun operator[](std::size_t i) const
    {
        if (i < head_.size())
            return head_[i];
        const Behind& behind = tail_[tail_.size() - 1 - (i - head_.size())];
        ObjectRun run = behind.run;
        run.at = static_cast<int32_t>(behind.at + shift_);
        return run;
    }
    ObjectRun front() const { return (*this)[0]; }
    ObjectRun back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

    // Replaces run i; its position must keep the runs sorted.
    void Set(std::size_t i, const ObjectRun& run)
    {
        Split(i + 1);
        head_[i] = run;
    }
    void clear()
    {
        head_.clear();
        tail_.clear();
        shift_ = 0;
    }
    void push_back(const ObjectRun& run)
    {
        Split(size());
        head_.push_back(run);
    }
    // Puts runs in before run i (the runs stay sorted by the caller's choice of i).
    template <class It>
    void insert(const_iterator at, It first, It last)
    {
        // Runs of this story are read before the split moves under them.
        const std::vector<ObjectRun> runs(first, last);
        Split(at.Index());
        head_.insert(head_.end(), runs.begin(), runs.end());
    }
    void insert(const_iterator at, const ObjectRun& run) { insert(at, &run, &run + 1); }
    void erase(const_iterator first, const_iterator last)
    {
        Split(first.Index());
        tail_.resize(tail_.size() - (last.Index() - first.Index()));
    }
    void erase(const_iterator at) { erase(at, at + 1); }
    // Moves the runs from run i on by n characters.
    void Shift(std::size_t i, int32_t n)
    {
        Split(i);
        shift_ += n;
    }

    friend bool operator==(const ObjectRuns& a, const ObjectRuns& b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!(a[i] == b[i]))
                return false;
        return true;
    }

private:
    // Puts the split before run i.
    void Split(std::size_t i)
    {
        while (head_.size() > i) {
            tail_.push_back(Behind{head_.back(), head_.back().at - shift_});
            head_.pop_back();
        }
        while (head_.size() < i) {
            ObjectRun run = tail_.back().run;
            run.at = static_cast<int32_t>(tail_.back().at + shift_);
            tail_.pop_back();
            head_.push_back(run);
        }
        if (tail_.empty())
            shift_ = 0;
    }

    struct Behind {
        ObjectRun run;
        int64_t at = 0;  // the position less shift_
    };
    std::vector<ObjectRun> head_;  // before the split, in order
    std::vector<Behind> tail_;     // behind the split, last first
    int64_t shift_ = 0;
};

}  // namespace xthost::doc
