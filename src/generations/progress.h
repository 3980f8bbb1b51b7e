// The sink through which long generation work (loading a backup set,
// building its tree) reports totals, message and error ids (string-table
// numbers) and asks whether to go on. The desktop program shows it in its
// progress dialog; the command-line tool prints it.
//
// Threads: the work that reports runs on one thread (the load's task
// thread) and is the only writer; any other thread (the dialog's refresh,
// every 100 ms) may call the getters at any time without a lock. Each field
// is a single atomic value, so a reader sees an old or a new value, never a
// torn one; two fields read one after the other may belong to different
// moments (a message id that has just changed, a current position a step
// behind the total), which a display shows one tick later. Every setter
// yields the processor after writing so that a reader waiting for the
// processor gets it.
//
// Errors: a failure that ends a load or a tree build is reported here and
// only here (SetError with its string-table id), once. A front end shows
// GetErrorId() when the step it ran has failed and HasError() is set; a
// failure without an error (the user declined or stopped) shows nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace IncrementalBackup {

class IProgressInfo {
 public:
  virtual ~IProgressInfo() = default;
  virtual bool IsValid() const = 0;      // total and current are both known
  virtual bool HasError() const = 0;
  virtual bool HasMessage() const = 0;
  virtual int32_t GetTotal() const = 0;  // -1 when not valid
  virtual int32_t GetCurrent() const = 0;
  virtual int32_t GetErrorId() const = 0;    // -1 when none
  virtual int32_t GetMessageId() const = 0;  // -1 when none
  virtual bool CanContinue() = 0;
  virtual void SetTotal(int32_t total) = 0;
  virtual void SetCurrent(int32_t current) = 0;
  virtual void SetError(int32_t id) = 0;
  virtual void ClearError() = 0;
  virtual void ClearMessage() = 0;
  virtual void SetMessage(int32_t id) = 0;
};

// The plain sink: keeps the fields and never asks to stop. Front ends derive
// from it to show what changes. Safe to poll from another thread (above).
class CProgressInfo : public IProgressInfo {
 public:
  bool IsValid() const override { return Total() >= 0 && Current() >= 0; }
  bool HasError() const override { return hasError_.load(std::memory_order_acquire); }
  bool HasMessage() const override { return hasMessage_.load(std::memory_order_acquire); }
  int32_t GetTotal() const override {
    const int32_t total = Total(), current = Current();
    return total >= 0 && current >= 0 ? total : -1;
  }
  int32_t GetCurrent() const override {
    const int32_t total = Total(), current = Current();
    return total >= 0 && current >= 0 ? current : -1;
  }
  int32_t GetErrorId() const override { return errorId_.load(std::memory_order_acquire); }
  int32_t GetMessageId() const override { return messageId_.load(std::memory_order_acquire); }
  bool CanContinue() override { return true; }
  void SetTotal(int32_t total) override {
    total_.store(total, std::memory_order_release);
    std::this_thread::yield();
  }
  void SetCurrent(int32_t current) override {
    current_.store(current, std::memory_order_release);
    std::this_thread::yield();
  }
  // The id is written before the flag: a reader that sees the flag reads
  // the id that goes with it.
  void SetError(int32_t id) override {
    errorId_.store(id, std::memory_order_release);
    hasError_.store(true, std::memory_order_release);
    std::this_thread::yield();
  }
  void ClearError() override {
    hasError_.store(false, std::memory_order_release);
    errorId_.store(-1, std::memory_order_release);
  }
  void ClearMessage() override {
    hasMessage_.store(false, std::memory_order_release);
    messageId_.store(-1, std::memory_order_release);
  }
  void SetMessage(int32_t id) override {
    messageId_.store(id, std::memory_order_release);
    hasMessage_.store(true, std::memory_order_release);
    std::this_thread::yield();
  }

 private:
  int32_t Total() const { return total_.load(std::memory_order_acquire); }
  int32_t Current() const { return current_.load(std::memory_order_acquire); }

  std::atomic<int32_t> total_{-1};
  std::atomic<int32_t> current_{-1};
  std::atomic<int32_t> errorId_{-1};
  std::atomic<int32_t> messageId_{-1};
  std::atomic<bool> hasError_{false};
  std::atomic<bool> hasMessage_{false};
};

// A class that reports through a sink it does not own. No sink: nothing is
// reported and work is never cancelled. The sink is set and read on the
// thread that runs the work, before and after it.
class CProgressInformable {
 public:
  virtual ~CProgressInformable() = default;
  virtual void SetProgressInfo(IProgressInfo* sink) { sink_ = sink; }
  virtual IProgressInfo* GetProgressInfo() const { return sink_; }

 protected:
  void Message(int32_t id) const {
    if (sink_) sink_->SetMessage(id);
  }
  void Error(int32_t id) const {
    if (sink_) sink_->SetError(id);
  }
  bool CanContinue() const { return sink_ == nullptr || sink_->CanContinue(); }

  IProgressInfo* sink_ = nullptr;
};

}  // namespace IncrementalBackup
