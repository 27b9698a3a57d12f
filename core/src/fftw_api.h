// One spelling of the FFTW calls the planners need, for both precisions, so the
// plan code is written once as a template over the real type.
#pragma once

#include <fftw3.h>

namespace zun::fft::detail {

template <typename R>
struct Fftw;

template <>
struct Fftw<double> {
    using Plan = fftw_plan;
    using IoDim = fftw_iodim64;

    static Plan planDft(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, double* ri, double* ii,
                        double* ro, double* io, unsigned flags) {
        return fftw_plan_guru64_split_dft(rank, dims, howmanyRank, howmany, ri, ii, ro, io, flags);
    }
    static Plan planR2c(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, double* in, double* ro,
                        double* io, unsigned flags) {
        return fftw_plan_guru64_split_dft_r2c(rank, dims, howmanyRank, howmany, in, ro, io, flags);
    }
    static Plan planC2r(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, double* ri, double* ii,
                        double* out, unsigned flags) {
        return fftw_plan_guru64_split_dft_c2r(rank, dims, howmanyRank, howmany, ri, ii, out, flags);
    }
    static void executeDft(Plan p, double* ri, double* ii, double* ro, double* io) {
        fftw_execute_split_dft(p, ri, ii, ro, io);
    }
    static void executeR2c(Plan p, double* in, double* ro, double* io) { fftw_execute_split_dft_r2c(p, in, ro, io); }
    static void executeC2r(Plan p, double* ri, double* ii, double* out) { fftw_execute_split_dft_c2r(p, ri, ii, out); }
    static void destroy(Plan p) { fftw_destroy_plan(p); }
    static int alignmentOf(double* p) { return fftw_alignment_of(p); }
};

template <>
struct Fftw<float> {
    using Plan = fftwf_plan;
    using IoDim = fftwf_iodim64;

    static Plan planDft(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, float* ri, float* ii,
                        float* ro, float* io, unsigned flags) {
        return fftwf_plan_guru64_split_dft(rank, dims, howmanyRank, howmany, ri, ii, ro, io, flags);
    }
    static Plan planR2c(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, float* in, float* ro,
                        float* io, unsigned flags) {
        return fftwf_plan_guru64_split_dft_r2c(rank, dims, howmanyRank, howmany, in, ro, io, flags);
    }
    static Plan planC2r(int rank, const IoDim* dims, int howmanyRank, const IoDim* howmany, float* ri, float* ii,
                        float* out, unsigned flags) {
        return fftwf_plan_guru64_split_dft_c2r(rank, dims, howmanyRank, howmany, ri, ii, out, flags);
    }
    static void executeDft(Plan p, float* ri, float* ii, float* ro, float* io) {
        fftwf_execute_split_dft(p, ri, ii, ro, io);
    }
    static void executeR2c(Plan p, float* in, float* ro, float* io) { fftwf_execute_split_dft_r2c(p, in, ro, io); }
    static void executeC2r(Plan p, float* ri, float* ii, float* out) { fftwf_execute_split_dft_c2r(p, ri, ii, out); }
    static void destroy(Plan p) { fftwf_destroy_plan(p); }
    static int alignmentOf(float* p) { return fftwf_alignment_of(p); }
};

}  // namespace zun::fft::detail
