#include "engine/table/page_header.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"

namespace orb {

namespace {

constexpr std::string_view kPageTypeNames[] = {
    "Unknown Page",
    "Empty Page",
    "EAM Page",
    "PFS Page",
    "FileSystemDirectory Page",
    "ActiveSessionList Page",
    "TableList Page",
    "TableLocks Page",
    "TableMetaData Page",
    "TableMostUpdated Page",
    "TableRecord Page",
    "TableBlob Page",
    "TableIndex Page",
};

}  // namespace

std::string_view PageTypeToStr(uint16_t page_type) {
  if (page_type >= std::size(kPageTypeNames)) {
    RaiseORB(30382, "Unknown Page Type: (%d)", {static_cast<int>(page_type)});
  }
  return kPageTypeNames[page_type];
}

void TORBDiskPageHeader::SaveTo(uint8_t* dst) const {
  std::copy(Signature.begin(), Signature.end(), dst + kOffSignature);
  StoreI32LE(dst + kOffState, State);
  StoreU16LE(dst + kOffPageType, PageType);
  StoreI32LE(dst + kOffNextPageNo, NextPageNo);
  StoreU32LE(dst + kOffCRC32, CRC32);
  StoreU8(dst + kOffCRCType, CRCType);
  StoreU8(dst + kOffHashType, HashType);
  StoreU8(dst + kOffCipherype, Cipherype);
  StoreU8(dst + kOffMACType, MACType);
  StoreI32LE(dst + kOffObjectID, ObjectID);
  StoreI32LE(dst + kOffRecordIDPageNo, RecordIDPageNo);
  StoreU16LE(dst + kOffRecordIDItemNo, RecordIDItemNo);
  std::copy(Reserved.begin(), Reserved.end(), dst + kOffReserved);
}

TORBDiskPageHeader TORBDiskPageHeader::LoadFrom(const uint8_t* src) {
  TORBDiskPageHeader h;
  std::copy(src + kOffSignature, src + kOffSignature + 4, h.Signature.begin());
  h.State = LoadI32LE(src + kOffState);
  h.PageType = LoadU16LE(src + kOffPageType);
  h.NextPageNo = LoadI32LE(src + kOffNextPageNo);
  h.CRC32 = LoadU32LE(src + kOffCRC32);
  h.CRCType = LoadU8(src + kOffCRCType);
  h.HashType = LoadU8(src + kOffHashType);
  h.Cipherype = LoadU8(src + kOffCipherype);
  h.MACType = LoadU8(src + kOffMACType);
  h.ObjectID = LoadI32LE(src + kOffObjectID);
  h.RecordIDPageNo = LoadI32LE(src + kOffRecordIDPageNo);
  h.RecordIDItemNo = LoadU16LE(src + kOffRecordIDItemNo);
  std::copy(src + kOffReserved, src + kOffReserved + 8, h.Reserved.begin());
  return h;
}

int32_t ReadPageHeaderState(const uint8_t* header) {
  return LoadI32LE(header + TORBDiskPageHeader::kOffState);
}

void WritePageHeaderState(uint8_t* header, int32_t state) {
  StoreI32LE(header + TORBDiskPageHeader::kOffState, state);
}

uint16_t ReadPageHeaderType(const uint8_t* header) {
  return LoadU16LE(header + TORBDiskPageHeader::kOffPageType);
}

void WritePageHeaderType(uint8_t* header, uint16_t page_type) {
  StoreU16LE(header + TORBDiskPageHeader::kOffPageType, page_type);
}

int32_t ReadPageHeaderNextPageNo(const uint8_t* header) {
  return LoadI32LE(header + TORBDiskPageHeader::kOffNextPageNo);
}

void WritePageHeaderNextPageNo(uint8_t* header, int32_t next_page_no) {
  StoreI32LE(header + TORBDiskPageHeader::kOffNextPageNo, next_page_no);
}

}  // namespace orb
