// A test's scratch folder goes with all it holds, also while something still
// holds a file in it for a while.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "scratch_folder.h"

namespace {

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteSmallFile(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, "x", 1, &written, nullptr);
  CloseHandle(file);
  return written == 1;
}

TEST(ScratchFolderTest, GoesWithItsFilesFoldersAndReadOnlyFiles) {
  std::string path;
  {
    ScratchFolder folder("kestrin-tools-scratch-" + std::to_string(GetCurrentProcessId()));
    path = folder.path();
    ASSERT_TRUE(Exists(path));
    ASSERT_TRUE(WriteSmallFile(path + "\\a.log"));
    ASSERT_TRUE(CreateDirectoryA((path + "\\inner").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((path + "\\inner\\deeper").c_str(), nullptr));
    ASSERT_TRUE(WriteSmallFile(path + "\\inner\\deeper\\b.bmp"));
    ASSERT_TRUE(WriteSmallFile(path + "\\inner\\kept.dll", FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_FALSE(Exists(path));
}

// A program that ends after the test still has its log open when the folder
// is removed: the removal waits for it.
TEST(ScratchFolderTest, AFileHeldOpenForAWhileIsRemovedOnceItIsLetGo) {
  std::string path;
  // Joined, never detached: the MinGW runtime's detach right after the
  // thread was made can leave it never running.
  std::thread closer;
  {
    ScratchFolder folder("kestrin-tools-scratch-held-" + std::to_string(GetCurrentProcessId()));
    path = folder.path();
    HANDLE held = CreateFileA((path + "\\swaps.log").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_FALSE(DeleteFileA((path + "\\swaps.log").c_str())) << "held: not deleted at once";
    closer = std::thread([held] {
      Sleep(300);
      CloseHandle(held);
    });
  }
  closer.join();
  EXPECT_FALSE(Exists(path));
}

TEST(ScratchFolderTest, AFolderThatIsNotThereAndAnEmptyPathAreNothingToRemove) {
  EXPECT_TRUE(RemoveFolderTree("C:\\kestrin-never-made-" + std::to_string(GetTickCount64()), 0));
  const std::string marker = "kestrin-scratch-cwd-marker.txt";
  ASSERT_TRUE(WriteSmallFile(marker));
  EXPECT_TRUE(RemoveFolderTree(""));
  EXPECT_TRUE(Exists(marker)) << "an empty path is not the current directory";
  DeleteFileA(marker.c_str());
}

}  // namespace
