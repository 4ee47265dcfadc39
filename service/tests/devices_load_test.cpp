// The lock-free load test: KestrinSvcSim.exe under the service control
// manager, fed 1000 ball and 1000 scroll-hat reports a second for 30 s by
// this process (the device simulator), while four reader processes copy
// record 1 as fast as they can. Every copy must be a state the service
// published (no torn copy), and at the end count and sums must be exact.
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "motion_stages.h"
#include "process_runner.h"
#include "report_motion.h"
#include "report_bytes.h"
#include "simulated_service.h"

namespace {

constexpr int kSeconds = 30;
constexpr uint32_t kRate = 1000;  // reports a second, on each interface
constexpr uint32_t kReports = kSeconds * kRate;
constexpr int kReaders = 4;

// The feed and what the service must publish after each report.
struct Feed {
  std::vector<std::vector<uint8_t>> m_Ball, m_Scroll;
  std::string m_TableBytes;
};

template <int Axes>
void AppendState(std::string* bytes, const int32_t* sums, const int16_t* values) {
  bytes->append(reinterpret_cast<const char*>(sums), Axes * sizeof(int32_t));
  bytes->append(reinterpret_cast<const char*>(values), Axes * sizeof(int16_t));
}

// Reports that all move (so every one is accumulated), the motion chain of
// a fresh slot applied to each.
void BuildFeed(Feed* feed, int32_t ballSums[6], int32_t scrollSums[2]) {
  int16_t gains[4];
  GainsFromSettings(gains, kDefaultSpeedSettings);
  float state[3] = {};
  uint32_t counts[2] = {kReports, kReports};
  feed->m_TableBytes.assign(reinterpret_cast<const char*>(counts), sizeof counts);
  int16_t values[6] = {};
  memset(ballSums, 0, 6 * sizeof(int32_t));
  AppendState<6>(&feed->m_TableBytes, ballSums, values);
  for (uint32_t n = 0; n < kReports; ++n) {
    double t = n * 0.004;
    int r[6] = {static_cast<int>(200 * sin(t)), static_cast<int>(150 * cos(t * 1.3)), 250, 0,
                static_cast<int>(120 * sin(t * 0.7)), 60};
    auto report = BallReport(r);
    int moving = ProcessBallReport(values, report.data() + 1, state, 75, gains, 0);
    ASSERT_TRUE(moving) << "report " << n << " would not be accumulated";
    for (int i = 0; i < 6; ++i)
      ballSums[i] = static_cast<int32_t>(static_cast<uint32_t>(ballSums[i]) + values[i]);
    AppendState<6>(&feed->m_TableBytes, ballSums, values);
    feed->m_Ball.push_back(report);
  }
  int16_t scroll[2] = {};
  memset(scrollSums, 0, 2 * sizeof(int32_t));
  AppendState<2>(&feed->m_TableBytes, scrollSums, scroll);
  for (uint32_t n = 0; n < kReports; ++n) {
    double t = n * 0.01;
    auto report = ScrollReport(static_cast<int>(300 * sin(t)) | 1, 280);
    ASSERT_TRUE(ProcessScrollReport(scroll, report.data() + 1, 75, gains));
    for (int i = 0; i < 2; ++i)
      scrollSums[i] = static_cast<int32_t>(static_cast<uint32_t>(scrollSums[i]) + scroll[i]);
    AppendState<2>(&feed->m_TableBytes, scrollSums, scroll);
    feed->m_Scroll.push_back(report);
  }
}

class DevicesLoadTest : public SimulatedServiceTest {
 protected:
  DevicesLoadTest() : SimulatedServiceTest({L"KS00000000000078", 0x200, 0x78}) {}
};

// Sends the reports due by now, several to a read when behind (at most what
// one 35-byte read takes).
void SendDue(int index, const std::vector<std::vector<uint8_t>>& reports, size_t* sent,
             size_t due, size_t perRead) {
  while (*sent < due) {
    std::vector<uint8_t> read;
    for (size_t i = 0; i < perRead && *sent < due; ++i, ++*sent)
      read.insert(read.end(), reports[*sent].begin(), reports[*sent].end());
    ASSERT_TRUE(SimSend(index, read.data(), static_cast<uint32_t>(read.size())));
  }
}

TEST_F(DevicesLoadTest, FourReadersNeverSeeATornCopyAndTheEndIsExact) {
  Feed feed;
  int32_t ballSums[6], scrollSums[2];
  BuildFeed(&feed, ballSums, scrollSums);
  if (HasFatalFailure()) return;
  char temp[MAX_PATH];
  ASSERT_TRUE(GetTempPathA(sizeof temp, temp));
  std::string table = std::string(temp) + "kestrin-load-table.bin";
  FILE* f = fopen(table.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(feed.m_TableBytes.data(), 1, feed.m_TableBytes.size(), f);
  fclose(f);

  std::vector<RunResult> results(kReaders);
  std::vector<std::thread> readers;
  std::string command = "\"" + WinePath(KESTRIN_STRESS_EXE) + "\" \"" + table + "\" " +
                        std::to_string(kSeconds + 5);
  for (int i = 0; i < kReaders; ++i)
    readers.emplace_back([&, i] { results[i] = RunProgram(command, (kSeconds + 60) * 1000); });
  Sleep(1000);  // the readers have mapped the section

  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  size_t ballSent = 0, scrollSent = 0;
  while (ballSent < kReports || scrollSent < kReports) {
    QueryPerformanceCounter(&now);
    size_t due = static_cast<size_t>((now.QuadPart - start.QuadPart) * kRate / frequency.QuadPart);
    if (due > kReports) due = kReports;
    SendDue(ball_, feed.m_Ball, &ballSent, due, 3);
    SendDue(ball_ + 1, feed.m_Scroll, &scrollSent, due, 7);
    if (HasFatalFailure()) break;
    Sleep(1);
  }
  for (auto& t : readers) t.join();
  DeleteFileA(table.c_str());

  for (int i = 0; i < kReaders; ++i) {
    SCOPED_TRACE("reader " + std::to_string(i) + ": " + results[i].output);
    ASSERT_TRUE(results[i].started);
    EXPECT_EQ(0u, results[i].exitCode);
    std::istringstream in(results[i].output);
    std::string word;
    unsigned long long copies = 0, failed = 0;
    unsigned long torn = 1, ball = 0, scroll = 0;
    in >> word >> copies >> word >> failed >> word >> torn >> word >> ball >> word >> scroll;
    EXPECT_EQ(0u, torn);
    EXPECT_EQ(kReports, ball);  // each reader followed every batch to the end
    EXPECT_EQ(kReports, scroll);
    printf("reader %d: %s", i, results[i].output.c_str());
  }
}

}  // namespace
