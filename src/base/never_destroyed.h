// Process-wide state that must outlive every other static object.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace bs
{

// An object built on first use and intentionally never destroyed (its
// destructor is not registered to run at exit), for state that loaded
// libraries or late static destructors may still reach.
template <class T> class NeverDestroyed
{
  public:
    NeverDestroyed() { std::construct_at(pointer()); }
    T& operator*() noexcept { return *pointer(); }
    T* operator->() noexcept { return pointer(); }

  private:
    T* pointer() noexcept { return std::launder(reinterpret_cast<T*>(m_storage)); }

    alignas(T) std::byte m_storage[sizeof(T)];
};

} // namespace bs
