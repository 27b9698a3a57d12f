# The runtime search over made-up library trees:
#   cmake -DWORK=<scratch directory> -P openmp_search_test.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/LlvmOpenMPSearch.cmake)

set(case 0)
# expect_found(<expected path below the tree> <file below the tree>...)
function(expect_found expected)
  math(EXPR case "${case} + 1")
  set(case ${case} PARENT_SCOPE)
  set(root ${WORK}/tree${case})
  file(REMOVE_RECURSE ${root})
  foreach(file IN LISTS ARGN)
    get_filename_component(directory ${root}/${file} DIRECTORY)
    file(MAKE_DIRECTORY ${directory})
    file(TOUCH ${root}/${file})
  endforeach()
  zun_find_llvm_openmp(found${case} ${root} x86_64-linux-gnu)
  if(expected STREQUAL "none")
    set(expected found${case}-NOTFOUND)
  else()
    set(expected ${root}/${expected})
  endif()
  if(NOT found${case} STREQUAL expected)
    message(SEND_ERROR "tree ${case} (${ARGN}): found ${found${case}}, expected ${expected}")
  endif()
endfunction()

# Newest version first, by number: 19 before 9 although "1" sorts before "9".
expect_found(llvm-19/lib/libomp.so.5
  llvm-9/lib/libomp.so.5 llvm-14/lib/libomp.so.5 llvm-19/lib/libomp.so.5 x86_64-linux-gnu/libomp.so.5)
# A newer runtime without its development package wins over an older one with it.
expect_found(llvm-16/lib/libomp.so.5
  llvm-14/lib/libomp.so llvm-14/lib/libomp.so.5 llvm-16/lib/libomp.so.5)
# The linker's name before the runtime's in one directory.
expect_found(llvm-14/lib/libomp.so llvm-14/lib/libomp.so.5 llvm-14/lib/libomp.so)
# A version directory without a runtime is passed over.
expect_found(llvm-14/lib/libomp.so.5 llvm-19/lib/libLLVM.so.1 llvm-14/lib/libomp.so.5)
# No versioned runtime: the unversioned one.
expect_found(x86_64-linux-gnu/libomp.so.5 llvm-19/lib/libLLVM.so.1 x86_64-linux-gnu/libomp.so.5)
# Only GNU's runtime: nothing.
expect_found(none x86_64-linux-gnu/libgomp.so.1)
