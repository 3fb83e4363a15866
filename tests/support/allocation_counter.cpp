#include "support/allocation_counter.h"

#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* memory, std::size_t size);
}

namespace {

bool counting = false;
int notCountedDepth = 0;
uint64_t allocations = 0;

void Note() {
  if (counting && notCountedDepth == 0) ++allocations;
}

}  // namespace

namespace tav::testing {

void StartCountingAllocations() {
  allocations = 0;
  counting = true;
}

uint64_t StopCountingAllocations() {
  counting = false;
  return allocations;
}

NotCounted::NotCounted() {
  ++notCountedDepth;
}
NotCounted::~NotCounted() {
  --notCountedDepth;
}

}  // namespace tav::testing

void* operator new(std::size_t size) {
  Note();
  if (void* memory = __real_malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  Note();
  return __real_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

extern "C" {
void* __wrap_malloc(std::size_t size) {
  Note();
  return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  Note();
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* memory, std::size_t size) {
  Note();
  return __real_realloc(memory, size);
}
}
