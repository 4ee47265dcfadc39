#include "KestrinPropDlg.h"

#include <commctrl.h>

#include <string>

#include "AboutDlg.h"
#include "agent_requests.h"
#include "device_map.h"
#include "dialog_icons.h"
#include "manager_messages.h"
#include "motion_section.h"
#include "resource.h"
#include "single_instance.h"

namespace km = kestrin::manager;

namespace {

const int kTrackbars[4] = {IDC_PAN, IDC_ZOOM, IDC_SPIN, IDC_SCROLL_HAT};
constexpr uint16_t kDefaultLogFactor = 0x8000;
constexpr int kTickEvery = 6553;
// How long the program waits at its end for an agent to take what it still
// has to post (an agent that the library started is usually there in well
// under a second).
constexpr DWORD kAgentWaitMs = 5000;

// The vertical-axis convention a Flags word selects, as the service applies
// it: Zoom/SpinZ (1) whenever it is non-zero, else PanY/SpinY (0).
int AxisConvention(uint16_t flags) { return flags != 0 ? 1 : 0; }

// Record 1 of the section through the library's view, or null while the
// library has not mapped it.
const DeviceMotionRecord* SectionRecord1() {
  void** view = AJLSKDFHEIEMUWPMXURSKDFNB.m_pView;
  if (!view || !*view) return nullptr;
  return SectionRecord(static_cast<const void*>(*view), 1);
}

// The four settings of the record, read as two 32-bit words.
void ReadLogFactors(const DeviceMotionRecord* record, uint16_t factors[4]) {
  const uint32_t* words = reinterpret_cast<const uint32_t*>(record->m_LogFactors);
  uint32_t low = words[0], high = words[1];
  factors[0] = static_cast<uint16_t>(low);
  factors[1] = static_cast<uint16_t>(low >> 16);
  factors[2] = static_cast<uint16_t>(high);
  factors[3] = static_cast<uint16_t>(high >> 16);
}

bool SameFactors(const uint16_t a[4], const uint16_t b[4]) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

// Record 1 holds the user's stored settings: the values the agent sends when
// it connects have landed.
bool HoldsStoredSettings(const DeviceMotionRecord* record, const UserSettings& stored) {
  uint16_t factors[4];
  ReadLogFactors(record, factors);
  return AxisConvention(record->m_Flags) == AxisConvention(stored.m_Flags) &&
         SameFactors(factors, stored.m_LogFactors);
}

// Pumps this thread's messages (the library hears a starting agent's
// ManagerStarted through them) until the library knows an agent window other
// than stale, or timeoutMs has passed. The window, or null.
HWND WaitForAgent(HWND stale, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));  // left for whoever ends the program
        return nullptr;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    HWND agent = AgentWindow();
    if (agent && agent != stale) return agent;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return nullptr;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

// Posts at the dialog's end what is still to go to the agent: SetFlags with
// flags (when postFlags), then the pair with factors (when postFactors).
// What no agent takes, for want of one, is posted again to an agent that
// appears within kAgentWaitMs; what is left after that is told in one debug
// line, never dropped silently.
void PostAtEnd(bool postFlags, int flags, bool postFactors, const uint16_t factors[4],
               const char* what) {
  bool flagsLeft = postFlags && !PostSetFlags(flags);
  bool factorsLeft = postFactors && !PostLogFactors(factors);
  if (!flagsLeft && !factorsLeft) return;
  if (WaitForAgent(AgentWindow(), kAgentWaitMs)) {
    if (flagsLeft) flagsLeft = !PostSetFlags(flags);
    if (factorsLeft) factorsLeft = !PostLogFactors(factors);
    if (!flagsLeft && !factorsLeft) return;
  }
  std::string line = "[KestrinProperties] No agent took them within " +
                     std::to_string(kAgentWaitMs / 1000) + " s: the ";
  line += flagsLeft && factorsLeft ? "vertical axis and speeds"
          : flagsLeft                ? "vertical axis"
                                     : "speeds";
  line += what;
  OutputDebugStringA(line.c_str());
}

}  // namespace

