# OpenMP code is compiled by g++ with -fopenmp but linked against the LLVM
# OpenMP runtime (libomp, which also offers the GNU entry points), never libgomp.
# The OpenMP::OpenMP_CXX target is not used: it would link libgomp.
find_library(LLVM_OMP_LIBRARY NAMES omp libomp.so.5
  PATHS /usr/lib/llvm-16/lib /usr/lib/llvm-15/lib /usr/lib/llvm-14/lib
  REQUIRED NO_DEFAULT_PATH)
add_library(zun_llvm_openmp INTERFACE)
target_compile_options(zun_llvm_openmp INTERFACE -fopenmp)
target_link_libraries(zun_llvm_openmp INTERFACE ${LLVM_OMP_LIBRARY})
get_filename_component(LLVM_OMP_DIR ${LLVM_OMP_LIBRARY} DIRECTORY)
set(CMAKE_BUILD_RPATH ${LLVM_OMP_DIR})
set(CMAKE_INSTALL_RPATH "$ORIGIN;${LLVM_OMP_DIR}")
