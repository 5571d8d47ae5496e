#include "engine/disk/disk_header.h"

#include <cstring>

#include "engine/platform/byte_order.h"

namespace orb {

TORBDBHeader TORBDBHeader::Initial() {
  TORBDBHeader h;
  std::memcpy(h.Signature.data(), kDBSignature.data(), kDBSignatureSize);
  return h;
}

bool TORBDBHeader::HasSignature() const {
  return std::memcmp(Signature.data(), kDBSignature.data(), kDBSignatureSize) == 0;
}

void TORBDBHeader::SaveTo(uint8_t* out) const {
  std::memcpy(out, Signature.data(), kDBSignatureSize);
  StoreI16LE(out + 16, HeaderSize);
  StoreF64LE(out + 18, Version);
  StoreU16LE(out + 26, PageSize);
  StoreU16LE(out + 28, PageCountInExtent);
  StoreI32LE(out + 30, TotalPageCount);
  StoreI32LE(out + 34, LastUsedPageNo);
  StoreI32LE(out + 38, State);
  StoreU8(out + 42, WriteChangesState);
  StoreU8(out + 43, Encrypted);
  std::memcpy(out + 44, Reserved.data(), Reserved.size());
}

TORBDBHeader TORBDBHeader::LoadFrom(const uint8_t* in) {
  TORBDBHeader h;
  std::memcpy(h.Signature.data(), in, kDBSignatureSize);
  h.HeaderSize = LoadI16LE(in + 16);
  h.Version = LoadF64LE(in + 18);
  h.PageSize = LoadU16LE(in + 26);
  h.PageCountInExtent = LoadU16LE(in + 28);
  h.TotalPageCount = LoadI32LE(in + 30);
  h.LastUsedPageNo = LoadI32LE(in + 34);
  h.State = LoadI32LE(in + 38);
  h.WriteChangesState = LoadU8(in + 42);
  h.Encrypted = LoadU8(in + 43);
  std::memcpy(h.Reserved.data(), in + 44, h.Reserved.size());
  return h;
}

void TORBCryptoHeader::SaveTo(uint8_t* out) const {
  StoreI16LE(out, CryptoHeaderSize);
  StoreU8(out + 2, CryptoAlgorithm);
  StoreU8(out + 3, CryptoMode);
  std::memcpy(out + 4, ControlBlock.data(), ControlBlock.size());
  StoreU32LE(out + 260, ControlBlockCRC);
  std::memcpy(out + 264, Reserverd.data(), Reserverd.size());
}

TORBCryptoHeader TORBCryptoHeader::LoadFrom(const uint8_t* in) {
  TORBCryptoHeader h;
  h.CryptoHeaderSize = LoadI16LE(in);
  h.CryptoAlgorithm = LoadU8(in + 2);
  h.CryptoMode = LoadU8(in + 3);
  std::memcpy(h.ControlBlock.data(), in + 4, h.ControlBlock.size());
  h.ControlBlockCRC = LoadU32LE(in + 260);
  std::memcpy(h.Reserverd.data(), in + 264, h.Reserverd.size());
  return h;
}

void TORBLockedBytes::SaveTo(uint8_t* out) const {
  StoreI16LE(out, LockedByteSize);
  StoreU8(out + 2, FSMByte);
  StoreU8(out + 3, TablesByte);
  StoreU8(out + 4, DBHeaderByte);
  std::memcpy(out + 5, Reserved.data(), Reserved.size());
}

TORBLockedBytes TORBLockedBytes::LoadFrom(const uint8_t* in) {
  TORBLockedBytes b;
  b.LockedByteSize = LoadI16LE(in);
  b.FSMByte = LoadU8(in + 2);
  b.TablesByte = LoadU8(in + 3);
  b.DBHeaderByte = LoadU8(in + 4);
  std::memcpy(b.Reserved.data(), in + 5, b.Reserved.size());
  return b;
}

}  // namespace orb
