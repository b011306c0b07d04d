#include "standins/embedding/controller.h"

#include <cstring>
#include <exception>

#include "standins/embedding/hex.h"
#include "standins/embedding/transcript.h"
#include "standins/embedding/ui_value.h"

namespace tarnwick::standin {
namespace {

constexpr wchar_t kViewClass[] = L"TarnwickStandinView";
constexpr wchar_t kHolderClass[] = L"TarnwickStandinHolder";

// Private messages of the view window.
constexpr UINT kDeliverMessage = WM_APP + 1;
constexpr UINT kFrameMessage = WM_APP + 2;
constexpr UINT kReplyMessage = WM_APP + 3;
constexpr UINT kHostReplyMessage = WM_APP + 4;

constexpr UINT_PTR kFirstFrameTimer = 1;
// Long enough for the host to arm its next-frame callback first, as a real
// engine's first frame also takes a while.
constexpr UINT kFirstFrameDelayMs = 30;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

bool RegisterClasses(WNDPROC view_proc) {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW view{};
  view.cbSize = sizeof view;
  view.style = CS_HREDRAW | CS_VREDRAW;
  view.lpfnWndProc = view_proc;
  view.hInstance = ThisModule();
  view.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  view.lpszClassName = kViewClass;
  WNDCLASSEXW holder{};
  holder.cbSize = sizeof holder;
  holder.lpfnWndProc = DefWindowProcW;
  holder.hInstance = view.hInstance;
  holder.lpszClassName = kHolderClass;
  if (!RegisterClassExW(&view) || !RegisterClassExW(&holder)) return false;
  registered = true;
  return true;
}

std::string Handle(char kind, int id) { return std::string(1, kind) + std::to_string(id); }

}  // namespace

bool Controller::Start(int width, int height) {
  if (!RegisterClasses(&Controller::ViewProc)) return false;
  // The view needs a parent before the host adopts it; a hidden holder
  // keeps it until then.
  holder_ = CreateWindowExW(0, kHolderClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                            ThisModule(), nullptr);
  if (holder_ == nullptr) return false;
  window_ = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                            width, height, holder_, nullptr, ThisModule(), this);
  if (window_ == nullptr) {
    DestroyWindow(holder_);
    holder_ = nullptr;
    return false;
  }
  SetTimer(window_, kFirstFrameTimer, kFirstFrameDelayMs, nullptr);
  return true;
}

void Controller::SetProgram(std::unique_ptr<UiProgram> program) { program_ = std::move(program); }

HWND Controller::TopLevel() const {
  if (window_ == nullptr) return nullptr;
  HWND root = GetAncestor(window_, GA_ROOT);
  return root == holder_ ? nullptr : root;
}

ResponseRecord* Controller::Deliver(const std::string& channel, std::vector<uint8_t> bytes) {
  World& world = World::Get();
  ResponseRecord* record;
  {
    std::lock_guard<std::mutex> lock(world.mutex);
    record = world.NewResponse();
    record->channel = channel;
    record->request = std::move(bytes);
    record->controller = this;
    record->notify = window_;
  }
  records_.push_back(record);
  queue_.push_back(record);
  if (window_ != nullptr) PostMessageW(window_, kDeliverMessage, 0, 0);
  return record;
}

bool Controller::ReadAnswer(const ResponseRecord* record, std::vector<uint8_t>* reply) const {
  std::lock_guard<std::mutex> lock(World::Get().mutex);
  if (!record->answered) return false;
  *reply = record->reply;
  return true;
}

void Controller::RequestFrame() {
  if (window_ != nullptr && !ended_) PostMessageW(window_, kFrameMessage, 0, 0);
}

bool Controller::QueueHostReply(FlutterDesktopBinaryReply reply, void* user_data, int id) {
  {
    std::lock_guard<std::mutex> lock(World::Get().mutex);
    if (ended_ || window_ == nullptr) return false;
    host_replies_.push_back({reply, user_data, id});
  }
  PostMessageW(window_, kHostReplyMessage, 0, 0);
  return true;
}

