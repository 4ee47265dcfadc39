// Kestrin1.dll as client programs use it: linked by its import library,
// through the exported class members, flat functions and data.
#include <gtest/gtest.h>
#include <windows.h>

#include "Kestrin1.h"

using namespace Kestrin1;

namespace {

class Kestrin1Dll : public ::testing::Test {
 protected:
  // No agent may start from here: the program-files folder names nothing.
  void SetUp() override { SetEnvironmentVariableA("ProgramFiles", "Z:\\nonexistent-kestrin1"); }
};

TEST_F(Kestrin1Dll, RefreshPeriodSetAtLoad) {
  HDC screen = GetDC(nullptr);
  int rate = GetDeviceCaps(screen, VREFRESH);
  ReleaseDC(nullptr, screen);
  float expected = 1.0f / (rate < 30 ? 75 : rate);
  EXPECT_FLOAT_EQ(expected, CKestrin::m_MonitorRefreshPeriod) << "VREFRESH " << rate;
}

TEST_F(Kestrin1Dll, ExportedGlobalsAndFlatFunctions) {
  KestrinConnectionGlobals& globals = AJLSKDFHEIEMUWPMXURSKDFNB;
  ASSERT_NE(nullptr, globals.m_pView);
  ASSERT_NE(nullptr, globals.m_pManagerWindow);
  ASSERT_NE(nullptr, globals.m_pMessageId);
  ASSERT_NE(nullptr, globals.m_Callback);
  EXPECT_EQ(0, globals.m_Callback(EventBallActive, 0));  // the do-nothing callback

  CKestrin* kestrin = KesKestrinCreate(0, CKestrin::AccessModeDefault);
  ASSERT_NE(nullptr, kestrin);
  EXPECT_EQ(RegisterWindowMessageA("KestrinMessage"), *globals.m_pMessageId);
  EXPECT_EQ(nullptr, *globals.m_pView);  // no agent, no service here
  EXPECT_EQ(1, KesGetKestrinId(kestrin));
  EXPECT_EQ(0, KesGetAccessMode(kestrin));
  EXPECT_EQ(0, KesSetAccessMode(kestrin, static_cast<CKestrin::EAccessMode>(9)));
  EXPECT_EQ(0u, KesGetLastError(kestrin, nullptr));
  EXPECT_STREQ("CKestrin::GetErrorText() not implemented!", KesGetErrorText(kestrin, 1));
  EXPECT_EQ(1, KesGetKestrinCount());
  EXPECT_EQ(1, KesGetNextKestrinId());
  EXPECT_EQ(0, KesGetNextKestrinId());

  ABallMotion motion;
  memset(&motion, 0x5A, sizeof motion);
  EXPECT_EQ(0, KesGetMotion(kestrin, &motion));
  EXPECT_EQ(0, motion.tics);
  EXPECT_EQ(0, motion.rz);
  AScrollMotion scroll;
  memset(&scroll, 0x5A, sizeof scroll);
  EXPECT_EQ(0, KesGetScrollMotion(kestrin, &scroll));
  EXPECT_EQ(0, scroll.y);
  EXPECT_EQ(0, KesGetBallMotion(kestrin, &motion));

  auto callback = [](unsigned int, long) -> long KESTRIN1_CALLBACK { return 7; };
  KestrinCallback recorded = callback;
  EXPECT_EQ(1, KesRegister(recorded, GetCurrentProcessId()));
  EXPECT_EQ(recorded, globals.m_Callback);
  EXPECT_EQ(1, KesUnRegister(0));
  EXPECT_EQ(0, globals.m_Callback(0, 0));
  KesFocusChanged(1);  // no manager: nothing to post to
  KesRequestWakeup();
  KesKestrinDestroy(kestrin);
  KesKestrinDestroy(nullptr);
}

TEST_F(Kestrin1Dll, ClassMembersByImport) {
  CKestrin first;
  CKestrin second(0, CKestrin::AccessModeDefault);
  EXPECT_EQ(0, first.GetBallMotion());
  EXPECT_EQ(0, second.GetMotion());
  CKestrin copy;
  copy = first;  // shares first's state: only one of them may destroy it
  EXPECT_EQ(first.m_pConnection, copy.m_pConnection);
  copy.m_pConnection = nullptr;
  EXPECT_FLOAT_EQ(0.0002048f, CKestrin::SecondsPerTic());
}

TEST_F(Kestrin1Dll, TheCopyAssignmentEntryOfEarlierClientsStillCopies) {
  // Clients built against earlier headers call AAgility's copy assignment
  // through the import table, as a member function.
#if defined(_WIN64)
  using Assign = AAgility* (*)(AAgility* self, const AAgility* other);
#else
  using Assign = AAgility*(__attribute__((thiscall)) *)(AAgility* self, const AAgility* other);
#endif
  Assign assign = reinterpret_cast<Assign>(
      GetProcAddress(GetModuleHandleA("Kestrin1.dll"), "_ZN8Kestrin18AAgilityaSERKS0_"));
  ASSERT_NE(nullptr, assign);
  AAgility target = {};
  EXPECT_EQ(&target, assign(&target, &CAgility::m_DefaultValues));
  EXPECT_EQ(0, memcmp(&target, &CAgility::m_DefaultValues, sizeof target));
}

}  // namespace