BEGIN_MESSAGE_MAP(CKestrinPropDlg, CDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
  ON_BN_CLICKED(IDC_RADIO_PANY_SPINY, OnRadioPanYSpinY)
  ON_BN_CLICKED(IDC_RADIO_ZOOM_SPINZ, OnRadioZoomSpinZ)
  ON_WM_HSCROLL()
  ON_BN_CLICKED(IDC_DEFAULTS, OnDefaults)
  ON_BN_CLICKED(IDC_TEST_AUTOZERO, OnTestAutoZero)
END_MESSAGE_MAP()

CKestrinPropDlg::CKestrinPropDlg()
    : CDialog(IDD_KESTRINPROPERTIES_DIALOG),
      m_CurFlags(0),
      m_CurLogFactors{kDefaultLogFactor, kDefaultLogFactor, kDefaultLogFactor, kDefaultLogFactor},
      m_SavedFlags(0),
      m_SavedLogFactors{kDefaultLogFactor, kDefaultLogFactor, kDefaultLogFactor,
                        kDefaultLogFactor},
      m_FollowRecord(false),
      m_FlagsChanges(),
      m_LogFactorsChanges(),
      m_Stored(),
      m_LastAgentWindow(nullptr),
      m_Agility(Kestrin1::CAgility::m_DefaultValues),
      m_ViewVolume{0, 0.0f, 0.0f, -20.0f, 2.0f, -15.0f, -25.0f},
      m_Object(Kestrin1::CSpatialMath::Identity) {
  m_View2D.m_pDlg = this;
  m_View3D.m_pDlg = this;
  m_LastAgentWindow = AgentWindow();  // as m_Kestrin's connection found it
  m_hIcon = LoadIconW(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON),
                      MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CKestrinPropDlg::~CKestrinPropDlg() = default;

BOOL CKestrinPropDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  MarkRunningCopy(m_hWnd);
  GiveIconsTo(m_hWnd);

  // The About item, when the system menu and its text exist.
  HMENU systemMenu = GetSystemMenu(FALSE);
  if (systemMenu) {
    std::wstring about = AfxLoadString(IDS_ABOUTBOX);
    if (!about.empty()) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  // The drawn views take over their static controls.
  m_View2D.m_b3D = 0;
  m_View2D.SubclassDlgItem(IDC_VIEW2D, this);
  m_View3D.m_b3D = 1;
  m_View3D.SubclassDlgItem(IDC_VIEW3D, this);
  m_TopView.SubclassDlgItem(IDC_TOPVIEW, this);

  // The settings as the service applies them. While the section is not
  // mapped (no agent yet, or the service stopped), the user's settings as
  // the agent reads them: the agent sends those to the service when it
  // connects (the defaults for a value it cannot read).
  m_Stored = ReadUserSettings();
  if (const DeviceMotionRecord* record = SectionRecord1()) {
    m_CurFlags = AxisConvention(record->m_Flags);
    ReadLogFactors(record, m_CurLogFactors);
    // The agent may have connected just now, its values not applied yet.
    m_FollowRecord = !HoldsStoredSettings(record, m_Stored);
  } else {
    m_CurFlags = AxisConvention(m_Stored.m_Flags);
    for (int i = 0; i < 4; ++i) m_CurLogFactors[i] = m_Stored.m_LogFactors[i];
    // A record mapped later holds what the service had before the agent's
    // values landed: it is not taken.
    m_FollowRecord = false;
  }
  m_SavedFlags = m_CurFlags;
  for (int i = 0; i < 4; ++i) m_SavedLogFactors[i] = m_CurLogFactors[i];

  SendDlgItemMessage(IDC_RADIO_PANY_SPINY, BM_SETCHECK, m_CurFlags == 0);
  SendDlgItemMessage(IDC_RADIO_ZOOM_SPINZ, BM_SETCHECK, static_cast<WPARAM>(m_CurFlags));
  SetupTrackbars();

  // The device list: one row, "1", whether or not the device map has it.
  DeviceMapEntry device = ReadDeviceMap();
  HWND list = GetDlgItem(IDC_DEVICE_LIST);
  struct Column {
    UINT heading;
    int format;
    int width;
  };
  // Column 0 is always left-aligned: the list view ignores any other
  // alignment of its first column.
  const Column columns[] = {{IDS_COLUMN_ID, LVCFMT_LEFT, 32},
                            {IDS_COLUMN_SERIAL, LVCFMT_LEFT, 112},
                            {IDS_COLUMN_FIRMWARE, LVCFMT_LEFT, 80}};
  for (int i = 0; i < 3; ++i) {
    std::wstring heading = AfxLoadString(columns[i].heading);
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = columns[i].format;
    column.cx = columns[i].width;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    column.iSubItem = i;
    ::SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"1");
  int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  const std::wstring* texts[] = {&device.m_Serial, &device.m_Firmware};
  for (int sub = 1; sub <= 2; ++sub) {
    LVITEMW text = {};
    text.iSubItem = sub;
    text.pszText = const_cast<wchar_t*>(texts[sub - 1]->c_str());
    ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&text));
  }
  return TRUE;
}

