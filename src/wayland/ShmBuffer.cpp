#include "ShmBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace NativeUI {

namespace {

// Closes the descriptor on every path: the compositor keeps its own copy once the pool exists.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, int width, int height) {
  if (!shm || width <= 0 || height <= 0) return nullptr;
  const size_t size = size_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height) * 4;
  if (size > static_cast<size_t>(INT32_MAX)) return nullptr;  // a pool's size is an int32
  const FdCloser fd{memfd_create("indicator-shm", MFD_CLOEXEC)};
  if (fd.fd < 0 || ftruncate(fd.fd, static_cast<off_t>(size)) != 0) return nullptr;
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.fd, 0);
  if (data == MAP_FAILED) return nullptr;
  std::unique_ptr<ShmBuffer> buffer(new ShmBuffer());
  buffer->_data = data;
  buffer->_size = size;
  buffer->_width = width;
  buffer->_height = height;
  // The buffer keeps what it needs of the pool; the pool itself can go at once.
  const WlShmPoolPtr pool(wl_shm_create_pool(shm, fd.fd, static_cast<int32_t>(size)));
  buffer->_buffer.reset(
      wl_shm_pool_create_buffer(pool.get(), 0, width, height, width * 4, WL_SHM_FORMAT_ARGB8888));
  return buffer;
}

ShmBuffer::~ShmBuffer() {
  _buffer.reset();
  if (_data) munmap(_data, _size);
}

}  // namespace NativeUI
