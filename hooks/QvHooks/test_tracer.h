#pragma once
// For tests: the tracer's two windows on a loop thread of their own, recording every
// message that reaches them. The event window's procedure can be held to play a hung tracer.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "hooks/QvHooks/tracer_messages.h"
#include "platform/messaging/window_station.h"

namespace qv::hooks {

class TestTracer {
 public:
  TestTracer(platform::WindowStation& station, const Clock& clock) : loop_(clock) {
    auto record = [this](const platform::Message& m) -> platform::LRESULT {
      {
        std::unique_lock lock(mutex_);
        received_.push_back(m);
        changed_.notify_all();
        changed_.wait(lock, [this] { return !*hold_; });
      }
      return 1;  // the event window's reply is always TRUE
    };
    station.CreateWindow(loop_, {std::string(kTracerWindowClass), std::string(kTracerWindowTitle), false},
                         record, main_);
    station.CreateWindow(loop_, {std::string(kTracerEventWindowClass), "", true}, record, events_);
    thread_ = std::thread([this] { loop_.Run(); });
  }
  ~TestTracer() {
    Hold(false);
    main_.reset();
    events_.reset();
    loop_.PostQuit(0);
    thread_.join();
  }

  void Hold(bool hold) {
    std::lock_guard lock(mutex_);
    *hold_ = hold;
    changed_.notify_all();
  }
  // Waits until `count` messages have arrived (or a generous while has passed).
  std::vector<platform::Message> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return received_.size() >= count; });
    return received_;
  }
  // Waits until a message `number` with `lParam` has arrived; returns everything so far.
  std::vector<platform::Message> WaitForMessage(std::uint32_t number, platform::LPARAM lParam) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const auto& m : received_) {
        if (m.message == number && m.lParam == lParam) return true;
      }
      return false;
    });
    return received_;
  }
  // Posts a marker to the main window and waits for it: every post made before has arrived.
  std::vector<platform::Message> Drain(platform::WindowStation& station) {
    const platform::LPARAM marker = ++markers_;
    station.PostMessage(mainWindow(), kMarkerMessage, 0, marker);
    return WaitForMessage(kMarkerMessage, marker);
  }
  static constexpr std::uint32_t kMarkerMessage = platform::WM_USER + 999;
  std::vector<platform::Message> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  platform::Hwnd mainWindow() const { return main_->handle(); }
  platform::Hwnd eventWindow() const { return events_->handle(); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<bool> hold_ = std::make_shared<bool>(false);
  std::vector<platform::Message> received_;
  platform::LPARAM markers_ = 0;
  platform::MessageLoop loop_;
  std::unique_ptr<platform::Window> main_;
  std::unique_ptr<platform::Window> events_;
  std::thread thread_;
};

}  // namespace qv::hooks