bool CKestrinPropDlg::FollowRecord(bool updateControls) {
  if (!m_FollowRecord) return false;
  const DeviceMotionRecord* record = SectionRecord1();
  if (!record) return false;
  const int flags = AxisConvention(record->m_Flags);
  uint16_t factors[4];
  ReadLogFactors(record, factors);
  if (HoldsStoredSettings(record, m_Stored)) m_FollowRecord = false;  // landed
  if (flags == m_SavedFlags && SameFactors(factors, m_SavedLogFactors)) return false;
  m_SavedFlags = flags;
  for (int i = 0; i < 4; ++i) m_SavedLogFactors[i] = factors[i];
  // The user has changed nothing yet (else there is no following): the
  // dialog shows the settings in force, so that a change of one of them
  // posts the others as they are.
  m_CurFlags = m_SavedFlags;
  for (int i = 0; i < 4; ++i) m_CurLogFactors[i] = m_SavedLogFactors[i];
  if (updateControls && m_hWnd) ShowCurrentSettings();
  return true;
}

namespace {

// A change of a setting posted (or not, for want of an agent).
void Note(CKestrinPropDlg::SettingChanges& changes, bool posted) {
  if (posted) changes.m_Reached = true;
  changes.m_Unsent = !posted;
}

}  // namespace

void CKestrinPropDlg::WatchAgent() {
  HWND agent = AgentWindow();
  if (agent == m_LastAgentWindow) return;
  m_LastAgentWindow = agent;
  // A new agent knows only the settings stored before; the dialog shows
  // the user's, and OK is to leave those in force.
  if (agent) PostUnsent();
}

void CKestrinPropDlg::PostUnsent() {
  if (m_FlagsChanges.m_Unsent) Note(m_FlagsChanges, PostSetFlags(m_CurFlags));
  if (m_LogFactorsChanges.m_Unsent) Note(m_LogFactorsChanges, PostLogFactors(m_CurLogFactors));
}

void CKestrinPropDlg::MarkUserChanged() { m_FollowRecord = false; }

void CKestrinPropDlg::ShowCurrentSettings() {
  SendDlgItemMessage(IDC_RADIO_PANY_SPINY, BM_SETCHECK, m_CurFlags == 0);
  SendDlgItemMessage(IDC_RADIO_ZOOM_SPINZ, BM_SETCHECK, static_cast<WPARAM>(m_CurFlags));
  UpdateTrackbars();
}

// A change that reached no agent was never in force: there is nothing of it
// to put back.
void CKestrinPropDlg::RestoreSavedSettings() {
  PostAtEnd(m_FlagsChanges.m_Reached, m_SavedFlags, m_LogFactorsChanges.m_Reached,
            m_SavedLogFactors, " found at start were not put back\n");
}

void CKestrinPropDlg::SendUnsentChanges() {
  PostAtEnd(m_FlagsChanges.m_Unsent, m_CurFlags, m_LogFactorsChanges.m_Unsent, m_CurLogFactors,
            " changed here were not sent\n");
}

