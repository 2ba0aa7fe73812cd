// Owning wrappers for Win32 handles and COM interfaces.
//
// One template, configured by the handle type, its close function and which
// value means "none". Copying is deleted; moving hands the handle over.
// put() closes what is held before handing out the address, so an
// out-parameter never leaks the previous handle.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <utility>

// The kernel's file and find functions answer INVALID_HANDLE_VALUE for
// "none"; everything else answers null.
enum class NoHandle { kNull, kMinusOne };

template <typename T, auto Close, NoHandle kNone = NoHandle::kNull>
class UniqueAny {
public:
    using Type = T;

    UniqueAny() noexcept = default;
    explicit UniqueAny(Type value) noexcept : value_(value) {}
    ~UniqueAny() { reset(); }

    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid(); }

    void reset(Type value = Invalid()) noexcept
    {
        if (value_ != Invalid())
            Close(value_);
        value_ = value;
    }

    [[nodiscard]] Type release() noexcept { return std::exchange(value_, Invalid()); }

    Type* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    static Type Invalid() noexcept
    {
        if constexpr (kNone == NoHandle::kMinusOne)
            return INVALID_HANDLE_VALUE;
        else
            return nullptr;
    }

    Type value_ = Invalid();
};

using UniqueHandle = UniqueAny<HANDLE, ::CloseHandle>;
using UniqueFile = UniqueAny<HANDLE, ::CloseHandle, NoHandle::kMinusOne>;
using UniqueFindHandle = UniqueAny<HANDLE, ::FindClose, NoHandle::kMinusOne>;
using UniqueKey = UniqueAny<HKEY, ::RegCloseKey>;
using UniqueFont = UniqueAny<HFONT, ::DeleteObject>;
using UniqueBitmap = UniqueAny<HBITMAP, ::DeleteObject>;
using UniqueBrush = UniqueAny<HBRUSH, ::DeleteObject>;
using UniqueIcon = UniqueAny<HICON, ::DestroyIcon>;
using UniqueItemIdList = UniqueAny<PIDLIST_ABSOLUTE, ::CoTaskMemFree>;
using UniqueLocal = UniqueAny<HLOCAL, ::LocalFree>;

// A COM interface pointer that releases what it holds.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void reset() noexcept
    {
        if (ptr_)
            std::exchange(ptr_, nullptr)->Release();
    }

    T** put() noexcept
    {
        reset();
        return &ptr_;
    }

    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* ptr_ = nullptr;
};

// Runs a function at scope end unless release() was called: the one-off undo
// that has no type of its own.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit()
    {
        if (active_)
            f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void release() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};
