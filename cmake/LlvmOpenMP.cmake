# OpenMP code is compiled by g++ with -fopenmp but linked against the LLVM
# OpenMP runtime (libomp, which also offers the GNU entry points), never libgomp.
# The OpenMP::OpenMP_CXX target is not used: it would link libgomp.
include(${CMAKE_CURRENT_LIST_DIR}/LlvmOpenMPSearch.cmake)
set(ZUN_OPENMP_ROOT /usr/lib CACHE PATH "Directory holding llvm-N/lib and the unversioned libomp.so.5")
# A runtime package replaced by another version takes the cached file with it:
# search again rather than link a file that is gone.
if(LLVM_OMP_LIBRARY AND NOT EXISTS "${LLVM_OMP_LIBRARY}")
  unset(LLVM_OMP_LIBRARY CACHE)
endif()
zun_find_llvm_openmp(LLVM_OMP_LIBRARY ${ZUN_OPENMP_ROOT} "${CMAKE_LIBRARY_ARCHITECTURE}")
if(NOT LLVM_OMP_LIBRARY)
  message(FATAL_ERROR "No LLVM OpenMP runtime (libomp.so.5) in ${ZUN_OPENMP_ROOT}/llvm-*/lib "
    "or ${ZUN_OPENMP_ROOT}/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()
message(STATUS "LLVM OpenMP runtime: ${LLVM_OMP_LIBRARY}")
add_library(zun_llvm_openmp INTERFACE)
target_compile_options(zun_llvm_openmp INTERFACE -fopenmp)
target_link_libraries(zun_llvm_openmp INTERFACE ${LLVM_OMP_LIBRARY})
get_filename_component(LLVM_OMP_DIR ${LLVM_OMP_LIBRARY} DIRECTORY)
set(CMAKE_BUILD_RPATH ${LLVM_OMP_DIR})
set(CMAKE_INSTALL_RPATH "$ORIGIN;${LLVM_OMP_DIR}")
