// Opening the item with the system calls of the test's choice: the box when
// the program-files folder cannot be found, the one start the applet asks of
// the shell, and the path that does not fit.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "open_item.h"
#include "system_calls.h"

namespace {

struct FolderAnswer {
  HRESULT result;
  std::string folder;
};
FolderAnswer folderAnswer;

struct FolderCall {
  HWND owner;
  int folder;
  HANDLE token;
  DWORD flags;
};
std::vector<FolderCall> folderCalls;

struct BoxCall {
  HWND owner;
  std::string text, caption;
  UINT type;
};
std::vector<BoxCall> boxes;

struct ExecuteCall {
  HWND owner;
  std::string verb, file;
  bool parameters, directory;  // whether either was given
  INT show;
};
std::vector<ExecuteCall> executes;

HRESULT WINAPI FakeFolder(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path) {
  folderCalls.push_back({owner, folder, token, flags});
  lstrcpynA(path, folderAnswer.folder.c_str(), MAX_PATH);
  return folderAnswer.result;
}

int WINAPI FakeBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  boxes.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", type});
  return IDOK;
}

HINSTANCE WINAPI FakeExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                             LPCSTR directory, INT show) {
  executes.push_back({owner, verb ? verb : "(null)", file ? file : "(null)", parameters != nullptr,
                      directory != nullptr, show});
  return reinterpret_cast<HINSTANCE>(ERROR_FILE_NOT_FOUND);  // the program is missing
}

class OpenItem : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = AppletSystem;
    AppletSystem.SHGetFolderPathA = FakeFolder;
    AppletSystem.MessageBoxA = FakeBox;
    AppletSystem.ShellExecuteA = FakeExecute;
    folderCalls.clear();
    boxes.clear();
    executes.clear();
  }
  void TearDown() override { AppletSystem = saved_; }
  AppletSystemCalls saved_;
};

TEST_F(OpenItem, AsksForTheProgramFilesFolderOfThisProgram) {
  folderAnswer = {S_OK, "C:\\Program Files"};
  EXPECT_EQ(0, OpenConfigurationProgram());
  ASSERT_EQ(1u, folderCalls.size());
  EXPECT_EQ(nullptr, folderCalls[0].owner);
  EXPECT_EQ(0x26, folderCalls[0].folder);  // CSIDL_PROGRAM_FILES
  EXPECT_EQ(nullptr, folderCalls[0].token);
  EXPECT_EQ(0u, folderCalls[0].flags);  // SHGFP_TYPE_CURRENT
}

TEST_F(OpenItem, WhatEachFolderAnswerLeadsTo) {
  const std::string tooLong = "C:\\" + std::string(221, 'x');  // 224 + 36 characters: one too many
  const std::string fits = "C:\\" + std::string(220, 'x');     // 259 characters in all
  struct Case {
    const char* what;
    FolderAnswer answer;
    bool box;
    const char* started;  // the program asked for, or null
  } cases[] = {
      {"folder found", {S_OK, "C:\\Program Files"}, false,
       "C:\\Program Files\\Pellmor Vastine\\Kestrin\\Kestrin.exe"},
      {"32-bit folder", {S_OK, "C:\\Program Files (x86)"}, false,
       "C:\\Program Files (x86)\\Pellmor Vastine\\Kestrin\\Kestrin.exe"},
      // S_FALSE (the folder does not exist yet) is no failure: only a
      // negative result is.
      {"folder not made yet", {S_FALSE, "C:\\Program Files"}, false,
       "C:\\Program Files\\Pellmor Vastine\\Kestrin\\Kestrin.exe"},
      {"folder not found", {E_FAIL, ""}, true, nullptr},
      {"no such folder on this system", {E_INVALIDARG, ""}, true, nullptr},
      {"path of exactly 259 characters", {S_OK, fits}, false, nullptr},
      {"path one character too long", {S_OK, tooLong}, false, nullptr},
  };
  const std::string fitting = fits + "\\Pellmor Vastine\\Kestrin\\Kestrin.exe";
  cases[5].started = fitting.c_str();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.clear();
    executes.clear();
    folderAnswer = c.answer;
    EXPECT_EQ(0, OpenConfigurationProgram());
    if (c.box) {
      ASSERT_EQ(1u, boxes.size());
      EXPECT_EQ(nullptr, boxes[0].owner);
      EXPECT_EQ("Could not locate ProgramFiles folder!", boxes[0].text);
      EXPECT_EQ("Kestrin", boxes[0].caption);
      EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    if (c.started) {
      ASSERT_EQ(1u, executes.size());
      EXPECT_EQ(nullptr, executes[0].owner);
      EXPECT_EQ("OPEN", executes[0].verb);
      EXPECT_EQ(c.started, executes[0].file);
      EXPECT_FALSE(executes[0].parameters);
      EXPECT_FALSE(executes[0].directory);
      EXPECT_EQ(SW_SHOW, executes[0].show);
    } else {
      EXPECT_TRUE(executes.empty());
    }
  }
}

}  // namespace
