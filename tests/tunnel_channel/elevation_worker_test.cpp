// The worker of the elevated copies through a scripted shell: one thread of
// its own with its apartment, copies one after another in the order asked
// with the window as the prompt's owner, what Stop drops, and a copy left
// running holding off the ones queued after it.
#include "tunnel_channel/elevation_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cwchar>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

// Bounded only so that a lost answer fails the test instead of hanging it.
constexpr std::chrono::seconds kPatience(30);

const HWND kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x20CD0));

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != L'\0'; ++text) out += static_cast<char>(*text);
  return out;
}

class ElevationWorkerTest : public ::testing::Test {
 protected:
  // Every call in order with the thread it came on; a launch whose
  // parameters are "gated" waits until the test opens the gate.
  TunnelChannelCalls Calls() {
    TunnelChannelCalls c;
    c.CoInitializeEx = [this](LPVOID reserved, DWORD flags) {
      Note("CoInitializeEx " + std::to_string(flags) + (reserved ? " reserved" : ""));
      return S_OK;
    };
    c.CoUninitialize = [this] { Note("CoUninitialize"); };
    c.GetModuleFileNameW = [](HMODULE, LPWSTR buffer, DWORD) -> DWORD {
      std::wcscpy(buffer, L"C:\\Tarnwick\\tarnwick.exe");
      return 24;
    };
    c.ShellExecuteExW = [this](SHELLEXECUTEINFOW* info) {
      const std::string parameters = Narrow(info->lpParameters);
      Note("launch " + parameters + (info->hwnd == kOwner ? " owned" : " unowned"));
      if (parameters == "gated") gate_.wait();
      info->hProcess = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
      return TRUE;
    };
    c.WaitForSingleObject = [this](HANDLE, DWORD milliseconds) -> DWORD {
      std::lock_guard<std::mutex> lock(mutex_);
      if (milliseconds == 0) return kept_copy_running_ ? WAIT_TIMEOUT : WAIT_OBJECT_0;
      return times_out_ ? WAIT_TIMEOUT : WAIT_OBJECT_0;
    };
    c.GetExitCodeProcess = [](HANDLE, LPDWORD code) {
      *code = 0;
      return TRUE;
    };
    return c;
  }

  void Note(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    threads_.insert(std::this_thread::get_id());
    changed_.notify_all();
  }

  // The answer for a copy: records the outcome, or that it was destroyed
  // uncalled and on which thread.
  ElevationWorker::Answer AnswerFor(const std::string& name) {
    struct Dropped {
      ElevationWorkerTest* test;
      std::string name;
      bool called = false;
      ~Dropped() {
        if (!called) {
          test->Note("dropped " + name +
                     (std::this_thread::get_id() == test->test_thread_ ? " here" : " elsewhere"));
        }
      }
    };
    // Made in place: a moved-from copy going away would count as dropped.
    std::shared_ptr<Dropped> dropped(new Dropped{this, name});
    return [this, dropped](ElevationOutcome outcome) {
      dropped->called = true;
      Note("answer " + dropped->name + " " + std::to_string(outcome));
    };
  }

  // Waits until the event has been noted.
  bool WaitFor(const std::string& event) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  const std::thread::id test_thread_ = std::this_thread::get_id();
  std::promise<void> gate_opener_;
  std::shared_future<void> gate_ = gate_opener_.get_future().share();
  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::set<std::thread::id> threads_;
  bool times_out_ = false;
  bool kept_copy_running_ = false;
};

TEST_F(ElevationWorkerTest, CopiesRunOneAfterAnotherOnAThreadWithItsApartment) {
  {
    ElevationWorker worker(kOwner, Calls());
    worker.Queue(L"a", AnswerFor("a"));
    worker.Queue(L"b", AnswerFor("b"));
    worker.Queue(L"c", AnswerFor("c"));
    ASSERT_TRUE(WaitFor("answer c 0"));
  }
  // Apartment-threaded (2) without OLE1 DDE (4), given back when the worker ends.
  EXPECT_EQ(Events(), (std::vector<std::string>{"CoInitializeEx 6", "launch a owned", "answer a 0",
                                                "launch b owned", "answer b 0", "launch c owned",
                                                "answer c 0", "CoUninitialize"}));
  ASSERT_EQ(threads_.size(), 1u);
  EXPECT_NE(*threads_.begin(), test_thread_);
}

TEST_F(ElevationWorkerTest, StopDropsQueuedCopiesAndLetsTheRunningOneAnswer) {
  {
    ElevationWorker worker(kOwner, Calls());
    worker.Queue(L"gated", AnswerFor("gated"));
    worker.Queue(L"b", AnswerFor("b"));
    worker.Queue(L"c", AnswerFor("c"));
    ASSERT_TRUE(WaitFor("launch gated owned"));
    worker.Stop();
    worker.Queue(L"d", AnswerFor("d"));
    gate_opener_.set_value();
  }
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "CoInitializeEx 6", "launch gated owned", "dropped b here",
                          "dropped c here", "dropped d here", "answer gated 0", "CoUninitialize"}));
}

TEST_F(ElevationWorkerTest, CopyLeftRunningFailsTheChangesBehindItWithoutAPrompt) {
  ElevationWorker worker(nullptr, Calls());
  times_out_ = true;  // no other thread yet
  worker.Queue(L"a", AnswerFor("a"));
  ASSERT_TRUE(WaitFor("answer a 2"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    times_out_ = false;
    kept_copy_running_ = true;
  }
  worker.Queue(L"b", AnswerFor("b"));
  ASSERT_TRUE(WaitFor("answer b 2"));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_copy_running_ = false;
  }
  worker.Queue(L"c", AnswerFor("c"));
  ASSERT_TRUE(WaitFor("answer c 0"));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"CoInitializeEx 6", "launch a unowned", "answer a 2",
                                      "answer b 2", "launch c unowned", "answer c 0"}));
}

}  // namespace
}  // namespace tarnwick
