#include "standins/embedding/script.h"

#include <gtest/gtest.h>

#include "standins/embedding/hex.h"

namespace tarnwick::standin {
namespace {

std::vector<Step> Parse(const std::string& script) {
  std::vector<Step> steps;
  std::string error;
  EXPECT_TRUE(ParseScript(script, &steps, &error)) << error;
  return steps;
}

TEST(ScriptTest, ParsesEveryStepSkippingCommentsAndBlankLines) {
  const std::vector<Step> steps = Parse(
      "# a comment\r\n"
      "\n"
      "  call com.tarnwick.vpn/tunnel startTunnel {\"config\": \"a b\"}\r\n"
      "send ch 07 01 61\n"
      "send ch -\n"
      "expect any\n"
      "expect empty\n"
      "expect hex 00 01\n"
      "expect success\n"
      "expect error \"CANCELLED\" \"Connection cancelled\"\n"
      "wait frame\n"
      "wait visible\n"
      "sleep 5\n"
      "timeout 0x10\n"
      "post WM_APP+7 1 -2\n"
      "sendmsg 0x10 0 0 -1\n"
      "claim WM_FONTCHANGE 0\n"
      "unclaim WM_FONTCHANGE\n"
      "geometry 10 * 1280 720\n"
      "client-size * 700\n"
      "view-fills-client\n"
      "note hello  world\n"
      "close\n"
      "wait file  cues\\go now.txt \n");
  ASSERT_EQ(steps.size(), 22u);
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_EQ(steps[0].kind, StepKind::kSend);
  EXPECT_EQ(steps[0].channel, "com.tarnwick.vpn/tunnel");
  EXPECT_EQ(ToHex(steps[0].bytes),
            "070b"
            "737461727454756e6e656c"
            "0d01"
            "0706"
            "636f6e666967"
            "0703"
            "612062");
  EXPECT_EQ(ToHex(steps[1].bytes), "070161");
  EXPECT_TRUE(steps[2].bytes.empty());
  EXPECT_EQ(steps[3].kind, StepKind::kExpectAny);
  EXPECT_EQ(steps[4].kind, StepKind::kExpectBytes);
  EXPECT_TRUE(steps[4].bytes.empty());
  EXPECT_EQ(ToHex(steps[5].bytes), "0001");
  EXPECT_EQ(ToHex(steps[6].bytes), "0000");
  EXPECT_EQ(ToHex(steps[7].bytes).substr(0, 24), "01070943414e43454c4c4544");
  EXPECT_EQ(steps[11].number, 16);
  EXPECT_EQ(steps[12].message, 0x8007u);
  EXPECT_EQ(steps[12].wparam, 1);
  EXPECT_EQ(steps[12].lparam, -2);
  EXPECT_EQ(steps[13].message, 0x10u);
  EXPECT_EQ(steps[13].result, -1);
  EXPECT_EQ(steps[14].message, 0x1du);
  EXPECT_EQ(steps[14].result, 0);
  EXPECT_EQ(steps[16].box[0], 10);
  EXPECT_FALSE(steps[16].box[1].has_value());
  EXPECT_EQ(steps[16].box[3], 720);
  EXPECT_FALSE(steps[17].box[2].has_value());
  EXPECT_EQ(steps[17].box[3], 700);
  EXPECT_EQ(steps[19].text, "hello  world");
  EXPECT_EQ(steps[20].kind, StepKind::kClose);
  EXPECT_EQ(steps[20].source, "close");
  EXPECT_EQ(steps[21].kind, StepKind::kWaitFile);
  EXPECT_EQ(steps[21].text, "cues\\go now.txt") << "the rest of the line, trimmed";
}

TEST(ScriptTest, BadLinesNameTheLineAndTheReason) {
  const struct {
    const char* script;
    const char* error;
  } cases[] = {
      {"wait frame\nfly away\n", "line 2: unknown step 'fly'"},
      {"call\n", "line 1: missing channel name"},
      {"call ch\n", "line 1: missing method name"},
      {"call ch m 1 2\n", "line 1: more than one arguments value"},
      {"call ch m {\n", "line 1: expected a value"},
      {"send ch\n", "line 1: missing bytes"},
      {"send ch 0g\n", "line 1: bad hex bytes"},
      {"expect maybe\n", "line 1: expect takes"},
      {"expect error 5\n", "line 1: the error code must be a string"},
      {"expect error \"E\" 5\n", "line 1: the error message must be a string"},
      {"wait forever\n", "line 1: wait takes"},
      {"wait file \n", "line 1: missing file path"},
      {"sleep -1\n", "line 1: expected milliseconds"},
      {"post WM_NOPE\n", "line 1: bad window message"},
      {"sendmsg WM_APP 0\n", "line 1: sendmsg needs wparam and lparam"},
      {"claim WM_APP\n", "line 1: claim needs a result"},
      {"geometry 1 2 3\n", "line 1: expected a number or *"},
      {"close now\n", "line 1: unexpected 'now'"},
      {"select\n", "line 1: expected a line number"},
      {"call ch m\nselect 1 2\n", "line 2: unexpected '2'"},
      {"select 1\n", "line 1: line 1 is no earlier call or send step"},
      {"wait frame\nselect 1\n", "line 2: line 1 is no earlier call or send step"},
      {"select 2\ncall ch m\n", "line 1: line 2 is no earlier call or send step"},
  };
  for (const auto& c : cases) {
    std::vector<Step> steps;
    std::string error;
    EXPECT_FALSE(ParseScript(c.script, &steps, &error)) << c.script;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.script << " gave: " << error;
  }
}

TEST(ScriptTest, SelectNamesTheLineOfAnEarlierSend) {
  const std::vector<Step> steps = Parse(
      "# the first send is on line 2\n"
      "call ch startTunnel\n"
      "send ch 00\n"
      "select 2\n"
      "expect any\n"
      "select 3\n");
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[2].kind, StepKind::kSelect);
  EXPECT_EQ(steps[2].number, 2);
  EXPECT_EQ(steps[4].kind, StepKind::kSelect);
  EXPECT_EQ(steps[4].number, 3);
}

TEST(ScriptTest, NumbersAndWindowMessages) {
  int64_t n = 0;
  EXPECT_TRUE(ParseNumber("-42", &n));
  EXPECT_EQ(n, -42);
  EXPECT_TRUE(ParseNumber("0xFFFFFFFF", &n));
  EXPECT_EQ(n, 0xffffffffLL);
  for (const char* bad : {"", "x", "1a", "0x", "0x-1", "+1", "99999999999999999999"}) {
    EXPECT_FALSE(ParseNumber(bad, &n)) << bad;
  }
  uint32_t message = 0;
  EXPECT_TRUE(ParseWindowMessage("WM_USER+0x10", &message));
  EXPECT_EQ(message, 0x410u);
  EXPECT_TRUE(ParseWindowMessage("WM_DWMCOLORIZATIONCOLORCHANGED", &message));
  EXPECT_EQ(message, 0x320u);
  for (const char* bad : {"WM_APP+", "WM_APP+-1", "wm_close", "0x100000000", "-1"}) {
    EXPECT_FALSE(ParseWindowMessage(bad, &message)) << bad;
  }
}

}  // namespace
}  // namespace tarnwick::standin
