#include "Container/Storage/InPager.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kBlock = 1024;      // windows are aligned to blocks of this size
constexpr uint32_t kReach = 256;       // a window reaches at least this far beyond the position
constexpr uint32_t kPageBytes = 2048;  // the largest window
constexpr uint32_t kDirectGap = 768;   // gaps at least this long are read without caching
constexpr size_t kMaxPages = 32;

uint32_t AlignDown(uint32_t value) { return value - value % kBlock; }

}  // namespace

struct InPager::Page {
  uint32_t first = 0;
  uint32_t end = 0;
  uint8_t data[kPageBytes];

  bool Holds(uint32_t position) const { return first <= position && position < end; }
};

InPager::InPager(InFile& source, bool owns)
    : m_source(source),
      m_owns(owns),
      m_size(0),
      m_position(source.Seek(0, SO_Current)) {
  m_size = source.Seek(0, SO_End);
}

InPager::~InPager() {
  m_pages.clear();
  if (m_owns)
    delete &m_source;
}

uint32_t InPager::Seek(int32_t offset, SeekOrigin origin) {
  if (m_direct)
    return m_source.Seek(offset, origin);
  uint32_t target;
  switch (origin) {
    case SO_Begin: target = static_cast<uint32_t>(offset); break;
    case SO_Current: target = m_position + static_cast<uint32_t>(offset); break;
    case SO_End: target = m_size + static_cast<uint32_t>(offset); break;
    default: target = UINT32_MAX; break;
  }
  if (target <= m_size) {
    m_position = target;
    return m_position;
  }
  // Beyond the end the source decides; a relative seek is relative to our position, not to
  // wherever the last page fill left the source.
  if (origin == SO_Current)
    m_source.Seek(static_cast<int32_t>(m_position), SO_Begin);
  m_position = m_source.Seek(offset, origin);
  return m_position;
}

uint32_t InPager::GetData(void* buffer, uint32_t count) {
  if (m_direct)
    return m_source.GetData(buffer, count);
  if (count == 0 || m_position == m_size)
    return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  if (m_position > m_size)
    return ReadDirect(out, count);
  count = std::min(count, m_size - m_position);

  uint32_t done = 0;
  Page* last = nullptr;
  // When not even a first page can be filled, the request is read directly.
  const bool mayFill = !m_pages.empty() || FillPage(m_position, nullptr, nullptr);
  if (Page* recent = TryRecentPages(m_position))
    done += CopyFrom(recent, m_position, out, count, last);

  while (done < count) {
    const size_t index = FindPrevious(m_position);
    Page* previous = index < m_pages.size() ? m_pages[index].get() : nullptr;
    if (previous && previous->Holds(m_position)) {
      done += CopyFrom(previous, m_position, out + done, count - done, last);
      continue;
    }
    const size_t nextIndex = previous ? index + 1 : 0;
    Page* next = nextIndex < m_pages.size() ? m_pages[nextIndex].get() : nullptr;
    const uint32_t rest = count - done;
    const uint32_t gap = next && next->first - m_position < rest ? next->first - m_position : rest;
    if (mayFill && gap < kDirectGap) {
      if (Page* page = FillPage(m_position, previous, next)) {
        done += CopyFrom(page, m_position, out + done, rest, last);
        continue;
      }
    }
    const uint32_t got = ReadDirect(out + done, gap);
    done += got;
    if (got < gap) {
      // The source delivers less than it announced: caching its bytes is no longer safe.
      m_direct = true;
      return done + m_source.GetData(out + done, count - done);
    }
  }
  if (last)
    MarkUsed(last);
  return done;
}

uint32_t InPager::ReadDirect(uint8_t* buffer, uint32_t count) {
  m_source.Seek(static_cast<int32_t>(m_position), SO_Begin);
  const uint32_t got = m_source.GetData(buffer, count);
  m_position = m_source.Seek(0, SO_Current);
  return got;
}

bool InPager::ReadSource(uint32_t at, uint8_t* buffer, uint32_t count) {
  // A page fill leaves the pager's own position alone.
  m_source.Seek(static_cast<int32_t>(at), SO_Begin);
  return m_source.GetData(buffer, count) == count;
}

size_t InPager::FindPrevious(uint32_t position) const {
  const auto after = std::upper_bound(
      m_pages.begin(), m_pages.end(), position,
      [](uint32_t value, const std::unique_ptr<Page>& page) { return value < page->first; });
  return after == m_pages.begin() ? m_pages.size() : static_cast<size_t>(after - m_pages.begin()) - 1;
}

InPager::Window InPager::WindowFor(uint32_t position, const Page* previous,
                                   const Page* next) const {
  Window window{AlignDown(position), AlignDown(position) + kBlock};
  if (next && AlignDown(next->first) <= window.end) {
    // Reach up to the next page; the start is kept at 0 when the next page lies in block 0.
    const uint32_t aligned = AlignDown(next->first);
    window.first = aligned >= kBlock ? aligned - kBlock : 0;
    window.end = next->first;
  } else {
    window.end = std::max(window.end, position + kReach);
  }
  window.end = std::min(window.end, m_size);
  if (previous && AlignDown(previous->end) == AlignDown(window.first)) {
    window.first = previous->end;
  } else if (position - window.first > kReach && window.first != 0 && window.end != m_size) {
    window.first += kReach;
  }
  return window;
}

InPager::Page* InPager::FillPage(uint32_t position, const Page* previous, const Page* next) {
  const Window window = WindowFor(position, previous, next);
  std::unique_ptr<Page> page;
  if (m_pages.size() < kMaxPages) {
    page = std::make_unique<Page>();
  } else {
    // Reuse the least recently used page.
    Page* victim = m_use.back();
    m_use.pop_back();
    const auto at = std::find_if(m_pages.begin(), m_pages.end(),
                                 [victim](const std::unique_ptr<Page>& p) { return p.get() == victim; });
    page = std::move(*at);
    m_pages.erase(at);
  }
  if (!ReadSource(window.first, page->data, window.end - window.first))
    return nullptr;  // a page that fails to fill is discarded
  page->first = window.first;
  page->end = window.end;
  Page* filled = page.get();
  m_use.insert(m_use.begin(), filled);
  const auto at = std::upper_bound(
      m_pages.begin(), m_pages.end(), filled->first,
      [](uint32_t value, const std::unique_ptr<Page>& p) { return value < p->first; });
  m_pages.insert(at, std::move(page));
  return filled;
}

InPager::Page* InPager::TryRecentPages(uint32_t position) const {
  if (m_use.empty())
    return nullptr;
  Page* first = m_use[0];
  if (first->Holds(position))
    return first;
  if (m_use.size() > 1 && m_use[1]->Holds(position))
    return m_use[1];
  const auto at = std::find_if(m_pages.begin(), m_pages.end(),
                               [first](const std::unique_ptr<Page>& p) { return p.get() == first; });
  if (at != m_pages.end() && at + 1 != m_pages.end() && (*(at + 1))->Holds(position))
    return (at + 1)->get();
  return nullptr;
}

uint32_t InPager::CopyFrom(Page* page, uint32_t position, uint8_t* buffer, uint32_t count,
                           Page*& last) {
  const uint32_t take = std::min(count, page->end - position);
  std::memcpy(buffer, page->data + (position - page->first), take);
  m_position = position + take;
  last = page;
  return take;
}

void InPager::MarkUsed(Page* page) {
  if (m_use[0] == page || (m_use.size() > 1 && m_use[1] == page))
    return;
  m_use.erase(std::find(m_use.begin(), m_use.end(), page));
  m_use.insert(m_use.begin(), page);
}