void Controller::RunHostReplies() {
  std::vector<HostReply> replies;
  {
    std::lock_guard<std::mutex> lock(World::Get().mutex);
    replies.swap(host_replies_);
  }
  for (const HostReply& r : replies) {
    Transcript::Get().Write("CALLBACK reply S" + std::to_string(r.id));
    if (r.reply != nullptr) r.reply(nullptr, 0, r.user_data);
  }
}

void Controller::PostAnswer(const ResponseRecord* record) {
  if (record->notify != nullptr) {
    PostMessageW(record->notify, kReplyMessage, 0, reinterpret_cast<LPARAM>(record));
  }
}

void Controller::Claim(UINT message, LRESULT result) {
  claims_[message] = result;
  watched_.insert(message);
}

void Controller::Unclaim(UINT message) { claims_.erase(message); }

bool Controller::ClaimFor(UINT message, LRESULT* result) const {
  auto it = claims_.find(message);
  if (it == claims_.end()) return false;
  *result = it->second;
  return true;
}

void Controller::Frame() {
  if (ended_) return;
  ++frames_;
  Transcript::Get().Write("FRAME " + Handle('C', id_) + " " + std::to_string(frames_));
  InvalidateRect(window_, nullptr, FALSE);
  FlutterDesktopOnNextFrameCallback callback;
  void* data;
  {
    std::lock_guard<std::mutex> lock(World::Get().mutex);
    callback = engine_->next_frame;
    data = engine_->next_frame_data;
    // One frame, one call: the host re-arms it if it wants another.
    engine_->next_frame = nullptr;
    engine_->next_frame_data = nullptr;
  }
  if (callback != nullptr) {
    Transcript::Get().Write("CALLBACK next-frame " + Handle('E', engine_->id));
    callback(data);
  }
}

void Controller::DeliverNext() {
  if (queue_.empty() || ended_) return;
  ResponseRecord* record = queue_.front();
  queue_.pop_front();
  World& world = World::Get();
  Binding binding;
  {
    std::lock_guard<std::mutex> lock(world.mutex);
    auto it = engine_->messenger->bindings.find(record->channel);
    if (it != engine_->messenger->bindings.end()) binding = it->second;
    if (binding.callback == nullptr) {
      // As an engine does for a channel nobody listens on: an empty reply.
      record->answered = true;
    } else {
      record->delivered = true;
    }
  }
  const std::string id = Handle('H', record->id);
  const std::string channel = QuoteBytes(record->channel);
  if (binding.callback == nullptr) {
    Transcript::Get().Write("NOHANDLER " + id + " channel=" + channel);
    if (program_) program_->OnReply(record);
    return;
  }
  Transcript::Get().Write("DELIVER " + id + " channel=" + channel +
                          " hex=" + ToHex(record->request));
  FlutterDesktopMessage message{};
  // The library's own part of the record: its size and the channel name.
  const size_t struct_size = sizeof message;
  const char* channel_name = record->channel.c_str();
  std::memcpy(message.library_reserved, &struct_size, sizeof struct_size);
  std::memcpy(message.library_reserved + 8, &channel_name, sizeof channel_name);
  message.message = record->request.data();
  message.message_size = record->request.size();
  message.response_handle = reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(record);
  binding.callback(reinterpret_cast<FlutterDesktopMessengerRef>(engine_->messenger), &message,
                   binding.user_data);
}

void Controller::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  RECT client;
  GetClientRect(window_, &client);
  HBRUSH brush = CreateSolidBrush(RGB(0x1e, 0x2a, 0x3a));
  FillRect(dc, &client, brush);
  DeleteObject(brush);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0xe0, 0xe8, 0xf0));
  const std::wstring text = L"Tarnwick stand-in UI - frame " + std::to_wstring(frames_);
  RECT line = client;
  line.left += 8;
  line.bottom -= 8;
  DrawTextW(dc, text.c_str(), -1, &line, DT_LEFT | DT_BOTTOM | DT_SINGLELINE);
  EndPaint(window_, &paint);
}

