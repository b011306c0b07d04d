// The tunnel method handler from the channel's bytes to the one reply, with
// the machine scripted at the OS boundary only: where ProgramData lies,
// how the shell answers the elevation, the elevated copy's exit code and the
// service's state. Staging writes the real file; the elevation runs on a
// real worker, which alone answers the changes that reach it.
#include "tunnel_channel/tunnel_method_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "embedding/standard_method_codec.h"
#include "tests/support/bytes.h"
#include "tests/support/program_data.h"

namespace {

using tarnwick::Cat;
using tarnwick::Hex;
using tarnwick::ServiceCalls;
using tarnwick::TunnelChannelCalls;

using ByteVector = std::vector<uint8_t>;

// Standard-codec values written out by hand, as the UI's side sends them.
ByteVector Str(const std::string& text) {
  return Cat({{0x07, static_cast<uint8_t>(text.size())}, ByteVector(text.begin(), text.end())});
}
const ByteVector kNull = {0x00};
const ByteVector kTrue = {0x01};
const ByteVector kFalse = {0x02};
ByteVector Int32(uint8_t low) { return {0x03, low, 0, 0, 0}; }
const ByteVector kInt64MinusOne = tarnwick::Bytes("04 FF FF FF FF FF FF FF FF");
ByteVector List(std::initializer_list<ByteVector> items) {
  ByteVector out = {0x0C, static_cast<uint8_t>(items.size())};
  for (const ByteVector& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}
// Entries as key, value, key, value...
ByteVector Map(std::initializer_list<ByteVector> keys_and_values) {
  ByteVector out = {0x0D, static_cast<uint8_t>(keys_and_values.size() / 2)};
  for (const ByteVector& item : keys_and_values) out.insert(out.end(), item.begin(), item.end());
  return out;
}
ByteVector MethodCall(const std::string& method, const ByteVector& arguments) {
  return Cat({Str(method), arguments});
}

// Reply envelopes.
ByteVector SuccessWith(const ByteVector& value) { return Cat({{0x00}, value}); }
ByteVector ErrorOf(const std::string& code, const std::string& message) {
  return Cat({{0x01}, Str(code), Str(message), kNull});
}
const ByteVector kNotImplemented = {};

// How the shell answers the elevation request.
enum class Elevation { kExits0, kExits1, kDeclined };

// An engine-bound result that tells when it is released.
class WatchedResult : public flutter::EngineMethodResult {
 public:
  WatchedResult(flutter::BinaryReply reply, std::promise<void>* released)
      : EngineMethodResult(std::move(reply), &flutter::StandardMethodCodec::GetInstance()),
        released_(released) {}
  ~WatchedResult() override { released_->set_value(); }

 private:
  std::promise<void>* released_;
};

// Where a call was answered.
enum class Answered { kAtOnce, kFromTheWorker };

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class TunnelMethodHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, temp);
    ASSERT_NE(n, 0u);
    // A blank in the folder, so the path must travel quoted.
    root_ = std::wstring(temp, n) + L"tarnwick handler " + std::to_wstring(::GetCurrentProcessId());
    config_file_ = tarnwick::e2e::ConfigFileBelow(root_);
    RemoveFiles();
    ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr));
  }
  void TearDown() override { RemoveFiles(); }

  // The staging runs on the real file system below root_; the elevation's
  // shell and process are scripted.
  TunnelChannelCalls Calls() {
    TunnelChannelCalls c;
    c.SHGetKnownFolderPath = [this](REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) -> HRESULT {
      ++staging_attempts_;
      *path = nullptr;
      if (!program_data_set_) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      return tarnwick::e2e::AnswerKnownFolder(root_, path);
    };
    // The worker's calls, noted with the thread they came on.
    c.CoInitializeEx = [this](LPVOID, DWORD flags) {
      worker_calls_.push_back({"CoInitializeEx " + std::to_string(flags), nullptr});
      return S_OK;
    };
    c.CoUninitialize = [this] { worker_calls_.push_back({"CoUninitialize", nullptr}); };
    c.ShellExecuteExW = [this](SHELLEXECUTEINFOW* info) {
      worker_calls_.push_back({"ShellExecuteExW", info->hwnd});
      const std::wstring parameters = info->lpParameters ? info->lpParameters : L"<null>";
      elevations_.push_back(parameters);
      // The prompt stays up while the test holds it.
      if (prompt_gate_.valid()) {
        if (prompt_up_ != nullptr) std::exchange(prompt_up_, nullptr)->set_value();
        prompt_gate_.wait();
      }
      Elevation elevation = elevation_;
      if (!elevation_script_.empty()) {
        elevation = elevation_script_.front();
        elevation_script_.pop_front();
      }
      if (elevation == Elevation::kDeclined) {
        ::SetLastError(ERROR_CANCELLED);
        return FALSE;
      }
      // What the copy will install, once approved.
      staged_at_start_.push_back(ReadAll(config_file_));
      // A real handle, closed with the real call; signalled, as a process
      // that has ended. A copy without a switch is the interactive
      // application, which brings the window forward and ends with 0.
      info->hProcess = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
      EXPECT_NE(info->hProcess, nullptr);
      exit_codes_[info->hProcess] = elevation == Elevation::kExits0 || parameters.empty() ? 0 : 1;
      return TRUE;
    };
    c.GetExitCodeProcess = [this](HANDLE process, LPDWORD code) {
      *code = exit_codes_.at(process);
      return TRUE;
    };
    // The tunnel's adapter, when the test gives it one.
    c.ConvertInterfaceAliasToLuid = [this](const WCHAR* alias, NET_LUID* luid) -> NETIO_STATUS {
      EXPECT_EQ(alias, tarnwick::TunnelAdapterAlias());
      if (!adapter_octets_) return ERROR_NOT_FOUND;
      luid->Value = 7;
      return NO_ERROR;
    };
    c.GetIfEntry2 = [this](MIB_IF_ROW2* row) -> NETIO_STATUS {
      EXPECT_EQ(row->InterfaceLuid.Value, 7u);
      row->InOctets = adapter_octets_->first;
      row->OutOctets = adapter_octets_->second;
      row->OperStatus = IfOperStatusUp;
      return NO_ERROR;
    };
    return c;
  }

  // The tunnel service as the manager reports it.
  ServiceCalls ServiceFakes() {
    ServiceCalls c;
    // Real manager handles, because the operations close them for real.
    c.OpenSCManagerW = [](LPCWSTR, LPCWSTR, DWORD) {
      return ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    };
    c.OpenServiceW = [](SC_HANDLE, LPCWSTR, DWORD) {
      return ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    };
    c.QueryServiceStatusEx = [this](SC_HANDLE, SC_STATUS_TYPE, LPBYTE buffer, DWORD size, LPDWORD) {
      ++status_queries_;
      SERVICE_STATUS_PROCESS status{};
      status.dwCurrentState = running_ ? SERVICE_RUNNING : SERVICE_STOPPED;
      if (size < sizeof(status)) return FALSE;
      std::memcpy(buffer, &status, sizeof(status));
      return TRUE;
    };
    return c;
  }

  // Decodes the message as the channel does, runs the handler and returns its
  // one reply; fails the test on no reply, two replies, a kept result or an
  // answer from elsewhere than expected.
  ByteVector Handle(const ByteVector& message, Answered answered = Answered::kAtOnce) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    std::unique_ptr<flutter::MethodCall> call =
        codec.DecodeMethodCall(message.data(), message.size());
    EXPECT_NE(call, nullptr);
    if (!call) return {0xEE};

    // Written by whichever thread answers, read once the result is gone.
    std::vector<ByteVector> replies;
    std::thread::id answered_on;
    std::promise<void> released;
    std::future<void> released_future = released.get_future();
    auto result = std::make_unique<WatchedResult>(
        [&](const uint8_t* data, size_t size) {
          answered_on = std::this_thread::get_id();
          replies.emplace_back(data, data + size);
        },
        &released);
    tarnwick::ElevationWorker worker(nullptr, Calls());
    tarnwick::HandleTunnelMethodCall(*call, std::move(result), worker, Calls(), ServiceFakes());

    if (answered == Answered::kAtOnce) {
      EXPECT_EQ(released_future.wait_for(std::chrono::seconds(0)), std::future_status::ready)
          << "answered and released before the handler returns";
    }
    // Bounded only so that a lost answer fails instead of hanging.
    EXPECT_EQ(released_future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(replies.size(), 1u) << "exactly one answer";
    EXPECT_EQ(answered_on == std::this_thread::get_id(), answered == Answered::kAtOnce);
    return replies.empty() ? ByteVector{0xEE} : replies.front();
  }

  // Hands the message to the handler, with a result that keeps its one
  // reply in *reply and tells when it is released.
  void Dispatch(tarnwick::ElevationWorker& worker, const ByteVector& message, ByteVector* reply,
                std::promise<void>* released) {
    const auto& codec = flutter::StandardMethodCodec::GetInstance();
    tarnwick::HandleTunnelMethodCall(
        *codec.DecodeMethodCall(message.data(), message.size()),
        std::make_unique<WatchedResult>(
            [reply](const uint8_t* data, size_t size) { reply->assign(data, data + size); },
            released),
        worker, Calls(), ServiceFakes());
  }

  void RemoveFiles() {
    ::DeleteFileW(config_file_.c_str());
    ::RemoveDirectoryW(tarnwick::e2e::ConfigFolderBelow(root_).c_str());
    ::RemoveDirectoryW(root_.c_str());
  }

  std::wstring root_;
  std::wstring config_file_;
  bool program_data_set_ = true;
  Elevation elevation_ = Elevation::kExits0;
  bool running_ = false;

  // Per elevation, in order, before elevation_ applies again.
  std::deque<Elevation> elevation_script_;
  std::shared_future<void> prompt_gate_;
  std::promise<void>* prompt_up_ = nullptr;

  int staging_attempts_ = 0;
  std::vector<std::wstring> elevations_;
  std::vector<std::string> staged_at_start_;  // the file as each approved copy found it
  std::map<HANDLE, DWORD> exit_codes_;
  struct WorkerCall {
    std::string what;
    HWND owner;
    std::thread::id thread = std::this_thread::get_id();
  };
  std::vector<WorkerCall> worker_calls_;
  int status_queries_ = 0;
  std::optional<std::pair<ULONG64, ULONG64>> adapter_octets_;  // in, out
};

