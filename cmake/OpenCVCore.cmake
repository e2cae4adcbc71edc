# Debian's libopencv-core-dev has headers and library but no CMake package
# file; wrap them in an imported target so the headers count as system headers.
find_path(OPENCV_CORE_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
add_library(opencv_core_imported UNKNOWN IMPORTED)
set_target_properties(opencv_core_imported PROPERTIES
  IMPORTED_LOCATION ${OPENCV_CORE_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${OPENCV_CORE_INCLUDE_DIR})
