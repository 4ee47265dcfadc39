// KestrinPipeClient: connects to the service's pipe, prints every message it
// receives, and can send the settings and auto-zero requests the session
// agent sends.
//   KestrinPipeClient [-t MS] [-r] [-l PAN ZOOM SPIN SCROLL] [-f FLAGS] [-z]
//     -t MS    listen this long after connecting (default 3000)
//     -r       print the settings of record 1 of the section before and
//              after the requests
//     -l ...   send PipeSetLogFactors with the four values (0x8000 is unity)
//     -f N     send PipeSetFlags (bit 0: vertical-axis convention)
//     -z       send PipeTestAutoZero
// Requests go out after the state messages of the connect have arrived.
// Exit code 0 when connected, 2 on a bad command line, 1 otherwise.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "motion_section.h"
#include "pipe_client.h"
#include "pipe_protocol.h"
#include "section_view.h"

namespace {

std::string StateNames(uint16_t state) {
  static const struct {
    uint16_t bit;
    const char* name;
  } names[] = {
      {StateDeviceAttached, "attached"},   {StateDeviceEnabled, "enabled"},
      {StateBallActive, "ball-active"},    {StateBallChanged, "ball-changed"},
      {StateScrollActive, "scroll-active"}, {StateScrollChanged, "scroll-changed"},
  };
  std::string text;
  for (const auto& n : names) {
    if (!(state & n.bit)) continue;
    if (!text.empty()) text += ' ';
    text += n.name;
  }
  return text.empty() ? "none" : text;
}

void Print(const PipeMessage& message) {
  if (message.m_Opcode == PipeDeviceState)
    printf("state: %s (%s)\n", DescribePipeMessage(message).c_str(),
           StateNames(message.m_Payload.m_DeviceState.m_State).c_str());
  else
    printf("message: %s\n", DescribePipeMessage(message).c_str());
  fflush(stdout);
}

// The settings words of record 1, as every reader of the section sees them.
void PrintRecordSettings(const char* when) {
  SectionView section;
  if (!section.Open()) {
    printf("record 1 %s: no section (error %lu)\n", when, section.error());
    return;
  }
  const volatile DeviceMotionRecord* record = section.Record(1);
  printf("record 1 %s: log factors 0x%04x 0x%04x 0x%04x 0x%04x, flags %u\n", when,
         record->m_LogFactors[0], record->m_LogFactors[1], record->m_LogFactors[2],
         record->m_LogFactors[3], record->m_Flags);
  fflush(stdout);
}

unsigned long Number(const char* text, bool* ok) {
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 0);
  if (!*text || *end || value > 0xFFFF) *ok = false;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD listenMs = 3000;
  bool sendFactors = false, sendFlags = false, sendZero = false, showRecord = false;
  uint16_t factors[4] = {};
  uint16_t flags = 0;
  bool ok = true;
  for (int i = 1; i < argc && ok; ++i) {
    if (!strcmp(argv[i], "-t") && i + 1 < argc) {
      listenMs = strtoul(argv[++i], nullptr, 0);
    } else if (!strcmp(argv[i], "-l") && i + 4 < argc) {
      sendFactors = true;
      for (uint16_t& f : factors) f = static_cast<uint16_t>(Number(argv[++i], &ok));
    } else if (!strcmp(argv[i], "-f") && i + 1 < argc) {
      sendFlags = true;
      flags = static_cast<uint16_t>(Number(argv[++i], &ok));
    } else if (!strcmp(argv[i], "-r")) {
      showRecord = true;
    } else if (!strcmp(argv[i], "-z")) {
      sendZero = true;
    } else {
      ok = false;
    }
  }
  if (!ok) {
    fprintf(stderr, "usage: KestrinPipeClient [-t MS] [-r] [-l PAN ZOOM SPIN SCROLL] [-f FLAGS] [-z]\n");
    return 2;
  }

  PipeTestClient client;
  if (!client.Connect(5000)) {
    fprintf(stderr, "cannot open %s: error %lu\n", kPipeName, client.lastError());
    return 1;
  }
  printf("connected\n");
  for (const PipeMessage& m : client.ReceiveUntilQuiet(300)) Print(m);
  if (showRecord) PrintRecordSettings("before");
  if (sendFactors) {
    bool sent = client.SendSetLogFactors(factors[0], factors[1], factors[2], factors[3]);
    printf("sent log factors 0x%04x 0x%04x 0x%04x 0x%04x%s\n", factors[0], factors[1],
           factors[2], factors[3], sent ? "" : " (failed)");
  }
  if (sendFlags) {
    bool sent = client.SendSetFlags(flags);
    printf("sent flags 0x%04x%s\n", flags, sent ? "" : " (failed)");
  }
  if (sendZero) printf("sent auto-zero%s\n", client.SendTestAutoZero() ? "" : " (failed)");
  fflush(stdout);
  bool recordShown = !showRecord;

  const DWORD start = GetTickCount();
  while (GetTickCount() - start < listenMs) {
    if (!recordShown && GetTickCount() - start >= 300) {
      PrintRecordSettings("after");
      recordShown = true;
    }
    PipeMessage message;
    PipeTestClient::Receive r = client.ReceiveMessage(&message, 100);
    if (r == PipeTestClient::Receive::Message) {
      Print(message);
    } else if (r != PipeTestClient::Receive::Timeout) {
      printf("pipe closed by the service (error %lu)\n", client.lastError());
      return 0;
    }
  }
  printf("done\n");
  return 0;
}
