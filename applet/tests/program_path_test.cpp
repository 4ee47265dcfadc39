#include "program_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kTail = sizeof kProgramTail - 1;

// A folder of the given length ("C:\" and then x's) in a buffer of
// kProgramPathCapacity characters, the unused end filled with a marker so a
// write past the terminating zero shows.
std::vector<char> FolderOfLength(std::size_t length) {
  std::vector<char> buffer(kProgramPathCapacity, '#');
  std::string folder = "C:\\" + std::string(length - 3, 'x');
  std::memcpy(buffer.data(), folder.c_str(), folder.size() + 1);
  return buffer;
}

TEST(ProgramPath, AppendsTheInstallTail) {
  std::vector<char> buffer(kProgramPathCapacity, '#');
  std::strcpy(buffer.data(), "C:\\Program Files");
  ASSERT_TRUE(AppendProgramTail(buffer.data(), buffer.size()));
  EXPECT_STREQ("C:\\Program Files\\Pellmor Vastine\\Kestrin\\Kestrin.exe", buffer.data());
  EXPECT_EQ('#', buffer[16 + kTail + 1]);  // nothing written past the zero
}

// Around the limit: a path of 259 characters and its zero fill the buffer
// exactly; one character more and the append refuses, leaving the folder as it
// was instead of a cut path such as "...\Kestrin\Kestrin.ex".
TEST(ProgramPath, RefusesAPathThatDoesNotFit) {
  const std::size_t fits = kProgramPathCapacity - 1 - kTail;
  struct Case {
    std::size_t folderLength;
    bool appended;
  } cases[] = {{fits - 1, true}, {fits, true}, {fits + 1, false}, {kProgramPathCapacity - 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("folder of " + std::to_string(c.folderLength) + " characters");
    std::vector<char> buffer = FolderOfLength(c.folderLength);
    const std::vector<char> before = buffer;
    EXPECT_EQ(c.appended, AppendProgramTail(buffer.data(), buffer.size()));
    if (c.appended) {
      EXPECT_EQ(c.folderLength + kTail, std::strlen(buffer.data()));
      EXPECT_STREQ(kProgramTail, buffer.data() + c.folderLength);
    } else {
      EXPECT_EQ(before, buffer);
    }
  }
}

TEST(ProgramPath, RefusesABufferWithoutItsZero) {
  std::vector<char> buffer(kProgramPathCapacity, 'x');
  const std::vector<char> before = buffer;
  EXPECT_FALSE(AppendProgramTail(buffer.data(), buffer.size()));
  EXPECT_EQ(before, buffer);
}

}  // namespace
