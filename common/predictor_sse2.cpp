// The predictor kernels compiled for orders 2 and 4, alone and two side by side (one predictor
// per lane of a 128-bit vector): SSE2, which every x86-64 processor has.

#include "common/kernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include "common/predictor_kernel.h"

namespace {

using predictor_kernel::EnvelopeForm;
using predictor_kernel::WhitenForm;

template <size_t N, typename L, typename Form>
void run(AdaptivePredictor* const* p, const float* const* in, float* const* out, size_t count,
         double floor) {
    predictor_kernel::run_form<N, L, Form>(p, in, out, count, floor);
}

template <typename Form> PredictorKernels kernels() {
    return {run<2, double, Form>, run<4, double, Form>, run<2, simd::f64x2, Form>,
            run<4, simd::f64x2, Form>};
}

} // namespace

PredictorKernels predictor_envelope_sse2() {
    return kernels<EnvelopeForm>();
}

PredictorKernels predictor_whiten_sse2() {
    return kernels<WhitenForm>();
}
#endif
