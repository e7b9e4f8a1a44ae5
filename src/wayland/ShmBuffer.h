// Pixels shared with the compositor: one memfd, its mapping, a pool over it and one ARGB8888
// wl_buffer, all owned here and released together. Premultiplied ARGB in native byte order,
// which is what cairo's ARGB32 image surfaces hold on a little-endian machine. Runs on the
// thread of the connection the wl_shm belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "WaylandHandles.h"

namespace NativeUI {

class ShmBuffer {
 public:
  // Null when the memory cannot be had (memfd, ftruncate or mmap failed), or the size is empty
  // or beyond what one pool can hold.
  static std::unique_ptr<ShmBuffer> create(wl_shm* shm, int width, int height);
  ~ShmBuffer();
  ShmBuffer(const ShmBuffer&) = delete;
  ShmBuffer& operator=(const ShmBuffer&) = delete;

  wl_buffer* buffer() const { return _buffer.get(); }
  unsigned char* data() const { return static_cast<unsigned char*>(_data); }
  int width() const { return _width; }
  int height() const { return _height; }
  int stride() const { return _width * 4; }

 private:
  ShmBuffer() = default;

  void* _data = nullptr;
  size_t _size = 0;
  int _width = 0;
  int _height = 0;
  WlBufferPtr _buffer;
};

}  // namespace NativeUI