LRESULT CKestrinPropDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A trackbar has moved its thumb already when it tells: OnHScroll follows
  // the record itself, around the user's move.
  if (message != WM_HSCROLL) FollowRecord();
  WatchAgent();
  if (message == WM_DESTROY) UnmarkRunningCopy(m_hWnd);
  return CDialog::WindowProc(message, wParam, lParam);
}

void CKestrinPropDlg::PostFlags() {
  MarkUserChanged();
  Note(m_FlagsChanges, PostSetFlags(m_CurFlags));
  SendDlgItemMessage(IDC_RADIO_PANY_SPINY, BM_SETCHECK, m_CurFlags == 0);
  SendDlgItemMessage(IDC_RADIO_ZOOM_SPINZ, BM_SETCHECK, static_cast<WPARAM>(m_CurFlags));
}

// The range's two ends are set one by one: TBM_SETRANGE packs them into
// 16-bit halves, which turns 0xFFFF into -1.
void CKestrinPropDlg::SetupTrackbars() {
  for (int i = 0; i < 4; ++i) {
    SendDlgItemMessage(kTrackbars[i], TBM_SETRANGEMIN, FALSE, 0);
    SendDlgItemMessage(kTrackbars[i], TBM_SETRANGEMAX, FALSE, 0xFFFF);
    SendDlgItemMessage(kTrackbars[i], TBM_SETTICFREQ, kTickEvery, 0);
    SendDlgItemMessage(kTrackbars[i], TBM_SETPOS, TRUE, m_CurLogFactors[i]);
  }
}

void CKestrinPropDlg::UpdateTrackbars() {
  for (int i = 0; i < 4; ++i)
    SendDlgItemMessage(kTrackbars[i], TBM_SETPOS, TRUE, m_CurLogFactors[i]);
}

void CKestrinPropDlg::OnRadioPanYSpinY() {
  m_CurFlags = 0;
  PostFlags();
}

void CKestrinPropDlg::OnRadioZoomSpinZ() {
  m_CurFlags = 1;
  PostFlags();
}

// Whatever sent it: the four positions are read, and a change of any posts
// all four.
void CKestrinPropDlg::OnHScroll(UINT, UINT, HWND) {
  uint16_t positions[4], before[4];
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    positions[i] = static_cast<uint16_t>(SendDlgItemMessage(kTrackbars[i], TBM_GETPOS));
    before[i] = m_CurLogFactors[i];
    changed |= positions[i] != before[i];
  }
  if (!changed) return;
  // Record 1 may have moved on since the last message: the thumbs the user
  // did not touch take its values, the one moved keeps the user's.
  bool followed = FollowRecord(false);
  MarkUserChanged();
  for (int i = 0; i < 4; ++i)
    if (positions[i] != before[i]) m_CurLogFactors[i] = positions[i];
  if (followed) ShowCurrentSettings();
  Note(m_LogFactorsChanges, PostLogFactors(m_CurLogFactors));
}

// The saved copies stay: Cancel after Defaults restores what was found at
// start.
void CKestrinPropDlg::OnDefaults() {
  MarkUserChanged();
  m_CurFlags = 0;
  for (uint16_t& factor : m_CurLogFactors) factor = kDefaultLogFactor;
  PostSetFlags(0);
  Note(m_LogFactorsChanges, PostLogFactors(m_CurLogFactors));  // 0x80008000 twice
  PostFlags();
  UpdateTrackbars();
}

void CKestrinPropDlg::OnTestAutoZero() { PostAgentRequest(km::TestAutoZero, 0); }

void CKestrinPropDlg::OnSysCommand(UINT id, LPARAM lParam) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal();
  } else {
    CDialog::OnSysCommand(id, lParam);
  }
}

// Minimised, the dialog paints its icon itself.
void CKestrinPropDlg::OnPaint() {
  if (IsIconic()) {
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    RECT client;
    GetClientRect(&client);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc.m_hDC, x, y, m_hIcon);
  } else {
    CDialog::OnPaint();
  }
}

HCURSOR CKestrinPropDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
