// A chain of volume files presented as one stream.
//
// Format notes: the first volume is the archive file P itself and holds
// archive bytes [0, S), S being the volume size from the division info. The
// k-th following volume is the file "P.k" (backup.qpx.1, backup.qpx.2, ...);
// it starts with a 12-byte head
//   offset 0  continued   non-zero: another volume follows
//   offset 1  3 bytes     not interpreted
//   offset 4  time low    low 32 bits of the archive's creation time
//   offset 8  time high   high 32 bits of it
// and then holds the next W = S - 12 archive bytes, so volume k holds
// [S + (k-1)W, S + kW). Until SetupDivision the stream is the first file alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/limited_file_io.h"

namespace QPXFile {

constexpr uint64_t kVolumeHeadSize = 12;

// A volume head in memory; the template that SetupDivision receives has the
// same shape (continued 1 and the archive's creation time).
struct QPXVolumeHead {
  uint8_t continued = 0;  // non-zero: another volume follows
  uint32_t timeLow = 0;   // the archive's creation time, low word
  uint32_t timeHigh = 0;  // and high word
  bool valid = false;     // set once read from the volume or given by the writer
};

// One volume: a file limited to its data window, with the archive position
// of that window.
class CDividedFileIOElement : public CLimitedFileIO {
 public:
  explicit CDividedFileIOElement(uint64_t base) : base_(base), endOffset_(base) {}

  bool Open(const std::u16string& path, uint16_t mode) override;
  bool Write(const void* buffer, uint32_t length) override;
  // The archive position: base offset plus the position within the window.
  bool GetPosition(uint64_t& out) override;

  // Limits the volume to [start, end). A writer's volume then gets its head
  // written at offset 0; a reader's volume reads its head from there (which
  // fails when the file is shorter than start). A writer's volume without a
  // head cannot take a window.
  bool SetWindow(uint64_t start, uint64_t end);
  // Writes the head at offset 0 again and returns to the current position.
  bool WriteHead();

  const QPXVolumeHead& GetHead() const { return head_; }
  void SetHead(const QPXVolumeHead& head) { head_ = head; }
  uint64_t GetBaseOffset() const { return base_; }
  // The archive position just after the volume's data.
  uint64_t GetEndOffset() const { return endOffset_; }
  // The archive position just after the window as the layout assigns it,
  // where the next volume begins even when this file is short.
  uint64_t GetWindowEndOffset() const { return base_ + (GetWindowEnd() - GetWindowStart()); }

 private:
  QPXVolumeHead head_;  // the volume's head; the first volume is given the template
  uint64_t base_;       // archive position of the first window byte
  uint64_t endOffset_;  // archive position just after the data held
};

// Why SetupDivision (or Open) failed, for the caller's message.
enum class DivisionError {
  kNone,
  kNotOpen,              // the stream was closed
  kAlreadySplit,         // SetupDivision was called twice
  kInvalidTemplate,      // the head template was not marked valid
  kBadVolumeSize,        // S leaves no room after the head, or positions overflow
  kVolumeMissing,        // a volume file does not exist
  kVolumeUnreadable,     // a volume file exists but cannot be opened
  kVolumeHeadUnreadable, // a volume is shorter than its head, or its head cannot be read
  kVolumeForeign,        // the head's time differs: the volume belongs to another archive
  kVolumeTooLong,        // a volume file is longer than S
};

class CDividedFileIO : public CFileIO {
 public:
  CDividedFileIO() = default;
  ~CDividedFileIO() override;

  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;
  bool Open(const std::u16string& path, uint16_t mode) override;
  bool Close() override;
  bool Seek(const uint64_t& distance, int origin, bool forward) override;
  bool Flush() override { return true; }
  bool GetPathName(std::u16string& out) override;
  bool IsOpen() override;
  uint16_t GetOpenMode() override;
  bool GetLength(uint64_t& out) override;
  bool GetPosition(uint64_t& out) override;
  bool IsEOF() override;
  uint32_t GetLastError() override;
  // The run ends with the current volume.
  bool HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) override;
  void ReserveAhead(uint64_t bytes) override;
  // errno behind the current volume's last failure, 0 when none is known.
  int GetSystemError() const;

  // Called once the division info says the archive is split. Reading, it
  // opens and checks P.1, P.2, ... until a head says no volume follows; any
  // failure closes the whole stream and is described by GetDivisionError.
  // Writing (mode 1), following volumes are made as the data reaches them.
  bool SetupDivision(const QPXVolumeHead& headTemplate, uint64_t volumeSize);

  bool IsSplit() const { return split_; }
  size_t GetVolumeCount() const { return volumes_.size(); }
  uint64_t GetVolumeSize() const { return volumeSize_; }

  // The reason for the last failed SetupDivision or Open, the failing
  // volume's index and engine path, and errno when the platform gave one.
  DivisionError GetDivisionError() const { return divisionError_; }
  int GetDivisionErrorVolume() const { return divisionErrorVolume_; }
  const std::u16string& GetDivisionErrorPath() const { return divisionErrorPath_; }
  int GetDivisionSystemError() const { return divisionSystemError_; }

  // "P.k": the name of the k-th following volume of the archive P.
  static std::u16string VolumePath(const std::u16string& firstPath, uint64_t k);

 private:
  // Maps an archive position of a split stream to a volume and a window
  // offset; false beyond the last volume.
  bool MapPosition(uint64_t position, size_t& volume, uint64_t& offset) const;
  bool OpenFollowingVolumes();
  bool AppendWriteVolume();
  void Fail(DivisionError error, int volume, const std::u16string& path, int systemError);
  bool CloseVolumes();

  std::vector<std::unique_ptr<CDividedFileIOElement>> volumes_;  // index = volume number
  QPXVolumeHead template_;        // continued 1 and the archive's creation time
  uint64_t followingStart_ = 0;   // window start of following volumes (12 once split)
  uint64_t volumeSize_ = 0;       // S
  bool split_ = false;
  int current_ = -1;              // current volume; -1 when closed
  std::u16string firstPath_;      // P, kept for naming volumes made while writing
  uint16_t mode_ = kModeClosed;

  DivisionError divisionError_ = DivisionError::kNone;
  int divisionErrorVolume_ = -1;
  std::u16string divisionErrorPath_;
  int divisionSystemError_ = 0;
};

}  // namespace QPXFile
