// Growable arrays of pointers for the protocol classes that hold a variable number of parts (the
// users of an rwho packet, the information items of a DEC DNA system identification).
//
// The storage is a std::vector whose size is the array's capacity; count, capacity and growth
// step are kept explicitly so that growth happens in whole steps and a failed growth leaves the
// array as it was. PtrArray owns what its elements point to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

template <typename T>
    requires std::is_pointer_v<T>
class Array {
public:
    static constexpr int32_t kGrowthStep = 8;

    // Starts empty and grows once, so the first capacity is one growth step.
    explicit Array(int32_t growthStep = kGrowthStep) : growthStep_(growthStep) { Grow(); }
    virtual ~Array() = default;

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    // Adds one growth step of room. Fails, changing nothing, when the storage cannot be had or
    // its size in bytes would not fit in 32 bits.
    bool Grow() {
        const int64_t newCapacity = static_cast<int64_t>(capacity_) + growthStep_;
        if (growthStep_ <= 0 || newCapacity > std::numeric_limits<int32_t>::max() ||
            static_cast<uint64_t>(newCapacity) * sizeof(T) >
                std::numeric_limits<uint32_t>::max()) {
            return false;
        }
        try {
            // resize keeps the existing pointers and leaves the vector unchanged if it throws.
            storage_.resize(static_cast<std::size_t>(newCapacity), nullptr);
        } catch (const std::bad_alloc&) {
            return false;
        }
        capacity_ = static_cast<int32_t>(newCapacity);
        return true;
    }

    // Stores the element behind the last one, growing first when full. False when the array
    // cannot grow; the element is then not stored (and not owned).
    bool Add(T element) {
        if (count_ == capacity_ && !Grow()) return false;
        storage_[static_cast<std::size_t>(count_)] = element;
        ++count_;
        return true;
    }

    // Releases the storage; the array is empty with no room, and the next Add grows it again.
    virtual void RemoveAll() {
        std::vector<T>().swap(storage_);
        count_ = 0;
        capacity_ = 0;
    }

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    int32_t GrowthStep() const { return growthStep_; }
    T operator[](int32_t index) const { return storage_[static_cast<std::size_t>(index)]; }

    // Iteration over the elements in use.
    const T* begin() const { return storage_.data(); }
    const T* end() const { return storage_.data() + count_; }

private:
    std::vector<T> storage_;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
    int32_t growthStep_;
};

template <typename T>
    requires std::is_pointer_v<T>
class PtrArray : public Array<T> {
public:
    using Array<T>::Array;
    ~PtrArray() override { PtrArray::RemoveAll(); }

    // Deletes every element through its own (virtual) destructor, then releases the storage.
    void RemoveAll() override {
        for (T element : *this) delete element;
        Array<T>::RemoveAll();
    }
};