const std::string kConfig = "[Interface]\nPrivateKey = k\xc3\xa9y\n";

TEST_F(TunnelMethodHandlerTest, StartTunnelArgumentsThatAreRefused) {
  const ByteVector required = ErrorOf("INVALID_ARGS", "Config is required");
  const ByteVector not_a_string = ErrorOf("INVALID_ARGS", "Config must be a string");
  struct Row {
    const char* what;
    ByteVector arguments;
    ByteVector reply;
  } rows[] = {
      {"no arguments", {}, required},
      {"null arguments", kNull, required},
      {"a list", List({Str("config"), Str(kConfig)}), required},
      {"a string", Str(kConfig), required},
      {"an empty map", Map({}), required},
      {"key differing in case", Map({Str("Config"), Str(kConfig)}), required},
      {"key with a trailing blank", Map({Str("config "), Str(kConfig)}), required},
      {"key as a byte list", Map({tarnwick::Bytes("08 06", "config"), Str(kConfig)}), required},
      {"null config", Map({Str("config"), kNull}), not_a_string},
      {"numeric config", Map({Str("config"), Int32(7)}), not_a_string},
      {"list config", Map({Str("config"), List({Str(kConfig)})}), not_a_string},
      {"bool config", Map({Str("config"), kTrue}), not_a_string},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    staging_attempts_ = 0;
    elevations_.clear();
    EXPECT_EQ(Hex(Handle(MethodCall("startTunnel", row.arguments))), Hex(row.reply));
    EXPECT_EQ(staging_attempts_, 0) << "nothing is written";
    EXPECT_FALSE(FileExists(config_file_));
    EXPECT_TRUE(elevations_.empty());
  }
}

