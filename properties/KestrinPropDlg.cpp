#include "KestrinPropDlg.h"

#include <commctrl.h>

#include "AboutDlg.h"
#include "agent_requests.h"
#include "device_map.h"
#include "manager_messages.h"
#include "motion_section.h"
#include "resource.h"
#include "single_instance.h"

namespace km = kestrin::manager;

namespace {

const int kTrackbars[4] = {IDC_PAN, IDC_ZOOM, IDC_SPIN, IDC_SCROLL_HAT};
constexpr uint16_t kDefaultLogFactor = 0x8000;
constexpr int kTickEvery = 6553;

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
      m_SettingsFound(false),
      m_UserChanged(false),
      m_Agility(Kestrin1::CAgility::m_DefaultValues),
      m_ViewVolume{0, 0.0f, 0.0f, -20.0f, 2.0f, -15.0f, -25.0f},
      m_Object(Kestrin1::CSpatialMath::Identity) {
  m_View2D.m_pDlg = this;
  m_View3D.m_pDlg = this;
  m_hIcon = LoadIconW(AfxFindResourceHandle(MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON),
                      MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CKestrinPropDlg::~CKestrinPropDlg() = default;

BOOL CKestrinPropDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  MarkRunningCopy(m_hWnd);

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

  // The settings as the service applies them; the defaults while the
  // section is not mapped.
  m_CurFlags = 0;
  for (uint16_t& factor : m_CurLogFactors) factor = kDefaultLogFactor;
  if (const DeviceMotionRecord* record = SectionRecord1()) {
    m_CurFlags = record->m_Flags & 1;
    ReadLogFactors(record, m_CurLogFactors);
    m_SettingsFound = true;
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

void CKestrinPropDlg::CatchUpSavedSettings() {
  if (m_SettingsFound) return;
  const DeviceMotionRecord* record = SectionRecord1();
  if (!record) return;
  m_SettingsFound = true;
  m_SavedFlags = record->m_Flags & 1;
  ReadLogFactors(record, m_SavedLogFactors);
  if (m_UserChanged || !m_hWnd) return;
  // Nothing changed yet: the dialog shows the user's settings, so that a
  // change of one of them posts the others as they are.
  m_CurFlags = m_SavedFlags;
  for (int i = 0; i < 4; ++i) m_CurLogFactors[i] = m_SavedLogFactors[i];
  SendDlgItemMessage(IDC_RADIO_PANY_SPINY, BM_SETCHECK, m_CurFlags == 0);
  SendDlgItemMessage(IDC_RADIO_ZOOM_SPINZ, BM_SETCHECK, static_cast<WPARAM>(m_CurFlags));
  UpdateTrackbars();
}

LRESULT CKestrinPropDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CatchUpSavedSettings();
  return CDialog::WindowProc(message, wParam, lParam);
}

void CKestrinPropDlg::PostFlags() {
  CatchUpSavedSettings();
  m_UserChanged = true;
  PostSetFlags(m_CurFlags);
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
  uint16_t positions[4];
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    positions[i] = static_cast<uint16_t>(SendDlgItemMessage(kTrackbars[i], TBM_GETPOS));
    changed |= positions[i] != m_CurLogFactors[i];
  }
  if (!changed) return;
  CatchUpSavedSettings();
  m_UserChanged = true;
  for (int i = 0; i < 4; ++i) m_CurLogFactors[i] = positions[i];
  PostLogFactors(m_CurLogFactors);
}

// The saved copies stay: Cancel after Defaults restores what was found at
// start.
void CKestrinPropDlg::OnDefaults() {
  CatchUpSavedSettings();
  m_UserChanged = true;
  m_CurFlags = 0;
  for (uint16_t& factor : m_CurLogFactors) factor = kDefaultLogFactor;
  PostSetFlags(0);
  PostAgentRequest(km::SetLogFactorsLow, 0x80008000u);
  PostAgentRequest(km::SetLogFactorsHigh, 0x80008000u);
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
