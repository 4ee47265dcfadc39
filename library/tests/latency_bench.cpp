// Kestrin1LatencyBench: from the simulator's first moving ball report to the
// client callback's EventBallActive in this program (a client of
// Kestrin1.dll by import, with the agent the library started routing the
// device to it). Beside it, in the same run, the floor of the same two hops
// done bare (bare_relay.h): a pipe client that reads the ball-active state
// message and at once posts it to a window of this process, which stamps its
// arrival; the ratio says what the agent and the library add. One pipe hop
// alone (a plain pipe client of the service) is printed beside them.
// Built on the simulated-service fixture; prints figures, judges nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Kestrin1.h"
#include "agent_install.h"
#include "bare_relay.h"
#include "foreground_window.h"
#include "latency_figures.h"
#include "pipe_client.h"
#include "pump.h"
#include "report_bytes.h"
#include "simulated_service.h"

using namespace Kestrin1;

namespace {

constexpr int kSamples = 300;

std::atomic<double> g_ActiveAt{0};
std::atomic<int> g_Released{0};
std::atomic<bool> g_Enabled{false};
long KESTRIN1_CALLBACK OnEvent(unsigned int event, long) {
  if (event == EventDeviceEnabled) g_Enabled = true;
  if (event == EventBallActive) g_ActiveAt = MicrosecondsNow();
  if (event == EventBallReleased) ++g_Released;
  return 0;
}

class Kestrin1Latency : public SimulatedServiceTest {};

TEST_F(Kestrin1Latency, ReportToBallActiveCallback) {
  ASSERT_TRUE(InstallAgent(KESTRIN_ELF_EXE));
  HWND window = ShowForegroundWindow("Kestrin1LatencyWindow", "Kestrin1 latency");
  CKestrin::Register(OnEvent, GetCurrentProcessId());
  CKestrin* kestrin = new CKestrin();
  // Connected once the agent said the device is there (the view is mapped
  // by then).
  bool connected = PumpUntil([] { return g_Enabled.load(); }, 20000);
  PumpFor(300);

  BareRelayFloor relay;
  ASSERT_TRUE(relay.Start(KESTRIN_BARE_RELAY_EXE));
  // One pipe hop: every message a plain pipe client receives, with its time.
  PipeTestClient pipe;
  ASSERT_TRUE(pipe.Connect(5000));
  pipe.ReceiveUntilQuiet(300);
  std::mutex lock;
  std::vector<std::pair<double, uint16_t>> received;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      PipeMessage message;
      if (pipe.ReceiveMessage(&message, 100) != PipeTestClient::Receive::Message) continue;
      double at = MicrosecondsNow();
      std::lock_guard<std::mutex> hold(lock);
      received.emplace_back(at, message.m_Payload.m_DeviceState.m_State);
    }
  });

  const int push[6] = {0, 0, 200, 0, 0, 0}, rest[6] = {};
  const std::vector<uint8_t> moving = BallReport(push), still = BallReport(rest);
  std::vector<double> starts, callback;
  int lost = 0;
  for (int i = 0; connected && i < kSamples; ++i) {
    g_ActiveAt = 0;
    const int released = g_Released;
    double t0 = MicrosecondsNow();
    starts.push_back(t0);
    SendReport(ball_, moving);
    if (PumpUntil([] { return g_ActiveAt != 0; }, 2000))
      callback.push_back(g_ActiveAt - t0);
    else
      ++lost;
    SendReport(ball_, still);
    PumpUntil([&] { return g_Released != released; }, 2000);
    Sleep(2);
  }
  stop = true;
  reader.join();
  pipe.Close();

  relay.Stop();
  std::vector<std::pair<double, uint16_t>> relayed;
  for (const BareRelayFloor::Arrival& a : relay.All()) relayed.emplace_back(a.us, a.state);

  // Each sample's first ball-active message after its report.
  auto firstActive = [&](const std::vector<std::pair<double, uint16_t>>& arrivals,
                         std::vector<double>* us, int* missing) {
    for (size_t i = 0; i < starts.size(); ++i) {
      double end = i + 1 < starts.size() ? starts[i + 1] : 1e300;
      bool found = false;
      for (const auto& m : arrivals) {
        if (m.first >= starts[i] && m.first < end && (m.second & StateBallActive)) {
          us->push_back(m.first - starts[i]);
          found = true;
          break;
        }
      }
      if (!found) ++*missing;
    }
  };
  std::vector<double> floor, pipeHop;
  int floorLost = 0, pipeLost = 0;
  firstActive(relayed, &floor, &floorLost);
  firstActive(received, &pipeHop, &pipeLost);
  printf("Kestrin1LatencyBench: first moving report -> EventBallActive in the client\n");
  if (!connected) printf("the client never heard the device: no samples\n");
  PrintLatency("report -> EventBallActive callback", callback, lost);
  PrintLatency("floor: pipe read + post to another process", floor, floorLost);
  PrintRatio("ratio: library road / two-hop floor", callback, floor);
  PrintLatency("beside it: one pipe hop (pipe client)", pipeHop, pipeLost);
  delete kestrin;
  StopAgent();
  DestroyWindow(window);
}

}  // namespace
