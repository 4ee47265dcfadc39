// The shared motion section mapped read-only, as every reader maps it: the
// writer's size rule (the page size or 1280 bytes, whichever is larger) and
// record k at k * 128 bytes. Readers read record 1.
#pragma once
#include <windows.h>

#include "motion_section.h"

class SectionView {
 public:
  SectionView() { Open(); }
  ~SectionView() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
  }
  SectionView(const SectionView&) = delete;
  SectionView& operator=(const SectionView&) = delete;

  // Maps the section when it is not mapped yet (the service may still be
  // starting); true once mapped. error() tells why not.
  bool Open() {
    if (view_) return true;
    if (!mapping_) mapping_ = OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName);
    if (!mapping_) {
      error_ = GetLastError();
      return false;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, SectionBytesForPageSize(info.dwPageSize));
    if (!view_) error_ = GetLastError();
    return view_ != nullptr;
  }

  // Record k, or null while the section is not mapped.
  const DeviceMotionRecord* Record(int k) const {
    return view_ ? SectionRecord(static_cast<const void*>(view_), k) : nullptr;
  }
  DWORD error() const { return error_; }

 private:
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  DWORD error_ = 0;
};
