// The sink through which long generation work (loading a backup set,
// building its tree) reports totals, message and error ids (string-table
// numbers) and asks whether to go on. The desktop program shows it in its
// progress dialog; the command-line tool prints it.
#pragma once

#include <atomic>
#include <cstdint>

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
// from it to show what changes. The work writes the fields on one thread
// while a progress display reads them on another, so each is atomic; a
// reader may see a message id change under it, and shows the old or the new.
class CProgressInfo : public IProgressInfo {
 public:
  bool IsValid() const override { return total_ >= 0 && current_ >= 0; }
  bool HasError() const override { return hasError_; }
  bool HasMessage() const override { return hasMessage_; }
  int32_t GetTotal() const override { return IsValid() ? total_.load() : -1; }
  int32_t GetCurrent() const override { return IsValid() ? current_.load() : -1; }
  int32_t GetErrorId() const override { return errorId_; }
  int32_t GetMessageId() const override { return messageId_; }
  bool CanContinue() override { return true; }
  void SetTotal(int32_t total) override { total_ = total; }
  void SetCurrent(int32_t current) override { current_ = current; }
  void SetError(int32_t id) override {
    errorId_ = id;
    hasError_ = true;
  }
  void ClearError() override {
    hasError_ = false;
    errorId_ = -1;
  }
  void ClearMessage() override {
    hasMessage_ = false;
    messageId_ = -1;
  }
  void SetMessage(int32_t id) override {
    messageId_ = id;
    hasMessage_ = true;
  }

 private:
  std::atomic<int32_t> total_{-1};
  std::atomic<int32_t> current_{-1};
  std::atomic<int32_t> errorId_{-1};
  std::atomic<int32_t> messageId_{-1};
  std::atomic<bool> hasError_{false};
  std::atomic<bool> hasMessage_{false};
};

// A class that reports through a sink it does not own. No sink: nothing is
// reported and work is never cancelled.
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
