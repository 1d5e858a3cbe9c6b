#include "GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct Block {
  void* data = nullptr;
  size_t size = 0;
  int locks = 0;
};

struct Heap {
  std::mutex m;
  std::unordered_map<uintptr_t, Block> blocks;
  uintptr_t next = 0x1000;
};

Heap& heap() {
  static Heap* h = new Heap;  // lives for the whole process: blocks may be freed during shutdown
  return *h;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Heap& h = heap();
  std::lock_guard<std::mutex> lock(h.m);
  uintptr_t id = h.next;
  h.next += 8;
  h.blocks[id] = Block{data, bytes, 0};
  return reinterpret_cast<HGLOBAL>(id);
}

void* GlobalLock(HGLOBAL mem) {
  Heap& h = heap();
  std::lock_guard<std::mutex> lock(h.m);
  auto it = h.blocks.find(reinterpret_cast<uintptr_t>(mem));
  if (it == h.blocks.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++it->second.locks;
  return it->second.data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
  Heap& h = heap();
  std::lock_guard<std::mutex> lock(h.m);
  auto it = h.blocks.find(reinterpret_cast<uintptr_t>(mem));
  if (it == h.blocks.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.locks > 0) --it->second.locks;
  return it->second.locks > 0 ? TRUE : FALSE;
}

size_t GlobalSize(HGLOBAL mem) {
  Heap& h = heap();
  std::lock_guard<std::mutex> lock(h.m);
  auto it = h.blocks.find(reinterpret_cast<uintptr_t>(mem));
  return it == h.blocks.end() ? 0 : it->second.size;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  void* data = nullptr;
  {
    Heap& h = heap();
    std::lock_guard<std::mutex> lock(h.m);
    auto it = h.blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (it == h.blocks.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return mem;
    }
    data = it->second.data;
    h.blocks.erase(it);
  }
  std::free(data);
  return nullptr;
}

size_t GlobalBlockCount() {
  Heap& h = heap();
  std::lock_guard<std::mutex> lock(h.m);
  return h.blocks.size();
}
