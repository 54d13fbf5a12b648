// Plain records that list their fields once. A record that must be seen
// whole (compared with another machine's, digested, checked by a test) names
// every field in a Fields(f) member template, and ListsEveryField<T>() proves
// at compile time that the list leaves none out: it counts the scalars a
// brace initialiser of the record takes (an array field takes one per
// element) and the scalars the list names, and the two agree only when
// every field is listed. Records hold scalars and arrays of scalars only.
#pragma once
#include <cstddef>
#include <type_traits>

namespace record_detail {

// Stands for any scalar in a brace initialiser.
struct AnyScalar {
    template <class T>
    constexpr operator T() const noexcept {
        return T{};
    }
};

// How many scalars a brace initialiser of T accepts.
template <class T, class... Given>
constexpr size_t InitialiserCount() {
    if constexpr (requires { T{Given{}..., AnyScalar{}}; })
        return InitialiserCount<T, Given..., AnyScalar>();
    else
        return sizeof...(Given);
}

template <class T>
constexpr size_t ListedCount() {
    size_t n = 0;
    T{}.Fields([&n](const auto& field) {
        using F = std::remove_cvref_t<decltype(field)>;
        n += sizeof(F) / sizeof(std::remove_all_extents_t<F>);
    });
    return n;
}

}  // namespace record_detail

template <class T>
constexpr bool ListsEveryField() {
    static_assert(std::is_aggregate_v<T> && std::is_trivially_copyable_v<T>, "a record is a plain aggregate");
    return record_detail::ListedCount<T>() == record_detail::InitialiserCount<T>();
}
