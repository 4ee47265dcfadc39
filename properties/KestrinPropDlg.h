// CKestrinPropDlg, the properties dialog (template 102): the device list,
// the four speed trackbars, the vertical-axis radios, Defaults and the
// auto-zero test. Every change goes to the session agent at once
// (agent_requests.h); the settings found at start are kept for Cancel, which
// the application object posts back after DoModal.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "Kestrin1.h"
#include "framework.h"
#include "kestrin_base.h"
#include "monitor_view.h"
#include "top_view.h"

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

  // Sends SetFlags for m_CurFlags and sets the radios to match.
  void PostFlags();
  // The trackbars' range, ticks and positions from m_CurLogFactors.
  void SetupTrackbars();
  void UpdateTrackbars();
  // When the library had not mapped the section yet as the dialog opened
  // (it had just started the agent) and has now: the saved copies take
  // record 1's settings, which are the user's until the dialog posts a
  // change, and so do the controls while the user has changed nothing.
  // Runs before every message of the dialog and before Cancel restores.
  void CatchUpSavedSettings();
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  int m_CurFlags;                 // 0: PanY/SpinY, 1: Zoom/SpinZ
  uint16_t m_CurLogFactors[4];    // pan, zoom, spin, scroll hat
  int m_SavedFlags;               // as found at start, posted back on Cancel
  uint16_t m_SavedLogFactors[4];
  bool m_SettingsFound;           // the saved copies came from the section
  bool m_UserChanged;             // a change was posted
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

  DECLARE_MESSAGE_MAP()
};