TEST_F(TunnelMethodHandlerTest, StartTunnelWritesThenInstallsElevated) {
  struct Row {
    const char* what;
    std::string config;
    bool program_data_set;
    Elevation elevation;
    ByteVector reply;
    bool written;
  } rows[] = {
      {"installed", kConfig, true, Elevation::kExits0, SuccessWith(kTrue), true},
      {"empty configuration", "", true, Elevation::kExits0, SuccessWith(kTrue), true},
      {"prompt declined", kConfig, true, Elevation::kDeclined,
       ErrorOf("CANCELLED", "Connection cancelled"), true},
      {"install failed", kConfig, true, Elevation::kExits1,
       ErrorOf("TUNNEL_ERROR", "Could not start the VPN service"), true},
      {"file not written", kConfig, false, Elevation::kExits0,
       ErrorOf("CONFIG_WRITE", "Failed to write config file"), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ::DeleteFileW(config_file_.c_str());
    staging_attempts_ = 0;
    elevations_.clear();
    program_data_set_ = row.program_data_set;
    elevation_ = row.elevation;
    // Entries other than "config" are ignored.
    const ByteVector arguments = Map({Str("config"), Str(row.config), Str("name"), Str("office")});

    // Staged on the worker: even a file that cannot be written is
    // answered from there.
    EXPECT_EQ(Hex(Handle(MethodCall("startTunnel", arguments), Answered::kFromTheWorker)),
              Hex(row.reply));
    EXPECT_EQ(staging_attempts_, 1);
    if (row.written) {
      EXPECT_EQ(ReadAll(config_file_), row.config);
      EXPECT_EQ(elevations_, std::vector<std::wstring>{L"/svc-install \"" + config_file_ + L"\""});
    } else {
      EXPECT_FALSE(FileExists(config_file_));
      EXPECT_TRUE(elevations_.empty()) << "no prompt without a configuration";
    }
    EXPECT_EQ(status_queries_, 0);
  }
}

TEST_F(TunnelMethodHandlerTest, StopTunnelIgnoresArgumentsAndRemovesElevated) {
  const ByteVector argument_shapes[] = {
      {}, kNull, Str("x"), Int32(1), List({}), Map({Str("config"), Str(kConfig)}),
  };
  struct Outcome {
    Elevation elevation;
    ByteVector reply;
  } outcomes[] = {
      {Elevation::kExits0, SuccessWith(kTrue)},
      {Elevation::kDeclined, ErrorOf("CANCELLED", "Disconnect cancelled")},
      {Elevation::kExits1, ErrorOf("TUNNEL_ERROR", "Could not stop the VPN service")},
  };
  for (const Outcome& outcome : outcomes) {
    for (const ByteVector& arguments : argument_shapes) {
      SCOPED_TRACE(::testing::Message() << "outcome " << static_cast<int>(outcome.elevation)
                                        << ", arguments of " << arguments.size() << " bytes");
      staging_attempts_ = 0;
      elevations_.clear();
      elevation_ = outcome.elevation;
      EXPECT_EQ(Hex(Handle(MethodCall("stopTunnel", arguments), Answered::kFromTheWorker)),
                Hex(outcome.reply));
      EXPECT_EQ(elevations_, std::vector<std::wstring>{L"/svc-remove"});
      EXPECT_EQ(staging_attempts_, 0) << "the configuration is left alone";
    }
  }
}

// Two quick connects with the same configuration and a disconnect: one
// prompt for the connects, whose outcome answers both, then one for the
// disconnect, owned by the window, on one thread of the worker's with its
// apartment.
TEST_F(TunnelMethodHandlerTest, ChangesRunInArrivalOrderOnTheWorker) {
  const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10AB0));
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  const ByteVector start = MethodCall("startTunnel", Map({Str("config"), Str(kConfig)}));
  const ByteVector messages[] = {start, start, MethodCall("stopTunnel", kNull)};
  std::promise<void> released[3];
  std::vector<ByteVector> replies;  // the worker's until the results are gone
  {
    tarnwick::ElevationWorker worker(owner, Calls());
    for (int i = 0; i < 3; ++i) {
      auto result = std::make_unique<WatchedResult>(
          [&replies](const uint8_t* data, size_t size) { replies.emplace_back(data, data + size); },
          &released[i]);
      tarnwick::HandleTunnelMethodCall(
          *codec.DecodeMethodCall(messages[i].data(), messages[i].size()), std::move(result),
          worker, Calls(), ServiceFakes());
    }
    for (std::promise<void>& one : released) {
      ASSERT_EQ(one.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    }
  }
  const std::wstring install = L"/svc-install \"" + config_file_ + L"\"";
  EXPECT_EQ(elevations_, (std::vector<std::wstring>{install, L"/svc-remove"}));
  EXPECT_EQ(replies, std::vector<ByteVector>(3, SuccessWith(kTrue)));
  // Apartment-threaded (2) without OLE1 DDE (4).
  const std::vector<std::string> expected = {"CoInitializeEx 6", "ShellExecuteExW",
                                             "ShellExecuteExW", "CoUninitialize"};
  ASSERT_EQ(worker_calls_.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(worker_calls_[i].what, expected[i]);
    EXPECT_EQ(worker_calls_[i].owner, worker_calls_[i].what == "ShellExecuteExW" ? owner : nullptr);
    EXPECT_EQ(worker_calls_[i].thread, worker_calls_[0].thread);
  }
  EXPECT_NE(worker_calls_[0].thread, std::this_thread::get_id());
}

