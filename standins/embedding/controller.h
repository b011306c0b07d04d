// A running stand-in engine with its view: the view's child window, frames,
// message delivery on the UI thread, and the UI program (script or panel)
// that talks to the host through it.
#pragma once

#include <windows.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "standins/embedding/engine.h"

namespace tarnwick::standin {

// What runs in place of the UI program. All calls come on the UI thread.
class UiProgram {
 public:
  virtual ~UiProgram() = default;
  virtual void OnTimer() {}
  virtual void OnReply(ResponseRecord* /*record*/) {}
  virtual void OnCommand(WPARAM /*wparam*/, LPARAM /*lparam*/) {}
  virtual void OnSize(int /*width*/, int /*height*/) {}
  // The engine is ending; nothing of the host may be called any more.
  virtual void OnEngineEnd() {}
};

class Controller {
 public:
  // The timer a program may run on the view window.
  static constexpr UINT_PTR kProgramTimer = 2;

  Controller(int id, Engine* engine) : id_(id), engine_(engine) {}
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Makes the view window of the given size and schedules the first frame.
  [[nodiscard]] bool Start(int width, int height);
  void SetProgram(std::unique_ptr<UiProgram> program);
  // Ends the engine (no host callback runs afterwards) and the windows, and
  // writes the summary and result lines.
  void End();

  int id() const { return id_; }
  Engine* engine() const { return engine_; }
  View* view() const { return view_; }
  void set_view(View* view) { view_ = view; }
  bool ended() const { return ended_; }
  HWND window() const { return window_; }
  // The top-level window holding the view, or null while the view still
  // sits in its holder (the host has not adopted it).
  HWND TopLevel() const;
  int frames() const { return frames_; }

  // Queues a message from the UI for delivery on the UI thread.
  ResponseRecord* Deliver(const std::string& channel, std::vector<uint8_t> bytes);
  // The answer, if one came.
  bool ReadAnswer(const ResponseRecord* record, std::vector<uint8_t>* reply) const;

  void RequestFrame();

  // A reply the UI owes the host for FlutterDesktopMessengerSendWithReply:
  // an empty one, on the UI thread, or when the engine ends at the latest.
  [[nodiscard]] bool QueueHostReply(FlutterDesktopBinaryReply reply, void* user_data, int id);
  // Tells the UI program, on the UI thread, that `record` was answered.
  static void PostAnswer(const ResponseRecord* record);

  // Top-level messages the embedding claims, and those worth recording.
  void Claim(UINT message, LRESULT result);
  void Unclaim(UINT message);
  void Watch(UINT message) { watched_.insert(message); }
  bool ClaimFor(UINT message, LRESULT* result) const;
  bool Watched(UINT message) const { return watched_.count(message) != 0; }

 private:
  static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam) noexcept;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Frame();
  void DeliverNext();
  void Paint();
  void RunHostReplies();

  struct HostReply {
    FlutterDesktopBinaryReply reply;
    void* user_data;
    int id;
  };

  const int id_;
  Engine* const engine_;
  View* view_ = nullptr;
  HWND holder_ = nullptr;
  HWND window_ = nullptr;
  bool ended_ = false;
  int frames_ = 0;
  std::unique_ptr<UiProgram> program_;
  std::deque<ResponseRecord*> queue_;
  std::vector<ResponseRecord*> records_;
  std::map<UINT, LRESULT> claims_;
  std::set<UINT> watched_;
  std::vector<HostReply> host_replies_;  // guarded by World::mutex
};

}  // namespace tarnwick::standin
