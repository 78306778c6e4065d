// Intrusive reference counting for the plug-in's shared heap objects.
//
// A new object starts with a count of 1: whoever creates it holds that first reference and
// hands it to a RefPtr (or, for the top object, releases it explicitly at deactivation).
// Everything runs on the host's one thread, so the count is a plain integer.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

// A base that forbids copying; every RefObject is non-copyable through it.
class CantCopy {
public:
    CantCopy(const CantCopy&) = delete;
    CantCopy& operator=(const CantCopy&) = delete;

protected:
    CantCopy() = default;
    ~CantCopy() = default;
};

// Classes that reach RefObject along several paths derive from it virtually, so that the
// combined object carries one count.
class RefObject : private CantCopy {
public:
    void AddRef() { ++m_refCount; }

    // Drops one reference; the last one destroys the object.
    virtual void Release()
    {
        if (--m_refCount == 0)
            delete this;
    }

    uint32_t GetRefCount() const { return m_refCount; }

protected:
    RefObject() = default;
    virtual ~RefObject() = default;

private:
    uint32_t m_refCount = 1;
};

// Holds one counted reference of a T (or nothing).
template <class T>
class RefPtr {
public:
    RefPtr() = default;
    RefPtr(std::nullptr_t) {}

    // Takes over the creation reference of a freshly made object; adds none.
    explicit RefPtr(T* fresh) : m_ptr(fresh) {}

    RefPtr(const RefPtr& other) : m_ptr(other.m_ptr) { AddRefOf(m_ptr); }
    RefPtr(RefPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}

    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    RefPtr(const RefPtr<U>& other) : m_ptr(other.Get())
    {
        AddRefOf(m_ptr);
    }

    ~RefPtr() { Reset(); }

    // The source gains its reference before the old one goes, so self-assignment is harmless.
    RefPtr& operator=(const RefPtr& other)
    {
        AddRefOf(other.m_ptr);
        T* old = std::exchange(m_ptr, other.m_ptr);
        if (old)
            old->Release();
        return *this;
    }

    RefPtr& operator=(RefPtr&& other) noexcept
    {
        if (this != &other) {
            T* old = std::exchange(m_ptr, std::exchange(other.m_ptr, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }

    // Adds a reference to an object that someone else already holds.
    static RefPtr Share(T* object)
    {
        AddRefOf(object);
        return RefPtr(object);
    }

    void Reset()
    {
        if (T* old = std::exchange(m_ptr, nullptr))
            old->Release();
    }

    // Gives up the held reference without releasing it.
    T* Detach() { return std::exchange(m_ptr, nullptr); }

    T* Get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    T& operator*() const { return *m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

private:
    static void AddRefOf(T* p)
    {
        if (p)
            p->AddRef();
    }

    T* m_ptr = nullptr;
};

// Two holders, possibly of different static types, name the same object when the RefObject
// parts they reach are the same; two null holders are the same too.
template <class A, class B>
bool IsSameObject(const RefPtr<A>& a, const RefPtr<B>& b)
{
    const RefObject* ra = a.Get();
    const RefObject* rb = b.Get();
    return ra == rb;
}

template <class A, class B>
bool operator==(const RefPtr<A>& a, const RefPtr<B>& b)
{
    return IsSameObject(a, b);
}

template <class A, class B>
bool operator!=(const RefPtr<A>& a, const RefPtr<B>& b)
{
    return !IsSameObject(a, b);
}
