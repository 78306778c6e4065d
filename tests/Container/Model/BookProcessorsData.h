// A book as plain data, written and read through the first-generation processors in the same
// order as WriteBook and ReadBook use the second generation, so that the two generations can be
// compared by data and by logical dump.
#pragma once

#include "BookData.h"
#include "Container/Model/BookProcessors.h"

namespace model_test {

// The book processors: CreateBook / OpenBook take them, and so does a book walk of one's own
// over a root folder (DWX_Book_Out_Creator / DWX_Book_In_Opener).
class BookWriter : public DWX_Book_Out {
 public:
  explicit BookWriter(const BookData& data) : m_data(data) {}
  void Call(DWX_OutFolder& book) override;
  // Whether the walk reached the book's Call.
  bool Called() const { return m_called; }

 private:
  const BookData& m_data;
  bool m_called = false;
};

class BookReader : public DWX_Book_In {
 public:
  void Call(DWX_InFolder& book) override;
  bool Called() const { return m_called; }
  const BookData& Data() const { return m_data; }
  const DWX_StringsMap& Strings() { return StringsMap(); }

 private:
  BookData m_data;
  bool m_called = false;
};

// The book written into, or read from, a container's root folder by the first generation.
void WriteBookWithProcessors(const BookData& book, DWX_OutFolder& root);
BookData ReadBookWithProcessors(DWX_InFolder& root);

}  // namespace model_test
