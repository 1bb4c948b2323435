// The writer's in-memory mode, which holds the batches of a split container:
// what it keeps must reach the document unchanged, and its limit must hold.
// A writer sized for a small input must still take the largest reservations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "TestUtil.h"
#include "bplist/OutputBuffer.h"

namespace {

using bplist::MemoryLimitReached;
using bplist::OutputBuffer;

// Hands the text of `memory` to a writer on a temporary file and returns
// the file's bytes.
std::string Drain(const OutputBuffer& memory) {
  testutil::ScratchStream stream;
  {
    OutputBuffer out(stream.handle(), "");
    out.Put("<");
    out.PutText(memory);
    out.Put(">");
    out.Flush();
  }
  std::string bytes = stream.Contents();
  return bytes;
}

TEST(Writer, InMemoryTextReachesTheDocumentUnchanged) {
  const std::string big(3 * OutputBuffer::kBufferSize + 5, 'x');
  struct Row {
    const char* name;
    std::string text;
  };
  const Row rows[] = {
      {"nothing", ""},
      {"a few bytes", "abc"},
      {"more than the buffer holds", big},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OutputBuffer memory(uint64_t(1) << 30);
    memory.Put("");  // a fresh writer has no buffer yet
    for (size_t i = 0; i < row.text.size(); i += 1000) memory.Put(row.text.substr(i, 1000));
    EXPECT_EQ(memory.Written(), row.text.size());
    EXPECT_TRUE(Drain(memory) == "<" + row.text + ">");
  }
}

TEST(Writer, InMemoryLimitAndReuse) {
  OutputBuffer small(100);
  char* line = small.BeginLine(4, 20);
  std::memcpy(line, "under the limit", 15);
  small.EndLine(line + 15);
  EXPECT_EQ(Drain(small), "<    under the limit\r\n>");
  EXPECT_THROW(small.Put(std::string(200, 'y')), MemoryLimitReached);

  // Swapping hands over text and storage; clearing keeps nothing.
  OutputBuffer other(100);
  small.Clear();
  small.Put("kept");
  small.Swap(other);
  EXPECT_EQ(Drain(other), "<kept>");
  EXPECT_EQ(small.Written(), 0u);
  EXPECT_EQ(Drain(small), "<>");
  other.Clear();
  EXPECT_EQ(Drain(other), "<>");
}

// Reservations of every size up to the largest, each filled to the brim,
// through writers sized for an empty, a small and a large input.
TEST(Writer, BufferSizedForTheInputTakesAnyReservation) {
  for (size_t inputSize : {size_t(0), size_t(300), OutputBuffer::kBufferSize}) {
    SCOPED_TRACE(inputSize);
    std::string expected;
    testutil::ScratchStream stream;
    {
      OutputBuffer out(stream.handle(), "", inputSize);
      for (size_t n : {size_t(10), size_t(5000), OutputBuffer::kBufferSize / 2, size_t(7),
                       OutputBuffer::kBufferSize, size_t(3)}) {
        char fill = char('a' + expected.size() % 26);
        std::memset(out.Reserve(n), fill, n);
        out.Commit(n);
        expected.append(n, fill);
      }
      out.Flush();
    }
    std::string bytes = stream.Contents();
    EXPECT_TRUE(bytes == expected) << bytes.size() << " bytes, " << expected.size() << " expected";
  }
}

}  // namespace