// Connect A, and connect B while A's prompt is up; A is approved, B
// declined. A's copy finds A's text, and each is answered for itself.
TEST_F(TunnelMethodHandlerTest, EachConnectInstallsTheTextItCarried) {
  std::promise<void> prompt_up, release;
  prompt_up_ = &prompt_up;
  prompt_gate_ = release.get_future().share();
  elevation_script_ = {Elevation::kExits0, Elevation::kDeclined};
  ByteVector replies[2];
  std::promise<void> released[2];
  {
    tarnwick::ElevationWorker worker(nullptr, Calls());
    Dispatch(worker, MethodCall("startTunnel", Map({Str("config"), Str("A")})), &replies[0],
             &released[0]);
    ASSERT_EQ(prompt_up.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    Dispatch(worker, MethodCall("startTunnel", Map({Str("config"), Str("B")})), &replies[1],
             &released[1]);
    release.set_value();
    for (std::promise<void>& one : released) {
      ASSERT_EQ(one.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    }
  }
  EXPECT_EQ(staged_at_start_, std::vector<std::string>{"A"});
  EXPECT_EQ(Hex(replies[0]), Hex(SuccessWith(kTrue)));
  EXPECT_EQ(Hex(replies[1]), Hex(ErrorOf("CANCELLED", "Connection cancelled")));
}

// The same failing connect asked for as fast as the UI can: shared, queued
// or refused, never an elevated copy without its switch, never true.
TEST_F(TunnelMethodHandlerTest, AFloodOfAFailingConnectIsNeverAnsweredTrue) {
  elevation_ = Elevation::kExits1;
  const ByteVector start = MethodCall("startTunnel", Map({Str("config"), Str(kConfig)}));
  std::mutex mutex;
  std::map<std::string, int> answers;  // reply in hex: count
  {
    tarnwick::ElevationWorker worker(nullptr, Calls());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      const auto& codec = flutter::StandardMethodCodec::GetInstance();
      tarnwick::HandleTunnelMethodCall(*codec.DecodeMethodCall(start.data(), start.size()),
                                       std::make_unique<flutter::EngineMethodResult>(
                                           [&](const uint8_t* data, size_t size) {
                                             std::lock_guard<std::mutex> lock(mutex);
                                             ++answers[Hex(ByteVector(data, data + size))];
                                           },
                                           &codec),
                                       worker, Calls(), ServiceFakes());
    }
  }
  const std::string failed = Hex(ErrorOf("TUNNEL_ERROR", "Could not start the VPN service"));
  EXPECT_GT(answers[failed], 0);
  answers.erase(failed);
  EXPECT_TRUE(answers.empty()) << "answered otherwise: " << testing::PrintToString(answers);
  EXPECT_FALSE(elevations_.empty());
  for (const std::wstring& parameters : elevations_) {
    EXPECT_EQ(parameters, L"/svc-install \"" + config_file_ + L"\"");
  }
}

TEST_F(TunnelMethodHandlerTest, StatusAndStatsNeverFail) {
  for (bool running : {false, true}) {
    SCOPED_TRACE(running);
    running_ = running;
    status_queries_ = 0;
    EXPECT_EQ(Hex(Handle(MethodCall("getStatus", kNull))),
              Hex(SuccessWith(running ? kTrue : kFalse)));
    EXPECT_EQ(Hex(Handle(MethodCall("getStatus", Map({Str("a"), kTrue})))),
              Hex(SuccessWith(running ? kTrue : kFalse)));
    EXPECT_EQ(status_queries_, 2);

    // Keys in map order, "rx_bytes" first; 64-bit -1 while there is no
    // adapter, its octets when there is, however small.
    adapter_octets_.reset();
    const ByteVector unknown =
        SuccessWith(Map({Str("rx_bytes"), kInt64MinusOne, Str("tx_bytes"), kInt64MinusOne}));
    EXPECT_EQ(Hex(Handle(MethodCall("getStats", kNull))), Hex(unknown));
    adapter_octets_ = {{0x0102, 5}};
    EXPECT_EQ(
        Hex(Handle(MethodCall("getStats", Str("x")))),
        Hex(SuccessWith(Map({Str("rx_bytes"), tarnwick::Bytes("04 02 01 00 00 00 00 00 00"),
                             Str("tx_bytes"), tarnwick::Bytes("04 05 00 00 00 00 00 00 00")}))));
    EXPECT_EQ(status_queries_, 2) << "stats query nothing";
    EXPECT_TRUE(elevations_.empty());
    EXPECT_EQ(staging_attempts_, 0);
  }
}

TEST_F(TunnelMethodHandlerTest, OtherNamesAreNotImplemented) {
  const char* names[] = {"getstatus",    "GetStatus", "getStatus ", " getStatus",
                         "startTunnel2", "stop",      "",           "connect"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Hex(Handle(MethodCall(name, Map({Str("config"), Str(kConfig)})))),
              Hex(kNotImplemented));
  }
  // A name with a NUL after a known one is a different name.
  const ByteVector with_nul =
      Cat({tarnwick::Bytes("07 0A", std::string("getStats\0x", 10)), kNull});
  EXPECT_EQ(Hex(Handle(with_nul)), Hex(kNotImplemented));

  EXPECT_EQ(staging_attempts_, 0);
  EXPECT_TRUE(elevations_.empty());
  EXPECT_EQ(status_queries_, 0);
}

}  // namespace
