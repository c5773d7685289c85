#pragma once

#include <cstddef>

// Counts heap allocations and frees made by the current thread while a scope
// is open. The test binary replaces the global operator new/delete and the C
// allocation functions with counting versions; outside an open scope they cost
// one thread-local check. Sanitizer builds keep their own allocator, so there
// the counter is compiled out and isAvailable() is false.
namespace allocation_counter
{
bool isAvailable();

struct Counts
{
    std::size_t allocations = 0;
    std::size_t frees = 0;
};

// Opens a counting scope on this thread; the counts are read when it closes.
class Scope
{
  public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    Counts counts() const;

  private:
    bool wasCounting;
    Counts before;
};
} // namespace allocation_counter
