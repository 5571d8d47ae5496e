#include "engine/base/stream.h"

#include <algorithm>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/stream_file.h"

namespace orb {

int64_t TStream::GetSize() {
  const int64_t position = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void SaveDataToStream(const void* buffer, int64_t size, TStream& stream, int32_t error_code) {
  const int64_t position = stream.GetPosition();
  const int64_t written = size > 0 ? stream.Write(buffer, size) : 0;
  if (written != std::max<int64_t>(size, 0)) {
    RaiseORB(error_code, kMsgCannotWriteToStream, {position, stream.GetSize(), size, written});
  }
}

void LoadDataFromStream(void* buffer, int64_t size, TStream& stream, int32_t error_code) {
  const int64_t position = stream.GetPosition();
  const int64_t read = size > 0 ? stream.Read(buffer, size) : 0;
  if (read != std::max<int64_t>(size, 0)) {
    RaiseORB(error_code, kMsgCannotReadFromStream, {position, stream.GetSize(), size, read});
  }
}

void SetStreamPosition(TStream& stream, int64_t position, int32_t error_code) {
  const int64_t previous = stream.GetPosition();
  if (position < 0 || stream.Seek(position, soBeginning) != position) {
    RaiseORB(error_code, kMsgCannotSetStreamPosition, {position, previous, stream.GetSize()});
  }
}

namespace {

// Copies [from, from + size) of `source` to the current position of
// `target` in pieces of `block_size`.
void CopyStream(TStream& source, int64_t from, int64_t size, TStream& target, int32_t block_size,
                int32_t read_code, int32_t write_code, const std::function<void(double)>& progress) {
  progress(0);
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(block_size, std::max<int64_t>(size, 1))));
  source.Seek(from, soBeginning);
  int64_t done = 0;
  while (done < size) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(piece.size()));
    LoadDataFromStream(piece.data(), n, source, read_code);
    SaveDataToStream(piece.data(), n, target, write_code);
    done += n;
    progress(static_cast<double>(done) * 100.0 / static_cast<double>(size));
  }
  progress(100);
}

}  // namespace

void TORBStream::SaveToStream(TStream& stream) {
  if (FBlockSize <= 0) RaiseORB(10418, kMsgStreamBlockSizeZero);
  const int64_t own_position = GetPosition();
  const int64_t their_position = stream.GetPosition();
  CopyStream(*this, 0, GetSize(), stream, FBlockSize, 10146, 10147, [this](double p) { Progress(p); });
  Seek(own_position, soBeginning);
  stream.Seek(their_position, soBeginning);
}

void TORBStream::LoadFromStream(TStream& stream) { LoadFromStreamWithPosition(stream, 0, stream.GetSize()); }

void TORBStream::LoadFromStreamWithPosition(TStream& stream, int64_t position, int64_t size) {
  if (FBlockSize <= 0) RaiseORB(10419, kMsgStreamBlockSizeZero);
  const int64_t available = stream.GetSize() - position;
  if (position < 0 || size < 0 || size > available) {
    RaiseORB(10148, kMsgCannotReadFromStream, {position, stream.GetSize(), size, int64_t{0}});
  }
  SetSize(0);
  Seek(0, soBeginning);
  CopyStream(stream, position, size, *this, FBlockSize, 10148, 10149, [this](double p) { Progress(p); });
  Seek(0, soBeginning);
}

void TORBStream::LoadFromFile(const std::string& file_name) {
  TORBFileStream file(file_name, fmOpenRead | fmShareDenyWrite, false);
  LoadFromStream(file);
}

void TORBStream::SaveToFile(const std::string& file_name) {
  TORBFileStream file(file_name, fmCreate, false);
  SaveToStream(file);
}

}  // namespace orb
