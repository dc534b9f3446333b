// Vectors of plain numbers: one template, instantiated for each element
// type under its C names.
#include <qstd/qstd.h>
#include <qsys/qsys.h>

#include <cstring>

namespace {

template <class V, class T>
struct PlainVector {
    static qsys_status reserve(V* v, size_t count)
    {
        if (count <= v->capacity) return QSYS_OK;
        if (count > SIZE_MAX / sizeof(T)) return QSYS_E_NO_MEMORY;
        size_t capacity = v->capacity * 2 > count ? v->capacity * 2 : count;
        if (capacity > SIZE_MAX / sizeof(T)) capacity = count;
        void* block = v->begin;
        qsys_status s = qsys_memory_realloc_internal(capacity * sizeof(T), &block, v->size * sizeof(T));
        if (QSYS_FAILED(s)) return s;
        v->begin = static_cast<T*>(block);
        v->capacity = capacity;
        return QSYS_OK;
    }
    static qsys_status construct(V* v, size_t count)
    {
        *v = V{nullptr, 0, 0};
        return resize(v, count);
    }
    static qsys_status constructFill(V* v, size_t count, const T* fill)
    {
        *v = V{nullptr, 0, 0};
        qsys_status s = reserve(v, count);
        if (QSYS_FAILED(s)) return s;
        for (size_t k = 0; k < count; ++k) v->begin[k] = *fill;
        v->size = count;
        return QSYS_OK;
    }
    static qsys_status resize(V* v, size_t count)
    {
        qsys_status s = reserve(v, count);
        if (QSYS_FAILED(s)) return s;
        if (count > v->size) std::memset(static_cast<void*>(v->begin + v->size), 0, (count - v->size) * sizeof(T));
        v->size = count;
        return QSYS_OK;
    }
    static qsys_status pushBack(V* v, const T* value)
    {
        T copy = *value;  // value may point into the vector
        if (v->size == v->capacity) {
            qsys_status s = reserve(v, v->size + 1);
            if (QSYS_FAILED(s)) return s;
        }
        v->begin[v->size++] = copy;
        return QSYS_OK;
    }
    static qsys_status destruct(V* v)
    {
        void* block = v->begin;
        qsys_memory_free_internal(&block);
        *v = V{nullptr, 0, 0};
        return QSYS_OK;
    }
};

}  // namespace

#define QSTD_DEFINE_PLAIN_VECTOR_(V, T)                                                                 \
    extern "C" {                                                                                        \
    qsys_status V##_construct(V* v, size_t count) { return PlainVector<V, T>::construct(v, count); }    \
    qsys_status V##_constructFill(V* v, size_t count, const T* fill)                                    \
    {                                                                                                   \
        return PlainVector<V, T>::constructFill(v, count, fill);                                        \
    }                                                                                                   \
    qsys_status V##_resize(V* v, size_t count) { return PlainVector<V, T>::resize(v, count); }          \
    qsys_status V##_pushBack(V* v, const T* value) { return PlainVector<V, T>::pushBack(v, value); }    \
    qsys_status V##_destruct(V* v) { return PlainVector<V, T>::destruct(v); }                           \
    qsys_status V##_getBegin(V* v, T** first)                                                           \
    {                                                                                                   \
        *first = v->begin;                                                                              \
        return QSYS_OK;                                                                                 \
    }                                                                                                   \
    qsys_status V##_getBeginConst(const V* v, const T** first)                                          \
    {                                                                                                   \
        *first = v->begin;                                                                              \
        return QSYS_OK;                                                                                 \
    }                                                                                                   \
    qsys_status V##_getBeginSize(V* v, T** first, uint32_t* size)                                       \
    {                                                                                                   \
        *first = v->begin;                                                                              \
        *size = static_cast<uint32_t>(v->size);                                                         \
        return QSYS_OK;                                                                                 \
    }                                                                                                   \
    qsys_status V##_getBeginSizeConst(const V* v, const T** first, uint32_t* size)                      \
    {                                                                                                   \
        *first = v->begin;                                                                              \
        *size = static_cast<uint32_t>(v->size);                                                         \
        return QSYS_OK;                                                                                 \
    }                                                                                                   \
    qsys_status V##_getBeginEndConst(const V* v, const T** first, const T** end)                        \
    {                                                                                                   \
        *first = v->begin;                                                                              \
        *end = v->begin + v->size;                                                                      \
        return QSYS_OK;                                                                                 \
    }                                                                                                   \
    }

QSTD_DEFINE_PLAIN_VECTOR_(qstd_vector32, uint32_t)
QSTD_DEFINE_PLAIN_VECTOR_(qstd_vectord, double)
QSTD_DEFINE_PLAIN_VECTOR_(qstd_vector16, uint16_t)
QSTD_DEFINE_PLAIN_VECTOR_(qstd_vector64s, int64_t)
QSTD_DEFINE_PLAIN_VECTOR_(qstd_vector_qstd_pair32, qstd_pair32)
