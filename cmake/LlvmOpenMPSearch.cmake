# Where Debian puts an LLVM OpenMP runtime: /usr/lib/llvm-N/lib (libomp5-N,
# one N at a time: the versions' packages conflict), then the unversioned
# library directory the runtime package links libomp.so.5 into. Should several
# versions be there, the newest wins. Within one directory the development
# package's libomp.so comes before the runtime's libomp.so.5, but a newer
# directory comes before either.
function(zun_find_llvm_openmp variable root architecture)
  file(GLOB versioned LIST_DIRECTORIES true "${root}/llvm-*/lib")
  list(SORT versioned COMPARE NATURAL ORDER DESCENDING)
  find_library(${variable} NAMES omp libomp.so.5 NAMES_PER_DIR
    PATHS ${versioned} "${root}/${architecture}" NO_DEFAULT_PATH)
endfunction()
