#include "feature_reports.h"

#include <stdio.h>
#include <string.h>

#include "device_registry.h"
#include "device_slot.h"
#include "hid_access.h"
#include "messages.h"
#include "service_private.h"

namespace {

constexpr int kPasses = 10;
constexpr int kTries = 10;

const uint8_t kQueryRestZoneRequest[kFeatureReportBytes] = {0x00, 0xFF, 0x70, 0, 0, 0, 0, 0, 0};
const uint8_t kAutoZeroRequest[kFeatureReportBytes] = {0x00, 0xFF, 0x5A, 0, 0, 0, 0, 0, 0};

void SleepPause(DWORD milliseconds) { Sleep(milliseconds); }

}  // namespace

void (*FeaturePause)(DWORD milliseconds) = SleepPause;

int ExchangeFeatureReport(HANDLE device, const uint8_t* request, uint8_t* reply, int force) {
  // The request is kept apart: callers pass one buffer as request and reply.
  uint8_t sent[kFeatureReportBytes];
  memcpy(sent, request, sizeof sent);
  for (int pass = 0; pass < kPasses; ++pass) {
    int requested = 0;
    for (int tryCount = 0; tryCount < kTries && !requested; ++tryCount) {
      // Failed feature calls are retried and never reported.
      if (HidSetFeature(device, sent, sizeof sent)) {
        requested = 1;
        FeaturePause(static_cast<DWORD>(15 + 10 * pass));
      }
    }
    uint8_t got[kFeatureReportBytes];
    memcpy(got, sent, sizeof got);
    int answered = 0;
    for (int tryCount = 0; tryCount < kTries && !answered; ++tryCount) {
      got[0] = 0;  // report id
      answered = HidGetFeature(device, got, sizeof got) ? 1 : 0;
    }
    // A pass whose request never went out, or whose reply never came, has
    // nothing to accept: the buffer holds only what was there before.
    if (!requested || !answered) continue;
    if ((got[1] != 0xFF || force) && got[8] == FeatureCheckValue(got)) {
      memcpy(reply, got, sizeof got);
      return 1;
    }
  }
  return 0;
}

void QueryRestZoneFeature(DeviceSlot* slot, uint8_t* restZone) {
  uint8_t report[kFeatureReportBytes];
  memcpy(report, kQueryRestZoneRequest, sizeof report);
  ExchangeFeatureReport(slot->m_Ball.m_Handle, report, report, 0);
  *restZone = report[4];  // still the request's 0 when nothing was accepted
}

void SetRestZoneFeature(DeviceSlot* slot, uint8_t value) {
  uint8_t report[kFeatureReportBytes] = {0x00, 0xFF, 0x43, 'J', 'S', value, 0, 0, 0};
  ExchangeFeatureReport(slot->m_Ball.m_Handle, report, report, 0);
}

void QueryDeviceFeature5A(DeviceSlot* slot) {
  if (!slot) return;  // no current device: nothing to zero
  uint8_t report[kFeatureReportBytes];
  memcpy(report, kAutoZeroRequest, sizeof report);
  ExchangeFeatureReport(slot->m_Ball.m_Handle, report, report, 1);
}

void ReadRestZoneSetting(DeviceSlot* slot) {
  slot->m_RestZone = kDefaultRestZone;
  if (strnlen(slot->m_Serial, sizeof slot->m_Serial) != kSerialChars) return;
  char keyPath[sizeof kRestZoneKeyPrefix + kSerialChars];
  snprintf(keyPath, sizeof keyPath, "%s%.16s", kRestZoneKeyPrefix, slot->m_Serial);
  DWORD value = kDefaultRestZone;
  ReadDwordWithDefault(HKEY_LOCAL_MACHINE, keyPath, "RestZone", kDefaultRestZone, &value);
  if (value < kMinRestZoneSetting) {
    WriteDword(HKEY_LOCAL_MACHINE, keyPath, "RestZone", kDefaultRestZone);
    value = kDefaultRestZone;
  }
  slot->m_RestZone = static_cast<uint8_t>(value & 0xFF);
}

void CheckDeviceRestZone(DeviceSlot* slot) {
  if (slot->m_Firmware < 0x201) return;
  uint8_t restZone = 0;
  QueryRestZoneFeature(slot, &restZone);
  if (restZone == kDefaultRestZone) return;
  ReportEventLog(EVENTLOG_INFORMATION_TYPE, MSG_REST_ZONE_UPDATED, nullptr);
  SetRestZoneFeature(slot, kDefaultRestZone);
}
