// Combines lambdas into one visitor for std::visit.
#pragma once

namespace orv::event {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
// Spelled out for clang before 17, which deduces no aggregate's arguments.
template <class... F> Overloaded(F...) -> Overloaded<F...>;

}
