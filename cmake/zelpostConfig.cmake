# find_package(zelpost): the imported target zelpost::zelpost (the shared
# library with its public headers).
include("${CMAKE_CURRENT_LIST_DIR}/zelpostTargets.cmake")
