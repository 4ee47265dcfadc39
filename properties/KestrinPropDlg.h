// CKestrinPropDlg, the properties dialog (template 102): the device list,
// the four speed trackbars, the vertical-axis radios, Defaults and the
// auto-zero test. Every change goes to the session agent at once
// (agent_requests.h); the settings found at start are kept for Cancel, which
// the application object posts back after DoModal for each setting the user
// changed, and nothing when nothing was. The settings come from record 1 of
// the section, or from the user's stored settings while the section cannot
// tell (user_settings.h).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "Kestrin1.h"
#include "framework.h"
#include "kestrin_base.h"
#include "monitor_view.h"
#include "top_view.h"
#include "user_settings.h"

// The dialog's connection: device events redraw the device picture, and a
// pressed button puts the drawn object back to its start.
class CMyKestrin : public CKestrinBase {
 public:
  void OnActivityChanged(WORD oldWord, WORD newWord) override;
  void OnButtonsChanged(long oldButtons, long newButtons) override;
};

class CKestrinPropDlg : public CDialog, public Kestrin1::CClarity {
 public:
  CKestrinPropDlg();
  ~CKestrinPropDlg() override;

  // Sends SetFlags for m_CurFlags (a change of the user's) and sets the
  // radios to match.
  void PostFlags();
  // The trackbars' range, ticks and positions from m_CurLogFactors.
  void SetupTrackbars();
  void UpdateTrackbars();
  // Runs before every message of the dialog: the settings follow record 1
  // while they may (FollowRecord), and an agent that has appeared gets the
  // user's changes it missed (WatchAgent).
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  int m_CurFlags;                 // 0: PanY/SpinY, 1: Zoom/SpinZ
  uint16_t m_CurLogFactors[4];    // pan, zoom, spin, scroll hat
  int m_SavedFlags;               // as found at start, posted back on Cancel
  uint16_t m_SavedLogFactors[4];
  // The saved copies and the controls follow record 1: from the start until
  // the user's first change, or until record 1 holds the user's stored
  // settings (the values the agent sends when it connects have landed).
  bool m_FollowRecord;
  // What became of the user's changes of one setting (the vertical axis, or
  // the four speeds, which always travel together).
  struct SettingChanges {
    bool m_Reached;  // a change reached an agent: Cancel puts the setting back
    bool m_Unsent;   // the last change reached none yet: it goes to the next
  };
  SettingChanges m_FlagsChanges;
  SettingChanges m_LogFactorsChanges;
  UserSettings m_Stored;          // the user's settings as the agent keeps them
  HWND m_LastAgentWindow;         // the agent window seen at the last message
  CMyKestrin m_Kestrin;           // the device connection and its events
  Kestrin1::CAgility m_Agility;   // navigation of the drawn object
  Kestrin1::CClarity::AViewVolume m_ViewVolume;
  Kestrin1::CSpatialMath::AXformf m_Object;
  using CMonitor2D3D = ::CMonitor2D3D;
  using CKestrinTopView = ::CKestrinTopView;
  CMonitor2D3D m_View2D;          // control 1008: translation only
  CMonitor2D3D m_View3D;          // control 1006: translation and rotation
  CKestrinTopView m_TopView;      // control 1014: the device picture
  HICON m_hIcon;

  // Cancel: posts SetFlags with the saved copy when a change of the axis
  // reached an agent, then the pair with the saved copies when a change of
  // the speeds did; nothing when the user changed nothing.
  void RestoreSavedSettings();
  // OK: posts what no agent has had yet (the current axis, then the pair).
  void SendUnsentChanges();

  // One navigation step of the drawn object from the motion since the last
  // read; with new motion both views are redrawn and a WM_COMMAND (0, 0) is
  // posted, which brings the next idle poll.
  void OnMotion();

 protected:
  // WM_KICKIDLE: a 10 ms pause, then OnMotion.
  LRESULT OnKickIdle(WPARAM wParam, LPARAM lParam);
  BOOL OnInitDialog() override;
  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnRadioPanYSpinY();
  void OnRadioZoomSpinZ();
  void OnHScroll(UINT code, UINT position, HWND scrollBar);
  void OnDefaults();
  void OnTestAutoZero();

 private:
  // While m_FollowRecord: the saved copies (and the controls, unless
  // updateControls is false) take record 1's settings when they differ;
  // true when they did.
  bool FollowRecord(bool updateControls = true);
  // When the library has found a new agent window: the settings whose last
  // change reached no agent are posted as the dialog shows them.
  void WatchAgent();
  void PostUnsent();
  // A change of the user's: record 1 is no longer followed.
  void MarkUserChanged();
  void ShowCurrentSettings();

  DECLARE_MESSAGE_MAP()
};
