#include "embedding/flutter_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "tests/embedding/standin_session.h"
#include "tests/support/bytes.h"
#include "tests/support/message_pump.h"

namespace flutter {
namespace {

using tarnwick::Bytes;
using tarnwick::PumpMessagesUntil;
using tarnwick::StandinSession;

template <typename T>
T Field(const std::vector<uint8_t>& record, size_t offset) {
  T value;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

// Leaves non-zero bytes on the stack below the caller, where the next
// call's locals go: a record the next call leaves partly unset then shows
// it, instead of reading zeros by chance. Called through a volatile pointer,
// so it is never inlined.
void FillStack() {
  volatile unsigned char bytes[16 * 1024];
  for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = 0xA5;
}
void (*volatile fill_stack)() = &FillStack;

// "CALL FlutterDesktopEngineCreate -> E3 messenger=M3" gives "E3".
std::string EngineName(const std::string& create_line) {
  const size_t arrow = create_line.find("-> ");
  return create_line.substr(arrow + 3, create_line.find(' ', arrow + 3) - arrow - 3);
}

TEST(FlutterEngineTest, PropertiesRecordCarriesTheProject) {
  StandinSession session;
  EngineProject with_arguments(L"data");
  with_arguments.set_entrypoint_arguments(
      {session.TranscriptArgument(), "two words", "caf\xc3\xa9", ""});
  fill_stack();
  { FlutterEngine engine(with_arguments); }
  // Without arguments this engine names no transcript; the library keeps
  // writing to the one the first engine opened.
  EngineProject bare(L"data");
  bare.engine_option_a = 7;
  bare.engine_option_b = -3;
  fill_stack();
  { FlutterEngine engine(bare); }

  auto creates = session.LinesStartingWith("CALL FlutterDesktopEngineCreate ");
  auto props = session.LinesStartingWith("PROPS ");
  ASSERT_EQ(creates.size(), 2u);
  ASSERT_EQ(props.size(), 2u);
  const std::string a = EngineName(creates[0]);
  const std::string b = EngineName(creates[1]);

  const std::string hex_field = " hex=";
  std::vector<std::vector<uint8_t>> records;
  for (const std::string& line : props) {
    records.push_back(Bytes(line.substr(line.find(hex_field) + hex_field.size())));
    ASSERT_EQ(records.back().size(), 56u) << line;
  }
  // Pointers into the process only mean something as null or not null. The
  // padding after the argument count is zero: the library may read the
  // record as bytes, and "= {}" zeroes only the members.
  for (const auto& record : records) {
    for (size_t offset : {0, 8, 16, 24}) EXPECT_NE(Field<uint64_t>(record, offset), 0u) << offset;
    EXPECT_EQ(Field<uint32_t>(record, 36), 0u) << "padding after entrypoint_argc";
  }
  EXPECT_EQ(Field<int32_t>(records[0], 32), 4);
  EXPECT_NE(Field<uint64_t>(records[0], 40), 0u);
  EXPECT_EQ(Field<int32_t>(records[0], 48), 0);
  EXPECT_EQ(Field<int32_t>(records[0], 52), 0);
  EXPECT_EQ(Field<int32_t>(records[1], 32), 0);
  EXPECT_EQ(Field<uint64_t>(records[1], 40), 0u) << "no arguments must be a null array";
  EXPECT_EQ(Field<int32_t>(records[1], 48), 7);
  EXPECT_EQ(Field<int32_t>(records[1], 52), -3);

  // What the pointers pointed at, as the library read it during the call.
  for (const std::string& e : {a, b}) {
    EXPECT_TRUE(session.HasLine("PATHS " + e +
                                " assets=\"data\\\\flutter_assets\" icu=\"data\\\\icudtl.dat\""
                                " aot=\"data\\\\app.so\" entrypoint=\"\""))
        << e;
  }
  EXPECT_TRUE(session.HasLine("ARGS " + a + " argc=4 argv=set option_a=0 option_b=0"));
  EXPECT_TRUE(session.HasLine("ARGS " + b + " argc=0 argv=null option_a=7 option_b=-3"));
  EXPECT_TRUE(session.HasLine("ARG " + a + " 1 \"two words\""));
  EXPECT_TRUE(session.HasLine("ARG " + a + " 2 \"caf\\xc3\\xa9\""));
  EXPECT_TRUE(session.HasLine("ARG " + a + " 3 \"\""));
  EXPECT_TRUE(session.LinesStartingWith("ARG " + b + " ").empty());

  // Both wrappers still owned their engines.
  EXPECT_TRUE(session.HasLine("CALL FlutterDesktopEngineDestroy engine=" + a + " -> true"));
  EXPECT_TRUE(session.HasLine("CALL FlutterDesktopEngineDestroy engine=" + b + " -> true"));
  EXPECT_TRUE(session.LinesStartingWith("FAIL").empty()) << session.LinesStartingWith("FAIL")[0];
}

TEST(FlutterEngineTest, RelinquishedEngineIsNotDestroyedAndStillServes) {
  StandinSession session;
  EngineProject project(L"data");
  project.set_entrypoint_arguments({session.TranscriptArgument()});
  FlutterDesktopPluginRegistrarRef before = nullptr;
  FlutterDesktopPluginRegistrarRef after = nullptr;
  FlutterDesktopPluginRegistrarRef other = nullptr;
  {
    FlutterEngine engine(project);
    before = engine.GetRegistrarForPlugin("AlphaPlugin");
    EXPECT_NE(engine.RelinquishEngine(), nullptr);
    after = engine.GetRegistrarForPlugin("AlphaPlugin");
    other = engine.GetRegistrarForPlugin("BetaPlugin");
    engine.ReloadSystemFonts();
  }
  EXPECT_NE(before, nullptr);
  EXPECT_EQ(after, before);
  EXPECT_NE(other, nullptr);
  EXPECT_NE(other, before);

  const std::string e =
      EngineName(session.LinesStartingWith("CALL FlutterDesktopEngineCreate ")[0]);
  EXPECT_EQ(session
                .LinesStartingWith("CALL FlutterDesktopEngineGetPluginRegistrar engine=" + e +
                                   " name=\"AlphaPlugin\"")
                .size(),
            2u);
  EXPECT_TRUE(session.HasLine("CALL FlutterDesktopEngineReloadSystemFonts engine=" + e));
  EXPECT_TRUE(session.LinesStartingWith("CALL FlutterDesktopEngineDestroy").empty());
}

class FlutterEngineFrameTest : public testing::Test {
 protected:
  void SetUp() override {
    EngineProject project(L"data");
    project.set_entrypoint_arguments(
        {session_.TranscriptArgument(), session_.ScriptArgument("note frames\n")});
    controller_ = std::make_unique<FlutterViewController>(64, 48, project);
    ASSERT_NE(controller_->view(), nullptr) << session_.Text();
  }

  // Waits for the controller's frame number n.
  bool WaitForFrame(int n) {
    const std::string frame = "FRAME ";
    const std::string suffix = " " + std::to_string(n);
    return PumpMessagesUntil(
        [&] {
          for (const std::string& line : session_.LinesStartingWith(frame)) {
            if (line.size() > suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
              return true;
            }
          }
          return false;
        },
        5000);
  }

  StandinSession session_;
  std::unique_ptr<FlutterViewController> controller_;
};

TEST_F(FlutterEngineFrameTest, CallableRunsOnceAndAReplacedOneNever) {
  int first_runs = 0;
  int second_runs = 0;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> first_alive = token;
  controller_->engine()->SetNextFrameCallback([&first_runs, token] { ++first_runs; });
  token.reset();
  controller_->engine()->SetNextFrameCallback([&second_runs] { ++second_runs; });
  EXPECT_TRUE(first_alive.expired()) << "a replaced callable must be destroyed at once";

  ASSERT_TRUE(PumpMessagesUntil([&] { return second_runs > 0; }, 5000));
  controller_->ForceRedraw();
  ASSERT_TRUE(WaitForFrame(2));
  PumpMessagesUntil([] { return false; }, 50);

  EXPECT_EQ(first_runs, 0);
  EXPECT_EQ(second_runs, 1);
  EXPECT_EQ(session_.LinesStartingWith("CALLBACK next-frame ").size(), 1u);
}

TEST_F(FlutterEngineFrameTest, CallableMayArmTheNextOne) {
  int runs = 0;
  std::function<void()> again = [&] {
    // Re-arming from inside: the running callable must survive, and the new
    // one must not be wiped out when this one returns.
    if (++runs < 2) controller_->engine()->SetNextFrameCallback(again);
    controller_->ForceRedraw();
  };
  controller_->engine()->SetNextFrameCallback(again);
  ASSERT_TRUE(PumpMessagesUntil([&] { return runs == 2; }, 5000));
  ASSERT_TRUE(WaitForFrame(3));
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace flutter
