#include "io/buffering_file_io.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace QPXFile {

CBufferingFileIO::~CBufferingFileIO() { Close(); }

bool CBufferingFileIO::IsReadMode() const {
  return file_ && (file_->GetOpenMode() == kModeRead || file_->GetOpenMode() == kModeReadShared) && readState_;
}

void CBufferingFileIO::ResetReadState(uint64_t position) {
  readState_->chunkSize = static_cast<uint32_t>(buffer_.size());
  readState_->filled = 0;
  readState_->unread = 0;
  readState_->fetched = position;
}

void CBufferingFileIO::Release() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  writeState_.reset();
  readState_.reset();
  if (file_) file_->Close();
  file_.reset();
}

bool CBufferingFileIO::Open(const std::u16string& path, uint16_t mode) {
  if (mode != kModeCreate && mode != kModeRead && mode != kModeReadShared) return false;
  Close();
  if (bufferSize_ == 0) return false;
  try {
    file_ = std::make_unique<CQPXFileIO>();
    if (!file_->Open(path, mode)) {
      Release();
      return false;
    }
    buffer_.assign(bufferSize_, 0);
    if (mode == kModeCreate) {
      writeState_ = std::make_unique<WriteState>();
    } else {
      readState_ = std::make_unique<ReadState>();
      if (!file_->GetLength(readState_->fileLength)) {
        Release();
        return false;
      }
      ResetReadState(0);
    }
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  return true;
}

bool CBufferingFileIO::WriteHeld() {
  if (!writeState_ || writeState_->held == 0) return true;
  if (!file_->Write(buffer_.data(), writeState_->held)) return false;
  writeState_->held = 0;
  return true;
}

bool CBufferingFileIO::Close() {
  if (!file_) return true;
  bool written = WriteHeld();
  Release();
  return written;
}

bool CBufferingFileIO::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (!file_) return false;
  // The underlying stream records the reason (null buffer, wrong mode).
  if (buffer == nullptr || !IsReadMode()) return file_->Read(buffer, length, bytesRead);
  ReadState& state = *readState_;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t taken = std::min(length, state.unread);
  std::memcpy(out, buffer_.data() + (state.filled - state.unread), taken);
  state.unread -= taken;
  if (taken < length) {
    // One refill per call, so a request larger than the buffer yields the
    // held bytes plus one chunk and the caller asks again.
    uint64_t left = state.fileLength > state.fetched ? state.fileLength - state.fetched : 0;
    if (left != 0 && left < state.chunkSize) state.chunkSize = static_cast<uint32_t>(left);
    uint32_t got = 0;
    // With nothing left by the recorded length the read still goes to the
    // file, which sets its end-of-file flag (or finds bytes appended since).
    if (!file_->Read(buffer_.data(), state.chunkSize, &got)) {
      state.filled = state.unread = 0;
      if (bytesRead) *bytesRead = taken;
      return false;
    }
    state.filled = got;
    state.fetched += got;
    uint32_t more = std::min(length - taken, got);
    std::memcpy(out + taken, buffer_.data(), more);
    state.unread = got - more;
    taken += more;
  }
  if (bytesRead) *bytesRead = taken;
  return true;
}

bool CBufferingFileIO::Write(const void* buffer, uint32_t length) {
  if (!file_) return false;
  if (buffer == nullptr || !writeState_) return file_->Write(buffer, length);
  WriteState& state = *writeState_;
  if (static_cast<uint64_t>(state.held) + length > buffer_.size()) {
    if (!WriteHeld()) return false;
    // Larger than the whole buffer: nothing is gained by copying it.
    if (length > buffer_.size()) return file_->Write(buffer, length);
  }
  std::memcpy(buffer_.data() + state.held, buffer, length);
  state.held += length;
  return true;
}

bool CBufferingFileIO::Seek(const uint64_t& distance, int origin, bool forward) {
  if (!file_) return false;
  if (writeState_) {
    if (!WriteHeld()) return false;
    return file_->Seek(distance, origin, forward);
  }
  if (!readState_) return file_->Seek(distance, origin, forward);
  bool moved = file_->Seek(distance, origin, forward);
  // The refill arithmetic counts from the new position, so a later read
  // near the end asks for what is really left rather than a whole chunk.
  uint64_t position = 0;
  if (!file_->GetPosition(position)) position = 0;
  ResetReadState(position);
  return moved;
}

bool CBufferingFileIO::Flush() {
  if (!file_ || !writeState_) return false;
  return WriteHeld();
}

bool CBufferingFileIO::GetPathName(std::u16string& out) {
  if (!IsOpen()) {
    out.clear();
    return false;
  }
  return file_->GetPathName(out);
}

bool CBufferingFileIO::IsOpen() {
  if (!file_ || buffer_.empty() || (!writeState_ && !readState_)) return false;
  uint16_t mode = file_->GetOpenMode();
  return mode == kModeCreate || mode == kModeRead || mode == kModeReadShared;
}

uint16_t CBufferingFileIO::GetOpenMode() { return IsOpen() ? file_->GetOpenMode() : static_cast<uint16_t>(kModeClosed); }

bool CBufferingFileIO::GetLength(uint64_t& out) {
  if (!file_) return false;
  if (writeState_ && !WriteHeld()) return false;
  return file_->GetLength(out);
}

bool CBufferingFileIO::GetPosition(uint64_t& out) {
  if (!file_) return false;
  if (writeState_) {
    if (!WriteHeld()) return false;
    return file_->GetPosition(out);
  }
  uint64_t position = 0;
  if (!file_->GetPosition(position)) return false;
  uint32_t unread = readState_ ? readState_->unread : 0;
  out = position > unread ? position - unread : 0;
  return true;
}

bool CBufferingFileIO::IsEOF() {
  if (!IsReadMode()) return false;
  return file_->IsEOF() && readState_->unread == 0;
}

uint32_t CBufferingFileIO::GetLastError() {
  if (!file_) return kErrorNotOpen;
  return file_->GetLastError();
}

}  // namespace QPXFile
