// Read cache for random access over a seekable source: small reads are answered from at most
// 32 cached windows of up to 2048 bytes, large ones go straight to the source.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Container/Storage/Streams.h"

class InPager : public InFile {
 public:
  // Takes the position and the size of `source` now; with `owns` the source is deleted together
  // with the pager.
  InPager(InFile& source, bool owns);
  InPager(const InPager&) = delete;
  InPager& operator=(const InPager&) = delete;
  ~InPager() override;

  uint32_t GetData(void* buffer, uint32_t count) override;
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;

 private:
  struct Page;
  struct Window {
    uint32_t first;
    uint32_t end;
  };

  uint32_t ReadDirect(uint8_t* buffer, uint32_t count);
  uint32_t ReadThroughSource(uint8_t* buffer, uint32_t count);
  bool ReadSource(uint32_t at, uint8_t* buffer, uint32_t count);
  size_t FindPrevious(uint32_t position) const;
  Window WindowFor(uint32_t position, const Page* previous, const Page* next) const;
  Page* FillPage(uint32_t position, const Page* previous, const Page* next);
  Page* TryRecentPages(uint32_t position) const;
  uint32_t CopyFrom(Page* page, uint32_t position, uint8_t* buffer, uint32_t count, Page*& last);
  void MarkUsed(Page* page);

  InFile& m_source;
  bool m_owns;
  uint32_t m_size;
  uint32_t m_position;
  bool m_direct = false;
  std::vector<std::unique_ptr<Page>> m_pages;  // in address order
  std::vector<Page*> m_use;                    // most recently used first
};
