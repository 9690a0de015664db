// The predictor kernels of orders 2 and 4 compiled for AVX-512 F + VL: three-operand
// instructions and 32 registers keep more of the state in registers. A single predictor of
// order 4 keeps the AVX2 kernel, which measured faster.

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include "common/predictor_kernel.h"

namespace {

using predictor_kernel::EnvelopeForm;
using predictor_kernel::WhitenForm;

template <size_t N, typename L, typename Form>
__attribute__((target("avx512f,avx512vl"))) void run(AdaptivePredictor* const* p,
                                                     const float* const* in, float* const* out,
                                                     size_t count, double floor) {
    predictor_kernel::run_form<N, L, Form>(p, in, out, count, floor);
}

template <typename Form> PredictorKernels kernels() {
    return {run<2, double, Form>, nullptr, run<2, simd::f64x2, Form>, run<4, simd::f64x2, Form>};
}

} // namespace

PredictorKernels predictor_envelope_avx512() {
    return kernels<EnvelopeForm>();
}

PredictorKernels predictor_whiten_avx512() {
    return kernels<WhitenForm>();
}
#endif