void Controller::End() {
  if (ended_) return;
  World& world = World::Get();
  Messenger* messenger = engine_->messenger;
  {
    // Waits for an answer the host is sending under its lock, so that no
    // answer is half-done when the engine goes.
    std::lock_guard<std::recursive_mutex> host(messenger->host_lock);
    std::lock_guard<std::mutex> lock(world.mutex);
    ended_ = true;
    messenger->available = false;
    messenger->bindings.clear();
    engine_->ended = true;
    engine_->next_frame = nullptr;
    engine_->next_frame_data = nullptr;
  }
  // Every accepted send-with-reply gets its one answer, at the latest now.
  RunHostReplies();
  if (window_ != nullptr) {
    KillTimer(window_, kFirstFrameTimer);
    KillTimer(window_, kProgramTimer);
  }
  if (program_) program_->OnEngineEnd();

  int delivered = 0, answered = 0;
  std::vector<int> unanswered;
  long refs;
  uint64_t locks, unlocks, addrefs, releases;
  {
    std::lock_guard<std::mutex> lock(world.mutex);
    for (const ResponseRecord* record : records_) {
      if (!record->delivered) continue;
      ++delivered;
      if (record->answered) {
        ++answered;
      } else {
        unanswered.push_back(record->id);
      }
    }
    --messenger->refs;  // the engine's own reference
    refs = messenger->refs;
    locks = messenger->locks;
    unlocks = messenger->unlocks;
    addrefs = messenger->addrefs;
    releases = messenger->releases;
  }
  for (int id : unanswered) Transcript::Get().Write("UNANSWERED " + Handle('H', id));

  if (window_ != nullptr) DestroyWindow(window_);
  if (holder_ != nullptr) DestroyWindow(holder_);
  holder_ = nullptr;

  const std::string c = Handle('C', id_);
  Transcript::Get().Write(
      "SUMMARY " + c + " locks=" + std::to_string(locks) + " unlocks=" + std::to_string(unlocks) +
      " addrefs=" + std::to_string(addrefs) + " releases=" + std::to_string(releases) +
      " refs=" + std::to_string(refs) + " frames=" + std::to_string(frames_) +
      " delivered=" + std::to_string(delivered) + " answered=" + std::to_string(answered));
  Transcript::Get().WriteResult();
}

LRESULT Controller::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND: return 1;  // painted whole in WM_PAINT
    case WM_SIZE:
      // A resized view draws again; before the first frame the timer's
      // frame is still to come.
      if (frames_ > 0) RequestFrame();
      if (program_) program_->OnSize(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_TIMER:
      if (wparam == kFirstFrameTimer) {
        KillTimer(window_, kFirstFrameTimer);
        Frame();
      } else if (wparam == kProgramTimer && program_ && !ended_) {
        program_->OnTimer();
      }
      return 0;
    case WM_COMMAND:
      if (program_ && !ended_) program_->OnCommand(wparam, lparam);
      return 0;
    case kDeliverMessage: DeliverNext(); return 0;
    case kFrameMessage: Frame(); return 0;
    case kHostReplyMessage: RunHostReplies(); return 0;
    case kReplyMessage:
      if (program_ && !ended_) program_->OnReply(reinterpret_cast<ResponseRecord*>(lparam));
      return 0;
    default: return DefWindowProcW(window_, message, wparam, lparam);
  }
}

LRESULT CALLBACK Controller::ViewProc(HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Controller*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = window;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* self = reinterpret_cast<Controller*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    // The host may destroy its window, and with it the view, before it
    // destroys the controller.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  try {
    return self->HandleMessage(message, wparam, lparam);
  } catch (const std::exception& e) {
    Transcript::Get().Fail(0, std::string("exception in the view window: ") + e.what());
  } catch (...) {
    Transcript::Get().Fail(0, "exception in the view window");
  }
  return 0;
}

}  // namespace tarnwick::standin
